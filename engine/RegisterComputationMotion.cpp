// Motion limits, the analogue reference input, the motor brake's delays, the freeze control and
// the biquad filters.
#include <cmath>

#include "engine/BaseScales.h"
#include "engine/BiquadDesigner.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterComputationSteps.h"
#include "engine/RegisterFormats.h"
#include "host/kernel/KernelFunctions.h"

using compute::support::ComputeFrom;
using compute::support::ComputeSpeedLoopPeriods;
using compute::support::GainPart;
using compute::support::Store;
using compute::support::Units;

namespace {

// A software limit of the load goes to the drive's limit of the same direction, or of the other
// when the transmission reverses the load.
bool ComputeSoftwareLimit(CQel_Setup& setup, std::string_view limitName, bool positiveLimit) {
    if (!HasSoftwareLimitSwitches(setup)) {
        return true;
    }
    const double positionScale = ComputePositionScale(setup);
    const bool positiveRegister = positiveLimit == (positionScale > 0.0);
    return ComputeFrom(setup, positiveRegister ? "SWPOSLS" : "SWNEGLS", {limitName},
                       [positionScale](double limit) { return limit * positionScale; });
}

// CADIN is a signed 16-bit gain; a larger gain is halved into range and SFTADIN shifts it back.
// The magnitude decides, so that a reversed transmission (a negative gain) cannot overflow.
Q15Gain SplitReferenceGain(double gain) {
    const double magnitude = std::fabs(gain);
    if (magnitude <= regfmt::kQ15) {
        return {gain, 0.0};
    }
    const double shift = compute::support::CeilLog2(magnitude / regfmt::kQ15);
    return {gain / std::exp2(shift), shift};
}

bool ComputeReferenceGainPart(CQel_Setup& setup, std::string_view target, GainPart part) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    CQel_Parameter* parameter = setup.FindParameter(target);
    if (parameter == nullptr) {
        return false;
    }
    const double gain = ComputeAnalogueReferenceGain(setup);
    if (!std::isfinite(gain)) {
        return false;
    }
    const Q15Gain split = SplitReferenceGain(gain);
    return Store(*parameter, part == GainPart::Shift ? split.shift : split.mantissa,
                 Units::Internal);
}

double AdcMax(const CQel_Setup& setup) {
    return static_cast<double>(Compute_ADCMaxValue(setup));
}

}  // namespace

bool compute::SWNEGLS(CQel_Setup& setup) {
    return ComputeSoftwareLimit(setup, "Negative_SWLS", false);
}

bool compute::SWPOSLS(CQel_Setup& setup) {
    return ComputeSoftwareLimit(setup, "Positive_SWLS", true);
}

bool compute::CACC(CQel_Setup& setup) {
    return ComputeFrom(setup, "CACC", {"ErefMaxAcceleration"}, [&setup](double acceleration) {
        return acceleration * std::fabs(ComputeAccelerationScale(setup));
    });
}

bool compute::CSPD(CQel_Setup& setup) {
    return support::ComputeSpeedCounts(setup, "CSPD", "ErefMaxSpeed");
}

bool compute::CADIN(CQel_Setup& setup) {
    return ComputeReferenceGainPart(setup, "CADIN", GainPart::Mantissa);
}

bool compute::SFTADIN(CQel_Setup& setup) {
    return ComputeReferenceGainPart(setup, "SFTADIN", GainPart::Shift);
}

bool compute::AD5OFF(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<2>(setup, {"AD5OFF", "ControlMode"});
    if (!found) {
        return false;
    }
    const auto [offset, controlMode] = *found;
    // The reference's lower end in the selected mode; a mode without one leaves the offset.
    const double mode = support::WholePart(*controlMode);
    const char* lowerEnd = mode == regfmt::kControlModePosition ? "POS_min"
                           : mode == regfmt::kControlModeSpeed  ? "SPD_min"
                           : mode == regfmt::kControlModeTorque ? "CRT_min"
                                                                : nullptr;
    if (lowerEnd == nullptr) {
        return false;
    }
    const CQel_Parameter* minimum = setup.FindParameter(lowerEnd);
    return minimum != nullptr && Store(*offset, minimum->GetValueInInternalUnit(), Units::Internal);
}

bool compute::FILTER1(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    return ComputeFrom(setup, "FILTER1", {"UseFilter", "filter", "Ts_S"},
                       [](double useFilter, double cutoff_rad_s, double period_s) {
                           return std::trunc(useFilter) == 0.0
                                      ? regfmt::kQ15
                                      : support::FirstOrderFilterRegister(cutoff_rad_s, period_s);
                       });
}

bool compute::LEVEL_AD5(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    return ComputeFrom(setup, "LEVEL_AD5", {"DeadBand_Point", "AnalogueInputsRange"},
                       [&setup](double point_V, double range_V) {
                           // A +-10 V input reads 0 counts at -10 V.
                           const double reading_V =
                               std::trunc(range_V) == regfmt::kBipolarInputRange_V
                                   ? point_V + regfmt::kBipolarInputOffset_V
                                   : point_V;
                           return AdcMax(setup) * reading_V / range_V;
                       });
}

bool compute::E_LEVEL_AD5(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    return ComputeFrom(
        setup, "E_LEVEL_AD5", {"DeadBand_Range", "AnalogueInputsRange"},
        [&setup](double band_V, double range_V) { return band_V * AdcMax(setup) / range_V; });
}

bool compute::BRAKEAPPLYDELAY(CQel_Setup& setup) {
    return !HasMotorBrake(setup) ||
           ComputeSpeedLoopPeriods(setup, "BRAKEAPPLYDELAY", "MotorBrake_applytime");
}

bool compute::BRAKERELEASEDELAY(CQel_Setup& setup) {
    return !HasMotorBrake(setup) ||
           ComputeSpeedLoopPeriods(setup, "BRAKERELEASEDELAY", "MotorBrake_releasetime");
}

bool compute::POSOKLIM_FC(CQel_Setup& setup) {
    return !HasFreezeControl(setup) ||
           support::ComputePositionCounts(setup, "POSOKLIM_FC", "FreezeControl_errband");
}

bool compute::TONPOSOK_FC(CQel_Setup& setup) {
    return !HasFreezeControl(setup) ||
           ComputeSpeedLoopPeriods(setup, "TONPOSOK_FC", "FreezeControl_time");
}

bool compute::BiquadSlots(CQel_Setup& setup) {
    return !HasBiquadFilters(setup) || CBiquadDesigner().AssignBiquadSlots(setup);
}
