#include "drive/FixedPoint.h"

#include <array>
#include <cmath>
#include <numbers>

namespace drive::fixed {

namespace {

// 1024 table intervals per turn; the low 6 bits of the angle interpolate between two entries,
// which keeps the error below one Q15 unit.
constexpr int kTableBits = 10;
constexpr int kTableSize = 1 << kTableBits;
constexpr int kInterpolationBits = 16 - kTableBits;

std::array<std::int32_t, kTableSize + 1> BuildSineTable() {
    std::array<std::int32_t, kTableSize + 1> table{};
    for (int index = 0; index <= kTableSize; ++index) {
        const double angle_rad = 2.0 * std::numbers::pi * index / kTableSize;
        table[index] = static_cast<std::int32_t>(std::lround(std::sin(angle_rad) * kQ15Max));
    }
    return table;
}

const std::array<std::int32_t, kTableSize + 1> kSineTable = BuildSineTable();

}  // namespace

std::int64_t SineQ15(std::int64_t angle) {
    const std::int64_t folded = angle & (kAngleTurn - 1);
    const std::int64_t index = folded >> kInterpolationBits;
    const std::int64_t fraction = folded & ((std::int64_t{1} << kInterpolationBits) - 1);
    const std::int64_t low = kSineTable[index];
    const std::int64_t high = kSineTable[index + 1];
    return low + ShiftRightRounded((high - low) * fraction, kInterpolationBits);
}

}  // namespace drive::fixed
