#include "host/ui/qt/Bitmaps.h"

#include <QFileInfo>
#include <QPainter>
#include <QSvgRenderer>
#include <filesystem>

#include "host/ui/DialogTemplate.h"
#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

// The stand-in for a missing drawing: a grey frame, a light fill and the name in the middle.
constexpr QRgb kPlaceholderFrame = 0xFF808080;
constexpr QRgb kPlaceholderFill = 0xFFF0F0F0;
constexpr QRgb kPlaceholderText = 0xFF404040;

std::filesystem::path DrawingPath(const std::string& name) {
    return GetResourceDirectory() / "bitmaps" / (name + ".svg");
}

// The largest rectangle of the drawing's proportions that fits the target, centred in it.
QRectF FitKeepingAspect(const QRectF& target, const QSizeF& drawing) {
    if (drawing.isEmpty()) {
        return target;
    }
    const QSizeF fitted = drawing.scaled(target.size(), Qt::KeepAspectRatio);
    return {target.center().x() - fitted.width() / 2.0, target.center().y() - fitted.height() / 2.0,
            fitted.width(), fitted.height()};
}

void PaintPlaceholder(QPainter& painter, const QRectF& target, const std::string& name) {
    painter.save();
    painter.setPen(QColor::fromRgba(kPlaceholderFrame));
    painter.setBrush(QColor::fromRgba(kPlaceholderFill));
    painter.drawRect(target.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.setPen(QColor::fromRgba(kPlaceholderText));
    painter.drawText(target, Qt::AlignCenter | Qt::TextWordWrap, ToQString(name));
    painter.restore();
}

}  // namespace

BitmapLibrary::BitmapLibrary(ProblemSink report) : report_(std::move(report)) {}

BitmapLibrary::~BitmapLibrary() = default;

QSvgRenderer* BitmapLibrary::Find(const std::string& name) {
    const std::filesystem::path path = DrawingPath(name);
    const auto known = drawings_.find(path.string());
    if (known != drawings_.end()) {
        return known->second.get();
    }
    std::unique_ptr<QSvgRenderer> drawing;
    const QString file = QString::fromStdString(path.string());
    if (!QFileInfo::exists(file)) {
        report_("The bitmap " + name + " has no drawing: " + path.string() + " does not exist.");
    } else {
        drawing = std::make_unique<QSvgRenderer>(file);
        if (!drawing->isValid()) {
            report_("The bitmap " + name + " cannot be drawn: " + path.string() +
                    " is not a valid SVG drawing.");
            drawing.reset();
        }
    }
    return drawings_.emplace(path.string(), std::move(drawing)).first->second.get();
}

bool BitmapLibrary::HasDrawing(const std::string& name) {
    return Find(name) != nullptr;
}

void BitmapLibrary::Paint(QPainter& painter, const QRectF& target, const std::string& name) {
    QSvgRenderer* drawing = Find(name);
    if (drawing == nullptr) {
        PaintPlaceholder(painter, target, name);
        return;
    }
    drawing->render(&painter, FitKeepingAspect(target, drawing->defaultSize()));
}

QPixmap BitmapLibrary::Render(const std::string& name, QSize size, qreal devicePixelRatio) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    Paint(painter, QRectF(QPointF(0, 0), QSizeF(size)), name);
    return pixmap;
}

PictureWidget::PictureWidget(BitmapLibrary& bitmaps, QWidget* parent)
    : QWidget(parent), bitmaps_(bitmaps) {}

void PictureWidget::SetBitmap(const std::string& name) {
    if (name == bitmap_) {
        return;
    }
    bitmap_ = name;
    if (!bitmap_.empty()) {
        bitmaps_.HasDrawing(bitmap_);
    }
    update();
}

void PictureWidget::paintEvent(QPaintEvent* /*event*/) {
    if (bitmap_.empty()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    bitmaps_.Paint(painter, QRectF(rect()), bitmap_);
}

}  // namespace ui::qt
