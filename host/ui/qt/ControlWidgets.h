#pragma once

// The Qt widget of each kind of control, and drawing a control's state into it. The widgets only
// show; what the user does with them is fed back through UserInput.h by the dialog window.
//
//   Kind      widget                       Kind      widget
//   static    QLabel                       combo     QComboBox
//   edit      QLineEdit (QPlainTextEdit    unit      QComboBox
//             when multi-line)             list      QListWidget
//   button    QPushButton                  group     QGroupBox
//   check     QCheckBox                    picture   PictureWidget
//   radio     QRadioButton                 slider    QSlider
//   tab       QTabBar                      spin      QScrollBar (its two arrows)
//   bargraph  BarGraphWidget               diagram   DiagramWidget
//   graph     GraphWidget (Qt Charts)
//
// A slider shows the state's range, position, ticks and steps; a spin button is a scroll bar whose
// thumb always rests in the middle, so that both arrows stay usable (the position lives in the
// state); a tab control shows its tabs and the selected one. A push button with a bitmap shows
// the drawing instead of its caption.
//
//   QWidget* widget = ui::qt::CreateControlWidget(control, *dialogWindow, metrics, bitmaps);
//   ui::qt::ShowControlState(control, *widget, Qt::black, bitmaps);

#include <QColor>
#include <QWidget>

#include "host/ui/ControlState.h"
#include "host/ui/qt/Bitmaps.h"
#include "host/ui/qt/DialogMetrics.h"

namespace ui::qt {

// Creates the widget of a control at its place in the parent, named by the control's id.
QWidget* CreateControlWidget(const ControlState& control, QWidget& parent,
                             const DialogMetrics& metrics, BitmapLibrary& bitmaps);

// Draws the control's state (text, enabled, visible, checked, read-only, items, selection,
// bitmap) in the text colour. Emits no signal a dialog window listens to.
void ShowControlState(const ControlState& control, QWidget& widget, const QColor& textColour,
                      BitmapLibrary& bitmaps);

}  // namespace ui::qt
