#include "qt_backend.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFontDatabase>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>

namespace window_system::qt {

namespace {

int px(Twips twips) {
    return to_pixels(twips);
}

QRect pixels(const Rect& r) {
    return QRect(px(r.left), px(r.top), px(r.width), px(r.height));
}

QString text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

QColor colour(Colour c) {
    return QColor(red_of(c), green_of(c), blue_of(c));
}

// The system's sans-serif at the size and weight asked for; a named font where the system has
// it. The empty name is the dialog font the layouts were drawn for, at 8 points: at the
// desktop's usual larger size the self-sizing labels would run into each other.
QFont font_of(const Font& f) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    if (!f.name.empty() && QFontDatabase::hasFamily(text(f.name)))
        font.setFamily(text(f.name));
    font.setPointSizeF(f.points);
    font.setWeight(QFont::Weight(std::clamp(f.weight, 100, 900)));
    return font;
}

QImage image_of(const Picture& p) {
    QImage image(p.width, p.height, QImage::Format_ARGB32);
    for (int y = 0; y < p.height; ++y)
        std::memcpy(image.scanLine(y), &p.argb[std::size_t(y) * std::size_t(p.width)],
                    std::size_t(p.width) * sizeof(std::uint32_t));
    return image;
}

// A caption as a menu shows it: "&" is text, not the mark of an access key.
QString menu_text(const std::string& caption) {
    return text(caption).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The model's key codes for the keys that have one; 0 for the rest.
int key_code(const QKeyEvent& e) {
    const int k = e.key();
    if ((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z))
        return k;
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

void set_colours(QWidget* w, QPalette::ColorRole back_role, std::optional<Colour> back,
                 QPalette::ColorRole text_role, std::optional<Colour> fore) {
    QPalette p = w->palette();
    if (back)
        p.setColor(back_role, colour(*back));
    if (fore)
        p.setColor(text_role, colour(*fore));
    w->setPalette(p);
}

// A top-level window whose close box, showing and moving are the model's to handle.
template <class Base> class TopLevel : public Base {
public:
    using Base::Base;
    std::function<void()> on_close;
    std::function<void()> on_show;

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore(); // the model closes the window, after its own handlers
        if (on_close)
            on_close();
    }
    void showEvent(QShowEvent* event) override {
        Base::showEvent(event);
        if (on_show)
            on_show();
    }
};

class DialogWindow : public TopLevel<QDialog> {
public:
    using TopLevel<QDialog>::TopLevel;

protected:
    // Qt's own ways of closing a dialog go through the model as well.
    void reject() override {
        if (on_close)
            on_close();
    }
};

// A picture in the client area; a click on it is the image's click.
class PictureLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> on_click;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            on_click)
            on_click();
    }
};

} // namespace

// The widgets of one loaded form.
class Window : public FormPeer {
public:
    Window(Backend& backend, Form& form);
    ~Window() override;

    void show() override;
    void hide() override { window_->hide(); }
    void changed(Property property) override;
    void changed(Control& control, Property property) override;
    void added(Control& control) override { build(control); }
    void paint_now() override { window_->repaint(); }

    Form& form() const { return form_; }
    QWidget* widget() const { return window_; }

private:
    void build(Control& control);
    void build_menu_item(MenuItem& item);
    void apply(Control& control, Property property);
    void fit_height();

    Backend& backend_;
    Form& form_;
    QObject connections_; // the context of every connection to a widget: they go with it
    TopLevel<QMainWindow>* main_ = nullptr;
    DialogWindow* dialog_ = nullptr;
    QWidget* window_ = nullptr;
    QWidget* client_ = nullptr;
    std::map<const Control*, QObject*> widgets_;
    QWidget* last_focusable_ = nullptr;
    const QLineEdit* setting_text_ = nullptr; // the box whose text the model is setting
};

Window::Window(Backend& backend, Form& form) : backend_(backend), form_(form) {
    const std::vector<MenuItem*> menus = form.menu_bar();
    QWidget* owner = form.owner() ? backend.widget_of(*form.owner()) : nullptr;
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
        window_->setWindowIcon(backend.icon_of(*form.icon()));

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
        QTimer::singleShot(0, &connections_, [this] { fit_height(); });
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
    for (auto& [control, widget] : widgets_)
        if (auto* picture = dynamic_cast<PictureLabel*>(widget))
            picture->on_click = nullptr;
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
    for (const auto& control : form_.controls())
        if (control->enabled() && (control->kind() == Control::Kind::text_box ||
                                   control->kind() == Control::Kind::button)) {
            static_cast<QWidget*>(widgets_.at(control.get()))->setFocus();
            break;
        }
    window_->show();
}

void Window::changed(Property property) {
    switch (property) {
    case Property::text:
        window_->setWindowTitle(text(form_.caption()));
        break;
    case Property::picture:
        window_->setWindowIcon(form_.icon() ? backend_.icon_of(*form_.icon()) : QIcon());
        break;
    case Property::height:
        fit_height();
        break;
    case Property::colours:
        set_colours(client_, QPalette::Window, form_.back_colour(), QPalette::WindowText, {});
        client_->setAutoFillBackground(form_.back_colour().has_value());
        break;
    default:
        break;
    }
}

void Window::fit_height() {
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

void Window::build(Control& control) {
    QWidget* widget = nullptr;
    switch (control.kind()) {
    case Control::Kind::text_box: {
        auto& box = static_cast<TextBox&>(control);
        auto* edit = new QLineEdit(client_);
        edit->setAccessibleName(text(box.accessible_name));
        // Whatever changed the text (typing, pasting, an input method, a screen reader or an
        // on-screen keyboard through the accessibility interface), the model hears of it; only
        // the text the model itself sets is its own.
        QObject::connect(edit, &QLineEdit::textChanged, &connections_,
                         [this, &box, edit](const QString& now) {
                             if (edit != setting_text_)
                                 box.edited(now.toStdString());
                         });
        widget = edit;
        break;
    }
    case Control::Kind::label: {
        auto* label = new QLabel(client_);
        label->setTextFormat(Qt::PlainText); // a port name is never markup
        widget = label;
        break;
    }
    case Control::Kind::image: {
        auto& image = static_cast<Image&>(control);
        auto* picture = new PictureLabel(client_);
        picture->setAccessibleName(text(image.accessible_name));
        picture->on_click = [&image] { image.click(); };
        widget = picture;
        break;
    }
    case Control::Kind::button: {
        auto& button = static_cast<Button&>(control);
        auto* push = new QPushButton(client_);
        QObject::connect(push, &QPushButton::clicked, &connections_, [&button] { button.click(); });
        widget = push;
        break;
    }
    case Control::Kind::menu_item:
        build_menu_item(static_cast<MenuItem&>(control));
        return;
    }
    widget->setObjectName(text(control.name()));
    widgets_[&control] = widget;
    for (Property p : {Property::position, Property::text, Property::font, Property::colours,
                       Property::picture, Property::tooltip, Property::enabled, Property::visible})
        apply(control, p);
    if (control.kind() == Control::Kind::text_box || control.kind() == Control::Kind::button) {
        if (last_focusable_)
            QWidget::setTabOrder(last_focusable_, widget);
        last_focusable_ = widget;
    } else {
        widget->setFocusPolicy(Qt::NoFocus);
    }
}

void Window::build_menu_item(MenuItem& item) {
    if (!item.parent()) {
        QMenu* menu = main_->menuBar()->addMenu(menu_text(item.caption()));
        menu->setObjectName(text(item.name()));
        menu->setFont(window_->font()); // a popup is a window of its own: it takes no font
        widgets_[&item] = menu;
        for (MenuItem* child : item.items())
            build_menu_item(*child);
        return;
    }
    auto* menu = static_cast<QMenu*>(widgets_.at(item.parent()));
    auto* action = new QAction(menu);
    action->setObjectName(text(item.name()));
    action->setSeparator(item.separator());
    action->setCheckable(item.checkable);
    // Before the action of the item that follows it in the menu, if that one is there yet.
    const auto& siblings = item.parent()->items();
    QAction* before = nullptr;
    for (auto it = std::find(siblings.begin(), siblings.end(), &item) + 1; it != siblings.end();
         ++it)
        if (const auto found = widgets_.find(*it); found != widgets_.end()) {
            before = static_cast<QAction*>(found->second);
            break;
        }
    menu->insertAction(before, action);
    QObject::connect(action, &QAction::triggered, &connections_, [&item, action] {
        action->setChecked(item.checked()); // Qt has flipped the tick; the model flips it
        item.click();
    });
    widgets_[&item] = action;
    for (Property p : {Property::text, Property::checked, Property::enabled, Property::visible})
        apply(item, p);
}

void Window::changed(Control& control, Property property) {
    if (widgets_.count(&control))
        apply(control, property);
}

void Window::apply(Control& control, Property property) {
    QObject* object = widgets_.at(&control);
    if (control.kind() == Control::Kind::menu_item) {
        const auto& item = static_cast<const MenuItem&>(control);
        auto* action = qobject_cast<QAction*>(object);
        if (!action) { // a menu of the menu bar
            auto* menu = static_cast<QMenu*>(object);
            if (property == Property::text)
                menu->setTitle(menu_text(item.caption()));
            if (property == Property::visible)
                menu->menuAction()->setVisible(item.visible());
            return;
        }
        switch (property) {
        case Property::text:
            if (!item.separator())
                action->setText(menu_text(item.caption()));
            break;
        case Property::checked:
            action->setChecked(item.checked());
            break;
        case Property::enabled:
            action->setEnabled(item.enabled());
            break;
        case Property::visible:
            action->setVisible(item.visible());
            break;
        default:
            break;
        }
        return;
    }

    auto* widget = static_cast<QWidget*>(object);
    if (property == Property::visible) {
        widget->setVisible(control.visible());
        return;
    }
    if (property == Property::enabled) {
        widget->setEnabled(control.enabled());
        return;
    }
    switch (control.kind()) {
    case Control::Kind::text_box: {
        const auto& box = static_cast<const TextBox&>(control);
        auto* edit = static_cast<QLineEdit*>(widget);
        if (property == Property::position)
            edit->setGeometry(pixels(box.rect()));
        else if (property == Property::text && edit->text() != text(box.text())) {
            const QLineEdit* outer = std::exchange(setting_text_, edit);
            edit->setText(text(box.text()));
            setting_text_ = outer;
        } else if (property == Property::font && box.font() != form_.font)
            edit->setFont(font_of(box.font()));
        else if (property == Property::colours)
            set_colours(edit, QPalette::Base, box.back_colour(), QPalette::Text, box.fore_colour());
        else if (property == Property::tooltip)
            edit->setToolTip(text(box.tooltip()));
        break;
    }
    case Control::Kind::label: {
        const auto& label = static_cast<const Label&>(control);
        auto* qlabel = static_cast<QLabel*>(widget);
        if (property == Property::position)
            qlabel->move(px(label.left()), px(label.top()));
        else if (property == Property::text)
            qlabel->setText(text(label.caption()));
        else if (property == Property::font)
            qlabel->setFont(font_of(label.font()));
        else if (property == Property::colours)
            set_colours(qlabel, QPalette::Window, {}, QPalette::WindowText, label.fore_colour());
        if (property == Property::text || property == Property::font)
            qlabel->adjustSize(); // labels size themselves to their caption
        break;
    }
    case Control::Kind::image: {
        const auto& image = static_cast<const Image&>(control);
        auto* picture = static_cast<QLabel*>(widget);
        if (property == Property::position)
            picture->setGeometry(pixels(image.rect()));
        else if (property == Property::picture)
            picture->setPixmap(image.picture() ? QPixmap::fromImage(image_of(*image.picture()))
                                               : QPixmap());
        break;
    }
    case Control::Kind::button: {
        const auto& button = static_cast<const Button&>(control);
        auto* push = static_cast<QPushButton*>(widget);
        if (property == Property::position)
            push->setGeometry(pixels(button.rect()));
        else if (property == Property::text)
            push->setText(text(button.caption()));
        break;
    }
    case Control::Kind::menu_item:
        break;
    }
}

// --- Backend ---

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

QWidget* Backend::widget_of(const Form& form) const {
    for (const auto& [widget, window] : windows_)
        if (&window->form() == &form)
            return const_cast<QWidget*>(widget);
    return nullptr;
}

const QIcon& Backend::icon_of(const Picture& picture) {
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
