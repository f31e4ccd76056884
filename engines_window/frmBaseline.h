// The Set Baseline dialog: the jet that ran right in the last live reading, typed, defaulting to
// the jet in the engine.
#pragma once

#include "engine.h"
#include "form.h"

#include <optional>
#include <string>

namespace engines_window {

class frmBaseline : public window_system::Form {
public:
    // `reading`: the air the baseline is set in, as the main window showed it, and when.
    frmBaseline(window_system::Desktop& desktop, const engines::Engine& engine,
                const engines::Baseline& reading);

    window_system::TextBox& txtJet;
    window_system::Button& cmdOK;
    window_system::Button& cmdCancel;
    window_system::Label& lblReading;
    window_system::Label& lblJet;
    window_system::Label& lblStatus;

    // After OK: the jet typed.
    std::optional<double> result;
};

} // namespace engines_window
