#include "host/app/OffscreenPicture.h"

#include <QGuiApplication>
#include <iterator>

#include "host/ui/qt/PngPictures.h"

std::string WritePngOffscreen(std::string_view svg, int width_px, int height_px,
                              const std::filesystem::path& path) {
    // Text needs a GUI application; the offscreen platform needs no display, whatever
    // QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY say.
    char programName[] = "brevan";
    char platformOption[] = "-platform";
    char platform[] = "offscreen";
    char* argv[] = {programName, platformOption, platform, nullptr};
    int argc = static_cast<int>(std::size(argv)) - 1;
    const QGuiApplication application(argc, argv);
    return ui::qt::WritePng(svg, width_px, height_px, path);
}
