#pragma once

// Pop-up menus of the layer's items as QMenu: separators, disabled (grayed) and checked items,
// "&" as the mnemonic mark. The menu runs modally at a screen point and answers with the chosen
// item's id, 0 when it is dismissed.
//
//   UINT id = ui::qt::RunPopupMenu(parentWindow, font, items, QPoint(x, y));

#include <QFont>
#include <QPoint>
#include <vector>

#include "host/ui/Menu.h"

class QWidget;

namespace ui::qt {

UINT RunPopupMenu(QWidget* parent, const QFont& font, const std::vector<MenuItem>& items,
                  QPoint screen);

}  // namespace ui::qt
