// The menus of a form's window: the menu bar's menus and their items as QMenus and QActions.
#include "window.h"

#include "text.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace window_system::qt {

void Window::build_menu(MenuItem& item) {
    // A menu of the menu bar, or an item with items of its own: a menu.
    if (!item.parent() || !item.items().empty()) {
        QMenu* menu = nullptr;
        if (!item.parent()) {
            menu = main_->menuBar()->addMenu(text(item.menu_text()));
        } else {
            auto* parent = static_cast<QMenu*>(widgets_.at(item.parent()));
            menu = new QMenu(text(item.menu_text()), parent);
            parent->insertAction(parent->actions().value(item.place_in_menu(false)),
                                 menu->menuAction());
        }
        menu->setObjectName(text(item.name()));
        menu->setFont(window_->font()); // a popup is a window of its own: it takes no font
        widgets_[&item] = menu;
        for (MenuItem* child : item.items())
            build_menu(*child);
        for (Property p : {Property::enabled, Property::visible})
            apply_menu(item, p);
        return;
    }
    auto* menu = static_cast<QMenu*>(widgets_.at(item.parent()));
    auto* action = new QAction(menu);
    action->setObjectName(text(item.name()));
    action->setSeparator(item.separator());
    action->setCheckable(item.checkable);
    // Hidden actions stay in a menu: every item before this one has its action there.
    menu->insertAction(menu->actions().value(item.place_in_menu(false)), action);
    QObject::connect(action, &QAction::triggered, &connections_, [&item, action] {
        action->setChecked(item.checked()); // Qt has flipped the tick; the model flips it
        item.click();
    });
    widgets_[&item] = action;
    for (Property p : {Property::text, Property::checked, Property::enabled, Property::visible})
        apply_menu(item, p);
}

void Window::apply_menu(MenuItem& item, Property property) {
    QObject* object = widgets_.at(&item);
    auto* action = qobject_cast<QAction*>(object);
    if (!action) { // a menu of the menu bar, or a menu in a menu
        auto* menu = static_cast<QMenu*>(object);
        if (property == Property::text)
            menu->setTitle(text(item.menu_text()));
        if (property == Property::visible)
            menu->menuAction()->setVisible(item.visible());
        if (property == Property::enabled)
            menu->menuAction()->setEnabled(item.enabled());
        return;
    }
    switch (property) {
    case Property::text:
        if (!item.separator())
            action->setText(text(item.menu_text()));
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
}

} // namespace window_system::qt
