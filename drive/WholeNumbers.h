#pragma once

#include <cmath>
#include <cstdint>

// Rounding a double to a whole number in the physics' every step: the same values as std::floor
// and std::round, signed zeros included, but without the library call these cost on processors
// without a rounding instruction (the baseline x86-64 the drive is built for).
namespace drive::whole {

// From 2^52 on every double is a whole number; below, the integer conversion truncates exactly.
inline constexpr double kAllWhole = 4503599627370496.0;

// Toward zero, keeping the sign of a zero result (std::trunc); |value| below 2^52.
inline double TruncateSmall(double value) {
    return std::copysign(static_cast<double>(static_cast<std::int64_t>(value)), value);
}

// std::floor(value).
inline double Floor(double value) {
    // NaN and the infinities also fail the test and pass through, as with std::floor.
    if (!(std::fabs(value) < kAllWhole)) {
        return value;
    }
    const double truncated = TruncateSmall(value);
    return truncated > value ? truncated - 1.0 : truncated;
}

// The largest double below one half.
inline constexpr double kJustBelowHalf = 0.49999999999999994;

// std::round(value): to the nearest whole number, halves away from zero. Adding just less than a
// half away from zero carries the value past the next whole number exactly when its fraction is
// a half or more: below 2^52 the sum is exact or rounds to the whole number it reaches, never past
// it.
inline double Round(double value) {
    if (!(std::fabs(value) < kAllWhole)) {
        return value;
    }
    return TruncateSmall(value + std::copysign(kJustBelowHalf, value));
}

}  // namespace drive::whole
