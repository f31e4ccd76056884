// The Qt Widgets backend: a QMainWindow for a form with a menu bar, a QDialog for any other,
// and Qt widgets for its controls, all laid out in pixels from the model's twips at 96 dpi.
// One precise single-shot timer wakes the model's scheduler; key presses reach the form before
// the focused control (key preview) through one event filter on the application.
#pragma once

#include "desktop.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QTimer>

#include <map>

class QEventLoop;
class QWidget;

namespace window_system::qt {

class Window;

class Backend : public QObject, public window_system::Backend {
public:
    // A QApplication must exist for as long as the backend does.
    Backend();
    ~Backend() override;

    std::int64_t now_ms() override { return clock_.elapsed(); }
    void wake_at(std::optional<std::int64_t> ms) override;
    std::unique_ptr<FormPeer> create_window(Form& form) override;
    void run_until_unloaded(Form& form) override;
    void pump(bool with_input) override;
    void pause(int ms) override;
    std::string decimal_separator() override;

    // The window that shows `form`, while it is loaded: the owner of a dialog, the window a
    // second start brings to the front, and what tests look at.
    QWidget* window_of(const Form& form) const;
    // The picture as a Qt icon, made once per picture.
    const QIcon& icon(const Picture& picture);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class Window;
    void add(Window& window);
    void remove(Window& window);

    QElapsedTimer clock_;
    QTimer wake_;
    std::map<const QWidget*, Window*> windows_;
    std::map<const Form*, QEventLoop*> loops_;
    std::map<const Picture*, QIcon> icons_;
};

} // namespace window_system::qt
