#include "host/ui/qt/PopupMenus.h"

#include <QAction>
#include <QMenu>

#include "host/ui/qt/TextConversion.h"

namespace ui::qt {

UINT RunPopupMenu(QWidget* parent, const QFont& font, const std::vector<MenuItem>& items,
                  QPoint screen) {
    QMenu menu(parent);
    menu.setFont(font);
    for (const MenuItem& item : items) {
        if (item.IsSeparator()) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(ToQString(item.text));
        action->setData(item.id);
        action->setEnabled(item.IsEnabled());
        action->setCheckable(item.IsChecked());
        action->setChecked(item.IsChecked());
    }
    const QAction* chosen = menu.exec(screen);
    return chosen != nullptr ? chosen->data().toUInt() : 0U;
}

}  // namespace ui::qt
