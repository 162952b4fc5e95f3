#pragma once

// The painted widgets of the drawn controls: the bar graph and the angle diagrams. Each shows the
// control's state (DrawnControls.h) and takes no input; the right button over them goes to the
// dialog like over any control.
//
// - Bar graph: a framed box in the background colour, the bar in the bar colour from the drawing
//   reference to the value (marks on the frame's top and bottom edges show the reference where it
//   lies inside the box), and the value text in the middle.
// - Dial diagram: a circle with ticks every 30 degrees and a pointer from the centre at the
//   angle; phase diagram: the three axes A, B and C at 0, 120 and 240 degrees, labelled at their
//   ends, and the pointer. Angles count counter-clockwise from the right. The caption is written
//   above the circle. Disabled, the diagram is grey and has no pointer.
//
//   auto* bar = new ui::qt::BarGraphWidget(&parent);
//   bar->Show(control.barGraph);

#include <QString>
#include <QWidget>

#include "host/ui/DrawnControls.h"

namespace ui::qt {

class BarGraphWidget : public QWidget {
  public:
    explicit BarGraphWidget(QWidget* parent);
    void Show(const BarGraphState& bar);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    BarGraphState bar_;
};

class DiagramWidget : public QWidget {
  public:
    explicit DiagramWidget(QWidget* parent);
    void Show(const DiagramState& diagram, const QString& caption);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    DiagramState diagram_;
    QString caption_;
};

}  // namespace ui::qt
