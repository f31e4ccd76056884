// The Engines dialog: the user's engines one at a time, every field editable, with buttons to go
// to the one before and after, add one, delete the one shown, choose it as the engine in use (or
// no engine), and say that a new jet is fitted in it. OK keeps what was done; Cancel and Escape
// drop it.
#pragma once

#include "engine.h"
#include "form.h"

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace engines_window {

class frmEngines : public window_system::Form {
public:
    // The jet the air now calls for in `engine`, rounded to its step; empty while no live
    // reading can tell.
    using Suggest = std::function<std::optional<double>(const engines::Engine& engine)>;

    frmEngines(window_system::Desktop& desktop, engines::Garage garage, Suggest suggested);

    // --- Controls, in tab order ---
    window_system::TextBox& txtName;
    window_system::TextBox& txtJet;
    window_system::TextBox& txtStep;
    window_system::TextBox& txtBaselineJet;
    window_system::TextBox& txtBaselineTemperature;
    window_system::TextBox& txtBaselinePressure;
    window_system::TextBox& txtBaselineHumidity;
    window_system::TextBox& txtBaselineWhen;
    window_system::TextBox& txtNote;
    window_system::Button& cmdPrevious;
    window_system::Button& cmdNext;
    window_system::Button& cmdAdd;
    window_system::Button& cmdDelete;
    window_system::Button& cmdUse;
    window_system::Button& cmdFitted;
    window_system::Button& cmdOK;
    window_system::Button& cmdCancel;
    window_system::Label& lblEngine;
    window_system::Label& lblStatus;
    std::vector<window_system::Label*> lblField;

    // After OK: the engines as the user left them, and whether "Fitted" was said of the engine
    // then in use.
    std::optional<engines::Garage> result;
    bool fitted_in_use = false;

private:
    // The fields of the engine shown into the garage; false, saying why, when one is not valid.
    bool take_fields();
    // The engine shown into the fields, and the buttons that apply to it.
    void show_engine();
    // The field boxes, top to bottom.
    std::array<window_system::TextBox*, 9> fields();
    void say(const std::string& text, bool wrong = false);
    void go_to(std::size_t index);
    void cmdAdd_Click();
    void cmdDelete_Click();
    void cmdUse_Click();
    void cmdFitted_Click();
    void cmdOK_Click();

    engines::Garage garage_;
    std::vector<bool> fitted_; // per engine: "Fitted" said in this dialog
    std::size_t shown_ = 0;
    Suggest suggested_;
};

} // namespace engines_window
