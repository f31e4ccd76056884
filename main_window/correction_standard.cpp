// The dyno correction standard of the Options menu: one ticked choice, stored when it is
// clicked, that the air tooltips and the log give the correction factor by.
#include "frmNimbrel.h"

#include "correction_factor.h"
#include "settings_store.h"

namespace main_window {

void frmNimbrel::load_standard() {
    const std::string stored = store_.get(settings_app, correction_section, "standard",
                                          air_data::standard_names[0].caption);
    standard_ = 0;
    for (std::size_t i = 0; i < mnStd.size(); ++i)
        if (stored == air_data::standard_names[i].caption)
            standard_ = i;
    for (std::size_t i = 0; i < mnStd.size(); ++i)
        mnStd[i]->set_checked(i == standard_);
}

void frmNimbrel::mnStd_Click(std::size_t index) {
    store_.save(settings_app, correction_section, "standard",
                air_data::standard_names[index].caption);
    load_standard();
    calc_jet(); // the tooltips name the factor by it
}

} // namespace main_window
