#pragma once

// What a window on an X display shows, read back from the X server (the windows of another
// process, which the test can only look at).

#include <optional>
#include <string>

// Whether the area of the window (pixels from its top left corner) shows more than one colour,
// as a text or an icon does and an empty control does not; nothing when the display or the
// window cannot be read.
std::optional<bool> AreaShowsDetail(const std::string& display, unsigned long window, int x, int y,
                                    int width, int height);
