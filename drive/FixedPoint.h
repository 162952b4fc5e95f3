#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

// The drive's fixed-point arithmetic: Q15 gains with a shift, saturation limits, the first-order
// filter coefficient and the 16-bit electrical angle. Everything is integer; intermediate
// products are 64-bit so that no register value can overflow them (shifts are bounded).
namespace drive::fixed {

// A Q15 product is shifted right by 15: a mantissa of 32768 would be 1.0.
inline constexpr int kQ15Shift = 15;
// Largest 16-bit signed value: a saturation register of 32767 means a limit of 0, a filter
// register of 32767 passes its input unchanged.
inline constexpr std::int64_t kQ15Max = 32767;
// A gain shift register is read as a small signed number; beyond these bounds the 64-bit
// products of the loops could overflow, so the drive bounds the shift it applies.
inline constexpr int kMinGainShift = -16;
inline constexpr int kMaxGainShift = 16;
// One electrical turn is 65536 units of the 16-bit angle.
inline constexpr std::int64_t kAngleTurn = 65536;

// A gain G = mantissa x 2^shift / 32767, as the drive's mantissa and shift registers hold it.
struct Q15Gain {
    std::int64_t mantissa = 0;
    int shift = 0;
};

// Arithmetic shift right with rounding to nearest (halves toward +infinity); a negative count
// shifts left.
inline std::int64_t ShiftRightRounded(std::int64_t value, int count) {
    if (count <= 0) {
        return value * (std::int64_t{1} << -count);
    }
    return (value + (std::int64_t{1} << (count - 1))) >> count;
}

// value x mantissa x 2^shift, the product kept with 15 fraction bits: the form in which the
// loops accumulate their integral terms without losing small increments.
inline std::int64_t MultiplyToQ15(std::int64_t value, Q15Gain gain) {
    const std::int64_t product = value * gain.mantissa;
    return gain.shift >= 0 ? product * (std::int64_t{1} << gain.shift)
                           : ShiftRightRounded(product, -gain.shift);
}

// value x G, rounded to a whole number.
inline std::int64_t Multiply(std::int64_t value, Q15Gain gain) {
    return ShiftRightRounded(MultiplyToQ15(value, gain), kQ15Shift);
}

inline std::int64_t Saturate(std::int64_t value, std::int64_t limit) {
    return std::clamp(value, -limit, limit);
}

// The limit a saturation register stands for: 32767 minus the register, never below 0 and never
// beyond the 16-bit range.
inline std::int64_t LimitFromSaturationRegister(std::int64_t saturation) {
    return std::clamp(kQ15Max - saturation, std::int64_t{0}, kQ15Max);
}

namespace detail {
// 1024 table intervals per turn; the low 6 bits of the angle interpolate between two entries,
// which keeps the error below one Q15 unit.
inline constexpr int kSineTableBits = 10;
inline constexpr int kSineTableSize = 1 << kSineTableBits;
inline constexpr int kSineInterpolationBits = 16 - kSineTableBits;
// The sine in Q15 at every interval's start, the full turn's end included.
extern const std::array<std::int32_t, kSineTableSize + 1> kSineTable;
}  // namespace detail

// Sine of a 16-bit angle (65536 per turn) in Q15, from a table with linear interpolation.
inline std::int64_t SineQ15(std::int64_t angle) {
    const std::int64_t folded = angle & (kAngleTurn - 1);
    const std::int64_t index = folded >> detail::kSineInterpolationBits;
    const std::int64_t fraction =
        folded & ((std::int64_t{1} << detail::kSineInterpolationBits) - 1);
    const std::int64_t low = detail::kSineTable[index];
    const std::int64_t high = detail::kSineTable[index + 1];
    return low + ShiftRightRounded((high - low) * fraction, detail::kSineInterpolationBits);
}
inline std::int64_t CosineQ15(std::int64_t angle) {
    return SineQ15(angle + kAngleTurn / 4);
}

// The angle folded into the signed 16-bit range -32768 ... 32767.
inline std::int64_t WrapAngle(std::int64_t angle) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(angle & 0xFFFF));
}

}  // namespace drive::fixed
