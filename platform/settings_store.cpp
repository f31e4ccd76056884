#include "settings_store.h"

#include <QSettings>
#include <QStringList>
#include <cstdio>

namespace platform {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// On Windows the values live where the program has always kept them, so stored settings carry over:
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>. Elsewhere the file
// is <config>/<app>/<app>.conf, next to the port map.
QString native_organisation(const std::string& app) {
#ifdef _WIN32
    (void)app;
    return QStringLiteral("VB and VBA Program Settings");
#else
    return q(app);
#endif
}

class QtSettingsStore : public SettingsStore {
public:
    explicit QtSettingsStore(std::string file) : file_(std::move(file)) {}

    std::string get(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& fallback) override {
        auto settings = open(app);
        const QVariant v = settings->value(q(section) + '/' + q(key));
        if (!v.isValid())
            return fallback;
        // An INI value with an unquoted comma comes back as a list; join it to the text it was.
        if (v.typeId() == QMetaType::QStringList)
            return v.toStringList().join(QStringLiteral(", ")).toStdString();
        if (!v.canConvert<QString>())
            return fallback;
        return v.toString().toStdString();
    }

    void save(const std::string& app, const std::string& section, const std::string& key,
              const std::string& value) override {
        auto settings = open(app);
        settings->setValue(q(section) + '/' + q(key), q(value));
        settings->sync();
        // QSettings replaces its file as a whole or not at all, so a failed write leaves every
        // stored value as it was.
        if (settings->status() != QSettings::NoError && !warned_) {
            warned_ = true;
            std::fprintf(stderr, "warning: cannot write the settings to %s; changes are not kept\n",
                         settings->fileName().toLocal8Bit().constData());
        }
    }

private:
    std::unique_ptr<QSettings> open(const std::string& app) const {
        std::unique_ptr<QSettings> settings;
        if (!file_.empty())
            settings = std::make_unique<QSettings>(q(file_), QSettings::IniFormat);
        else
            settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                   native_organisation(app), q(app));
        // A missing key gives its default, not a value from a system-wide store.
        settings->setFallbacksEnabled(false);
        return settings;
    }

    std::string file_; // empty: the user's native settings area
    bool warned_ = false;
};

} // namespace

std::unique_ptr<SettingsStore> make_settings_store() {
    return std::make_unique<QtSettingsStore>(std::string{});
}

std::unique_ptr<SettingsStore> make_file_settings_store(const std::string& path) {
    return std::make_unique<QtSettingsStore>(path);
}

} // namespace platform
