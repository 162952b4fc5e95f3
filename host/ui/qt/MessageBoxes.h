#pragma once

// Message boxes of the layer's types (MB_OK, MB_OKCANCEL, MB_YESNO, ... with an icon and a
// default button) as QMessageBox, answering with the layer's results (IDOK, IDYES, ...). As on
// the desktop the dialogs were written for, Escape and the close box answer Cancel when the box
// has it, OK when OK is its only button, and nothing otherwise.
//
//   int answer = ui::qt::RunMessageBox(parentWindow, font, "Replace it?", "brevan", MB_YESNO);

#include <QFont>
#include <QMessageBox>
#include <optional>
#include <string_view>
#include <vector>

#include "host/ui/AfxTypes.h"

class QWidget;

namespace ui::qt {

struct MessageBoxLayout {
    std::vector<int> buttons;  // IDOK, IDCANCEL, ... in the order shown
    int defaultButton = IDOK;
    std::optional<int> escapeButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

MessageBoxLayout LayoutOf(UINT type);

// The standard button of a result, and back.
QMessageBox::StandardButton StandardButtonOf(int result);
int ResultOf(QMessageBox::StandardButton button);

// Shows the box modally over the parent (may be null) and returns the button pressed.
int RunMessageBox(QWidget* parent, const QFont& font, std::string_view text,
                  std::string_view caption, UINT type);

}  // namespace ui::qt
