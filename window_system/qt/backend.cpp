// The backend itself: the clock, the wake-up timer, the event loops, the windows of the loaded
// forms and the icons made once.
#include "backend.h"

#include "window.h"

#include <QApplication>
#include <QEventLoop>
#include <QLocale>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <thread>

namespace window_system::qt {

Backend::Backend() {
    clock_.start();
    // The program ends when its main window has closed, not when Qt counts no window.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    wake_.setSingleShot(true);
    // A coarse timer may fire some tens of milliseconds off; the scheduler wants its time.
    wake_.setTimerType(Qt::PreciseTimer);
    connect(&wake_, &QTimer::timeout, this, [this] { desktop().run_due_ticks(); });
    qApp->installEventFilter(this);
}

Backend::~Backend() {
    if (qApp)
        qApp->removeEventFilter(this);
}

void Backend::wake_at(std::optional<std::int64_t> ms) {
    if (!ms) {
        wake_.stop();
        return;
    }
    wake_.start(int(std::clamp<std::int64_t>(*ms - now_ms(), 0, 1 << 30)));
}

std::unique_ptr<FormPeer> Backend::create_window(Form& form) {
    return std::make_unique<Window>(*this, form);
}

void Backend::run_until_unloaded(Form& form) {
    QEventLoop loop;
    loops_[&form] = &loop;
    if (form.loaded())
        loop.exec();
    loops_.erase(&form);
}

void Backend::pump(bool with_input) {
    QCoreApplication::processEvents(with_input ? QEventLoop::AllEvents
                                               : QEventLoop::ExcludeUserInputEvents);
}

void Backend::pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string Backend::decimal_separator() {
    return QLocale().decimalPoint().toStdString();
}

QWidget* Backend::window_of(const Form& form) const {
    // Every window of a form on this backend is one of ours.
    const auto* window = static_cast<const Window*>(form.peer());
    return window ? window->widget() : nullptr;
}

const QIcon& Backend::icon(const Picture& picture) {
    auto it = icons_.find(&picture);
    if (it == icons_.end())
        it = icons_.emplace(&picture, QIcon(QPixmap::fromImage(image_of(picture)))).first;
    return it->second;
}

void Backend::add(Window& window) {
    windows_[window.widget()] = &window;
}

void Backend::remove(Window& window) {
    windows_.erase(window.widget());
    if (const auto it = loops_.find(&window.form()); it != loops_.end())
        it->second->quit();
}

} // namespace window_system::qt
