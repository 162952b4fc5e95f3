// Optional features of the drive, each derived only when its parameters are present: software
// limit switches, speed estimator, analogue reference input, CAN settings, motor brake, speed
// feed-forward, encoder filter, freeze control, input polarity and counting direction.
#include <cmath>
#include <string_view>

#include "engine/BaseScales.h"
#include "engine/Derivation.h"
#include "engine/ParameterLimits.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

namespace {

using derive::shape::FlagFromBit;
using derive::shape::FlagFromValue;
using derive::shape::WriteWithin;

// The reference filter shows this corner while it is off.
constexpr double kReferenceFilterOff_rad_s = 50.0;
// The sampling theorem: nothing above half the sampling rate.
constexpr double kNyquistShare = 0.5;
// Freeze-control delays count 16-bit speed-loop periods.
constexpr double kMaxFreezeControlPeriods = 65535.0;

using RangeRule = bool (*)(CQel_Setup&);

// The software limit switch at one end of the load's travel. With a negative transmission the
// load's positive end is the motor's negative one, so the registers swap, and the count converts
// with the signed scale: the motor's positive limit is a negative position of the load. (Dividing
// by the magnitude would flip the limits' signs on every round trip through the registers.)
bool WriteSoftwareLimit(CQel_Setup& setup, std::string_view target, bool positiveEnd) {
    if (!HasSoftwareLimitSwitches(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<3>(setup, {target, "SWPOSLS", "SWNEGLS"});
    if (!found) {
        return false;
    }
    const auto [limit, positiveRegister, negativeRegister] = *found;
    const double countsPerUnit = ComputePositionScale(setup);
    const double magnitude = std::fabs(countsPerUnit);
    const bool motorPositive = (countsPerUnit > 0.0) == positiveEnd;
    const double counts =
        (motorPositive ? positiveRegister : negativeRegister)->GetValueInBaseUnit();
    return WriteWithin(*limit, regfmt::kPosition32Min / magnitude,
                       regfmt::kPosition32Max / magnitude, counts / countsPerUnit);
}

// A level of the analogue input in volts, from converter counts over the input's range.
double InputVolts(const CQel_Setup& setup, double counts, double range_V) {
    return range_V * counts / derive::shape::AdcMax(setup);
}

// The lower end of the reference span: the input's offset, in internal units.
bool WriteLowerEnd(CQel_Setup& setup, std::string_view target, RangeRule rangeRule) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<2>(setup, {target, "AD5OFF"});
    if (!found) {
        return false;
    }
    if (rangeRule != nullptr && !rangeRule(setup)) {
        return false;
    }
    return (*found)[0]->SetValueInInternalUnit((*found)[1]->GetValueInInternalUnit());
}

// The upper end of the reference span: the offset plus twice the input gain times the converter's
// full scale. CADIN carries the sign of the position scale, which the sign here takes back out.
bool WriteUpperEnd(CQel_Setup& setup, std::string_view target, RangeRule rangeRule) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<4>(setup, {target, "CADIN", "SFTADIN", "AD5OFF"});
    if (!found) {
        return false;
    }
    if (!rangeRule(setup)) {
        return false;
    }
    const auto [end, gain, shift, offset] = *found;
    const double sign = ComputePositionScale(setup) > 0.0 ? 1.0 : -1.0;
    const double span = gain->GetValueInInternalUnit() * 2.0 * sign * derive::shape::AdcMax(setup) /
                        regfmt::kAnalogueGainUnit * std::exp2(shift->GetValueInInternalUnit());
    return end->SetValueInInternalUnit(offset->GetValueInInternalUnit() + span);
}

// A delay of the motor brake, from its count of speed-loop periods.
bool WriteBrakeDelay(CQel_Setup& setup, std::string_view target, std::string_view registerName) {
    if (!HasMotorBrake(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<3>(setup, {target, registerName, "Ts_S"});
    if (!found) {
        return false;
    }
    const auto [delay, periods, period] = *found;
    return delay->SetValueInBaseUnit(period->GetValueInBaseUnit() * periods->GetValueInBaseUnit());
}

}  // namespace

namespace derive {

bool isSWLS(CQel_Setup& setup) {
    if (!HasSoftwareLimitSwitches(setup)) {
        return true;
    }
    return FlagFromBit(setup, "isSWLS", "ASR", regfmt::kAsrSoftwareLimitSwitchesBit);
}

bool Negative_SWLS(CQel_Setup& setup) {
    return WriteSoftwareLimit(setup, "Negative_SWLS", false);
}

bool Positive_SWLS(CQel_Setup& setup) {
    return WriteSoftwareLimit(setup, "Positive_SWLS", true);
}

bool isSpeedEstimator(CQel_Setup& setup) {
    if (!HasSpeedEstimator(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<2>(setup, {"isSpeedEstimator", "SCR"});
    if (!found) {
        return false;
    }
    const auto bits = engine::RegisterBits((*found)[1]->GetValueInBaseUnit());
    return shape::WriteFlag(*(*found)[0],
                            (bits & regfmt::kScrSpeedSourceMask) == regfmt::kScrSpeedEstimator);
}

bool DeadBand_Point(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    const auto found =
        engine::FindInOrder<3>(setup, {"DeadBand_Point", "LEVEL_AD5", "AnalogueInputsRange"});
    if (!found || !limits::DeadBand_Point(setup)) {
        return false;
    }
    const auto [point, level, range] = *found;
    const double range_V = range->GetValueInBaseUnit();
    double point_V = InputVolts(setup, level->GetValueInBaseUnit(), range_V);
    // A +-10 V input counts its levels from -10 V.
    if (std::trunc(range_V) == regfmt::kBipolarInputRange_V) {
        point_V -= regfmt::kBipolarInputOffset_V;
    }
    return point->SetValueInBaseUnit(point_V);
}

bool DeadBand_Range(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    const auto found =
        engine::FindInOrder<3>(setup, {"DeadBand_Range", "E_LEVEL_AD5", "AnalogueInputsRange"});
    if (!found || !limits::DeadBand_Range(setup)) {
        return false;
    }
    const auto [width, level, range] = *found;
    return width->SetValueInBaseUnit(
        InputVolts(setup, level->GetValueInBaseUnit(), range->GetValueInBaseUnit()));
}

bool UseFilter(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    return FlagFromValue(setup, "UseFilter", "FILTER1", regfmt::kQ15, false);
}

bool filter(CQel_Setup& setup) {
    if (!HasAnalogueReferenceInput(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<6>(
        setup, {"filter", "FILTER1", "DSP_freq", "SLPER", "PWMPER", "UseFilter"});
    if (!found) {
        return false;
    }
    const double period_s = ComputeSpeedLoopPeriod(setup);
    return WriteWithin(*(*found)[0], 0.0, kNyquistShare / period_s,
                       shape::FilterCorner_rad_s((*found)[1]->GetValueInBaseUnit(), period_s,
                                                 kReferenceFilterOff_rad_s));
}

bool POS_min(CQel_Setup& setup) {
    return WriteLowerEnd(setup, "POS_min", limits::POS_min);
}

bool POS_max(CQel_Setup& setup) {
    return WriteUpperEnd(setup, "POS_max", limits::POS_max);
}

bool SPD_min(CQel_Setup& setup) {
    return WriteLowerEnd(setup, "SPD_min", limits::SPD_min);
}

bool SPD_max(CQel_Setup& setup) {
    return WriteUpperEnd(setup, "SPD_max", limits::SPD_max);
}

bool CRT_min(CQel_Setup& setup) {
    return WriteLowerEnd(setup, "CRT_min", nullptr);
}

bool CRT_max(CQel_Setup& setup) {
    return WriteUpperEnd(setup, "CRT_max", limits::CRT_max);
}

bool save_CAN_baudrate(CQel_Setup& setup) {
    if (!HasCANSettings(setup)) {
        return true;
    }
    return FlagFromBit(setup, "save_CAN_baudrate", "LSS_Active", regfmt::kLssCanBaudrateBit, false);
}

bool save_axis_id(CQel_Setup& setup) {
    if (!HasCANSettings(setup)) {
        return true;
    }
    return FlagFromBit(setup, "save_axis_id", "LSS_Active", regfmt::kLssAxisIdBit, false);
}

bool isMotorBrake(CQel_Setup& setup) {
    if (!HasMotorBrake(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<2>(setup, {"isMotorBrake", "BRAKECFG"});
    if (!found) {
        return false;
    }
    const auto [flag, brakecfg] = *found;
    const bool on = engine::IsBitSet(brakecfg->GetValueInInternalUnit(), regfmt::kBrakeEnableBit);
    return SetParameterRange(*flag, 0.0, 1.0) && flag->SetValueInInternalUnit(on ? 1.0 : 0.0);
}

bool MotorBrake_output(CQel_Setup& setup) {
    if (!HasMotorBrake(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<2>(setup, {"MotorBrake_output", "BRAKECFG"});
    if (!found) {
        return false;
    }
    const auto [output, brakecfg] = *found;
    const auto pin =
        (engine::RegisterBits(brakecfg->GetValueInBaseUnit()) >> regfmt::kBrakePinShift) &
        regfmt::kBrakePinMask;
    const int port = setup.GetIOPortFromPin(static_cast<int>(pin));
    // A pin that is none of the drive's outputs has no port to show; the choice stays as it was
    // rather than silently becoming another output.
    if (port < 0) {
        return false;
    }
    return output->SetValueInInternalUnit(port);
}

bool MotorBrake_releasetime(CQel_Setup& setup) {
    return WriteBrakeDelay(setup, "MotorBrake_releasetime", "BRAKERELEASEDELAY");
}

bool MotorBrake_applytime(CQel_Setup& setup) {
    return WriteBrakeDelay(setup, "MotorBrake_applytime", "BRAKEAPPLYDELAY");
}

bool SpeedForward(CQel_Setup& setup) {
    if (!HasSpeedForward(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<2>(setup, {"SpeedForward", "ACR"});
    if (!found) {
        return false;
    }
    const bool on =
        engine::IsBitSet((*found)[1]->GetValueInBaseUnit(), regfmt::kAcrSpeedForwardBit);
    return (*found)[0]->SetValueInInternalUnit(on ? 1.0 : 0.0);
}

bool isFilterEnc(CQel_Setup& setup) {
    if (!HasEncoderFilter(setup)) {
        return true;
    }
    return FlagFromValue(setup, "isFilterEnc", "QUAL", regfmt::kEncoderFilterOn, true);
}

bool isFreezeControl(CQel_Setup& setup) {
    if (!HasFreezeControl(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<3>(setup, {"isFreezeControl", "ControlMode", "ACR"});
    if (!found) {
        return false;
    }
    const auto [flag, mode, acr] = *found;
    // Freezing the control at the target only makes sense with the position loop closed.
    const bool on =
        engine::IsBitSet(acr->GetValueInInternalUnit(), regfmt::kAcrFreezeControlBit) &&
        engine::RegisterBits(mode->GetValueInBaseUnit()) == regfmt::kControlModePosition;
    return SetParameterRange(*flag, 0.0, 1.0) && flag->SetValueInInternalUnit(on ? 1.0 : 0.0);
}

bool FreezeControl_errband(CQel_Setup& setup) {
    if (!HasFreezeControl(setup)) {
        return true;
    }
    return shape::MagnitudeFromCounts(setup, "FreezeControl_errband", "POSOKLIM_FC", 0.0,
                                      ComputePositionScale);
}

bool FreezeControl_time(CQel_Setup& setup) {
    if (!HasFreezeControl(setup)) {
        return true;
    }
    const auto found = engine::FindInOrder<3>(setup, {"FreezeControl_time", "TONPOSOK_FC", "Ts_S"});
    if (!found) {
        return false;
    }
    const auto [time, periods, period] = *found;
    const double period_s = period->GetValueInBaseUnit();
    return WriteWithin(*time, 0.0, period_s * kMaxFreezeControlPeriods,
                       period_s * periods->GetValueInBaseUnit());
}

bool InputsPolarityType(CQel_Setup& setup) {
    if (!HasInputsPolarityType(setup)) {
        return true;
    }
    return FlagFromBit(setup, "InputsPolarityType", "ASR", regfmt::kAsrInputsPolarityBit, false);
}

bool ReverseCounting(CQel_Setup& setup) {
    if (!HasReverseCounting(setup)) {
        return true;
    }
    return FlagFromValue(setup, "ReverseCounting", "COUNTINGDIR", regfmt::kReverseCountingDirection,
                         true);
}

}  // namespace derive
