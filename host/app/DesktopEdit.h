#pragma once

// brevan edit on the desktop: the module's setup dialogs in windows, for a person to edit the
// setup in.

#include <filesystem>
#include <optional>

#include "host/app/Commands.h"

struct DesktopFolders {
    std::filesystem::path resources;  // dialog templates and bitmaps
    std::filesystem::path help;       // the help pages, with their topics.json
};

// Runs EditSetup with the dialogs in windows and returns its result; nothing when no desktop
// can be opened (the reason printed).
std::optional<int> EditOnDesktop(CommandContext& context, const DesktopFolders& folders);
