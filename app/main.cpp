// nimbrel: the main window on the machine's serial ports and the user's settings, shown by the
// Qt backend. Ending the session (SIGTERM, SIGHUP, SIGINT) closes the window as Escape does:
// the port is stored and let go of, and the program ends with status 0. A second start in the
// same user session brings this copy's window to the front and ends with status 0, before it
// opens a window or touches the port.
#include "backend.h"
#include "desktop.h"
#include "program.h"
#include "single_instance.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

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

// Shown, un-minimised, raised and given the focus; a modal dialog over it comes along on top.
void bring_to_front(QWidget* window) {
    if (!window)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    if (QWidget* dialog = QApplication::activeModalWidget()) {
        dialog->raise();
        dialog->activateWindow();
    }
}

} // namespace

int main(int argc, char** argv) {
    platform::SingleInstance instance("nimbrel");
    if (!instance.first())
        instance.call_first();
    if (!instance.first())
        return 0;

    QApplication app(argc, argv);
    window_system::qt::Backend backend;
    window_system::Desktop desktop(backend);

    app::Program program(desktop);
    main_window::frmNimbrel& window = program.window;

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

    std::unique_ptr<QSocketNotifier> calls;
    if (instance.calls_fd() >= 0) {
        calls = std::make_unique<QSocketNotifier>(instance.calls_fd(), QSocketNotifier::Read);
        QObject::connect(calls.get(), &QSocketNotifier::activated, [&] {
            if (instance.take_calls())
                bring_to_front(backend.window_of(window));
        });
    }

    window.show();
    backend.run_until_unloaded(window);
    return 0;
}
