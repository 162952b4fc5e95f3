#include "host/ui/qt/GraphWidget.h"

#include <QChart>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

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

// Whether a fitted value axis has an unscaled curve to show.
bool FittedAxisUsed(const GraphState& graph, std::size_t axis) {
    return std::any_of(graph.curves.begin(), graph.curves.end(), [axis](const GraphCurve& curve) {
        return !curve.scale && std::min<std::size_t>(curve.axis, 1) == axis;
    });
}

bool AnyScaled(const GraphState& graph) {
    return std::any_of(graph.curves.begin(), graph.curves.end(),
                       [](const GraphCurve& curve) { return curve.scale.has_value(); });
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

QValueAxis* GraphWidget::ValueAxis(std::size_t curve) const {
    return curve < shown_.size() ? shown_[curve].axis : nullptr;
}

void GraphWidget::SetScaleStepper(std::function<void(std::size_t curve, int step)> stepper) {
    scaleStepper_ = std::move(stepper);
}

void GraphWidget::wheelEvent(QWheelEvent* event) {
    const QRectF plot = chart_->plotArea();
    const QPointF at = chart_->mapFromScene(mapToScene(event->position().toPoint()));
    const Qt::Alignment side = at.x() < plot.left()    ? Qt::AlignLeft
                               : at.x() > plot.right() ? Qt::AlignRight
                                                       : Qt::Alignment();
    const int turned = event->angleDelta().y();
    if (scaleStepper_ && side != Qt::Alignment() && turned != 0) {
        for (std::size_t c = 0; c < shown_.size(); ++c) {
            const QValueAxis* axis = shown_[c].axis;
            const bool ownAxis =
                std::find(scaleAxes_.begin(), scaleAxes_.end(), axis) != scaleAxes_.end();
            if (ownAxis && axis->isVisible() && axis->alignment() == side) {
                event->accept();
                scaleStepper_(c, turned > 0 ? -1 : 1);
                return;
            }
        }
    }
    QChartView::wheelEvent(event);
}

bool GraphWidget::SameCurves(const GraphState& graph) const {
    if (graph.curves.size() != described_.size() || graph.markers != markers_) {
        return false;
    }
    for (std::size_t c = 0; c < described_.size(); ++c) {
        const GraphCurve& now = graph.curves[c];
        const GraphCurve& before = described_[c];
        if (now.name != before.name || now.unit != before.unit || now.colour != before.colour ||
            now.axis != before.axis || now.scale != before.scale) {
            return false;
        }
    }
    return true;
}

void GraphWidget::MakeSeries(const GraphState& graph) {
    chart_->removeAllSeries();
    for (QValueAxis* axis : scaleAxes_) {
        chart_->removeAxis(axis);
        delete axis;
    }
    scaleAxes_.clear();
    shown_.clear();
    described_.clear();
    markers_ = graph.markers;
    // The sides the fitted axes leave to the scaled curves' own axes, left first.
    std::vector<Qt::Alignment> freeSides;
    for (const auto& [axis, side] :
         {std::pair{std::size_t{0}, Qt::AlignLeft}, std::pair{std::size_t{1}, Qt::AlignRight}}) {
        if (!FittedAxisUsed(graph, axis)) {
            freeSides.push_back(side);
        }
    }
    for (const GraphCurve& curve : graph.curves) {
        auto* series = new QLineSeries();
        series->setName(ToQString(CurveLegend(curve)));
        QPen pen(ToQColor(curve.colour));
        pen.setWidthF(kCurveWidth_px);
        series->setPen(pen);
        series->setPointsVisible(graph.markers);
        series->setMarkerSize(kMarkerSize_px);
        chart_->addSeries(series);
        series->attachAxis(timeAxis_);
        QValueAxis* axis = valueAxes_[std::min<std::size_t>(curve.axis, valueAxes_.size() - 1)];
        if (curve.scale) {
            const bool onASide = scaleAxes_.size() < freeSides.size();
            axis = new QValueAxis();
            chart_->addAxis(axis, onASide ? freeSides[scaleAxes_.size()] : Qt::AlignLeft);
            axis->setVisible(onASide);
            // One grid for every curve: the scales' divisions coincide, the first axis draws it.
            axis->setGridLineVisible(scaleAxes_.empty() && freeSides.size() == 2);
            axis->setTickType(QValueAxis::TicksDynamic);
            axis->setLabelFormat(QStringLiteral("%g"));
            axis->setLabelsColor(ToQColor(curve.colour));
            axis->setTitleBrush(ToQColor(curve.colour));
            scaleAxes_.push_back(axis);
        }
        series->attachAxis(axis);
        shown_.push_back({series, axis, {}, 0, 0, 0.0, 0, {}});
        GraphCurve described = curve;
        described.points.clear();
        described_.push_back(std::move(described));
    }
}

bool GraphWidget::TakePoints(Shown& shown, const GraphCurve& curve, bool anew) const {
    const std::size_t had = shown.taken;
    const bool replaced = anew || shown.serial != curve.serial || curve.points.size() < had;
    if (replaced) {
        shown.points.clear();
        shown.taken = 0;
        shown.serial = curve.serial;
    }
    for (; shown.taken < curve.points.size(); ++shown.taken) {
        const GraphPoint& point = curve.points[shown.taken];
        TakePoint(shown,
                  QPointF(point.x, curve.scale ? ScaledValue(*curve.scale, point.y) : point.y));
    }
    return replaced || shown.taken != had;
}

void GraphWidget::TakePoint(Shown& shown, QPointF point) const {
    if (columns_.width == 0.0) {
        shown.points.append(point);
        return;
    }
    enum { kFirst, kLowest, kHighest, kLast };
    std::array<QPointF, 4>& kept = shown.columnPoints;
    const double column = std::floor((point.x() - columns_.start) / columns_.width);
    if (shown.taken == 0 || column != shown.column) {
        shown.column = column;
        shown.columnStart = shown.points.size();
        kept.fill(point);
        shown.points.append(point);
        return;
    }
    kept[kLast] = point;
    if (point.y() < kept[kLowest].y()) {
        kept[kLowest] = point;
    }
    if (point.y() > kept[kHighest].y()) {
        kept[kHighest] = point;
    }
    const bool lowestFirst = kept[kLowest].x() <= kept[kHighest].x();
    shown.points.resize(shown.columnStart);
    for (const QPointF& next : {kept[kFirst], lowestFirst ? kept[kLowest] : kept[kHighest],
                                lowestFirst ? kept[kHighest] : kept[kLowest], kept[kLast]}) {
        if (shown.points.size() == shown.columnStart || shown.points.back() != next) {
            shown.points.append(next);
        }
    }
}

void GraphWidget::ShowAxis(QValueAxis& axis, const GraphAxis& state, double tickStep) {
    axis.setTitleText(ToQString(state.title));
    axis.setRange(state.minimum, state.maximum);
    axis.setTickAnchor(state.minimum);
    axis.setTickInterval(tickStep);
}

void GraphWidget::ShowAxes(const GraphState& graph) {
    const bool fixedTime = graph.timeBase && !graph.zoomed;
    ShowAxis(*timeAxis_, graph.xAxis,
             fixedTime ? graph.timeBase->span_s / kGraphTimeDivisions
                       : GraphTickStep(graph.xAxis.minimum, graph.xAxis.maximum));
    const bool scaled = AnyScaled(graph);
    for (std::size_t a = 0; a < valueAxes_.size(); ++a) {
        const bool used = a < graph.yAxes.size() && (!scaled || FittedAxisUsed(graph, a));
        valueAxes_[a]->setVisible(used);
        if (used) {
            const GraphAxis& state = graph.yAxes[a];
            ShowAxis(*valueAxes_[a], state, GraphTickStep(state.minimum, state.maximum));
        }
    }
    for (std::size_t c = 0; c < graph.curves.size(); ++c) {
        const GraphCurve& curve = graph.curves[c];
        if (curve.scale) {
            GraphAxis range = ScaleRange(*curve.scale);
            range.title =
                curve.name + (curve.scale->unit.empty() ? "" : " [" + curve.scale->unit + "]");
            ShowAxis(*shown_[c].axis, range, curve.scale->valuePerDivision);
        }
    }
}

void GraphWidget::Show(const GraphState& graph, const QString& title) {
    chart_->setTitle(title);
    if (!SameCurves(graph)) {
        MakeSeries(graph);
    }
    const double span = graph.xAxis.maximum - graph.xAxis.minimum;
    const Columns columns = graph.markers || width() < 1 || !(span > 0.0) || !std::isfinite(span)
                                ? Columns{}
                                : Columns{graph.xAxis.minimum, span / width()};
    const bool anew = columns != columns_;
    columns_ = columns;
    for (std::size_t c = 0; c < graph.curves.size(); ++c) {
        Shown& shown = shown_[c];
        if (TakePoints(shown, graph.curves[c], anew)) {
            // One replace lays the line out once; appending point by point lays it out per point.
            shown.series->replace(shown.points);
        }
    }
    ShowAxes(graph);
}

}  // namespace ui::qt
