#pragma once

// Asking the user where to save a file or which file to open, and writing pictures the desktop
// renders. Both go through the backend: the desktop shows its file dialog and draws with its
// toolkit; the headless backend answers save prompts from its script
// (HeadlessBackend::ExpectSavePrompt) and draws no pictures.
//
//   const std::optional<std::filesystem::path> path = ui::AskSaveFilePath(
//       this, "Save Plots", "step-response.svg",
//       {{"SVG picture", "svg"}, {"Text, comma-separated", "csv"}});
//   if (path) { ... write *path ... }

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CWnd;

namespace ui {

// A kind of file a save prompt offers, shown as "SVG picture (*.svg)".
struct FileType {
    std::string description;  // "SVG picture"
    std::string extension;    // "svg", without the dot

    bool operator==(const FileType&) const = default;
};

// What a save prompt shows: its title, the file name it proposes (a bare name lands in the
// current folder) and the kinds of file offered, the first one chosen unless the proposed name
// has the extension of another. An open prompt is the same prompt choosing an existing file.
struct SaveFilePrompt {
    std::string title;
    std::string defaultName;
    std::vector<FileType> types;
    bool opening = false;
};

// Shows a modal save prompt for the owner (may be null; like a message box it opens over the
// innermost dialog) and returns the path the user chose, std::nullopt when the user cancelled. On
// the desktop a name typed without an extension gets the chosen type's, and choosing an existing
// file asks before replacing it.
std::optional<std::filesystem::path> AskSaveFilePath(CWnd* owner, std::string_view title,
                                                     std::string_view defaultName,
                                                     const std::vector<FileType>& types);

// The same prompt choosing an existing file to open (the backend's save prompt with opening set;
// the headless backend answers it like a save prompt).
std::optional<std::filesystem::path> AskOpenFilePath(CWnd* owner, std::string_view title,
                                                     std::string_view defaultName,
                                                     const std::vector<FileType>& types);

// Draws the SVG picture scaled to width x height pixels on white and writes it as a PNG file.
// Returns an empty text when the file was written, else why not, as words for the user to follow
// a colon ("PNG pictures need the desktop": the headless backend cannot draw).
std::string WritePngFromSvg(std::string_view svg, int width_px, int height_px,
                            const std::filesystem::path& path);

}  // namespace ui
