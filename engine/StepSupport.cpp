#include "engine/StepSupport.h"

#include <cmath>
#include <limits>

#include "engine/RegisterFormats.h"

namespace engine {

std::int64_t RegisterBits(double registerValue) {
    const double whole = std::trunc(registerValue);
    constexpr double kLimit = 9223372036854775807.0;  // beyond this a cast is undefined
    if (!std::isfinite(whole) || std::fabs(whole) >= kLimit) {
        return 0;
    }
    return static_cast<std::int64_t>(whole);
}

bool IsBitSet(double registerValue, int bit) {
    return ((RegisterBits(registerValue) >> bit) & 1) != 0;
}

double WithBit(double registerValue, int bit, bool set) {
    const std::int64_t mask = std::int64_t{1} << bit;
    const std::int64_t bits = RegisterBits(registerValue);
    return static_cast<double>(set ? (bits | mask) : (bits & ~mask));
}

double GainFromRegisters(double mantissa, double shift) {
    return mantissa * std::exp2(shift) / regfmt::kQ15;
}

}  // namespace engine

bool SetParameterRange(CQel_Parameter& parameter, double low, double high) {
    // A range end that is not a number (a division by zero upstream) is no range at all.
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
        return false;
    }
    if (parameter.GetMaxInBaseUnit() < parameter.GetMinInBaseUnit()) {
        parameter.SetMaxInBaseUnit(parameter.GetMinInBaseUnit());
    }
    if (low > parameter.GetMaxInBaseUnit()) {
        parameter.SetMaxInBaseUnit(high);
        parameter.SetMinInBaseUnit(low);
    } else {
        parameter.SetMinInBaseUnit(low);
        parameter.SetMaxInBaseUnit(high);
    }
    parameter.BringIntoRange();
    return true;
}
