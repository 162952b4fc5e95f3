#include "tests/host/ui/qt/WindowPixels.h"

// Xlib's macros (None, Bool, Status, ...) stay inside this file.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>

namespace {

// Set by the error handler: a window that went away, or an area outside it, is a failed read
// rather than the end of the process (Xlib's default handler exits).
bool& ReadFailed() {
    static bool failed = false;
    return failed;
}

int NoteError(Display* /*display*/, XErrorEvent* /*error*/) {
    ReadFailed() = true;
    return 0;
}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};

}  // namespace

std::optional<bool> AreaShowsDetail(const std::string& display, unsigned long window, int x, int y,
                                    int width, int height) {
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }
    const std::unique_ptr<Display, DisplayCloser> connection(XOpenDisplay(display.c_str()));
    if (!connection) {
        return std::nullopt;
    }
    ReadFailed() = false;
    const auto previous = XSetErrorHandler(NoteError);
    const std::unique_ptr<XImage, ImageDestroyer> image(
        XGetImage(connection.get(), window, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height), AllPlanes, ZPixmap));
    XSync(connection.get(), False);
    XSetErrorHandler(previous);
    if (!image || ReadFailed()) {
        return std::nullopt;
    }
    const unsigned long background = XGetPixel(image.get(), 0, 0);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            if (XGetPixel(image.get(), column, row) != background) {
                return true;
            }
        }
    }
    return false;
}
