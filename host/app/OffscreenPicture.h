#pragma once

// PNG pictures drawn without a display: the desktop backend's drawing of an SVG picture, on Qt's
// offscreen platform, for commands that run headless (only in builds with the desktop backend).

#include <filesystem>
#include <string>
#include <string_view>

// Draws the SVG picture scaled to width x height pixels on white and writes it as a PNG file.
// Returns an empty text when the file was written, else why not (words to follow a colon).
std::string WritePngOffscreen(std::string_view svg, int width_px, int height_px,
                              const std::filesystem::path& path);
