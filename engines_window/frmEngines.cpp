#include "frmEngines.h"

#include "desktop.h"
#include "numeric_text.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace engines_window {

using namespace window_system;

namespace {

constexpr Twips field_top = 600;
constexpr Twips field_pitch = 390;
constexpr Twips box_left = 3480;

const char* const field_captions[] = {
    "Name",         "Jet in the engine", "Jet step (0.5, 1, 2, 2.5 or 5)",
    "Baseline jet", "Baseline \u00B0C",  "Baseline mb",
    "Baseline %",   "Baseline set on",   "Note (needle, clip, air screw, float)",
};

// The number typed in a box, with the locale's separator or "."; empty when the box holds
// anything but one number.
std::optional<double> typed_number(const std::string& text, std::string_view point) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    const std::string_view t = std::string_view(text).substr(first);
    bool digit = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c >= '0' && c <= '9')
            digit = true;
        else if (!(c == '.' || c == ' ' || ((c == '-' || c == '+') && i == 0) ||
                   (!point.empty() && t.substr(i, point.size()) == point)))
            return std::nullopt;
    }
    const double value = weather::box_number(t, point);
    return digit && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

// A number as the dialog shows it: as few decimals as it has, with the locale's separator.
std::string as_shown(double value, const std::string& point) {
    std::string text = engines::size_text(value);
    if (const auto dot = text.find('.'); dot != std::string::npos)
        text.replace(dot, 1, point);
    return text;
}

} // namespace

frmEngines::frmEngines(Desktop& desktop, engines::Garage garage, Suggest suggested)
    : Form(desktop, "frmEngines"), txtName(add<TextBox>("txtName")), txtJet(add<TextBox>("txtJet")),
      txtStep(add<TextBox>("txtStep")), txtBaselineJet(add<TextBox>("txtBaselineJet")),
      txtBaselineTemperature(add<TextBox>("txtBaselineTemperature")),
      txtBaselinePressure(add<TextBox>("txtBaselinePressure")),
      txtBaselineHumidity(add<TextBox>("txtBaselineHumidity")),
      txtBaselineWhen(add<TextBox>("txtBaselineWhen")), txtNote(add<TextBox>("txtNote")),
      cmdPrevious(add<Button>("cmdPrevious")), cmdNext(add<Button>("cmdNext")),
      cmdAdd(add<Button>("cmdAdd")), cmdDelete(add<Button>("cmdDelete")),
      cmdUse(add<Button>("cmdUse")), cmdFitted(add<Button>("cmdFitted")),
      cmdOK(add<Button>("cmdOK")), cmdCancel(add<Button>("cmdCancel")),
      lblEngine(add<Label>("lblEngine")), lblStatus(add<Label>("lblStatus")),
      garage_(std::move(garage)), fitted_(garage_.engines.size(), false),
      suggested_(std::move(suggested)) {
    set_caption("Engines");
    set_client_size(7080, 5760);
    key_preview = true;
    centred = true;
    if (garage_.in_use)
        shown_ = *garage_.in_use;

    const auto boxes = fields();
    for (std::size_t i = 0; i < std::size(boxes); ++i) {
        const Twips top = Twips(field_top + Twips(i) * field_pitch);
        boxes[i]->place({box_left, top, 3480, 315});
        boxes[i]->accessible_name = field_captions[i];
        Label& caption = add<Label>("lblField(" + std::to_string(i) + ")");
        caption.move(120, Twips(top + 45));
        caption.set_caption(field_captions[i]);
        lblField.push_back(&caption);
    }
    lblEngine.move(120, 180);
    lblEngine.set_bold(true);
    lblStatus.move(120, 4170);
    struct Place {
        Button& button;
        const char* caption;
        Rect rect;
        void (frmEngines::*click)();
    };
    const Place places[] = {
        {cmdPrevious, "<", {5640, 120, 600, 360}, nullptr},
        {cmdNext, ">", {6360, 120, 600, 360}, nullptr},
        {cmdAdd, "Add", {120, 4560, 1620, 420}, &frmEngines::cmdAdd_Click},
        {cmdDelete, "Delete", {1860, 4560, 1620, 420}, &frmEngines::cmdDelete_Click},
        {cmdUse, "Use", {3600, 4560, 1620, 420}, &frmEngines::cmdUse_Click},
        {cmdFitted, "Fitted", {5340, 4560, 1620, 420}, &frmEngines::cmdFitted_Click},
        {cmdOK, "OK", {3600, 5160, 1620, 420}, &frmEngines::cmdOK_Click},
        {cmdCancel, "Cancel", {5340, 5160, 1620, 420}, nullptr},
    };
    for (const Place& p : places) {
        p.button.place(p.rect);
        p.button.set_caption(p.caption);
        if (p.click)
            p.button.on_click = [this, click = p.click] { (this->*click)(); };
    }
    cmdPrevious.on_click = [this] { go_to(shown_ - 1); };
    cmdNext.on_click = [this] { go_to(shown_ + 1); };
    cmdCancel.on_click = [this] { unload(); };
    on_key_down = [this](int key, int) {
        if (key == key_escape)
            unload();
    };
    show_engine();
}

std::array<TextBox*, 9> frmEngines::fields() {
    return {&txtName,
            &txtJet,
            &txtStep,
            &txtBaselineJet,
            &txtBaselineTemperature,
            &txtBaselinePressure,
            &txtBaselineHumidity,
            &txtBaselineWhen,
            &txtNote};
}

void frmEngines::say(const std::string& text, bool wrong) {
    lblStatus.set_caption(text);
    lblStatus.set_fore_colour(wrong ? rgb(176, 0, 0) : colours::black);
}

void frmEngines::show_engine() {
    const bool any = !garage_.engines.empty();
    const std::string point = desktop().decimal_separator();
    std::vector<std::string> texts(lblField.size());
    if (any) {
        const engines::Engine& e = garage_.engines[shown_];
        texts = {e.name, as_shown(e.jet, point), as_shown(e.step, point), "", "", "", "", "",
                 e.note};
        if (const auto& b = e.baseline) {
            texts[3] = as_shown(b->jet, point);
            texts[4] = desktop().format(float(b->air.temperature), "0.0");
            texts[5] = desktop().format(float(b->air.pressure), "0.0");
            texts[6] = desktop().format(float(b->air.humidity), "0.0");
            texts[7] = b->when;
        }
    }
    const auto boxes = fields();
    for (std::size_t i = 0; i < std::size(boxes); ++i) {
        boxes[i]->set_text(texts[i]);
        boxes[i]->set_enabled(any);
    }
    const bool in_use = any && garage_.in_use == shown_;
    lblEngine.set_caption(!any ? "No engines yet: Add makes one."
                               : "Engine " + std::to_string(shown_ + 1) + " of " +
                                     std::to_string(garage_.engines.size()) +
                                     (in_use ? ", in use" : ""));
    cmdPrevious.set_enabled(any && shown_ > 0);
    cmdNext.set_enabled(any && shown_ + 1 < garage_.engines.size());
    cmdAdd.set_enabled(garage_.engines.size() < engines::most_engines);
    for (Button* b : {&cmdDelete, &cmdUse, &cmdFitted})
        b->set_enabled(any);
    cmdUse.set_caption(in_use ? "Use None" : "Use");
}

bool frmEngines::take_fields() {
    if (garage_.engines.empty())
        return true;
    const std::string point = desktop().decimal_separator();
    engines::Engine e = garage_.engines[shown_];
    e.name = txtName.text();
    e.name.erase(0, e.name.find_first_not_of(' '));
    const auto jet = typed_number(txtJet.text(), point);
    const auto step = typed_number(txtStep.text(), point);
    if (e.name.empty())
        return say("Give the engine a name.", true), false;
    if (!jet || *jet <= 0 || *jet >= 10000)
        return say("The jet in the engine must be a size above 0.", true), false;
    if (!step || std::find(std::begin(engines::jet_steps), std::end(engines::jet_steps), *step) ==
                     std::end(engines::jet_steps))
        return say("The jet step must be 0.5, 1, 2, 2.5 or 5.", true), false;
    e.jet = *jet;
    e.step = *step;
    e.note = txtNote.text();
    e.baseline.reset();
    if (txtBaselineJet.text().find_first_not_of(' ') != std::string::npos) {
        const auto base = typed_number(txtBaselineJet.text(), point);
        const auto t = typed_number(txtBaselineTemperature.text(), point);
        const auto p = typed_number(txtBaselinePressure.text(), point);
        const auto h = typed_number(txtBaselineHumidity.text(), point);
        if (!base || *base <= 0 || *base >= 10000)
            return say("The baseline jet must be a size above 0, or empty.", true), false;
        if (!t || !p || !h || *t < -50 || *t > 60 || *p < 500 || *p > 1100 || *h < 0 || *h > 100)
            return say("The baseline's air: -50 to 60 \u00B0C, 500 to 1100 mb, 0 to 100 %.", true),
                   false;
        e.baseline = engines::Baseline{*base, {*t, *p, *h}, txtBaselineWhen.text()};
    }
    garage_.engines[shown_] = std::move(e);
    return true;
}

void frmEngines::go_to(std::size_t index) {
    if (index >= garage_.engines.size() || !take_fields())
        return;
    shown_ = index;
    say("");
    show_engine();
}

void frmEngines::cmdAdd_Click() {
    if (garage_.engines.size() >= engines::most_engines || !take_fields())
        return;
    engines::Engine e;
    e.name = "Engine " + std::to_string(garage_.engines.size() + 1);
    e.jet = 150;
    garage_.engines.push_back(std::move(e));
    fitted_.push_back(false);
    shown_ = garage_.engines.size() - 1;
    say("Type its name and the jet in it; \"Use\" makes it the engine in use.");
    show_engine();
}

void frmEngines::cmdDelete_Click() {
    if (garage_.engines.empty())
        return;
    const std::string name = garage_.engines[shown_].name;
    garage_.engines.erase(garage_.engines.begin() + std::ptrdiff_t(shown_));
    fitted_.erase(fitted_.begin() + std::ptrdiff_t(shown_));
    if (garage_.in_use == shown_)
        garage_.in_use.reset();
    else if (garage_.in_use && *garage_.in_use > shown_)
        --*garage_.in_use;
    shown_ = std::min(shown_, garage_.engines.empty() ? 0 : garage_.engines.size() - 1);
    say(name + " deleted.");
    show_engine();
}

void frmEngines::cmdUse_Click() {
    if (garage_.engines.empty() || !take_fields())
        return;
    const bool was = garage_.in_use == shown_;
    garage_.in_use = was ? std::nullopt : std::optional(shown_);
    say(was ? "No engine in use: the jet size is yours to type."
            : garage_.engines[shown_].name + " is the engine in use.");
    show_engine();
}

void frmEngines::cmdFitted_Click() {
    if (garage_.engines.empty() || !take_fields())
        return;
    engines::Engine& e = garage_.engines[shown_];
    const auto size = suggested_ ? suggested_(e) : std::nullopt;
    if (!size)
        return say("Fitted takes the size the air calls for: it needs a live reading.", true);
    e.jet = *size;
    fitted_[shown_] = true;
    say("Fitted: " + engines::size_text(*size) + " in the engine; the baseline stays.");
    show_engine();
}

void frmEngines::cmdOK_Click() {
    if (!take_fields())
        return;
    fitted_in_use = garage_.in_use && fitted_[*garage_.in_use];
    result = garage_;
    unload();
}

} // namespace engines_window
