#pragma once

// The graph control on the desktop: a Qt Charts chart of the control's curves (GraphState), a
// line per curve in its colour (with a dot per point when the state asks for markers), the time
// axis below, the value axes left and right with their titles (units), the ranges the state
// gives, and the legend under the plot. The control's text is the chart's title.
//
// Curves with a fixed scale (GraphCurve::scale) are drawn as a scope draws its channels: each
// against a value axis of its own spanning ui::kGraphScaleDivisions divisions of its value per
// division about its centre (ticks on every division, in the scale's unit, the axis titled
// "name [unit]" in the curve's colour), so that the curves share one grid of 8 divisions; the
// first two such axes take the left and right sides the fitted axes leave free, the others are
// hidden and their scales read from the legend ("Speed_Reference 50 rad/s/div"). With a time
// base (GraphState::timeBase) the time axis has ui::kGraphTimeDivisions divisions over it.
//
// An on-line plot keeps up with its points: the series take only the points a curve gained
// while its serial stays, and each series is given them in one replace per Show, so that Qt
// Charts lays its line out once per frame of points rather than once per point. Without markers
// a series holds, of each column of pixels of the widget's width, at most the first, lowest,
// highest and last point the curve has there, in their order: the line drawn is the curve's
// (every peak stays), its cost bounded by the widget's width rather than the points' number.
// The next Show after a change of the time axis's range or of the widget's width lays the
// columns out anew.
//
//   auto* graph = new ui::qt::GraphWidget(&parent);
//   graph->Show(control.graph, QStringLiteral("Speed step"));

#include <QChartView>
#include <QList>
#include <QPointF>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "host/ui/DrawnControls.h"

class QChart;
class QLineSeries;
class QValueAxis;
class QWheelEvent;

namespace ui::qt {

class GraphWidget : public QChartView {
  public:
    explicit GraphWidget(QWidget* parent);
    void Show(const GraphState& graph, const QString& title);

    // The series drawn for the curve of that index, or null.
    QLineSeries* Series(std::size_t curve) const;
    // The value axis the curve of that index is drawn against (its scale's own, or the fitted
    // axis it names), or null.
    QValueAxis* ValueAxis(std::size_t curve) const;
    // Called when the mouse wheel turns beside a scaled curve's axis shown on a side of the plot:
    // the curve's index and the step of its scale (wheel away from the user: -1, one finer).
    void SetScaleStepper(std::function<void(std::size_t curve, int step)> stepper);

  protected:
    void wheelEvent(QWheelEvent* event) override;

  private:
    // The columns of pixels points are gathered in: from the time start, each width long; a
    // width of 0 gathers nothing (every point is drawn).
    struct Columns {
        double start = 0.0;
        double width = 0.0;
        bool operator==(const Columns&) const = default;
    };
    // What a series shows of its curve.
    struct Shown {
        QLineSeries* series = nullptr;
        QValueAxis* axis = nullptr;  // the curve's own with a scale, else a fitted one
        QList<QPointF> points;       // the series' points, in the scale's unit with a scale
        std::uint64_t serial = 0;
        std::size_t taken = 0;  // the curve's points taken into points
        // The column of the last point taken, where its points start in points, and its first,
        // lowest, highest and last point.
        double column = 0.0;
        qsizetype columnStart = 0;
        std::array<QPointF, 4> columnPoints;
    };

    // Whether the curves' names, units, colours, axes and scales differ from the series shown.
    bool SameCurves(const GraphState& graph) const;
    void MakeSeries(const GraphState& graph);
    // Brings the shown points up to the curve's (all of them anew when told to or when the
    // curve's points were replaced); whether they changed.
    bool TakePoints(Shown& shown, const GraphCurve& curve, bool anew) const;
    // Takes one point into the shown ones, gathered into its column.
    void TakePoint(Shown& shown, QPointF point) const;
    void ShowAxes(const GraphState& graph);
    void ShowAxis(QValueAxis& axis, const GraphAxis& state, double tickStep);

    QChart* chart_;
    QValueAxis* timeAxis_;
    std::array<QValueAxis*, 2> valueAxes_;
    std::vector<Shown> shown_;
    std::vector<GraphCurve> described_;   // the curves the series were made for, without points
    std::vector<QValueAxis*> scaleAxes_;  // the scaled curves' own axes
    Columns columns_;
    bool markers_ = false;
    std::function<void(std::size_t, int)> scaleStepper_;
};

}  // namespace ui::qt
