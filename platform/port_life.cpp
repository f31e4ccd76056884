#include "port_life.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {

namespace {

// The state bit that says the system still lists the device; the system's own calls use the
// bits below it.
constexpr unsigned present_bit = 1u << 31;

void wait_until(std::chrono::steady_clock::time_point deadline) {
    // sleep_until may wake early on some systems; the clock decides.
    for (auto now = std::chrono::steady_clock::now(); now < deadline;
         now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(deadline - now);
}

// Runs `work` on a thread of its own; false when the system has no thread to spare.
template <class Work> bool on_own_thread(Work work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace

// An open or a close running on a thread of its own. What a late open returns is kept for the
// port to take, unless the port has gone by then.
struct LivePort::Job {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool orphaned = false; // the port it was for has gone: the thread cleans up
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::optional<SerialSystem::Device> device;
    std::chrono::steady_clock::time_point done_at;

    // Waits until the job is done or `deadline` has passed; true when done. It looks again
    // every few milliseconds: under Wine, opens of the Windows build have now and then held
    // their caller for exactly the whole wait, as a lost notification would.
    bool wait_until(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex);
        for (auto now = std::chrono::steady_clock::now(); !done && now < deadline;
             now = std::chrono::steady_clock::now())
            finished.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                        deadline - now, std::chrono::milliseconds(10)));
        return done;
    }
    void finish() {
        std::lock_guard lock(mutex);
        done = true;
        done_at = std::chrono::steady_clock::now();
        finished.notify_all();
    }
};

LivePort::LivePort(std::shared_ptr<SerialSystem> system, Timing timing)
    : system_(std::move(system)), timing_(timing) {}

LivePort::~LivePort() {
    for (auto& [handle, p] : open_)
        if (p.device)
            close_in_time(p.port, *p.device, std::chrono::milliseconds(0));
    for (auto& [port, job] : late_) {
        std::optional<SerialSystem::Device> device;
        {
            std::lock_guard lock(job->mutex);
            job->orphaned = true; // one still running closes what it gets itself
            device = std::exchange(job->device, std::nullopt);
        }
        if (device)
            close_in_time(port, *device, std::chrono::milliseconds(0));
    }
    // The devices are given back before the program goes on (or ends), as far as the drivers
    // let them within one wait; a device with no thread to close it is left to the system,
    // which closes everything of a process that ends.
    const auto deadline = Clock::now() + timing_.open_wait;
    for (auto& [port, job] : closing_)
        job->wait_until(deadline);
}

std::optional<SerialSystem::Device> LivePort::open_in_time(const PortId& port) {
    const auto deadline = Clock::now() + timing_.open_wait;
    if (const auto it = late_.find(port); it != late_.end()) {
        std::unique_lock lock(it->second->mutex);
        // Another open of the same device would only wait for the same driver.
        if (!it->second->done)
            return std::nullopt;
        const auto device = std::exchange(it->second->device, std::nullopt);
        lock.unlock();
        late_.erase(it);
        if (device)
            return device; // the late open got there in the end
    }
    // The port's own close must have ended: the device is opened exclusively. One that has run
    // for a whole wait already is hung in its driver, and the open would only wait for it.
    for (auto [it, end] = closing_.equal_range(port); it != end; ++it)
        if (!it->second->wait_until(std::min(deadline, it->second->started + timing_.open_wait)))
            return std::nullopt;
    auto job = std::make_shared<Job>();
    const bool started = on_own_thread([system = system_, job, port] {
        const auto device = system->open(port);
        std::unique_lock lock(job->mutex);
        if (job->orphaned) { // nobody is left to take it
            lock.unlock();
            if (device)
                system->close(*device);
            return;
        }
        job->done = true;
        job->done_at = std::chrono::steady_clock::now();
        job->device = device;
        job->finished.notify_all();
    });
    // Without a thread the open could hold the caller for as long as the driver likes.
    if (!started)
        return std::nullopt;
    if (job->wait_until(deadline)) {
        std::lock_guard lock(job->mutex);
        return std::exchange(job->device, std::nullopt);
    }
    late_[port] = job;
    return std::nullopt;
}

void LivePort::sweep_late() {
    const auto now = Clock::now();
    for (auto it = late_.begin(); it != late_.end();) {
        std::unique_lock lock(it->second->mutex);
        if (!it->second->done || now - it->second->done_at < timing_.keep_late) {
            ++it;
            continue;
        }
        const auto device = std::exchange(it->second->device, std::nullopt);
        lock.unlock();
        const PortId port = it->first;
        it = late_.erase(it);
        if (device)
            close_in_time(port, *device, std::chrono::milliseconds(0));
    }
    std::erase_if(closing_, [](const auto& entry) {
        std::lock_guard lock(entry.second->mutex);
        return entry.second->done;
    });
    for (auto pending = std::exchange(unclosed_, {}); const auto& [port, device] : pending)
        close_in_time(port, device, std::chrono::milliseconds(0));
}

void LivePort::close_in_time(const PortId& port, SerialSystem::Device device,
                             std::chrono::milliseconds wait) {
    auto job = std::make_shared<Job>();
    const bool started = on_own_thread([system = system_, job, device] {
        system->close(device);
        job->finish();
    });
    if (!started) {
        unclosed_.emplace_back(port, device);
        return;
    }
    if (!job->wait_until(Clock::now() + wait))
        closing_.emplace(port, job);
}

unsigned LivePort::state_now(const OpenPort& p) {
    return system_->line_state(*p.device) | (system_->present(p.port) ? present_bit : 0);
}

bool LivePort::same_device_there(const OpenPort& p) {
    // Where the system told while the device was held that it is there, it is asked before
    // each try: opening a device that is not there may take long on some systems.
    if ((p.worked & present_bit) && !system_->present(p.port))
        return false;
    // Another adapter under the old name (the system numbers adapters by the order they come
    // in, or by the socket) is somebody else's device.
    return !p.identity.usb() || same_adapter(system_->identity(p.port), p.identity);
}

bool LivePort::attach(OpenPort& p) {
    const auto device = open_in_time(p.port);
    if (!device)
        return false;
    p.device = device;
    p.worked = state_now(p);
    p.read_worked = p.write_worked = false;
    p.read_failures = p.write_failures = 0;
    return true;
}

void LivePort::lose(OpenPort& p) {
    close_in_time(p.port, *p.device, timing_.close_wait);
    p.device.reset();
    p.next_try = Clock::now() + timing_.retry;
}

void LivePort::check(OpenPort& p, Call call, std::optional<long> error) {
    if (error) {
        if (system_->gone(*error)) {
            lose(p);
            return;
        }
        // One odd failure is no proof; reads, or writes, that used to work and now fail twice in
        // a row are, whatever the other kind does meanwhile (some drivers fail every read of a
        // pulled adapter and still take writes). A device on which nothing has ever worked, no
        // read, no write, no state call, is no device at all: a system may keep the name of a
        // device that has gone and open it onto something that can be neither read, written nor
        // asked (Wine does so for the ports of its own port map).
        const bool reading = call == Call::read;
        const bool worked = reading ? p.read_worked : p.write_worked;
        int& failures = reading ? p.read_failures : p.write_failures;
        const bool nothing_worked =
            !p.read_worked && !p.write_worked && (p.worked & ~present_bit) == 0;
        if ((++failures >= 2 && worked) || nothing_worked) {
            lose(p);
            return;
        }
    }
    // A state call may fail once on a healthy device (a USB control transfer on a busy bus):
    // it is asked again before the device counts as gone.
    unsigned now = state_now(p);
    if (p.worked & ~now)
        now = state_now(p);
    if (p.worked & ~now) {
        lose(p);
        return;
    }
    p.worked |= now;
}

LivePort::OpenPort* LivePort::find_present(Handle h) {
    const auto it = open_.find(h);
    if (it == open_.end())
        return nullptr;
    OpenPort& p = it->second;
    if (!p.device) {
        if (Clock::now() < p.next_try)
            return nullptr;
        const unsigned told = p.worked & present_bit;
        const bool attached = same_device_there(p) && attach(p);
        // From the end of this try: an open that took its whole wait is not tried again at once.
        p.next_try = Clock::now() + timing_.retry;
        if (!attached) {
            p.worked = told;
            return nullptr;
        }
    }
    return &p;
}

Handle LivePort::open(const PortId& port) {
    sweep_late();
    OpenPort p;
    p.port = port;
    p.identity = system_->identity(port);
    if (!attach(p))
        return no_handle;
    // Handles are our own numbers: the system's changes when the device comes back, the one the
    // caller holds does not.
    const Handle h = next_handle_++;
    open_[h] = p;
    return h;
}

void LivePort::close(Handle h) {
    sweep_late();
    const auto it = open_.find(h);
    if (it == open_.end())
        return;
    if (it->second.device)
        close_in_time(it->second.port, *it->second.device, timing_.close_wait);
    open_.erase(it);
}

void LivePort::write_byte(Handle h, std::uint8_t value) {
    OpenPort* p = find_present(h);
    if (!p)
        return;
    const long error = system_->write(*p->device, value);
    if (error == 0) {
        p->write_worked = true;
        p->write_failures = 0;
    } else {
        check(*p, Call::write, error); // or the read that follows shows it
    }
}

std::optional<std::uint8_t> LivePort::read_byte(Handle h) {
    const auto deadline = Clock::now() + timing_.read_timeout;
    sweep_late();
    if (!open_.contains(h))
        return std::nullopt; // never opened or closed: nothing to wait for
    if (OpenPort* p = find_present(h)) {
        const SerialSystem::Read got = system_->read(*p->device);
        if (got.kind == SerialSystem::Read::Kind::byte) {
            p->read_worked = true;
            p->read_failures = 0;
            return got.byte;
        }
        // A time-out says nothing of the device: a station that has nothing to say and a driver
        // that never reports the unplug look the same here. The state calls tell them apart.
        check(*p, Call::read,
              got.kind == SerialSystem::Read::Kind::failed ? std::optional(got.error)
                                                           : std::nullopt);
    }
    // A failed call or a device that is away returns at once: the rest of the time-out passes
    // here, so that a caller polling the port never spins.
    wait_until(deadline);
    return std::nullopt;
}

bool LivePort::lost(Handle h) {
    const auto it = open_.find(h);
    if (it == open_.end())
        return false;
    OpenPort& p = it->second;
    if (p.device && system_->removed(*p.device))
        lose(p); // given back at once, so that the system can finish the removal
    return !p.device;
}

AdapterIdentity LivePort::identity(Handle h) const {
    const auto it = open_.find(h);
    return it == open_.end() ? AdapterIdentity{} : it->second.identity;
}

AdapterIdentity LivePort::identity_at(const PortId& port) {
    return system_->identity(port);
}

std::optional<SerialSystem::Device> LivePort::device(Handle h) const {
    const auto it = open_.find(h);
    return it == open_.end() ? std::nullopt : it->second.device;
}

} // namespace platform
