#pragma once

// Where a template's controls go on screen. Templates measure in dialog units: a horizontal unit
// is a quarter of the dialog font's average character width, a vertical unit an eighth of its
// height, so a dialog grows with its font. Every dialog uses one font, DejaVu Sans at a fixed
// pixel size, so that it looks the same on every machine whatever the screen's resolution.
//
//   ui::qt::DialogMetrics metrics;
//   widget->setGeometry(metrics.ControlRect(control));   // pixels in the client area
//   dialog->setFixedSize(metrics.ToPixels(window.GetSize()).size());

#include <QFont>
#include <QRect>

#include "host/ui/ControlState.h"
#include "host/ui/DialogTemplate.h"

namespace ui::qt {

class DialogMetrics {
  public:
    DialogMetrics();

    const QFont& Font() const { return font_; }
    // The dialog font's average character width and its height, in pixels.
    double CharWidth_px() const { return charWidth_px_; }
    double CharHeight_px() const { return charHeight_px_; }

    // A rectangle in dialog units as pixels; neighbours that touch in dialog units touch on
    // screen (each edge is rounded, not the size).
    QRect ToPixels(const Rect& rect_du) const;
    // Where a control stands: a drop-down's template height includes its open list, the closed
    // box takes only its selection field.
    QRect ControlRect(const ControlState& control) const;

  private:
    int X_px(double x_du) const;
    int Y_px(double y_du) const;

    QFont font_;
    double charWidth_px_ = 0.0;
    double charHeight_px_ = 0.0;
};

}  // namespace ui::qt
