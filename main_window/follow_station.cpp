// The main window follows its station's adapter, and nobody else's: back under its own number,
// or to another number where the system has put that very adapter.
#include "frmNimbrel.h"
#include "weather.h"

#include <algorithm>
#include <utility>

namespace main_window {

namespace {

// A reading that a weather station can give. Another device's sentences (a GPS's position
// decoded as a reading) give numbers far outside it.
bool plausible(const weather::LinkState& s) {
    return s.temperature >= -60 && s.temperature <= 85 && s.pressure >= 300 && s.pressure <= 1200 &&
           s.humidity >= 0 && s.humidity <= 100;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

void frmNimbrel::stop_following() {
    home_port_ = 0;
    held_port_ = 0;
    held_identity_ = {};
    answered_ = false;
    was_away_ = false;
}

void frmNimbrel::note_held_port() {
    const weather::LinkState& state = link_.state;
    if (home_port_ != 0 || state.com_port == 0 || !platform::is_open_handle(state.com_handle) ||
        link_.port_lost())
        return; // a port being tried is not the user's yet
    if (held_port_ != state.com_port) {
        held_port_ = state.com_port;
        answered_ = false;
    }
    held_identity_ = link_.held_identity();
    answered_ = answered_ || state.link_kind > 0;
}

bool frmNimbrel::may_take(std::int16_t port) {
    return held_port_ != port || !held_identity_.usb() ||
           platform::same_adapter(link_.identity_at(port), held_identity_);
}

void frmNimbrel::follow_station(bool at_tick) {
    // While the detection dialog is up, the port is its to choose.
    if (!accepts_input())
        return;
    if (home_port_ != 0) {
        judge_try(at_tick);
        return;
    }
    note_held_port();
    weather::LinkState& state = link_.state;
    const bool away =
        state.com_port != 0 && (!platform::is_open_handle(state.com_handle) || link_.port_lost());
    // The list is looked at while the port is away and once more after it has come back (its
    // item may have gone from the menu meanwhile); otherwise it is left alone.
    const bool was_away = std::exchange(was_away_, away);
    if (!away && !was_away && !devices_changed_)
        return;
    devices_changed_ = false;
    if (away && !was_away)
        listed_at_loss_ = listed_;

    std::vector<std::string> now;
    link_.list_com_ports(now);
    // A port that the system has just announced may not be in its lists yet.
    for (const std::string& name : desktop().arrived_ports())
        if (const std::int16_t n = link_.port_number(name);
            n != 0 && std::none_of(now.begin(), now.end(), [&](const std::string& listed) {
                return link_.port_number(listed) == n;
            }))
            now.push_back(name);
    if (now != listed_) {
        build_port_menu(now);
        tick_port_items();
    }
    if (!away)
        return;
    const std::int16_t own = state.com_port;
    const bool own_listed = std::any_of(listed_.begin(), listed_.end(), [&](const std::string& n) {
        return link_.port_number(n) == own;
    });
    // A chosen port that is listed but not held is opened again: its adapter is back under its
    // own number, another program has let go of it, or its open took too long the last time.
    // One that is held while its device is away is taken back by the port itself.
    if (own_listed && !platform::is_open_handle(state.com_handle) && may_take(own)) {
        Abrir_puerto(own);
        return;
    }
    if (!answered_ || held_port_ != own || !held_identity_.usb())
        return; // nothing to know the station's adapter by
    std::vector<std::int16_t> same;
    for (const std::string& name : listed_) {
        const std::int16_t n = link_.port_number(name);
        if (n != 0 && n != own && !contains(listed_at_loss_, name) &&
            std::find(tried_.begin(), tried_.end(), n) == tried_.end() &&
            platform::same_adapter(link_.identity_at(n), held_identity_))
            same.push_back(n);
    }
    if (same.size() == 1)
        try_port(same.front());
}

void frmNimbrel::try_port(std::int16_t port) {
    home_port_ = link_.state.com_port;
    tried_.push_back(port);
    try_polls_ = 1;
    Abrir_puerto(port); // the first poll
    judge_try(false);
}

void frmNimbrel::judge_try(bool at_tick) {
    if (at_tick)
        ++try_polls_; // the tick has just polled
    const weather::LinkState& state = link_.state;
    const bool sentence = state.link_kind > 0 && state.pressure != 0;
    if (sentence && plausible(state)) {
        // The station answers here: this is its port now, and the one stored.
        home_port_ = 0;
        held_port_ = state.com_port;
        held_identity_ = link_.held_identity();
        answered_ = true;
        was_away_ = false;
        return;
    }
    if (!sentence && try_polls_ < 2)
        return;
    // Not the station, or silent for two polls: let go, and wait for it at the user's port.
    link_.select_port(std::exchange(home_port_, 0));
    tick_port_items();
}

} // namespace main_window
