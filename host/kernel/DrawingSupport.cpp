#include "host/kernel/DrawingSupport.h"

#include <string>

#include "host/kernel/ErrorReport.h"

namespace qel {

bool IsAttachedToKind(const CWnd& window, ui::ControlKind kind) {
    const ui::ControlState* control = window.GetControlState();
    if (control == nullptr) {
        return false;
    }
    if (control->kind != kind) {
        ReportError("Control " + std::to_string(control->id) + " is a \"" +
                    std::string(ui::ControlKindName(control->kind)) +
                    "\" control: it cannot show a " + std::string(ui::ControlKindName(kind)) +
                    ". Its template must name the kind \"" +
                    std::string(ui::ControlKindName(kind)) + "\".");
        return false;
    }
    return true;
}

}  // namespace qel
