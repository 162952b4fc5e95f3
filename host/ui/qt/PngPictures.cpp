#include "host/ui/qt/PngPictures.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace ui::qt {

std::string WritePng(std::string_view svg, int width_px, int height_px,
                     const std::filesystem::path& path) {
    if (width_px <= 0 || height_px <= 0) {
        return "a picture of " + std::to_string(width_px) + " x " + std::to_string(height_px) +
               " pixels cannot be drawn";
    }
    QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
    if (!renderer.isValid()) {
        return "the picture is not valid SVG";
    }
    // Opaque white under the picture: a PNG with a transparent background shows black in some
    // viewers.
    QImage image(width_px, height_px, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(QFile::decodeName(path.c_str()), "PNG")) {
        return "the file " + path.string() + " could not be written";
    }
    return {};
}

}  // namespace ui::qt
