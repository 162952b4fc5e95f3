#include "host/ui/qt/GraphWidget.h"

#include <QChart>
#include <QLegend>
#include <QLineSeries>
#include <QList>
#include <QPointF>
#include <QValueAxis>
#include <algorithm>

#include "host/ui/qt/TextConversion.h"

namespace ui::qt {
namespace {

// COLORREF is 0x00BBGGRR.
constexpr unsigned kGreenShift = 8;
constexpr unsigned kBlueShift = 16;
constexpr COLORREF kChannelMask = 0xFF;
constexpr double kCurveWidth_px = 1.5;
constexpr double kMarkerSize_px = 4.0;

QColor ToQColor(COLORREF colour) {
    return {static_cast<int>(colour & kChannelMask),
            static_cast<int>((colour >> kGreenShift) & kChannelMask),
            static_cast<int>((colour >> kBlueShift) & kChannelMask)};
}

QList<QPointF> ToPoints(std::vector<GraphPoint>::const_iterator from,
                        std::vector<GraphPoint>::const_iterator to) {
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(to - from));
    for (auto point = from; point != to; ++point) {
        points.append(QPointF(point->x, point->y));
    }
    return points;
}

}  // namespace

GraphWidget::GraphWidget(QWidget* parent)
    : QChartView(new QChart(), parent),  // the view owns the chart, the chart its axes and series
      chart_(chart()),
      timeAxis_(new QValueAxis(chart_)),
      valueAxes_{new QValueAxis(chart_), new QValueAxis(chart_)} {
    setRenderHint(QPainter::Antialiasing);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxes_[0], Qt::AlignLeft);
    chart_->addAxis(valueAxes_[1], Qt::AlignRight);
    for (QValueAxis* axis : {timeAxis_, valueAxes_[0], valueAxes_[1]}) {
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setLabelFormat(QStringLiteral("%g"));
    }
}

QLineSeries* GraphWidget::Series(std::size_t curve) const {
    return curve < shown_.size() ? shown_[curve].series : nullptr;
}

bool GraphWidget::SameCurves(const GraphState& graph) const {
    if (graph.curves.size() != described_.size() || graph.markers != markers_) {
        return false;
    }
    for (std::size_t c = 0; c < described_.size(); ++c) {
        const GraphCurve& now = graph.curves[c];
        const GraphCurve& before = described_[c];
        if (now.name != before.name || now.unit != before.unit || now.colour != before.colour ||
            now.axis != before.axis) {
            return false;
        }
    }
    return true;
}

void GraphWidget::MakeSeries(const GraphState& graph) {
    chart_->removeAllSeries();
    shown_.clear();
    described_.clear();
    markers_ = graph.markers;
    for (const GraphCurve& curve : graph.curves) {
        auto* series = new QLineSeries();
        series->setName(ToQString(CurveHeading(curve)));
        QPen pen(ToQColor(curve.colour));
        pen.setWidthF(kCurveWidth_px);
        series->setPen(pen);
        series->setPointsVisible(graph.markers);
        series->setMarkerSize(kMarkerSize_px);
        chart_->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(valueAxes_[std::min<std::size_t>(curve.axis, valueAxes_.size() - 1)]);
        shown_.push_back({series, 0, 0});
        GraphCurve described = curve;
        described.points.clear();
        described_.push_back(std::move(described));
    }
}

void GraphWidget::ShowAxis(QValueAxis& axis, const GraphAxis& state) {
    axis.setTitleText(ToQString(state.title));
    axis.setRange(state.minimum, state.maximum);
    axis.setTickAnchor(state.minimum);
    axis.setTickInterval(GraphTickStep(state.minimum, state.maximum));
}

void GraphWidget::Show(const GraphState& graph, const QString& title) {
    chart_->setTitle(title);
    if (!SameCurves(graph)) {
        MakeSeries(graph);
    }
    for (std::size_t c = 0; c < graph.curves.size(); ++c) {
        const std::vector<GraphPoint>& points = graph.curves[c].points;
        Shown& shown = shown_[c];
        if (shown.serial != graph.curves[c].serial || points.size() < shown.points) {
            shown.series->replace(ToPoints(points.begin(), points.end()));
        } else if (points.size() > shown.points) {
            shown.series->append(
                ToPoints(points.begin() + static_cast<std::ptrdiff_t>(shown.points), points.end()));
        }
        shown.serial = graph.curves[c].serial;
        shown.points = points.size();
    }
    ShowAxis(*timeAxis_, graph.xAxis);
    for (std::size_t a = 0; a < valueAxes_.size(); ++a) {
        const bool used = a < graph.yAxes.size();
        valueAxes_[a]->setVisible(used);
        if (used) {
            ShowAxis(*valueAxes_[a], graph.yAxes[a]);
        }
    }
}

}  // namespace ui::qt
