#include "host/ui/Menu.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/ui/Backend.h"
#include "host/ui/Dialog.h"
#include "host/ui/DialogTemplate.h"

namespace {

using Json = nlohmann::json;

// A menu's WM_COMMAND carries notification code 0 (a control's carries its own code).
constexpr UINT kMenuNotification = 0;

// A fault found while reading a menu resource; carries the text for the user.
struct MenuFault {
    std::string text;
};

const Json& ArrayMember(const Json& object, const std::string& where, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_array()) {
        throw MenuFault{where + " has no list \"" + name + "\""};
    }
    return *found;
}

std::string TextMember(const Json& object, const std::string& where, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string()) {
        throw MenuFault{where + " has no text \"" + name + "\""};
    }
    return found->get<std::string>();
}

ui::MenuItem ReadItem(const Json& item, const std::string& where) {
    if (!item.is_object()) {
        throw MenuFault{where + " is not an object"};
    }
    if (item.value("separator", false)) {
        return ui::MenuItem{MF_SEPARATOR, 0, {}};
    }
    const auto id = item.find("id");
    if (id == item.end() || !id->is_number_unsigned() || id->get<UINT>() == 0) {
        throw MenuFault{where + " has no positive \"id\""};
    }
    return ui::MenuItem{MF_STRING, id->get<UINT>(), TextMember(item, where, "caption")};
}

}  // namespace

namespace ui {

std::optional<std::vector<MenuPopup>> ParseMenuResource(std::string_view jsonText,
                                                        std::string& problem) {
    const Json root = Json::parse(jsonText, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        problem = "it is not a JSON object";
        return std::nullopt;
    }
    try {
        std::vector<MenuPopup> popups;
        const Json& listed = ArrayMember(root, "the menu", "popups");
        for (std::size_t p = 0; p < listed.size(); ++p) {
            const std::string where = "popups[" + std::to_string(p) + "]";
            if (!listed[p].is_object()) {
                throw MenuFault{where + " is not an object"};
            }
            MenuPopup popup{TextMember(listed[p], where, "caption"), {}};
            const Json& items = ArrayMember(listed[p], where, "items");
            for (std::size_t i = 0; i < items.size(); ++i) {
                popup.items.push_back(
                    ReadItem(items[i], where + ".items[" + std::to_string(i) + "]"));
            }
            popups.push_back(std::move(popup));
        }
        return popups;
    } catch (const MenuFault& fault) {
        problem = fault.text;
    }
    return std::nullopt;
}

}  // namespace ui

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
    subMenus_.clear();
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
    return created_ ? static_cast<int>(items_.size() + subMenus_.size()) : -1;
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

BOOL CMenu::LoadMenu(UINT resourceId) {
    const std::filesystem::path path =
        ui::GetResourceDirectory() / "menus" / (std::to_string(resourceId) + ".json");
    if (created_) {
        ui::CurrentBackend().ReportProblem("The menu " + path.string() +
                                           " cannot be loaded into a menu that exists already.");
        return FALSE;
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        ui::CurrentBackend().ReportProblem("Cannot read the menu " + path.string() + ".");
        return FALSE;
    }
    std::string problem;
    const std::optional<std::vector<ui::MenuPopup>> popups =
        ui::ParseMenuResource(text.str(), problem);
    if (!popups) {
        ui::CurrentBackend().ReportProblem("The menu " + path.string() +
                                           " cannot be used: " + problem + ".");
        return FALSE;
    }
    CreatePopupMenu();
    for (const ui::MenuPopup& popup : *popups) {
        CMenu& subMenu = subMenus_.emplace_back();
        subMenu.CreatePopupMenu();
        subMenu.items_ = popup.items;
    }
    return TRUE;
}

CMenu* CMenu::GetSubMenu(int position) {
    return position >= 0 && position < static_cast<int>(subMenus_.size())
               ? &subMenus_[static_cast<std::size_t>(position)]
               : nullptr;
}
