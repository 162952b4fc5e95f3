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

}  // namespace ui

class CMenu {
  public:
    // Starts an empty pop-up menu; FALSE when this menu exists already.
    BOOL CreatePopupMenu();
    BOOL DestroyMenu();
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, std::string_view text = {});
    int GetMenuItemCount() const;  // -1 when the menu does not exist
    // Shows the menu at the screen point and waits for the user's choice.
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* pWnd);

    const std::vector<ui::MenuItem>& Items() const { return items_; }

  private:
    bool created_ = false;
    std::vector<ui::MenuItem> items_;
};
