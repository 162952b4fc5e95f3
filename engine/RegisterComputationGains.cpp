// Controller gains, feed-forwards and the saturations of the controllers' outputs.
#include <algorithm>
#include <cmath>

#include "engine/BaseScales.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterComputationSteps.h"
#include "engine/RegisterFormats.h"

using compute::support::ComputeFrom;
using compute::support::GainPart;
using compute::support::Range;
using compute::support::Units;

namespace {

// SFTAFFW shifts the acceleration feed-forward by at most 11 bits; SFTKFF takes the rest.
constexpr double kLargestAccelerationShift = 11.0;
constexpr double kPercent = 100.0;
// A saturation register holds 32767 minus the limit, so it must stay within 0 ... 32767.
constexpr Range kSaturationRange{0.0, regfmt::kQ15};

bool ComputeGainPart(CQel_Setup& setup, std::string_view target, std::string_view gainName,
                     GainPart part) {
    return ComputeFrom(setup, target, {gainName}, [part](double gain) {
        const Q15Gain split = SplitGain(gain);
        return part == GainPart::Shift ? split.shift : split.mantissa;
    });
}

bool ComputeAngleGainPart(CQel_Setup& setup, std::string_view target, std::string_view gainName,
                          GainPart part) {
    return !HasAngleController(setup) || ComputeGainPart(setup, target, gainName, part);
}

// The current limit of the speed controller's output, in current counts.
double CurrentLimit_counts(const CQel_Setup& setup, double limit_A) {
    return limit_A * ComputeCurrentScale(setup);
}

// Whether the position controller drives a speed loop (and so is bounded by a speed) rather than
// the current loop directly.
bool HasSpeedLoopInsidePosition(double controlMode, double positionControlType) {
    return std::trunc(controlMode) == regfmt::kControlModePosition &&
           std::trunc(positionControlType) == regfmt::kPositionControlWithSpeedLoop;
}

// The bound of the position controller's output in counts: a speed (Limit_Speed) when it drives a
// speed loop, else a current (IlimPS).
double PositionOutputLimit_counts(const CQel_Setup& setup, bool speedLoop, double limit) {
    return limit * std::fabs(speedLoop ? ComputeSpeedScale(setup) : ComputeCurrentScale(setup));
}

}  // namespace

bool compute::SFTKPI(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTKPI", "Kp_C_scl", GainPart::Shift);
}
bool compute::KPI(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KPI", "Kp_C_scl", GainPart::Mantissa);
}
bool compute::SFTKII(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTKII", "Ki_C_scl", GainPart::Shift);
}
bool compute::KII(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KII", "Ki_C_scl", GainPart::Mantissa);
}
bool compute::SFTKPS(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTKPS", "Kp_S_scl", GainPart::Shift);
}
bool compute::KPS(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KPS", "Kp_S_scl", GainPart::Mantissa);
}
bool compute::SFTKIS(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTKIS", "Ki_S_scl", GainPart::Shift);
}
bool compute::KIS(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KIS", "Ki_S_scl", GainPart::Mantissa);
}
bool compute::SFTKPP(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTKPP", "Kp_P_scl", GainPart::Shift);
}
bool compute::KPP(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KPP", "Kp_P_scl", GainPart::Mantissa);
}
bool compute::SFTKIP(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTKIP", "Ki_P_scl", GainPart::Shift);
}
bool compute::KIP(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KIP", "Ki_P_scl", GainPart::Mantissa);
}
bool compute::SFTKDP(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTKDP", "Kd_P_scl", GainPart::Shift);
}
bool compute::KDP(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KDP", "Kd_P_scl", GainPart::Mantissa);
}
bool compute::SFTKPTHT(CQel_Setup& setup) {
    return ComputeAngleGainPart(setup, "SFTKPTHT", "Kp_T_scl", GainPart::Shift);
}
bool compute::KPTHT(CQel_Setup& setup) {
    return ComputeAngleGainPart(setup, "KPTHT", "Kp_T_scl", GainPart::Mantissa);
}
bool compute::SFTKITHT(CQel_Setup& setup) {
    return ComputeAngleGainPart(setup, "SFTKITHT", "Ki_T_scl", GainPart::Shift);
}
bool compute::KITHT(CQel_Setup& setup) {
    return ComputeAngleGainPart(setup, "KITHT", "Ki_T_scl", GainPart::Mantissa);
}
bool compute::SFTSFFW(CQel_Setup& setup) {
    return ComputeGainPart(setup, "SFTSFFW", "KFFS_scl", GainPart::Shift);
}
bool compute::KFFS(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KFFS", "KFFS_scl", GainPart::Mantissa);
}

bool compute::SFTAFFW(CQel_Setup& setup) {
    return ComputeFrom(setup, "SFTAFFW", {"KFFA_scl"}, [&setup](double) {
        return std::min(ComputeAccelerationFeedForwardShift(setup), kLargestAccelerationShift);
    });
}

bool compute::SFTKFF(CQel_Setup& setup) {
    return ComputeFrom(setup, "SFTKFF", {"KFFA_scl"}, [&setup](double) {
        return std::max(ComputeAccelerationFeedForwardShift(setup) - kLargestAccelerationShift,
                        0.0);
    });
}

bool compute::KFFA(CQel_Setup& setup) {
    return ComputeGainPart(setup, "KFFA", "KFFA_scl", GainPart::Mantissa);
}

bool compute::IMAXS(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "IMAXS", {"IPSatS", "IlimPS"},
        [&setup](double share_percent, double limit_A) {
            return regfmt::kQ15 - share_percent / kPercent * CurrentLimit_counts(setup, limit_A);
        },
        Units::Base, kSaturationRange);
}

bool compute::SATS(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "SATS", {"IlimPS"},
        [&setup](double limit_A) { return regfmt::kQ15 - CurrentLimit_counts(setup, limit_A); },
        Units::Base, kSaturationRange);
}

bool compute::KDFP(CQel_Setup& setup) {
    return ComputeFrom(setup, "KDFP", {"filter_D"},
                       [](double filter) { return filter * regfmt::kQ15; });
}

bool compute::IMAXP(CQel_Setup& setup) {
    const auto found =
        engine::FindInOrder<4>(setup, {"IMAXP", "ControlMode", "PositionControlType", "IPSatP"});
    if (!found) {
        return false;
    }
    const auto [saturation, controlMode, positionControlType, share] = *found;
    const bool speedLoop = HasSpeedLoopInsidePosition(controlMode->GetValueInBaseUnit(),
                                                      positionControlType->GetValueInBaseUnit());
    const CQel_Parameter* limit = setup.FindParameter(speedLoop ? "Limit_Speed" : "IlimPS");
    if (limit == nullptr ||
        !SetParameterRange(*saturation, kSaturationRange.low, kSaturationRange.high)) {
        return false;
    }
    const double limit_counts =
        PositionOutputLimit_counts(setup, speedLoop, limit->GetValueInBaseUnit());
    return support::Store(*saturation,
                          regfmt::kQ15 - limit_counts * share->GetValueInBaseUnit() / kPercent);
}

bool compute::SATP(CQel_Setup& setup) {
    return ComputeFrom(
        setup, "SATP", {"ControlMode", "PositionControlType", "Limit_Speed", "IlimPS"},
        [&setup](double controlMode, double positionControlType, double speed_rad_s,
                 double current_A) {
            const bool speedLoop = HasSpeedLoopInsidePosition(controlMode, positionControlType);
            return regfmt::kQ15 - PositionOutputLimit_counts(setup, speedLoop,
                                                             speedLoop ? speed_rad_s : current_A);
        },
        Units::Base, kSaturationRange);
}
