#include "drive/FixedPoint.h"

#include <cmath>
#include <numbers>

namespace drive::fixed::detail {

namespace {

std::array<std::int32_t, kSineTableSize + 1> BuildSineTable() {
    std::array<std::int32_t, kSineTableSize + 1> table{};
    for (int index = 0; index <= kSineTableSize; ++index) {
        const double angle_rad = 2.0 * std::numbers::pi * index / kSineTableSize;
        table[index] = static_cast<std::int32_t>(std::lround(std::sin(angle_rad) * kQ15Max));
    }
    return table;
}

}  // namespace

const std::array<std::int32_t, kSineTableSize + 1> kSineTable = BuildSineTable();

}  // namespace drive::fixed::detail
