#pragma once

// The figures of a step response, as a person reads them off a tuning test's graph: the step is
// found in the reference curve, the response read from the measured curve, both as fractions of
// the step (0 before it, 1 at the reference's final level).
//
//   StepResponse response = MeasureStepResponse(reference.points, current.points);
//   if (!response.error.empty()) ... else response.figures.riseTime_s ...

#include <optional>
#include <span>
#include <string>

#include "host/ui/DrawnControls.h"

// The fractions of the step the figures are read at.
inline constexpr double kBandwidthLevel = 0.63;  // one time constant of a first-order response
inline constexpr double kRiseStartLevel = 0.1;
inline constexpr double kRiseEndLevel = 0.9;
inline constexpr double kSettlingBand = 0.02;  // settled: within 2 % of the step for good

// A time figure is missing when the response does not show it (it never reaches the level).
struct StepFigures {
    // 1 / the time from the step to 63 % of it.
    std::optional<double> achievedBandwidth_rad_s;
    // How far the response goes beyond the step, in percent of it; 0 when it stays below.
    double overshoot_percent = 0.0;
    // From 10 % to 90 % of the step.
    std::optional<double> riseTime_s;
    // From the step until the response stays within 2 % of it for good.
    std::optional<double> settlingTime_s;
    // What the response lacks of the step at the end, as a fraction of the step (negative when
    // it ends beyond it): the mean over the last tenth of the points after the step.
    double steadyStateError = 0.0;
};

struct StepResponse {
    StepFigures figures;
    // Why the figures could not be read (no step in the reference); empty when they were.
    std::string error;
};

// The step: the reference moves from its first value to its last, and the step is where it
// passes half-way. The times between points are interpolated linearly. Points are in time order
// (x in seconds).
StepResponse MeasureStepResponse(std::span<const ui::GraphPoint> reference,
                                 std::span<const ui::GraphPoint> response);
