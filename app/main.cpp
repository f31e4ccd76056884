// nimbrel: the main window on the machine's serial ports and the user's settings, shown by the
// Qt backend. Ending the session (SIGTERM, SIGHUP, SIGINT) closes the window as Escape does:
// the port is stored and let go of, and the program ends with status 0.
#include "desktop.h"
#include "frmNimbrel.h"
#include "qt_backend.h"
#include "serial_port.h"
#include "settings_store.h"
#include "weather.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

// A signal handler may do next to nothing: it wakes the event loop, which does the closing.
void on_session_end(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signal_pipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    window_system::qt::Backend backend;
    window_system::Desktop desktop(backend);

    auto port = platform::make_serial_port();
    auto lister = platform::make_port_lister();
    weather::Link link(*port, *lister);
    auto store = platform::make_settings_store();
    main_window::frmNimbrel window(desktop, link, *store);

    std::unique_ptr<QSocketNotifier> session_end;
    if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        session_end = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
        QObject::connect(session_end.get(), &QSocketNotifier::activated, [&desktop] {
            char bytes[16];
            while (::read(signal_pipe[0], bytes, sizeof bytes) > 0) {
            }
            desktop.end_session();
        });
        struct sigaction action {};
        action.sa_handler = on_session_end;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTERM, SIGHUP, SIGINT})
            ::sigaction(signal, &action, nullptr);
    }

    window.show();
    backend.run_until_unloaded(window);
    return 0;
}
