// The form's menus in its window: the menu bar and its menus built, the items put in and taken
// out as they are shown and hidden, and their text, tick and enabled state.
#include "window.h"

#include "text.h"

namespace window_system::win32 {

void Window::build_menu(MenuItem& item) {
    MenuEntry& entry = menus_[&item];
    if (!item.parent() || !item.items().empty())
        entry.popup = CreatePopupMenu();
    for (MenuItem* child : item.items())
        build_menu(*child);
    if (item.visible())
        put_in(item);
}

HMENU Window::parent_menu(const MenuItem& item) const {
    if (!item.parent())
        return bar_;
    const auto it = menus_.find(item.parent());
    return it == menus_.end() ? nullptr : it->second.popup;
}

void Window::put_in(MenuItem& item) {
    MenuEntry& entry = menus_.at(&item);
    const HMENU menu = parent_menu(item);
    if (entry.present || !menu)
        return;
    std::wstring text = widen(item.menu_text());
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE;
    info.fType = item.separator() ? MFT_SEPARATOR : MFT_STRING;
    info.fState = (item.checked() ? MFS_CHECKED : MFS_UNCHECKED) |
                  (item.enabled() ? MFS_ENABLED : MFS_DISABLED);
    info.wID = UINT(id_of(item));
    if (!item.separator()) {
        info.fMask |= MIIM_STRING;
        info.dwTypeData = text.data();
    }
    if (entry.popup) {
        info.fMask |= MIIM_SUBMENU;
        info.hSubMenu = entry.popup;
    }
    entry.present = InsertMenuItemW(menu, UINT(item.place_in_menu(true)), TRUE, &info) != FALSE;
}

void Window::take_out(MenuItem& item) {
    MenuEntry& entry = menus_.at(&item);
    const HMENU menu = parent_menu(item);
    if (!entry.present || !menu)
        return;
    // RemoveMenu, not DeleteMenu: a menu of its own stays for when the item comes back.
    RemoveMenu(menu, UINT(item.place_in_menu(true)), MF_BYPOSITION);
    entry.present = false;
}

void Window::apply_menu(MenuItem& item, Property property) {
    const auto it = menus_.find(&item);
    if (it == menus_.end())
        return;
    const HMENU menu = parent_menu(item);
    const bool present = it->second.present;
    switch (property) {
    case Property::visible:
        if (item.visible())
            put_in(item);
        else
            take_out(item);
        break;
    case Property::text:
        if (present) {
            std::wstring text = widen(item.menu_text());
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_FTYPE | (item.separator() ? 0 : MIIM_STRING);
            info.fType = item.separator() ? MFT_SEPARATOR : MFT_STRING;
            info.dwTypeData = text.data();
            SetMenuItemInfoW(menu, UINT(item.place_in_menu(true)), TRUE, &info);
        }
        break;
    case Property::checked:
        if (present)
            CheckMenuItem(menu, UINT(item.place_in_menu(true)),
                          MF_BYPOSITION | (item.checked() ? MF_CHECKED : MF_UNCHECKED));
        break;
    case Property::enabled:
        if (present)
            EnableMenuItem(menu, UINT(item.place_in_menu(true)),
                           MF_BYPOSITION | (item.enabled() ? MF_ENABLED : MF_GRAYED));
        break;
    default:
        return;
    }
    // Only the bar itself is drawn now; a menu's items are drawn when it opens.
    if (!item.parent())
        DrawMenuBar(hwnd_);
}

} // namespace window_system::win32
