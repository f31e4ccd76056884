#include "settings_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

namespace fs = std::filesystem;

// Says once per store that the settings cannot be written; the program goes on.
void warn_once(bool& warned, const std::string& where) {
    if (warned)
        return;
    warned = true;
    std::fprintf(stderr, "warning: cannot write the settings to %s; changes are not kept\n",
                 where.c_str());
}

// $XDG_CONFIG_HOME, or ~/.config when that is unset, empty or not an absolute path.
fs::path config_home() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/").lexically_normal() / ".config";
}

// The bytes of a plain file; nothing for one that cannot be read. A FIFO or a device in the
// file's place is not opened for reading, so it cannot hold the program up.
std::optional<std::string> read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        text.emplace();
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                text->append(buffer, std::size_t(n));
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                text.reset();
                break;
            }
        }
    }
    ::close(fd);
    return text;
}

bool write_all(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

// The file that `path` names after its symbolic links, so that a link to the settings stays a
// link and the file it leads to is the one replaced, created if it is not there yet.
fs::path link_target(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        const fs::path to = fs::read_symlink(path, ec);
        if (ec)
            break;
        path = path.parent_path() / to; // an absolute `to` replaces the folder
    }
    return path;
}

// Replaces the file as a whole or not at all: the text goes to a new file in the same folder,
// synced to disk, which then takes the file's name. A file that was there keeps its
// permissions; a new one gets those of any new file of the user. Creates missing folders.
bool replace_file(const std::string& path, const std::string& text) {
    const fs::path target = link_target(path);
    std::error_code ec;
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec); // a failure shows in mkostemp
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    mode_t mode = old.st_mode & 07777;
    if (!existed) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::string temp = target.string() + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fchmod(fd, mode); // may fail where the file system has no modes; the text matters more
    bool ok = write_all(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// One line of an INI file: "[section]", "key=value", or anything else (comments, blank lines,
// damage), which the store leaves alone.
struct IniLine {
    enum Kind { other, section, entry } kind = other;
    std::string_view name; // of the section, or the key
    std::string_view value;
};

IniLine parse_line(std::string_view line) {
    const std::string_view t = trimmed(line);
    if (t.empty() || t.front() == ';' || t.front() == '#')
        return {};
    if (t.front() == '[') {
        const auto close = t.find(']');
        if (close == std::string_view::npos)
            return {};
        return {IniLine::section, trimmed(t.substr(1, close - 1)), {}};
    }
    const auto equals = t.find('=');
    if (equals == std::string_view::npos || trimmed(t.substr(0, equals)).empty())
        return {};
    return {IniLine::entry, trimmed(t.substr(0, equals)), trimmed(t.substr(equals + 1))};
}

// A value in double quotes keeps its outer blanks; a backslash takes the next character as it
// is, except for the line ends written as \n and \r.
std::string unquoted(std::string_view v) {
    if (v.size() < 2 || v.front() != '"' || v.back() != '"')
        return std::string(v);
    std::string text;
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
        char c = v[i];
        if (c == '\\' && i + 2 < v.size()) {
            c = v[++i];
            c = c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
        text += c;
    }
    return text;
}

std::string quoted_if_needed(const std::string& value) {
    const bool plain = value.find_first_of("\"\\\r\n") == std::string::npos &&
                       trimmed(value).size() == value.size();
    if (plain)
        return value;
    std::string text = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            text += '\\';
        text += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    }
    return text + '"';
}

// The settings as an INI file. Storing a value changes the line of its key, or adds one to its
// section in key order; every other byte of the file stays as it was, so comments, other keys
// and lines that make no sense to the program survive whatever the program stores.
class IniFileStore : public SettingsStore {
public:
    explicit IniFileStore(std::string file) : file_(std::move(file)) {}

    std::string get(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& fallback) override {
        const auto text = read_file(path(app));
        if (!text)
            return fallback;
        std::optional<std::string> found;
        std::string_view current;
        for_each_line(*text, [&](std::size_t, std::size_t, std::size_t, const IniLine& line) {
            if (line.kind == IniLine::section)
                current = line.name;
            else if (line.kind == IniLine::entry && current == section && line.name == key)
                found = unquoted(line.value); // a later line of the same key wins
        });
        return found.value_or(fallback);
    }

    void save(const std::string& app, const std::string& section, const std::string& key,
              const std::string& value) override {
        const std::string where = path(app);
        std::error_code ec; // set when it cannot be told whether the file is there
        const bool there = fs::exists(where, ec) || ec;
        auto text = there ? read_file(where) : std::optional<std::string>("");
        if (!text) { // a file that cannot be read is not replaced by one that lacks its lines
            warn_once(warned_, where);
            return;
        }
        const std::string line = key + '=' + quoted_if_needed(value);
        // The key's own line, else before the first key of the section that sorts after it,
        // else below the section's last key or its header.
        std::optional<std::size_t> key_begin, key_end, before_next, after_last;
        std::string_view current, stored;
        for_each_line(*text, [&](std::size_t begin, std::size_t content_end, std::size_t end,
                                 const IniLine& l) {
            if (l.kind == IniLine::section) {
                current = l.name;
                if (current == section)
                    after_last = end;
            } else if (l.kind == IniLine::entry && current == section) {
                if (l.name == key) {
                    key_begin = begin;
                    key_end = content_end;
                    stored = l.value;
                    return;
                }
                after_last = end;
                if (!before_next && l.name > key)
                    before_next = begin;
            }
        });
        if (key_begin && unquoted(stored) == value)
            return; // nothing to change, not even the file's time
        if (key_begin) {
            text->replace(*key_begin, *key_end - *key_begin, line); // its line end stays
        } else if (before_next || after_last) {
            std::size_t at = before_next.value_or(*after_last);
            if (at == text->size() && text->back() != '\n' && text->back() != '\r') {
                *text += '\n';
                at = text->size();
            }
            text->insert(at, line + '\n');
        } else {
            if (!text->empty() && text->back() != '\n' && text->back() != '\r')
                *text += '\n';
            *text += (text->empty() ? "[" : "\n[") + section + "]\n" + line + '\n';
        }
        if (!replace_file(where, *text))
            warn_once(warned_, where);
    }

private:
    std::string path(const std::string& app) const {
        if (!file_.empty())
            return file_;
        // Where the program has always kept them: <config>/<app>/<app>.conf.
        return (config_home() / app / (app + ".conf")).string();
    }

    // Calls `visit(begin, content_end, end, line)` for each line: its text runs from begin to
    // content_end, its line end ("\n", "\r\n" or "\r") from there to end.
    template <class Visit> static void for_each_line(const std::string& text, Visit visit) {
        for (std::size_t begin = 0; begin < text.size();) {
            const auto content_end = std::min(text.find_first_of("\r\n", begin), text.size());
            std::size_t end = content_end;
            if (end < text.size())
                end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
            visit(begin, content_end, end,
                  parse_line(std::string_view(text).substr(begin, content_end - begin)));
            begin = end;
        }
    }

    std::string file_; // empty: the user's own settings file
    bool warned_ = false;
};

} // namespace

std::unique_ptr<SettingsStore> make_settings_store() {
    return std::make_unique<IniFileStore>(std::string{});
}

std::unique_ptr<SettingsStore> make_file_settings_store(const std::string& path) {
    return std::make_unique<IniFileStore>(path);
}

} // namespace platform
