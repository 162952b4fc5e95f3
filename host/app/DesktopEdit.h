#pragma once

// brevan edit on the desktop: the module's setup dialogs in windows, for a person to edit the
// setup in.

#include <filesystem>
#include <optional>

#include "host/app/Commands.h"

namespace drive {
class SimulatedDriveLink;
}

struct DesktopFolders {
    std::filesystem::path resources;  // dialog templates and bitmaps
    std::filesystem::path help;       // the help pages, with their topics.json
};

// Runs EditSetup with the dialogs in windows and returns its result; nothing when no desktop
// can be opened (the reason printed). The simulated drive's link, when given, advances with the
// wall clock while the dialogs are open.
std::optional<int> EditOnDesktop(CommandContext& context, const DesktopFolders& folders,
                                 drive::SimulatedDriveLink* link);
