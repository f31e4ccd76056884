// The controls of a form's window: their widgets, and how the model's position, text, font,
// colours, tooltip and picture reach them.
#include "window.h"

#include "dpi.h"
#include "text.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>
#include <cstring>

namespace window_system::qt {

namespace {

QColor colour(Colour c) {
    return QColor(red_of(c), green_of(c), blue_of(c));
}

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

void set_colours(QWidget* w, QPalette::ColorRole back_role, std::optional<Colour> back,
                 QPalette::ColorRole text_role, std::optional<Colour> fore) {
    QPalette p = w->palette();
    if (back)
        p.setColor(back_role, colour(*back));
    if (fore)
        p.setColor(text_role, colour(*fore));
    w->setPalette(p);
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
                         [&box](const QString& now) { box.edited(now.toStdString()); });
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
    case Control::Kind::graph:
        widget = make_graph_widget(static_cast<Graph&>(control), client_);
        break;
    case Control::Kind::menu_item:
        build_menu(static_cast<MenuItem&>(control));
        return;
    }
    widget->setObjectName(text(control.name()));
    widgets_[&control] = widget;
    for (Property p : {Property::position, Property::text, Property::font, Property::colours,
                       Property::picture, Property::tooltip, Property::enabled, Property::visible})
        apply(control, p);
    if (control.takes_focus()) {
        if (last_focusable_)
            QWidget::setTabOrder(last_focusable_, widget);
        last_focusable_ = widget;
    } else {
        widget->setFocusPolicy(Qt::NoFocus);
    }
}

void Window::changed(Control& control, Property property) {
    if (widgets_.count(&control))
        apply(control, property);
}

void Window::apply(Control& control, Property property) {
    if (control.kind() == Control::Kind::menu_item) {
        apply_menu(static_cast<MenuItem&>(control), property);
        return;
    }
    auto* widget = static_cast<QWidget*>(widgets_.at(&control));
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
            edit->setText(text(box.text()));
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
    case Control::Kind::graph:
        if (property == Property::position)
            widget->setGeometry(pixels(static_cast<const Graph&>(control).rect()));
        else if (property == Property::picture)
            widget->update();
        break;
    case Control::Kind::menu_item:
        break;
    }
}

void Window::disconnect_controls() {
    for (auto& [control, widget] : widgets_)
        if (auto* picture = dynamic_cast<PictureLabel*>(widget))
            picture->on_click = nullptr;
}

} // namespace window_system::qt
