#pragma once

// What the kernel's drawn controls (bar graph, diagrams, graph window) share: the palette colours
// as the windowing layer draws them, and the check that a wrapper was attached to a control of
// its kind.

#include "host/kernel/KernelFunctions.h"
#include "host/ui/AfxTypes.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/Wnd.h"

inline COLORREF ToColorRef(QelColour colour) {
    return RGB(colour.red, colour.green, colour.blue);
}

namespace qel {

// Whether the window is attached to a control of that kind; reports it when it is attached to
// another kind (the template names the wrong kind, so nothing would be drawn).
bool IsAttachedToKind(const CWnd& window, ui::ControlKind kind);

}  // namespace qel
