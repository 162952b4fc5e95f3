#include "engine/ParameterLimits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "engine/BaseScales.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

namespace {

// Motion times of the test profiles count 16-bit speed-loop periods.
constexpr double kMaxProfilePeriods = 65535.0;
// An acceleration segment needs at least two periods to have a slope.
constexpr double kMinAccelerationPeriods = 2.0;
// The sampling theorem: nothing above half the sampling rate.
constexpr double kNyquistShare = 0.5;
// DeadBand_Point ranges of the analogue inputs the drives have: +-10 V, 0 to 5 V, and 0 to 3.3 V
// for any other.
constexpr double kFiveVoltInput_V = 5.0;
constexpr double kFiveVoltInputMax_V = 5.0;
constexpr double kDefaultInputMax_V = 3.3;
// The biquad filters of the drive.
constexpr int kBiquadFilterCount = 3;

// A bound that is not a number (a division by a zero scale) is not written; the kernel would
// refuse it anyway.
bool StoreMin(CQel_Parameter& parameter, double minimum) {
    return std::isfinite(minimum) && parameter.SetMinInBaseUnit(minimum);
}

bool StoreMax(CQel_Parameter& parameter, double maximum) {
    return std::isfinite(maximum) && parameter.SetMaxInBaseUnit(maximum);
}

// Once a rule has written its range, the value follows it: a value the narrowed range no longer
// holds moves to the range's nearer end, so that the setup never keeps a value outside its range.
// A maximum below the minimum would turn the range around (no value could lie in it): it is not
// written, like a bound that is not a number.
bool SetMax(CQel_Parameter& parameter, double maximum) {
    const bool set = maximum >= parameter.GetMinInBaseUnit() && StoreMax(parameter, maximum);
    parameter.BringIntoRange();
    return set;
}

// Minimum first, then maximum; the maximum is written even when the minimum was not. Ends the
// wrong way round (a lower limit above the upper one) are not written. The value follows the
// range once both ends are written.
bool SetBounds(CQel_Parameter& parameter, double minimum, double maximum) {
    if (minimum > maximum) {
        return false;
    }
    const bool minimumSet = StoreMin(parameter, minimum);
    const bool maximumSet = StoreMax(parameter, maximum);
    parameter.BringIntoRange();
    return minimumSet && maximumSet;
}

std::optional<CQel_Parameter*> Find(CQel_Setup& setup, std::string_view name) {
    const auto found = engine::FindInOrder<1>(setup, {name});
    if (!found) {
        return std::nullopt;
    }
    return (*found)[0];
}

// A maximum of 32767 counts of the given scale, in the load's units whatever the sign of the
// transmission.
bool MaxOfCounts(CQel_Setup& setup, std::string_view name,
                 double (*countsPerUnit)(const CQel_Setup&)) {
    const auto parameter = Find(setup, name);
    return parameter && SetMax(**parameter, regfmt::kQ15 / std::fabs(countsPerUnit(setup)));
}

// A protection delay: at most 32767 speed-loop periods.
bool MaxOfDelay(CQel_Setup& setup, std::string_view name) {
    const auto parameter = Find(setup, name);
    return parameter && SetMax(**parameter, regfmt::kQ15 * ComputeSpeedLoopPeriod(setup));
}

// A controller bandwidth between the limits the setup gives for it.
bool BandwidthBetween(CQel_Setup& setup, std::string_view name, std::string_view minimumName,
                      std::string_view maximumName) {
    const auto found = engine::FindInOrder<3>(setup, {name, minimumName, maximumName});
    if (!found) {
        return false;
    }
    const auto [bandwidth, minimum, maximum] = *found;
    return SetBounds(*bandwidth, minimum->GetValueInBaseUnit(), maximum->GetValueInBaseUnit());
}

// A segment time of a test profile, from the given number of speed-loop periods to 65535.
bool ProfileTime(CQel_Setup& setup, std::string_view name, double minimumPeriods) {
    const auto parameter = Find(setup, name);
    if (!parameter) {
        return false;
    }
    const double period_s = ComputeSpeedLoopPeriod(setup);
    return SetBounds(**parameter, minimumPeriods * period_s, kMaxProfilePeriods * period_s);
}

// A partner's value as a bound: within the span, so that a partner outside it (a changed scale)
// cannot turn the range around.
double WithinSpan(double value, double magnitude) {
    return std::min(std::max(value, -magnitude), magnitude);
}

// The lower end of a reference span: from the smaller magnitude limit, negated, up to the upper
// end's value.
bool LowerEnd(CQel_Parameter& lower, double magnitude, const CQel_Parameter& upper) {
    return SetBounds(lower, -magnitude, WithinSpan(upper.GetValueInBaseUnit(), magnitude));
}

// The upper end of a reference span: from the lower end's value up to the magnitude limit.
bool UpperEnd(CQel_Parameter& upper, const CQel_Parameter& lower, double magnitude) {
    return SetBounds(upper, WithinSpan(lower.GetValueInBaseUnit(), magnitude), magnitude);
}

// The speed an analogue reference may ask for: the speed limit, within what 16 bits can count.
double SpeedSpan_rad_s(const CQel_Setup& setup, const CQel_Parameter& limitSpeed) {
    return std::min(limitSpeed.GetValueInBaseUnit(),
                    regfmt::kQ15 / std::fabs(ComputeSpeedScale(setup)));
}

// The current an analogue reference may ask for: what motor and drive both stand, within what
// 16 bits can count.
double CurrentSpan_A(const CQel_Setup& setup, const CQel_Parameter& imaxM,
                     const CQel_Parameter& imaxPS) {
    return std::min(regfmt::kQ15 / ComputeCurrentScale(setup),
                    std::min(imaxM.GetValueInBaseUnit(), imaxPS.GetValueInBaseUnit()));
}

using Rule = bool (*)(CQel_Setup&);

constexpr std::array<Rule, 17> kRules = {
    limits::ERR_speed, limits::ERR_position, limits::time_ERR_spd, limits::time_ERR_pos,
    limits::PB_C,      limits::PB_S,         limits::PB_P,         limits::TPP,
    limits::TNP,       limits::TaPP,         limits::TaNP,         limits::TPS,
    limits::TNS,       limits::TaPS,         limits::TaNS,         limits::TestPosition,
    limits::TestSpeed,
};

constexpr std::array<Rule, 9> kAnalogueReferenceRules = {
    limits::filter,  limits::DeadBand_Point, limits::DeadBand_Range,
    limits::POS_max, limits::POS_min,        limits::SPD_max,
    limits::SPD_min, limits::CRT_max,        limits::CRT_min,
};

}  // namespace

namespace limits {

bool ERR_speed(CQel_Setup& setup) {
    return MaxOfCounts(setup, "ERR_speed", ComputeSpeedScale);
}

bool ERR_position(CQel_Setup& setup) {
    return MaxOfCounts(setup, "ERR_position", ComputePositionScale);
}

bool time_ERR_spd(CQel_Setup& setup) {
    return MaxOfDelay(setup, "time_ERR_spd");
}

bool time_ERR_pos(CQel_Setup& setup) {
    return MaxOfDelay(setup, "time_ERR_pos");
}

bool PB_C(CQel_Setup& setup) {
    return BandwidthBetween(setup, "PB_C", "PB_C_minim", "PB_C_maxim");
}

bool PB_S(CQel_Setup& setup) {
    return BandwidthBetween(setup, "PB_S", "PB_S_minim", "PB_S_maxim");
}

bool PB_P(CQel_Setup& setup) {
    return BandwidthBetween(setup, "PB_P", "PB_P_minim", "PB_P_maxim");
}

bool TPP(CQel_Setup& setup) {
    return ProfileTime(setup, "TPP", 1.0);
}

bool TNP(CQel_Setup& setup) {
    return ProfileTime(setup, "TNP", 1.0);
}

bool TaPP(CQel_Setup& setup) {
    return ProfileTime(setup, "TaPP", kMinAccelerationPeriods);
}

bool TaNP(CQel_Setup& setup) {
    return ProfileTime(setup, "TaNP", kMinAccelerationPeriods);
}

bool TPS(CQel_Setup& setup) {
    return ProfileTime(setup, "TPS", 1.0);
}

bool TNS(CQel_Setup& setup) {
    return ProfileTime(setup, "TNS", 1.0);
}

bool TaPS(CQel_Setup& setup) {
    return ProfileTime(setup, "TaPS", 1.0);
}

bool TaNS(CQel_Setup& setup) {
    return ProfileTime(setup, "TaNS", 1.0);
}

bool TestPosition(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"TestPosition", "TaNP", "TaPP"});
    if (!found) {
        return false;
    }
    const auto [position, negativeAcceleration, positiveAcceleration] = *found;
    // At most 32767 counts per speed-loop period for as many periods as the shorter acceleration
    // of the position test lasts.
    const double period_s = ComputeSpeedLoopPeriod(setup);
    const double countsPerUnit = std::fabs(ComputePositionScale(setup));
    const double extent = std::min(
        negativeAcceleration->GetValueInBaseUnit() / period_s * regfmt::kQ15 / countsPerUnit,
        positiveAcceleration->GetValueInBaseUnit() / period_s * regfmt::kQ15 / countsPerUnit);
    return SetBounds(*position, -extent, extent);
}

bool TestSpeed(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"TestSpeed", "Limit_Speed"});
    if (!found) {
        return false;
    }
    const auto [speed, limitSpeed] = *found;
    const double extent_rad_s = SpeedSpan_rad_s(setup, *limitSpeed);
    return SetBounds(*speed, -extent_rad_s, extent_rad_s);
}

bool MAX_CURRENT(CQel_Setup& setup) {
    if (!HasAngleController(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<3>(setup, {"MAX_CURRENT", "In", "InPS"});
    if (!found) {
        return false;
    }
    const auto [current, in, inPS] = *found;
    return SetBounds(*current, 0.0, std::min(in->GetValueInBaseUnit(), inPS->GetValueInBaseUnit()));
}

bool filter(CQel_Setup& setup) {
    const auto parameter = Find(setup, "filter");
    return parameter && SetMax(**parameter, kNyquistShare / ComputeSpeedLoopPeriod(setup));
}

bool DeadBand_Point(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"DeadBand_Point", "AnalogueInputsRange"});
    if (!found) {
        return false;
    }
    const auto [point, range] = *found;
    const double range_V = std::trunc(range->GetValueInBaseUnit());
    if (range_V == regfmt::kBipolarInputRange_V) {
        return SetBounds(*point, -regfmt::kBipolarInputOffset_V, regfmt::kBipolarInputOffset_V);
    }
    return SetBounds(*point, 0.0,
                     range_V == kFiveVoltInput_V ? kFiveVoltInputMax_V : kDefaultInputMax_V);
}

bool DeadBand_Range(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"DeadBand_Point", "DeadBand_Range"});
    if (!found) {
        return false;
    }
    const auto [point, range] = *found;
    const double low_V = point->GetMinInBaseUnit();
    const double high_V = point->GetMaxInBaseUnit();
    const double centre_V = point->GetValueInBaseUnit();
    // The newer firmware takes the band anywhere in the input range; the older one centres it on
    // the point, so it must fit on both sides.
    const double width_V =
        UsesNewDeadBand(setup) ? high_V - low_V : std::min(centre_V - low_V, high_V - centre_V);
    return SetBounds(*range, 0.0, width_V);
}

bool POS_max(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"POS_max", "POS_min"});
    if (!found) {
        return false;
    }
    const auto [upper, lower] = *found;
    return UpperEnd(*upper, *lower, regfmt::kQ15 / std::fabs(ComputePositionScale(setup)));
}

bool POS_min(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"POS_min", "POS_max"});
    if (!found) {
        return false;
    }
    const auto [lower, upper] = *found;
    return LowerEnd(*lower, regfmt::kQ15 / std::fabs(ComputePositionScale(setup)), *upper);
}

bool SPD_max(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"SPD_max", "SPD_min", "Limit_Speed"});
    if (!found) {
        return false;
    }
    const auto [upper, lower, limitSpeed] = *found;
    return UpperEnd(*upper, *lower, SpeedSpan_rad_s(setup, *limitSpeed));
}

bool SPD_min(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"SPD_min", "SPD_max", "Limit_Speed"});
    if (!found) {
        return false;
    }
    const auto [lower, upper, limitSpeed] = *found;
    return LowerEnd(*lower, SpeedSpan_rad_s(setup, *limitSpeed), *upper);
}

bool CRT_max(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(setup, {"CRT_max", "CRT_min", "ImaxM", "ImaxPS"});
    if (!found) {
        return false;
    }
    const auto [upper, lower, imaxM, imaxPS] = *found;
    return UpperEnd(*upper, *lower, CurrentSpan_A(setup, *imaxM, *imaxPS));
}

bool CRT_min(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(setup, {"CRT_min", "CRT_max", "ImaxM", "ImaxPS"});
    if (!found) {
        return false;
    }
    const auto [lower, upper, imaxM, imaxPS] = *found;
    return LowerEnd(*lower, CurrentSpan_A(setup, *imaxM, *imaxPS), *upper);
}

bool BiquadFrequencies(CQel_Setup& setup) {
    if (!HasBiquadFilters(setup)) {
        return true;
    }
    const double nyquist_Hz = kNyquistShare / ComputeSpeedLoopPeriod(setup);
    bool allSet = true;
    for (int filterNumber = 1; filterNumber <= kBiquadFilterCount; ++filterNumber) {
        for (const std::string_view prefix : {"BQFilterF1", "BQFilterF2"}) {
            const std::string name = std::string(prefix) + std::to_string(filterNumber);
            const auto parameter = Find(setup, name);
            allSet = parameter && SetMax(**parameter, nyquist_Hz) && allSet;
        }
    }
    return allSet;
}

}  // namespace limits

void ComputeParameterLimits(CQel_Setup& setup) {
    // A failed rule has been reported or changed nothing; the others still run.
    for (const Rule rule : kRules) {
        static_cast<void>(rule(setup));
    }
    static_cast<void>(limits::MAX_CURRENT(setup));
    if (HasAnalogueReferenceInput(setup)) {
        for (const Rule rule : kAnalogueReferenceRules) {
            static_cast<void>(rule(setup));
        }
    }
    static_cast<void>(limits::BiquadFrequencies(setup));
}
