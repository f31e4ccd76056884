#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>
#ifdef _WIN32
#include <QSettings>
#endif

namespace platform {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Says once per store that the settings cannot be written; the program goes on.
void warn_once(bool& warned, const QString& where) {
    if (warned)
        return;
    warned = true;
    std::fprintf(stderr, "warning: cannot write the settings to %s; changes are not kept\n",
                 where.toLocal8Bit().constData());
}

#ifdef _WIN32
// The registry, where the program has always kept its values, so stored settings carry over:
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>.
class RegistryStore : public SettingsStore {
public:
    std::string get(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& fallback) override {
        const QVariant v = open(app)->value(q(section) + '/' + q(key));
        if (!v.isValid() || !v.canConvert<QString>())
            return fallback;
        return v.toString().toStdString();
    }

    void save(const std::string& app, const std::string& section, const std::string& key,
              const std::string& value) override {
        auto settings = open(app);
        settings->setValue(q(section) + '/' + q(key), q(value));
        settings->sync();
        if (settings->status() != QSettings::NoError)
            warn_once(warned_, settings->fileName());
    }

private:
    static std::unique_ptr<QSettings> open(const std::string& app) {
        auto settings =
            std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                        QStringLiteral("VB and VBA Program Settings"), q(app));
        // A missing key gives its default, not a value from the machine-wide store.
        settings->setFallbacksEnabled(false);
        return settings;
    }

    bool warned_ = false;
};
#endif

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
        const auto text = read(path(app));
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
        const QString where = path(app);
        auto text = QFileInfo::exists(where) ? read(where) : std::optional<std::string>("");
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
        if (!write(where, *text))
            warn_once(warned_, where);
    }

private:
    QString path(const std::string& app) const {
        if (!file_.empty())
            return q(file_);
        // Where the program has always kept them: <config>/<app>/<app>.conf.
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
               q(app) + '/' + q(app) + ".conf";
    }

    static std::optional<std::string> read(const QString& where) {
        QFile f(where);
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QByteArray bytes = f.readAll();
        return std::string(bytes.constData(), std::size_t(bytes.size()));
    }

    // Replaces the file as a whole or not at all.
    static bool write(const QString& where, const std::string& text) {
        QDir().mkpath(QFileInfo(where).absolutePath());
        QSaveFile f(where);
        return f.open(QIODevice::WriteOnly) &&
               f.write(text.data(), qint64(text.size())) == qint64(text.size()) && f.commit();
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
#ifdef _WIN32
    return std::make_unique<RegistryStore>();
#else
    return std::make_unique<IniFileStore>(std::string{});
#endif
}

std::unique_ptr<SettingsStore> make_file_settings_store(const std::string& path) {
    return std::make_unique<IniFileStore>(path);
}

} // namespace platform
