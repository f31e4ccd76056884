#include "log_file.h"
#include "posix_ports.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::string why_of(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return "disk full";
    case EACCES:
    case EPERM:
    case EROFS:
        return "not writable";
    case ENOENT:
    case ENOTDIR:
        return "folder removed";
    default:
        return std::string("error ") + std::to_string(error);
    }
}

class PosixLogFile : public LogFile {
public:
    PosixLogFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixLogFile() override { ::close(fd_); }

    std::size_t append(std::string_view bytes, std::string& why) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += std::size_t(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                why = why_of(n < 0 ? errno : ENOSPC);
                break;
            }
        }
        return done;
    }
    bool sync() override { return ::fsync(fd_) == 0; }
    bool still_there() override {
        struct stat open {
        }, at_path{};
        return ::fstat(fd_, &open) == 0 && ::stat(path_.c_str(), &at_path) == 0 &&
               open.st_dev == at_path.st_dev && open.st_ino == at_path.st_ino;
    }
    std::uint64_t size() override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? std::uint64_t(st.st_size) : 0;
    }

private:
    int fd_;
    std::string path_;
};

} // namespace

std::string log_dir() {
    return (fs::path(xdg_home("XDG_DATA_HOME", ".local/share")) / "KORVANE_1" / "logs").string();
}

std::string make_dirs(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (fs::is_directory(dir))
        return {};
    return why_of(ec ? ec.value() : ENOTDIR);
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<std::string> files_in(const std::string& dir, std::string_view suffix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.ends_with(suffix))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::int64_t modified_utc(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_mtime) : 0;
}

void show_folder(const std::string& dir) {
    // A shell starts the opener in the background and ends at once: nothing is left to wait for.
    const char* argv[] = {"sh", "-c",        "xdg-open \"$1\" >/dev/null 2>&1 &",
                          "sh", dir.c_str(), nullptr};
    pid_t shell = 0;
    if (::posix_spawnp(&shell, "sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) ==
        0)
        ::waitpid(shell, nullptr, 0);
}

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::unique_ptr<LogFile> open_log_file(const std::string& path, std::string& why) {
    // A file-size limit stops the write with EFBIG instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = why_of(errno);
        return nullptr;
    }
    return std::make_unique<PosixLogFile>(fd, path);
}

std::int64_t utc_now() {
    return std::int64_t(std::time(nullptr));
}

int utc_offset_minutes(std::int64_t utc) {
    const std::time_t t = std::time_t(utc);
    std::tm local{};
    if (!::localtime_r(&t, &local))
        return 0;
    return int(local.tm_gmtoff / 60);
}

} // namespace platform
