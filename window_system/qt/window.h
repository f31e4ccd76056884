// The widgets of one loaded form: its top-level window (a QMainWindow with the menu bar, or a
// QDialog) and its controls' widgets, with the conversions that the window and controls share.
#pragma once

#include "desktop.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFont>
#include <QImage>
#include <QMainWindow>
#include <QObject>
#include <QPalette>

#include <functional>
#include <map>
#include <optional>

namespace window_system::qt {

class Backend;

// The model's fonts, pictures and colours as Qt's (controls.cpp).
QFont font_of(const Font& f);
QImage image_of(const Picture& p);
void set_colours(QWidget* w, QPalette::ColorRole back_role, std::optional<Colour> back,
                 QPalette::ColorRole text_role, std::optional<Colour> fore);
// The widget of a graph (graph.cpp).
QWidget* make_graph_widget(const Graph& graph, QWidget* parent);

// A top-level window whose close box and showing are the model's to handle.
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

// The widgets of one loaded form.
class Window : public FormPeer {
public:
    Window(Backend& backend, Form& form);
    ~Window() override;

    void show() override;
    void hide() override { window_->hide(); }
    void bring_to_front() override {
        if (window_->isMinimized())
            window_->showNormal();
        window_->raise();
        window_->activateWindow();
    }
    void changed(Property property) override;
    void changed(Control& control, Property property) override;
    void added(Control& control) override { build(control); }
    void paint_now() override { window_->repaint(); }

    Form& form() const { return form_; }
    QWidget* widget() const { return window_; }

private:
    void fit_size();
    // menus.cpp
    void build_menu(MenuItem& item);
    void apply_menu(MenuItem& item, Property property);
    // controls.cpp
    void build(Control& control);
    void apply(Control& control, Property property);
    // The widgets go later than this window (deleteLater): their clicks stop reaching the model.
    void disconnect_controls();

    Backend& backend_;
    Form& form_;
    QObject connections_; // the context of every connection to a widget: they go with it
    TopLevel<QMainWindow>* main_ = nullptr;
    DialogWindow* dialog_ = nullptr;
    QWidget* window_ = nullptr;
    QWidget* client_ = nullptr;
    std::map<const Control*, QObject*> widgets_;
    QWidget* last_focusable_ = nullptr;
};

} // namespace window_system::qt
