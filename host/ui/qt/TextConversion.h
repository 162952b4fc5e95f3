#pragma once

// Texts between the windowing layer and Qt. The layer's texts are UTF-8, but texts that come
// from a drive or an old setup may still be single bytes of the Windows-1252 code page (the
// degree sign as the byte 0xB0): a text that is not well-formed UTF-8 is read as Windows-1252.
//
//   label->setText(ui::qt::ToQString(control.text));
//   ui::input::EnterText(dialog, id, ui::qt::FromQString(edit->text()));

#include <QString>
#include <string>
#include <string_view>

#include "host/ui/Utf8Text.h"

namespace ui::qt {

using ui::DisplayUtf8;
using ui::IsWellFormedUtf8;

QString ToQString(std::string_view text);
std::string FromQString(const QString& text);

// What a static text shows: the mnemonic marks taken out ("&&" shows one ampersand) and the
// line breaks of the layer ("\r\n") as Qt's.
QString StaticText(std::string_view text);

}  // namespace ui::qt
