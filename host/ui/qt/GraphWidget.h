#pragma once

// The graph control on the desktop: a Qt Charts chart of the control's curves (GraphState), a
// line per curve in its colour (with a dot per point when the state asks for markers), the time
// axis below, the value axes left and right with their titles (units), the ranges the state
// gives, and the legend under the plot. The control's text is the chart's title. Only the points
// a curve gained are added when its serial stays, so an on-line plot does not copy every point
// on every tick.
//
//   auto* graph = new ui::qt::GraphWidget(&parent);
//   graph->Show(control.graph, QStringLiteral("Speed step"));

#include <QChartView>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "host/ui/DrawnControls.h"

class QChart;
class QLineSeries;
class QValueAxis;

namespace ui::qt {

class GraphWidget : public QChartView {
  public:
    explicit GraphWidget(QWidget* parent);
    void Show(const GraphState& graph, const QString& title);

    // The series drawn for the curve of that index, or null.
    QLineSeries* Series(std::size_t curve) const;

  private:
    struct Shown {
        QLineSeries* series = nullptr;
        std::uint64_t serial = 0;
        std::size_t points = 0;
    };

    // Whether the curves' names, units, colours and axes differ from the series shown.
    bool SameCurves(const GraphState& graph) const;
    void MakeSeries(const GraphState& graph);
    void ShowAxis(QValueAxis& axis, const GraphAxis& state);

    QChart* chart_;
    QValueAxis* timeAxis_;
    std::array<QValueAxis*, 2> valueAxes_;
    std::vector<Shown> shown_;
    std::vector<GraphCurve> described_;  // the curves the series were made for, without points
    bool markers_ = false;
};

}  // namespace ui::qt
