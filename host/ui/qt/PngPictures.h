#pragma once

// SVG pictures written as PNG files, drawn with Qt SVG on white.
//
//   std::string problem = ui::qt::WritePng(svgText, 800, 480, "/tmp/step.png");

#include <filesystem>
#include <string>
#include <string_view>

namespace ui::qt {

// Draws the picture scaled to width x height pixels and writes it as PNG. Returns an empty text
// when the file was written, else why not (words to follow a colon).
std::string WritePng(std::string_view svg, int width_px, int height_px,
                     const std::filesystem::path& path);

}  // namespace ui::qt
