#pragma once

// Pop-up (context) menus: built item by item, shown at a screen point by the backend, answered
// with the chosen item's id. With TPM_RETURNCMD TrackPopupMenu returns the id (0 when the menu
// was dismissed); without it the id goes to the owner window as WM_COMMAND (OnCommand with
// notification code 0) and TrackPopupMenu returns whether an item was chosen.
//
//   void CMyDlg::OnContextMenu(CWnd* pWnd, CPoint point) {
//       CMenu menu;  menu.CreatePopupMenu();
//       menu.AppendMenu(MF_STRING | MF_CHECKED, 10062, "Zoom out");
//       menu.AppendMenu(MF_SEPARATOR);
//       menu.AppendMenu(MF_STRING | MF_GRAYED, 10063, "Save");
//       UINT id = menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, this);
//   }
//
// Menus a program keeps as resources load from resources/menus/<id>.json (resources/README.md):
//
//   CMenu menu;
//   if (menu.LoadMenu(101)) { menu.GetSubMenu(0)->TrackPopupMenu(TPM_RIGHTBUTTON, x, y, this); }

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/ui/AfxTypes.h"

namespace ui {

// One entry of a pop-up menu as the backend shows it.
struct MenuItem {
    UINT flags = MF_STRING;  // MF_SEPARATOR, MF_GRAYED, MF_DISABLED, MF_CHECKED
    UINT id = 0;
    std::string text;  // "&" marks the mnemonic

    bool IsSeparator() const { return (flags & MF_SEPARATOR) != 0; }
    bool IsEnabled() const { return (flags & (MF_GRAYED | MF_DISABLED)) == 0; }
    bool IsChecked() const { return (flags & MF_CHECKED) != 0; }
    // Whether a user can choose it.
    bool IsChoosable() const { return !IsSeparator() && IsEnabled(); }
};

// A pop-up of a menu resource: its caption and items.
struct MenuPopup {
    std::string caption;
    std::vector<MenuItem> items;
};

// The pop-ups of a menu resource's JSON text; std::nullopt with the problem (words for the user
// to follow a colon) when the text is not a menu resource.
std::optional<std::vector<MenuPopup>> ParseMenuResource(std::string_view jsonText,
                                                        std::string& problem);

}  // namespace ui

class CMenu {
  public:
    // Starts an empty pop-up menu; FALSE when this menu exists already.
    BOOL CreatePopupMenu();
    BOOL DestroyMenu();
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, std::string_view text = {});
    // Its items and pop-ups; -1 when the menu does not exist.
    int GetMenuItemCount() const;
    // Shows the menu at the screen point and waits for the user's choice.
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* pWnd);

    // Loads the menu resource of that id (menus/<id>.json in the resource directory): a menu
    // of pop-ups, reached by GetSubMenu, and no items of its own. FALSE, with the problem reported,
    // when this menu exists already or the resource cannot be read or is not a menu.
    BOOL LoadMenu(UINT resourceId);
    // The pop-up at that position of a loaded menu; null outside it.
    CMenu* GetSubMenu(int position);

    const std::vector<ui::MenuItem>& Items() const { return items_; }

  private:
    bool created_ = false;
    std::vector<ui::MenuItem> items_;
    std::vector<CMenu> subMenus_;
};
