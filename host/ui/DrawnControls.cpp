#include "host/ui/DrawnControls.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace ui {

double BarFraction(const BarGraphState& bar, double value) {
    const double span = bar.rightLimit - bar.leftLimit;
    if (span == 0.0 || !std::isfinite(span) || !std::isfinite(value)) {
        return 0.0;
    }
    return std::clamp((value - bar.leftLimit) / span, 0.0, 1.0);
}

BarExtent BarGraphExtent(const BarGraphState& bar) {
    const double from = BarFraction(bar, bar.reference);
    const double to = BarFraction(bar, bar.value);
    return {std::min(from, to), std::max(from, to)};
}

double NormalisedAngle_rad(double angle_rad) {
    constexpr double kTurn_rad = 2.0 * std::numbers::pi;
    if (!std::isfinite(angle_rad)) {
        return 0.0;
    }
    const double within = std::fmod(angle_rad, kTurn_rad);
    // fmod keeps the sign of the angle; a tiny negative remainder can round up to a whole turn.
    const double positive = within < 0.0 ? within + kTurn_rad : within;
    return positive >= kTurn_rad ? 0.0 : positive;
}

std::string CurveHeading(const GraphCurve& curve) {
    return curve.unit.empty() ? curve.name : curve.name + " [" + curve.unit + "]";
}

double ScaledValue(const GraphScale& scale, double y) {
    return (y - scale.zero) / scale.perUnit;
}

std::string CurveLegend(const GraphCurve& curve) {
    if (!curve.scale) {
        return CurveHeading(curve);
    }
    constexpr std::size_t kNumberRoom = 32;
    std::array<char, kNumberRoom> perDivision{};
    std::snprintf(perDivision.data(), perDivision.size(), "%.6g", curve.scale->valuePerDivision);
    return curve.name + " " + perDivision.data() + (curve.scale->unit.empty() ? "" : " ") +
           curve.scale->unit + "/div";
}

GraphAxis ScaleRange(const GraphScale& scale) {
    constexpr double kHalfGrid = kGraphScaleDivisions / 2.0;
    return {scale.unit, scale.centre - kHalfGrid * scale.valuePerDivision,
            scale.centre + kHalfGrid * scale.valuePerDivision};
}

double GraphTickStep(double minimum, double maximum) {
    const double span = maximum - minimum;
    if (!(span > 0.0) || !std::isfinite(span)) {
        return 1.0;
    }
    const double rough = span / kGraphTickIntervals;
    const double decade = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double multiple : {1.0, 2.0, 5.0, 10.0}) {
        if (multiple * decade >= rough) {
            return multiple * decade;
        }
    }
    return 10.0 * decade;
}

}  // namespace ui
