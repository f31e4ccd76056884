// How the user's keys reach the model: one event filter on the application gives each key
// press to the form of its window before the focused control sees it (key preview).
#include "backend.h"

#include "window.h"

#include <QApplication>
#include <QKeyEvent>

namespace window_system::qt {

namespace {

// The model's key codes for the keys that have one; 0 for the rest.
int key_code(const QKeyEvent& e) {
    const int k = e.key();
    if ((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z))
        return k;
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12)
        return key_f2 - 1 + (k - Qt::Key_F1); // the function keys' codes run on from F1's, 112
    switch (k) {
    case Qt::Key_Escape:
        return key_escape;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Space:
        return 32;
    default:
        return 0;
    }
}

int shift_of(const QKeyEvent& e) {
    const Qt::KeyboardModifiers m = e.modifiers();
    return (m & Qt::ShiftModifier ? shift_key : 0) | (m & Qt::ControlModifier ? ctrl_key : 0) |
           (m & Qt::AltModifier ? alt_key : 0);
}

} // namespace

// Key preview: a key press goes to the form of the window it was typed in before the focused
// control sees it. A key that closed the window goes no further.
bool Backend::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    QWidget* top = widget->window();
    const auto it = windows_.find(top);
    if (it == windows_.end())
        return false;
    // Qt offers a key press to the focused widget and then to each parent that ignores it:
    // the form hears it once, from the first.
    QWidget* focus = QApplication::focusWidget();
    if (widget != (focus && focus->window() == top ? focus : top))
        return false;
    Form& form = it->second->form();
    const auto& key = *static_cast<QKeyEvent*>(event);
    form.key_down(key_code(key), shift_of(key));
    return !windows_.count(top) || !form.shown();
}

} // namespace window_system::qt
