#include "host/ui/qt/Keys.h"

namespace ui::qt {

std::optional<UINT> VirtualKeyOf(int qtKey) {
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return static_cast<UINT>(qtKey);  // Qt's codes for these are their ASCII codes too
    }
    switch (qtKey) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return VK_TAB;
        case Qt::Key_Shift:
            return VK_SHIFT;
        case Qt::Key_Control:
            return VK_CONTROL;
        case Qt::Key_Alt:
            return VK_MENU;
        case Qt::Key_F1:
            return VK_F1;
        default:
            return std::nullopt;
    }
}

Modifiers ModifiersOf(Qt::KeyboardModifiers modifiers) {
    return Modifiers{modifiers.testFlag(Qt::ControlModifier), modifiers.testFlag(Qt::AltModifier),
                     modifiers.testFlag(Qt::ShiftModifier)};
}

}  // namespace ui::qt
