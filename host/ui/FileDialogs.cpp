#include "host/ui/FileDialogs.h"

#include "host/ui/Backend.h"

namespace ui {

std::optional<std::filesystem::path> AskSaveFilePath(CWnd* owner, std::string_view title,
                                                     std::string_view defaultName,
                                                     const std::vector<FileType>& types) {
    const SaveFilePrompt prompt{std::string(title), std::string(defaultName), types, false};
    return CurrentBackend().AskSaveFilePath(owner, prompt);
}

std::optional<std::filesystem::path> AskOpenFilePath(CWnd* owner, std::string_view title,
                                                     std::string_view defaultName,
                                                     const std::vector<FileType>& types) {
    const SaveFilePrompt prompt{std::string(title), std::string(defaultName), types, true};
    return CurrentBackend().AskSaveFilePath(owner, prompt);
}

std::string WritePngFromSvg(std::string_view svg, int width_px, int height_px,
                            const std::filesystem::path& path) {
    return CurrentBackend().WritePngFromSvg(svg, width_px, height_px, path);
}

}  // namespace ui
