#pragma once

// The figures of a step response, as a person reads them off a tuning test's graph: the step is
// the reference curve's first rise, the response read from the measured curve while the
// reference holds the level it rose to, both as fractions of the step (0 at the level before the
// step, 1 at the level the reference rose to).
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
    // What the response lacks of the step at the end of the hold, as a fraction of the step
    // (negative when it ends beyond it): the mean over the last tenth of the points of the hold.
    double steadyStateError = 0.0;
};

// A tuned loop's step as the commands report it: the design the loop ran, what the design makes
// of a step (read as the achieved bandwidth is read) and the figures of the response measured.
struct LoopFigures {
    // The passband the gains were designed from.
    double passband_rad_s = 0.0;
    // 1 / the time the designed loop's step response takes to reach 63 % of the step; none when
    // the setup cannot say.
    std::optional<double> designedBandwidth_rad_s;
    // How far the designed loop's step response rises beyond the step, percent of the step; none
    // when the setup cannot say.
    std::optional<double> designedOvershoot_percent;
    // None when the figures could not be read.
    std::optional<StepFigures> measured;
};

// Where the step lies on the graph: when the reference passed half-way, the level before it and
// the level the reference rose to, and when the reference left that level (none: it held it to
// the end).
struct StepPlacement {
    double time_s = 0.0;
    double levelBefore = 0.0;
    double levelReached = 0.0;
    std::optional<double> holdEnd_s;
};

struct StepResponse {
    StepFigures figures;
    StepPlacement placement;
    // Why the figures could not be read (the reference never moves); empty when they were.
    std::string error;
};

// The level before the step is the response's first value: a logger may begin after the reference
// has started to rise (the speed and position tests log from the end of the profile's first loop
// period, when a one-period step is already made), but the response, measured at the start of
// that period, has not moved yet. The reference moves away from that level until it turns back
// or ends (a step, a ramp, or a profile's first rise); the level it reaches is the step's, and the
// step is where the reference passes half-way to it. The response counts from the step until the
// reference leaves that level (the hold), or to its end. The times between points are
// interpolated linearly. Points are in time order (x in seconds).
StepResponse MeasureStepResponse(std::span<const ui::GraphPoint> reference,
                                 std::span<const ui::GraphPoint> response);
