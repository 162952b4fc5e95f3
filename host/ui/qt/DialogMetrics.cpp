#include "host/ui/qt/DialogMetrics.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace ui::qt {
namespace {

constexpr const char* kFontFamily = "DejaVu Sans";
// 8 points at 96 dots per inch, given in pixels so that the screen's resolution does not change
// the layout.
constexpr int kFontSize_px = 11;
// The average character width is measured over the Latin alphabet, both cases.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr double kAlphabetLength = 52.0;
// Dialog units per character: four across, eight down.
constexpr double kUnitsPerCharWidth = 4.0;
constexpr double kUnitsPerCharHeight = 8.0;
// A closed drop-down list is as tall as its selection field.
constexpr int kClosedDropDownHeight_du = 14;

}  // namespace

DialogMetrics::DialogMetrics() : font_(kFontFamily) {
    font_.setPixelSize(kFontSize_px);
    const QFontMetricsF metrics(font_);
    charWidth_px_ = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / kAlphabetLength;
    charHeight_px_ = std::round(metrics.height());
}

int DialogMetrics::X_px(double x_du) const {
    return static_cast<int>(std::lround(x_du * charWidth_px_ / kUnitsPerCharWidth));
}

int DialogMetrics::Y_px(double y_du) const {
    return static_cast<int>(std::lround(y_du * charHeight_px_ / kUnitsPerCharHeight));
}

QRect DialogMetrics::ToPixels(const Rect& rect_du) const {
    const int left = X_px(rect_du.x);
    const int top = Y_px(rect_du.y);
    return {left, top, X_px(rect_du.x + rect_du.w) - left, Y_px(rect_du.y + rect_du.h) - top};
}

QRect DialogMetrics::ControlRect(const ControlState& control) const {
    Rect rect = control.rect;
    if (control.kind == ControlKind::Combo || control.kind == ControlKind::Unit) {
        rect.h = std::min(rect.h, kClosedDropDownHeight_du);
    }
    return ToPixels(rect);
}

}  // namespace ui::qt
