#pragma once

// The save prompt on the desktop: Qt's own file dialog (not the platform's, so that it behaves
// the same on every desktop, on the offscreen platform and under Xvfb), the prompt's file types
// as its name filters ("SVG picture (*.svg)"), the proposed name in its name field. A name typed
// without an extension gets the chosen filter's; an existing file is replaced only after asking.
// An open prompt (SaveFilePrompt::opening) accepts only an existing file.
//
//   std::optional<std::filesystem::path> path = ui::qt::RunSaveFileDialog(parent, font, prompt);

#include <QFont>
#include <QString>
#include <filesystem>
#include <optional>

#include "host/ui/FileDialogs.h"

class QWidget;

namespace ui::qt {

// The name filter a file type shows as: "SVG picture (*.svg)".
QString NameFilterOf(const FileType& type);

// Shows the dialog modally over the parent (may be null); the chosen path, std::nullopt when
// cancelled.
std::optional<std::filesystem::path> RunSaveFileDialog(QWidget* parent, const QFont& font,
                                                       const SaveFilePrompt& prompt);

}  // namespace ui::qt
