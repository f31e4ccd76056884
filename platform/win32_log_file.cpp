// The log's files on Windows: the folder under %LOCALAPPDATA%, and a file opened for the whole
// run with read, write and delete sharing, so that a spreadsheet or an editor can open it, and
// even delete it, while the program writes.
#include "log_file.h"
#include "win32_text.h"

#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace platform {

namespace {

fs::path wide_path(const std::string& utf8) {
    return fs::path(wide_from(CP_UTF8, utf8));
}

std::string why_of(DWORD error) {
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "disk full";
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return "not writable";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
        return "folder removed";
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
        return "locked by another program";
    default:
        return "error " + std::to_string(error);
    }
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class Win32LogFile : public LogFile {
public:
    Win32LogFile(HANDLE file, std::wstring path) : file_(file), path_(std::move(path)) {}
    ~Win32LogFile() override { CloseHandle(file_); }

    std::size_t append(std::string_view bytes, std::string& why) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            const DWORD chunk = DWORD(std::min<std::size_t>(bytes.size() - done, 1 << 20));
            if (!WriteFile(file_, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
                why = why_of(GetLastError());
                break;
            }
            done += wrote;
        }
        return done;
    }
    bool sync() override { return FlushFileBuffers(file_) != FALSE; }
    bool still_there() override {
        BY_HANDLE_FILE_INFORMATION open{}, at_path{};
        const HANDLE other = CreateFileW(path_.c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
        if (other == INVALID_HANDLE_VALUE)
            return false;
        const bool same = GetFileInformationByHandle(file_, &open) &&
                          GetFileInformationByHandle(other, &at_path) &&
                          open.dwVolumeSerialNumber == at_path.dwVolumeSerialNumber &&
                          open.nFileIndexHigh == at_path.nFileIndexHigh &&
                          open.nFileIndexLow == at_path.nFileIndexLow;
        CloseHandle(other);
        return same;
    }
    std::uint64_t size() override {
        LARGE_INTEGER size{};
        return GetFileSizeEx(file_, &size) ? std::uint64_t(size.QuadPart) : 0;
    }

private:
    HANDLE file_;
    std::wstring path_;
};

// 100-nanosecond intervals since 1601 to seconds since 1970.
std::int64_t unix_seconds(const FILETIME& t) {
    const std::int64_t ticks =
        std::int64_t(ULARGE_INTEGER{{t.dwLowDateTime, t.dwHighDateTime}}.QuadPart);
    return ticks / 10000000 - 11644473600LL;
}

FILETIME file_time(std::int64_t unix) {
    const ULARGE_INTEGER ticks{.QuadPart = ULONGLONG((unix + 11644473600LL) * 10000000)};
    return {ticks.LowPart, ticks.HighPart};
}

} // namespace

std::string log_dir() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH);
    fs::path base;
    if (n > 0 && n < MAX_PATH) {
        base = buffer;
    } else if (const DWORD m = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH);
               m > 0 && m < MAX_PATH) {
        base = fs::path(buffer) / L"AppData" / L"Local";
    } else {
        base = L"C:\\";
    }
    return utf8_from_wide((base / L"KORVANE_1" / L"logs").wstring());
}

std::string make_dirs(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(wide_path(dir), ec);
    if (fs::is_directory(wide_path(dir), ec))
        return {};
    return why_of(ec ? DWORD(ec.value()) : ERROR_PATH_NOT_FOUND);
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(wide_path(path), ec);
}

std::vector<std::string> files_in(const std::string& dir, std::string_view suffix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(wide_path(dir), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = utf8_from_wide(it->path().filename().wstring());
        if (name.ends_with(suffix))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::int64_t modified_utc(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide_from(CP_UTF8, path).c_str(), GetFileExInfoStandard, &data))
        return 0;
    return unix_seconds(data.ftLastWriteTime);
}

void show_folder(const std::string& dir) {
    ShellExecuteW(nullptr, L"open", wide_from(CP_UTF8, dir).c_str(), nullptr, nullptr,
                  SW_SHOWNORMAL);
}

std::string read_whole(const std::string& path) {
    const HANDLE file = CreateFileW(wide_from(CP_UTF8, path).c_str(), GENERIC_READ, share_all,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

std::unique_ptr<LogFile> open_log_file(const std::string& path, std::string& why) {
    std::wstring wide = wide_from(CP_UTF8, path);
    const HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA, share_all, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = why_of(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32LogFile>(file, std::move(wide));
}

std::int64_t utc_now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return unix_seconds(now);
}

int utc_offset_minutes(std::int64_t utc) {
    const FILETIME at = file_time(utc);
    SYSTEMTIME universal{}, local{};
    FILETIME local_time{};
    if (!FileTimeToSystemTime(&at, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) ||
        !SystemTimeToFileTime(&local, &local_time))
        return 0;
    return int((unix_seconds(local_time) - utc) / 60);
}

} // namespace platform
