// The Qt backend's tests run on Qt's offscreen platform, with a throwaway home so that nothing
// reads or writes the settings of whoever runs them.
#include "temp_dir.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// The offscreen platform says at every fixed-size window that it cannot pass size hints on;
// that is noise here. Everything else Qt says is kept.
void quiet_about_size_hints(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
    if (!message.contains(QLatin1String("propagateSizeHints")))
        qt_message_output(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(quiet_about_size_hints);
    test_support::TempDir home;
    const std::string runtime = home.path() + "/runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
