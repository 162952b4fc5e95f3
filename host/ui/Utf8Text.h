#pragma once

// Texts are UTF-8, but texts that come from a drive, an old setup or a quoted message may still be
// single bytes of the Windows-1252 code page (the degree sign as the byte 0xB0, a right quotation
// mark as 0x92): a text that is not well-formed UTF-8 is read as Windows-1252 wherever it leaves
// the program (on screen, in a report, in JSON).
//
//   std::printf("%s\n", ui::DisplayUtf8(errorText).c_str());

#include <string>
#include <string_view>

namespace ui {

// Whether the bytes are well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool IsWellFormedUtf8(std::string_view text);

// The text as UTF-8: UTF-8 stays as it is, any other text is decoded as Windows-1252.
std::string DisplayUtf8(std::string_view text);

}  // namespace ui
