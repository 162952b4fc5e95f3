#pragma once

// Qt's keys as the layer's virtual keys: letters and digits are their upper-case character codes,
// the rest the named VK_ constants. Keys the dialogs never look at have none.
//
//   if (std::optional<UINT> key = ui::qt::VirtualKeyOf(event->key())) ...

#include <QKeyEvent>
#include <optional>

#include "host/ui/AfxTypes.h"
#include "host/ui/UserInput.h"

namespace ui::qt {

std::optional<UINT> VirtualKeyOf(int qtKey);

// The modifiers held, as the layer names them.
Modifiers ModifiersOf(Qt::KeyboardModifiers modifiers);

}  // namespace ui::qt
