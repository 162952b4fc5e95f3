#include "host/ui/Menu.h"

#include "host/ui/Backend.h"
#include "host/ui/Dialog.h"

namespace {

// A menu's WM_COMMAND carries notification code 0 (a control's carries its own code).
constexpr UINT kMenuNotification = 0;

}  // namespace

BOOL CMenu::CreatePopupMenu() {
    if (created_) {
        return FALSE;
    }
    created_ = true;
    items_.clear();
    return TRUE;
}

BOOL CMenu::DestroyMenu() {
    const BOOL existed = created_ ? TRUE : FALSE;
    created_ = false;
    items_.clear();
    return existed;
}

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, std::string_view text) {
    if (!created_) {
        return FALSE;
    }
    items_.push_back(ui::MenuItem{flags, static_cast<UINT>(id), std::string(text)});
    return TRUE;
}

int CMenu::GetMenuItemCount() const {
    return created_ ? static_cast<int>(items_.size()) : -1;
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* pWnd) {
    if (!created_ || pWnd == nullptr || pWnd->GetSafeHwnd() == nullptr) {
        return FALSE;
    }
    const UINT chosen = ui::CurrentBackend().TrackPopupMenu(*pWnd, items_, CPoint{x, y});
    if ((flags & TPM_RETURNCMD) != 0) {
        return static_cast<BOOL>(chosen);
    }
    if (chosen == 0) {
        return FALSE;
    }
    // The command goes to the owner's dialog (the owner itself when it is one).
    auto* dialog = dynamic_cast<CDialog*>(pWnd);
    if (dialog == nullptr) {
        dialog = dynamic_cast<CDialog*>(pWnd->GetParent());
    }
    if (dialog != nullptr) {
        dialog->DispatchCommand(chosen, kMenuNotification);
    }
    return TRUE;
}
