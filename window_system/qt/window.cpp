// The window of one loaded form: its creation, showing and hiding, and the form's own
// properties (caption, icon, colours, font, size) and first focus.
#include "window.h"

#include "backend.h"
#include "dpi.h"
#include "text.h"

#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace window_system::qt {

Window::Window(Backend& backend, Form& form) : backend_(backend), form_(form) {
    const std::vector<MenuItem*> menus = form.menu_bar();
    QWidget* owner = form.owner() ? backend.window_of(*form.owner()) : nullptr;
    if (!menus.empty()) {
        main_ = new TopLevel<QMainWindow>(owner);
        window_ = main_;
        client_ = new QWidget(main_);
        main_->setCentralWidget(client_);
    } else {
        dialog_ = new DialogWindow(owner);
        window_ = dialog_;
        client_ = dialog_;
    }
    window_->setObjectName(text(form.name()));
    window_->setWindowTitle(text(form.caption()));
    window_->setFont(font_of(form.font));
    if (form.back_colour()) {
        set_colours(client_, QPalette::Window, form.back_colour(), QPalette::WindowText, {});
        client_->setAutoFillBackground(true);
    }
    if (form.icon())
        window_->setWindowIcon(backend.icon(*form.icon()));

    for (MenuItem* menu : menus)
        build(*menu);
    for (const auto& control : form.controls())
        if (control->kind() != Control::Kind::menu_item)
            build(*control);

    // The client area is as wide and high as laid out; only an outer height set by code
    // changes the height.
    const int menu_height = main_ ? main_->menuBar()->sizeHint().height() : 0;
    window_->setFixedSize(px(form.client_width()), menu_height + px(form.client_height()));

    const auto close = [this] { form_.unload(); };
    const auto shown = [this] {
        // The menu bar has its final style and font once the window is on screen.
        QTimer::singleShot(0, &connections_, [this] { fit_size(); });
    };
    if (main_) {
        main_->on_close = close;
        main_->on_show = shown;
    } else {
        dialog_->on_close = close;
    }
    backend_.add(*this);
}

Window::~Window() {
    backend_.remove(*this);
    if (main_) {
        main_->on_close = main_->on_show = nullptr;
    } else {
        dialog_->on_close = nullptr;
    }
    disconnect_controls();
    window_->hide();
    // Qt may be inside an event of this window: it goes once that event is over.
    window_->deleteLater();
}

void Window::show() {
    if (form_.modal())
        window_->setWindowModality(Qt::ApplicationModal);
    if (form_.centred)
        if (QScreen* screen = window_->screen())
            window_->move(screen->availableGeometry().center() - window_->rect().center());
    if (Control* first = form_.first_focus())
        static_cast<QWidget*>(widgets_.at(first))->setFocus();
    window_->show();
}

void Window::changed(Property property) {
    switch (property) {
    case Property::text:
        window_->setWindowTitle(text(form_.caption()));
        break;
    case Property::picture:
        window_->setWindowIcon(form_.icon() ? backend_.icon(*form_.icon()) : QIcon());
        break;
    case Property::size:
        fit_size();
        break;
    case Property::colours:
        set_colours(client_, QPalette::Window, form_.back_colour(), QPalette::WindowText, {});
        client_->setAutoFillBackground(form_.back_colour().has_value());
        break;
    default:
        break;
    }
}

void Window::fit_size() {
    const std::optional<Twips> client = form_.fitted_client_height();
    if (!client)
        return;
    // The window is the menu bar and the client area; whatever frame the window manager draws
    // around it, or none, lies outside. The bar is as high as its layout makes it at this
    // width, wrapped or not.
    int menu_height = 0;
    if (main_) {
        QMenuBar* bar = main_->menuBar();
        menu_height = bar->heightForWidth(window_->width());
        if (menu_height < 0)
            menu_height = bar->sizeHint().height();
    }
    window_->setFixedHeight(menu_height + px(*client));
}

} // namespace window_system::qt
