#pragma once

// The reference profile of the speed and position tuning tests. The test program on the drive
// makes its reference from six straight segments: a rise to the amplitude, a hold, the return and
// a pause (bidirectional: up, hold, down to minus the amplitude, pause there, back to zero). Each
// segment is a number of loop periods and the change of the reference in every period, in 16.16
// fixed point, because the drive adds the increment to a 32-bit accumulator whose upper half is
// the reference. The drive counts both in 16-bit registers, hence the checks.
//
//   const auto segments = profile::Compute({amplitude, rise_s, hold_s, return_s, pause_s,
//                                           period_s, profile::Direction::Positive,
//                                           profile::Loop::Speed});
//   if (const auto fault = profile::FirstFault(segments)) { ... segments before it are sent }

#include <array>
#include <cstdint>
#include <optional>

namespace profile {

// The speed test keeps a ramp of a single period whole; the position test always spends the
// last period of a ramp on the correction (a ramp of no period then cannot be made).
enum class Loop { Speed, Position };
// The reference type of the setup: 0, 1, 2; anything else counts as positive.
enum class Direction { Positive = 0, Negative = 1, Bidirectional = 2 };

struct Input {
    std::int32_t amplitude;  // internal units of the loop's reference
    double rise_s;
    double hold_s;
    double return_s;
    double pause_s;
    double loopPeriod_s;
    Direction direction;
    Loop loop;
};

struct Segment {
    std::uint32_t length;    // loop periods
    std::int32_t increment;  // change per period, 16.16 fixed point
};

inline constexpr std::size_t kSegments = 6;
using Segments = std::array<Segment, kSegments>;

// The drive's registers hold lengths and per-period changes up to this.
inline constexpr std::uint32_t kLongestSegment = 0x7FFF;
inline constexpr std::int64_t kLargestIncrement = 0x7FFF;
// One internal unit in 16.16 fixed point.
inline constexpr double kFixedPointOne = 65536.0;

// The string-table entries of the two faults.
inline constexpr int kTooLongMessageId = 1;
inline constexpr int kTooSteepMessageId = 2;

Segments Compute(const Input& input);

// The first segment the drive cannot take and the string-table entry saying why.
struct Fault {
    std::size_t segment;
    int messageId;
};
std::optional<Fault> FirstFault(const Segments& segments);

// Parses the setup's reference type.
Direction DirectionOf(double referenceType);

}  // namespace profile
