#include "drivetests/TestProfile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "host/kernel/KernelFunctions.h"

namespace profile {

namespace {

// A time as a whole number of loop periods, the low 32 bits of the rounded count (so a negative
// or enormous time becomes a length the checks refuse).
std::uint32_t Periods(double time_s, double loopPeriod_s) {
    const double periods = time_s / loopPeriod_s;
    constexpr double kBeyondInt64 = 9.2e18;
    if (!std::isfinite(periods) || std::fabs(periods) > kBeyondInt64) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(RoundToNearestInteger(periods)));
}

// A change per period in 16.16 fixed point, halves up; a change beyond 32 bits (a ramp of no
// period) saturates, which the slope check then refuses.
std::int32_t FixedPoint(double change) {
    const double scaled = std::floor(change * kFixedPointOne + 0.5);
    if (std::isnan(scaled)) {
        return 0;
    }
    constexpr double kMost = std::numeric_limits<std::int32_t>::max();
    constexpr double kLeast = std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(std::clamp(scaled, kLeast, kMost));
}

double Level(const Segment& segment) {
    return segment.increment * static_cast<double>(segment.length) / kFixedPointOne;
}

// A ramp of n periods by delta: most of it at the rounded slope, then one period that lands the
// level exactly on the target.
void Ramp(Segment* ramp, std::uint32_t n, double delta, Loop loop) {
    const std::uint32_t main = loop == Loop::Position || n > 1 ? n - 1 : n;
    ramp[0] = {main, FixedPoint(delta / n)};
    ramp[1] = {1, FixedPoint(delta - Level(ramp[0]))};
}

Segments OneWay(const Input& input, double amplitude) {
    Segments segments{};
    Ramp(&segments[0], Periods(input.rise_s, input.loopPeriod_s), amplitude, input.loop);
    segments[2] = {Periods(input.hold_s, input.loopPeriod_s), 0};
    Ramp(&segments[3], Periods(input.return_s, input.loopPeriod_s), -amplitude, input.loop);
    segments[5] = {Periods(input.pause_s, input.loopPeriod_s), 0};
    return segments;
}

Segments BothWays(const Input& input) {
    const double amplitude = input.amplitude;
    Segments segments{};
    const std::uint32_t rise = Periods(input.rise_s, input.loopPeriod_s);
    segments[0] = {rise, FixedPoint(amplitude / rise)};
    segments[1] = {Periods(input.hold_s, input.loopPeriod_s), 0};
    // From the level reached down to minus the amplitude in twice the return time.
    const std::uint32_t down = Periods(2 * input.return_s, input.loopPeriod_s);
    segments[2] = {down, FixedPoint(-(Level(segments[0]) + amplitude) / down)};
    segments[3] = {Periods(input.pause_s, input.loopPeriod_s), 0};
    const std::uint32_t back = Periods(input.return_s, input.loopPeriod_s);
    segments[4] = back == 1 ? Segment{1, 0} : Segment{back - 1, FixedPoint(amplitude / (back - 1))};
    // The last period takes what the others left over, so that the reference ends at zero.
    const double sum = static_cast<double>(segments[2].increment) * segments[2].length +
                       static_cast<double>(segments[0].increment) * rise +
                       static_cast<double>(segments[4].increment) * segments[4].length;
    segments[5] = {1, FixedPoint(std::trunc(-sum) / kFixedPointOne)};
    return segments;
}

}  // namespace

Direction DirectionOf(double referenceType) {
    if (referenceType == 1.0) {
        return Direction::Negative;
    }
    return referenceType == 2.0 ? Direction::Bidirectional : Direction::Positive;
}

Segments Compute(const Input& input) {
    switch (input.direction) {
        case Direction::Negative:
            return OneWay(input, -static_cast<double>(input.amplitude));
        case Direction::Bidirectional:
            return BothWays(input);
        case Direction::Positive:
            break;
    }
    return OneWay(input, input.amplitude);
}

std::optional<Fault> FirstFault(const Segments& segments) {
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].length > kLongestSegment) {
            return Fault{i, kTooLongMessageId};
        }
        if (std::llabs(RoundToNearestInteger(segments[i].increment / kFixedPointOne)) >
            kLargestIncrement) {
            return Fault{i, kTooSteepMessageId};
        }
    }
    return std::nullopt;
}

}  // namespace profile
