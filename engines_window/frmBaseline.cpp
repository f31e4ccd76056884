#include "frmBaseline.h"

#include "desktop.h"
#include "numeric_text.h"

#include <cmath>

namespace engines_window {

using namespace window_system;

frmBaseline::frmBaseline(Desktop& desktop, const engines::Engine& engine,
                         const engines::Baseline& reading)
    : Form(desktop, "frmBaseline"), txtJet(add<TextBox>("txtJet")), cmdOK(add<Button>("cmdOK")),
      cmdCancel(add<Button>("cmdCancel")), lblReading(add<Label>("lblReading")),
      lblJet(add<Label>("lblJet")), lblStatus(add<Label>("lblStatus")) {
    set_caption("Set Baseline");
    set_client_size(6000, 2220);
    key_preview = true;
    centred = true;
    lblReading.move(120, 180);
    lblReading.set_caption("The air: " + desktop.format(float(reading.air.temperature), "0.0") +
                           " \u00B0C, " + desktop.format(float(reading.air.pressure), "0.0") +
                           " mb, " + desktop.format(float(reading.air.humidity), "0.0") + " % on " +
                           reading.when);
    lblJet.move(120, 705);
    lblJet.set_caption("Jet in " + engine.name + " now");
    txtJet.place({3000, 660, 1200, 315});
    txtJet.accessible_name = "Jet in the engine";
    txtJet.set_text(engines::size_text(engine.jet));
    lblStatus.move(120, 1140);
    lblStatus.set_fore_colour(rgb(176, 0, 0));
    cmdOK.place({2880, 1620, 1440, 420});
    cmdOK.set_caption("OK");
    cmdCancel.place({4440, 1620, 1440, 420});
    cmdCancel.set_caption("Cancel");
    cmdOK.on_click = [this] {
        const double jet = weather::box_number(txtJet.text(), this->desktop().decimal_separator());
        if (!(std::isfinite(jet) && jet > 0 && jet < 10000))
            return lblStatus.set_caption("The jet must be a size above 0.");
        result = jet;
        unload();
    };
    cmdCancel.on_click = [this] { unload(); };
    on_key_down = [this](int key, int) {
        if (key == key_escape)
            unload();
    };
}

} // namespace engines_window
