#include "host/ui/qt/DrawnWidgets.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

// COLORREF is 0x00BBGGRR.
constexpr unsigned kGreenShift = 8;
constexpr unsigned kBlueShift = 16;
constexpr COLORREF kChannelMask = 0xFF;

constexpr int kFrame_px = 1;
// The bar leaves this much of the box's background above and below it.
constexpr int kBarInset_px = 2;
// The drawing reference is marked this far into the box from its top and bottom edges.
constexpr int kReferenceMark_px = 4;
// Pointer, hub and ticks of the diagrams, relative to the circle's radius.
constexpr double kPointerLength = 0.9;
constexpr double kHubRadius = 0.06;
constexpr double kTickInner = 0.88;
constexpr double kMajorTickInner = 0.8;
constexpr double kLabelRadius = 1.0;
constexpr int kTicksPerTurn = 12;
constexpr int kMajorTickEvery = 3;  // a long tick every quarter turn
// The circle leaves room for the phase labels around it.
constexpr double kLabelRoom_px = 12.0;
constexpr int kPointerWidth_px = 2;
const QColor kPointerColour(200, 0, 0);
const QColor kDisabledColour(160, 160, 160);
constexpr std::array<const char*, 3> kPhaseNames{"A", "B", "C"};
constexpr double kPhaseStep_rad = 2.0 * std::numbers::pi / 3.0;

QColor ToQColor(COLORREF colour) {
    return {static_cast<int>(colour & kChannelMask),
            static_cast<int>((colour >> kGreenShift) & kChannelMask),
            static_cast<int>((colour >> kBlueShift) & kChannelMask)};
}

// The point at the angle and distance from the centre; widget y runs downward.
QPointF AtAngle(QPointF centre, double radius_px, double angle_rad) {
    return {centre.x() + radius_px * std::cos(angle_rad),
            centre.y() - radius_px * std::sin(angle_rad)};
}

}  // namespace

BarGraphWidget::BarGraphWidget(QWidget* parent) : QWidget(parent) {}

void BarGraphWidget::Show(const BarGraphState& bar) {
    bar_ = bar;
    update();
}

void BarGraphWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect box = rect().adjusted(0, 0, -kFrame_px, -kFrame_px);
    const bool enabled = isEnabled();
    painter.fillRect(box, ToQColor(bar_.backgroundColour));
    const QRect inside = box.adjusted(kFrame_px, kBarInset_px, 0, -kBarInset_px + kFrame_px);
    const BarExtent extent = BarGraphExtent(bar_);
    const auto at = [&inside](double fraction) {
        return inside.left() + static_cast<int>(std::lround(fraction * inside.width()));
    };
    const QRect barRect(QPoint(at(extent.start), inside.top()),
                        QPoint(at(extent.end), inside.bottom()));
    painter.fillRect(barRect, enabled ? ToQColor(bar_.barColour) : kDisabledColour);
    painter.setPen(palette().color(QPalette::WindowText));
    const double reference = BarFraction(bar_, bar_.reference);
    if (reference > 0.0 && reference < 1.0) {
        // Marks on the frame, clear of the value text in the middle.
        const int x = at(reference);
        painter.drawLine(x, box.top(), x, box.top() + kReferenceMark_px);
        painter.drawLine(x, box.bottom() - kReferenceMark_px, x, box.bottom());
    }
    painter.drawRect(box);
    painter.drawText(box, Qt::AlignCenter, ToQString(bar_.valueText));
}

DiagramWidget::DiagramWidget(QWidget* parent) : QWidget(parent) {}

void DiagramWidget::Show(const DiagramState& diagram, const QString& caption) {
    diagram_ = diagram;
    caption_ = caption;
    update();
}

void DiagramWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = isEnabled();
    const QColor ink = enabled ? palette().color(QPalette::WindowText) : kDisabledColour;
    painter.setPen(ink);
    const int captionHeight_px = caption_.isEmpty() ? 0 : fontMetrics().height();
    if (!caption_.isEmpty()) {
        painter.drawText(QRect(0, 0, width(), captionHeight_px), Qt::AlignHCenter | Qt::AlignTop,
                         caption_);
    }
    const QRectF area(0, captionHeight_px, width(), height() - captionHeight_px);
    const double radius_px = std::min(area.width(), area.height()) / 2.0 - kLabelRoom_px;
    if (radius_px <= 0.0) {
        return;
    }
    const QPointF centre = area.center();
    if (diagram_.style == DiagramStyle::Dial) {
        painter.drawEllipse(centre, radius_px, radius_px);
        for (int tick = 0; tick < kTicksPerTurn; ++tick) {
            const double angle_rad = 2.0 * std::numbers::pi * tick / kTicksPerTurn;
            const double inner = tick % kMajorTickEvery == 0 ? kMajorTickInner : kTickInner;
            painter.drawLine(AtAngle(centre, inner * radius_px, angle_rad),
                             AtAngle(centre, radius_px, angle_rad));
        }
    } else {
        painter.setPen(QPen(ink, 1, Qt::DotLine));
        painter.drawEllipse(centre, radius_px, radius_px);
        painter.setPen(ink);
        for (std::size_t phase = 0; phase < kPhaseNames.size(); ++phase) {
            const double angle_rad = kPhaseStep_rad * static_cast<double>(phase);
            painter.drawLine(centre, AtAngle(centre, radius_px, angle_rad));
            const QPointF label =
                AtAngle(centre, radius_px + kLabelRadius * kLabelRoom_px / 2, angle_rad);
            const QRectF labelBox(label.x() - kLabelRoom_px / 2, label.y() - kLabelRoom_px / 2,
                                  kLabelRoom_px, kLabelRoom_px);
            painter.drawText(labelBox, Qt::AlignCenter, QString::fromLatin1(kPhaseNames[phase]));
        }
    }
    if (!enabled) {
        return;
    }
    painter.setPen(QPen(kPointerColour, kPointerWidth_px, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, AtAngle(centre, kPointerLength * radius_px, diagram_.theta_rad));
    painter.setBrush(kPointerColour);
    painter.drawEllipse(centre, kHubRadius * radius_px, kHubRadius * radius_px);
}

}  // namespace ui::qt
