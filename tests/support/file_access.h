// Files as tests see them: their bytes, a file that the test process may not write, and a FIFO
// that nobody writes.
#pragma once

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <linux/capability.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace test_support {

// Every byte of the file at `path`; empty when it cannot be read.
inline std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Root reads and writes whatever the file modes say; while this object lives, the calling
// thread gives up that right, so a test run as root meets a read-only file as a user would.
class WithoutFileOverride {
public:
    WithoutFileOverride() {
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutFileOverride() { syscall(SYS_capset, &header_, saved_); }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
};

// What `f` returns, called on a thread of its own while `fifo` is a FIFO that nobody writes. A
// call that waits on opening it would wait for ever; one still running after two seconds is
// taken for that: the FIFO is opened for writing once to set it free, and the result is empty.
template <class F>
std::optional<std::invoke_result_t<F>> unless_stuck_on_fifo(const std::string& fifo, F f) {
    auto call = std::async(std::launch::async, std::move(f));
    if (call.wait_for(std::chrono::seconds(2)) == std::future_status::ready)
        return call.get();
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0)
        ::close(writer);
    call.wait();
    return std::nullopt;
}

} // namespace test_support
