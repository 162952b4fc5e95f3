#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>

#include "engine/BaseScales.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

// What the register steps share; not part of the engine's interface.
namespace compute::support {

enum class Units { Base, Internal };

// Which register of a gain pair a step writes.
enum class GainPart { Shift, Mantissa };

inline double WholePart(const CQel_Parameter& parameter) {
    return engine::WholePart(parameter.GetValueInBaseUnit());
}
inline bool IsOne(const CQel_Parameter& flag) {
    return engine::IsOne(flag.GetValueInBaseUnit());
}

// The smallest whole number n with 2^n >= value. log2 is exact at powers of two; a value just
// above one may still round down onto it, which the check corrects.
inline double CeilLog2(double value) {
    const double exponent = std::ceil(std::log2(value));
    return std::exp2(exponent) < value ? exponent + 1.0 : exponent;
}

// A first-order filter register: the share 1 - e^(-wT) of the step by which the filter's output
// moves per sampling period T, in Q15.
inline double FirstOrderFilterRegister(double cutoff_rad_s, double period_s) {
    return (1.0 - std::exp(-cutoff_rad_s * period_s)) * regfmt::kQ15;
}

// Stores a register value; the kernel refuses (and reports) a value that is not finite.
inline bool Store(CQel_Parameter& target, double value, Units units = Units::Base) {
    return units == Units::Base ? target.SetValueInBaseUnit(value)
                                : target.SetValueInInternalUnit(value);
}

// The range a step sets on its register before writing it.
struct Range {
    double low;
    double high;
};

// The common step: looks up the target, then the inputs in order, sets the target's range when
// one is given, and writes formula(input values in base units) to the target.
template <std::size_t N, typename Formula>
bool ComputeFrom(CQel_Setup& setup, std::string_view target, const std::string_view (&inputs)[N],
                 Formula formula, Units units = Units::Base,
                 std::optional<Range> range = std::nullopt) {
    std::array<std::string_view, N + 1> names{target};
    for (std::size_t i = 0; i < N; ++i) {
        names[i + 1] = inputs[i];
    }
    const auto found = engine::FindInOrder(setup, names);
    if (!found) {
        return false;
    }
    CQel_Parameter& targetParameter = *(*found)[0];
    if (range && !SetParameterRange(targetParameter, range->low, range->high)) {
        return false;
    }
    std::array<double, N> values{};
    for (std::size_t i = 0; i < N; ++i) {
        values[i] = (*found)[i + 1]->GetValueInBaseUnit();
    }
    return Store(targetParameter, std::apply(formula, values), units);
}

// A time in speed-loop periods: protection times, brake delays, the freeze-control delay.
inline bool ComputeSpeedLoopPeriods(CQel_Setup& setup, std::string_view target,
                                    std::string_view timeName) {
    return ComputeFrom(setup, target, {timeName, "Ts_S"},
                       [](double time_s, double period_s) { return time_s / period_s; });
}

// A position or a speed of the load in counts, whichever way the transmission turns it: limits
// and error bands are magnitudes.
inline bool ComputePositionCounts(CQel_Setup& setup, std::string_view target,
                                  std::string_view positionName) {
    return ComputeFrom(setup, target, {positionName}, [&setup](double position) {
        return position * std::fabs(ComputePositionScale(setup));
    });
}
inline bool ComputeSpeedCounts(CQel_Setup& setup, std::string_view target,
                               std::string_view speedName) {
    return ComputeFrom(setup, target, {speedName}, [&setup](double speed) {
        return speed * std::fabs(ComputeSpeedScale(setup));
    });
}

// A register that always holds the same value.
inline bool StoreConstant(CQel_Setup& setup, std::string_view target, double value) {
    CQel_Parameter* parameter = setup.FindParameter(target);
    return parameter != nullptr && Store(*parameter, value);
}

}  // namespace compute::support
