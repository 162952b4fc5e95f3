#include "host/app/StepResponse.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

namespace {

// The reference stands still while it changes by less than this fraction of its largest size.
constexpr double kFlatFraction = 1e-9;
// A response this close to the resting reference (a share of the reference's excursion) rests
// with it; farther, the reference had already risen when the record began.
constexpr double kRestingShare = 0.1;
// The step is where the reference passes half-way.
constexpr double kStepLevel = 0.5;
// The steady state is the mean over the last tenth of the response during the hold.
constexpr std::size_t kSteadyStateShare = 10;
constexpr double kPercent = 100.0;

// A point of the response after the step: the time since the step and the fraction of the step.
struct Sample {
    double since_s = 0.0;
    double fraction = 0.0;
};

// The time at which the response crosses the level, the first time it reaches it at or after the
// sample, interpolated between that sample and the one before; none when it never does.
std::optional<double> TimeReaching(const std::vector<Sample>& samples, double level) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].fraction < level) {
            continue;
        }
        if (i == 0) {
            return samples[i].since_s;
        }
        const Sample& before = samples[i - 1];
        const Sample& after = samples[i];
        return before.since_s + (level - before.fraction) / (after.fraction - before.fraction) *
                                    (after.since_s - before.since_s);
    }
    return std::nullopt;
}

// When the response enters the band around the step for the last time; none when it ends
// outside it.
std::optional<double> SettlingTime(const std::vector<Sample>& samples) {
    const auto outside = [](const Sample& sample) {
        return std::abs(sample.fraction - 1.0) > kSettlingBand;
    };
    const auto lastOutside = std::find_if(samples.rbegin(), samples.rend(), outside);
    if (lastOutside == samples.rend()) {
        return samples.front().since_s;
    }
    if (lastOutside == samples.rbegin()) {
        return std::nullopt;
    }
    const Sample& before = *lastOutside;
    const Sample& after = *std::prev(lastOutside);
    const double edge = before.fraction > 1.0 ? 1.0 + kSettlingBand : 1.0 - kSettlingBand;
    return before.since_s + (edge - before.fraction) / (after.fraction - before.fraction) *
                                (after.since_s - before.since_s);
}

// The reference's first rise: the level it reaches, moving away from the level before the step,
// before it turns back or ends, and the time it first leaves that level (none when it holds it
// to the end).
struct Rise {
    double level = 0.0;
    std::optional<double> leftAt_s;
};

std::optional<Rise> FirstRise(std::span<const ui::GraphPoint> reference, double start) {
    double largest = std::abs(start);
    for (const ui::GraphPoint& point : reference) {
        largest = std::max(largest, std::abs(point.y));
    }
    const double flat = kFlatFraction * largest;
    const auto departure =
        std::find_if(reference.begin(), reference.end(),
                     [&](const ui::GraphPoint& point) { return std::abs(point.y - start) > flat; });
    if (departure == reference.end()) {
        return std::nullopt;
    }
    const double direction = departure->y > start ? 1.0 : -1.0;
    // The rise goes on while the reference does not move back; a ramp may stand still for some
    // points when it changes by less than a unit of the drive per point.
    auto top = departure;
    for (auto point = departure; point != reference.end(); ++point) {
        if (direction * (point->y - top->y) > flat) {
            top = point;
        } else if (direction * (top->y - point->y) > flat) {
            break;
        }
    }
    Rise rise{top->y, std::nullopt};
    const auto left = std::find_if(top, reference.end(), [&](const ui::GraphPoint& point) {
        return std::abs(point.y - rise.level) > flat;
    });
    if (left != reference.end()) {
        rise.leftAt_s = left->x;
    }
    return rise;
}

}  // namespace

StepResponse MeasureStepResponse(std::span<const ui::GraphPoint> reference,
                                 std::span<const ui::GraphPoint> response) {
    if (reference.empty()) {
        return {{}, {}, "no step found: the reference curve has no points"};
    }
    if (response.empty()) {
        return {{}, {}, "the measured curve has no points"};
    }
    // The level before the step is the reference's while it rests there (the response jitters by
    // a count of its measurement); a reference already risen at its first point leaves only the
    // response's first value to tell it.
    double excursion = 0.0;
    for (const ui::GraphPoint& point : reference) {
        excursion = std::max(excursion, std::abs(point.y - reference.front().y));
    }
    const bool restsFirst =
        reference.size() > 1 && reference[1].y == reference.front().y &&
        std::abs(response.front().y - reference.front().y) <= kRestingShare * excursion;
    const double start = restsFirst ? reference.front().y : response.front().y;
    const std::optional<Rise> rise = FirstRise(reference, start);
    if (!rise) {
        return {
            {}, {}, "no step found: the reference curve never leaves the level before the step"};
    }
    const double step = rise->level - start;
    const auto fractionOf = [&](double value) { return (value - start) / step; };
    const double step_s =
        std::find_if(reference.begin(), reference.end(), [&](const ui::GraphPoint& point) {
            return fractionOf(point.y) >= kStepLevel;
        })->x;
    std::vector<Sample> samples;
    for (const ui::GraphPoint& point : response) {
        if (point.x >= step_s && (!rise->leftAt_s || point.x < *rise->leftAt_s)) {
            samples.push_back({point.x - step_s, fractionOf(point.y)});
        }
    }
    if (samples.empty()) {
        return {{}, {}, "the measured curve has no points after the step"};
    }

    StepFigures figures;
    if (const std::optional<double> time_s = TimeReaching(samples, kBandwidthLevel);
        time_s && *time_s > 0.0) {
        figures.achievedBandwidth_rad_s = 1.0 / *time_s;
    }
    const double peak =
        std::max_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
            return a.fraction < b.fraction;
        })->fraction;
    figures.overshoot_percent = std::max(0.0, peak - 1.0) * kPercent;
    const std::optional<double> riseStart_s = TimeReaching(samples, kRiseStartLevel);
    const std::optional<double> riseEnd_s = TimeReaching(samples, kRiseEndLevel);
    if (riseStart_s && riseEnd_s) {
        figures.riseTime_s = *riseEnd_s - *riseStart_s;
    }
    figures.settlingTime_s = SettlingTime(samples);
    const std::size_t steadyCount = std::max<std::size_t>(1, samples.size() / kSteadyStateShare);
    double steadySum = 0.0;
    for (auto sample = samples.end() - static_cast<std::ptrdiff_t>(steadyCount);
         sample != samples.end(); ++sample) {
        steadySum += sample->fraction;
    }
    figures.steadyStateError = 1.0 - steadySum / static_cast<double>(steadyCount);
    return {figures, {step_s, start, rise->level, rise->leftAt_s}, {}};
}
