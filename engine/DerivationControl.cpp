// Control structure, controller gains, saturations, test values and the external references.
#include <algorithm>
#include <cmath>
#include <string_view>

#include "engine/BaseScales.h"
#include "engine/Derivation.h"
#include "engine/PhaseConnection.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"

namespace {

using derive::shape::FlagFromBit;
using derive::shape::FlagFromValue;
using derive::shape::MagnitudeFromCounts;
using derive::shape::WriteFlag;
using derive::shape::WriteWithin;

// Controller gains the mantissa and shift registers can represent in the dialogs' range.
constexpr double kMaxGain = 16384.0;
// The acceleration feed-forward spans two shift registers, hence a wider range.
constexpr double kMaxAccelerationFeedForward = 4194304.0;
// Axis identifiers: 9 bits.
constexpr double kMaxAxisId = 511.0;
// Smallest current limit, A.
constexpr double kMinCurrentLimit_A = 0.001;
// The test current is half the smaller nominal current; the user may raise it to 180 % of that.
constexpr double kTestCurrentShare = 0.5;
constexpr double kMaxTestCurrentOverDefault = 1.8;
// First-order filters: the default corner when the filter is off, and the Nyquist bound as a
// share of the sampling rate.
constexpr double kCurrentFilterOff_rad_s = 5000.0;
constexpr double kNyquistShare = 0.5;
// Percentages.
constexpr double kPercent = 100.0;
constexpr double kMaxStartCurrent_percent = 300.0;
// Load inertia at most 100 times the motor's.
constexpr double kMaxInertiaRatio = 100.0;
// The test speed defaults to a third of the no-load speed at the supply voltage.
constexpr double kTestSpeedShareOfNoLoad = 1.0 / 3.0;
// time_AB: at least 10 ms, at most the full 16-bit count of its time base.
constexpr double kMinTimeAB_s = 0.01;
constexpr double kMaxTimeABCounts = 65535.0;
// PWMPER counts DSP clocks per half PWM period.
constexpr double kHalvesPerPwmPeriod = 2.0;

bool WholePartIs(double value, int expected) {
    return engine::RegisterBits(value) == expected;
}

// A gain from its mantissa and shift registers.
bool WriteGain(CQel_Setup& setup, std::string_view target, std::string_view mantissa,
               std::string_view shift) {
    const auto found = engine::FindInOrder<3>(setup, {target, mantissa, shift});
    if (!found) {
        return false;
    }
    const auto [gain, m, s] = *found;
    return WriteWithin(*gain, 0.0, kMaxGain,
                       engine::GainFromRegisters(m->GetValueInBaseUnit(), s->GetValueInBaseUnit()));
}

// A saturation register holds 32767 minus the limit in converter counts.
double CurrentFromSaturation_A(double saturation, double countsPerAmpere) {
    return (regfmt::kQ15 - saturation) / countsPerAmpere;
}

// With the speed loop closed SATS bounds the current, else SATP.
bool SpeedLoopBoundsCurrent(double acr) {
    return engine::IsBitSet(acr, regfmt::kAcrSpeedLoopBit);
}

// The share of the current limit an inner saturation allows, in percent.
bool WriteSaturationShare(CQel_Setup& setup, std::string_view target, std::string_view inner,
                          std::string_view outer) {
    const auto found = engine::FindInOrder<3>(setup, {target, inner, outer});
    if (!found) {
        return false;
    }
    const auto [share, innerSat, outerSat] = *found;
    return WriteWithin(*share, 0.0, kPercent,
                       (regfmt::kQ15 - innerSat->GetValueInBaseUnit()) * kPercent /
                           (regfmt::kQ15 - outerSat->GetValueInBaseUnit()));
}

// The start current in percent of In: the test voltage REFTST, less what the dead time costs at
// the supply voltage, over the voltage In drives through the phase resistance.
bool WriteStartCurrent(CQel_Setup& setup, std::string_view target) {
    const auto found = engine::FindInOrder<8>(setup, {target, "REFTST", "R", "In", "DSP_freq",
                                                      "PWMPER", "Vdc", "MotorPhaseConnectionType"});
    if (!found) {
        return false;
    }
    const auto [start, reftst, r, in, dsp, pwmper, vdc, connection] = *found;
    const double resistance_Ohm =
        engine::StarPhaseValue(r->GetValueInBaseUnit(), connection->GetValueInBaseUnit());
    const double countsPerVolt = ComputeMotorVoltageScale(setup);
    const double pwmFrequency_Hz =
        dsp->GetValueInBaseUnit() / (kHalvesPerPwmPeriod * pwmper->GetValueInBaseUnit());
    const double deadTime_counts =
        pwmFrequency_Hz * ComputeDeadTime(setup) * vdc->GetValueInBaseUnit() * countsPerVolt;
    return WriteWithin(*start, 0.0, kMaxStartCurrent_percent,
                       (reftst->GetValueInBaseUnit() - deadTime_counts) * kPercent /
                           (countsPerVolt * in->GetValueInBaseUnit() * resistance_Ohm));
}

}  // namespace

namespace derive {

bool ControlMode(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"ControlMode", "ACR"});
    if (!found) {
        return false;
    }
    const auto [mode, acr] = *found;
    // The outermost closed loop decides.
    const double bits = acr->GetValueInBaseUnit();
    int code = regfmt::kControlModeTorque;
    if (engine::IsBitSet(bits, regfmt::kAcrPositionLoopBit)) {
        code = regfmt::kControlModePosition;
    } else if (engine::IsBitSet(bits, regfmt::kAcrSpeedLoopBit)) {
        code = regfmt::kControlModeSpeed;
    }
    return WriteWithin(*mode, regfmt::kControlModePosition, regfmt::kControlModeTorque, code);
}

bool ExternalReference(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"ExternalReference", "ACR"});
    if (!found) {
        return false;
    }
    const double bits = (*found)[1]->GetValueInBaseUnit();
    return WriteFlag(*(*found)[0],
                     engine::IsBitSet(bits, regfmt::kAcrDigitalExternalReferenceBit) ||
                         engine::IsBitSet(bits, regfmt::kAcrAnalogueReferenceBit));
}

bool IsAutoActivatedAfterPowerOn(CQel_Setup& setup) {
    return FlagFromBit(setup, "IsAutoActivatedAfterPowerOn", "ACR", regfmt::kAcrAutoActivateBit);
}

bool Axis_ID_list(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"Axis_ID_list", "AAR_table"});
    if (!found) {
        return false;
    }
    const auto [axisId, table] = *found;
    const double entry = table->GetValueInBaseUnit();
    return WriteWithin(*axisId, 0.0, kMaxAxisId,
                       entry != 0.0 ? entry - regfmt::kAxisIdOffset : 0.0);
}

bool IlimPS(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(setup, {"IlimPS", "ACR", "ImaxPS", "ImaxM"});
    if (!found) {
        return false;
    }
    const auto [limit, acr, imaxPS, imaxM] = *found;
    const CQel_Parameter* saturation =
        setup.FindParameter(SpeedLoopBoundsCurrent(acr->GetValueInBaseUnit()) ? "SATS" : "SATP");
    if (saturation == nullptr) {
        return false;
    }
    return WriteWithin(
        *limit, kMinCurrentLimit_A,
        std::min(imaxPS->GetValueInBaseUnit(), imaxM->GetValueInBaseUnit()),
        CurrentFromSaturation_A(saturation->GetValueInBaseUnit(), ComputeCurrentScale(setup)));
}

bool Kp_C_scl(CQel_Setup& setup) {
    return WriteGain(setup, "Kp_C_scl", "KPI", "SFTKPI");
}

bool Ki_C_scl(CQel_Setup& setup) {
    return WriteGain(setup, "Ki_C_scl", "KII", "SFTKII");
}

bool TestCurrent(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"TestCurrent", "In", "InPS"});
    if (!found) {
        return false;
    }
    const auto [current, in, inPS] = *found;
    // Reset on every run: a safe current for both motor and drive, whatever was entered.
    const double default_A =
        std::min(in->GetValueInBaseUnit(), inPS->GetValueInBaseUnit()) * kTestCurrentShare;
    return WriteWithin(*current, kMinCurrentLimit_A, kMaxTestCurrentOverDefault * default_A,
                       default_A);
}

bool isUseFilterOnCrtCtrlOutput(CQel_Setup& setup) {
    return FlagFromValue(setup, "isUseFilterOnCrtCtrlOutput", "FILTERQ", regfmt::kQ15, false);
}

bool FilterOnCurrentControllerOutput(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<5>(
        setup, {"FilterOnCurrentControllerOutput", "FILTERQ", "DSP_freq", "CLPER", "PWMPER"});
    if (!found) {
        return false;
    }
    const double coefficient = (*found)[1]->GetValueInBaseUnit();
    const double period_s = ComputeCurrentLoopPeriod(setup);
    return WriteWithin(
        *(*found)[0], 0.0, kNyquistShare / period_s,
        derive::shape::FilterCorner_rad_s(coefficient, period_s, kCurrentFilterOff_rad_s));
}

bool isCompensateGravitationalLoads(CQel_Setup& setup) {
    return FlagFromValue(setup, "isCompensateGravitationalLoads", "FFL", 0.0, false);
}

bool OffsetCurrent(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"OffsetCurrent", "FFL", "In"});
    if (!found) {
        return false;
    }
    const auto [offset, ffl, in] = *found;
    const double nominal_A = in->GetValueInBaseUnit();
    return WriteWithin(*offset, -nominal_A, nominal_A,
                       ffl->GetValueInBaseUnit() / ComputeCurrentScale(setup));
}

bool Kp_S_scl(CQel_Setup& setup) {
    return WriteGain(setup, "Kp_S_scl", "KPS", "SFTKPS");
}

bool Ki_S_scl(CQel_Setup& setup) {
    return WriteGain(setup, "Ki_S_scl", "KIS", "SFTKIS");
}

bool IPSatS(CQel_Setup& setup) {
    return WriteSaturationShare(setup, "IPSatS", "IMAXS", "SATS");
}

bool KFFA_scl(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<4>(setup, {"KFFA_scl", "KFFA", "SFTAFFW", "SFTKFF"});
    if (!found) {
        return false;
    }
    const auto [gain, kffa, sftaffw, sftkff] = *found;
    // The acceleration feed-forward shifts twice; the gain rule takes the sum of both shifts.
    const double shift = sftkff->GetValueInBaseUnit() + sftaffw->GetValueInBaseUnit();
    return WriteWithin(*gain, 0.0, kMaxAccelerationFeedForward,
                       engine::GainFromRegisters(kffa->GetValueInBaseUnit(), shift));
}

bool TestLimitCurrent(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<6>(
        setup, {"TestLimitCurrent", "SATS", "SATP", "ACR", "ImaxPS", "ImaxM"});
    if (!found) {
        return false;
    }
    const auto [limit, sats, satp, acr, imaxPS, imaxM] = *found;
    const double saturation =
        (SpeedLoopBoundsCurrent(acr->GetValueInBaseUnit()) ? sats : satp)->GetValueInBaseUnit();
    return WriteWithin(*limit, 0.0,
                       std::min(imaxPS->GetValueInBaseUnit(), imaxM->GetValueInBaseUnit()),
                       CurrentFromSaturation_A(saturation, ComputeCurrentScale(setup)));
}

bool TestStartCurrent(CQel_Setup& setup) {
    return WriteStartCurrent(setup, "TestStartCurrent");
}

bool Jload_over_J(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"Jload_over_J", "Jt", "Jm"});
    if (!found) {
        return false;
    }
    const auto [ratio, total, motor] = *found;
    return WriteWithin(*ratio, 0.0, kMaxInertiaRatio,
                       total->GetValueInBaseUnit() / motor->GetValueInBaseUnit() - 1.0);
}

bool Kp_P_scl(CQel_Setup& setup) {
    return WriteGain(setup, "Kp_P_scl", "KPP", "SFTKPP");
}

bool Ki_P_scl(CQel_Setup& setup) {
    return WriteGain(setup, "Ki_P_scl", "KIP", "SFTKIP");
}

bool Kd_P_scl(CQel_Setup& setup) {
    return WriteGain(setup, "Kd_P_scl", "KDP", "SFTKDP");
}

bool Kp_T_scl(CQel_Setup& setup) {
    if (!HasAngleController(setup)) {
        return true;
    }
    return WriteGain(setup, "Kp_T_scl", "KPTHT", "SFTKPTHT");
}

bool Ki_T_scl(CQel_Setup& setup) {
    if (!HasAngleController(setup)) {
        return true;
    }
    return WriteGain(setup, "Ki_T_scl", "KITHT", "SFTKITHT");
}

bool filter_D(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"filter_D", "KDFP"});
    if (!found) {
        return false;
    }
    return WriteWithin(*(*found)[0], 0.0, 1.0, (*found)[1]->GetValueInBaseUnit() / regfmt::kQ15);
}

bool IPSatP(CQel_Setup& setup) {
    return WriteSaturationShare(setup, "IPSatP", "IMAXP", "SATP");
}

bool Limit_Speed(CQel_Setup& setup) {
    const auto found =
        engine::FindInOrder<3>(setup, {"Limit_Speed", "PositionControlType", "ControlMode"});
    if (!found) {
        return false;
    }
    const auto [limit, type, mode] = *found;
    // Only a speed loop inside position control saturates at a speed.
    if (!WholePartIs(type->GetValueInBaseUnit(), regfmt::kPositionControlWithSpeedLoop) ||
        !WholePartIs(mode->GetValueInBaseUnit(), regfmt::kControlModePosition)) {
        return true;
    }
    const auto inputs = engine::FindInOrder<3>(setup, {"SATP", "Vdc", "K"});
    if (!inputs) {
        return false;
    }
    const auto [satp, vdc, k] = *inputs;
    return WriteWithin(
        *limit, 0.0, vdc->GetValueInBaseUnit() / k->GetValueInBaseUnit(),
        (regfmt::kQ15 - satp->GetValueInBaseUnit()) / std::fabs(ComputeSpeedScale(setup)));
}

bool TestMaxSpeed(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"TestMaxSpeed", "Vdc", "K"});
    if (!found) {
        return false;
    }
    const auto [speed, vdc, k] = *found;
    // The no-load speed the supply voltage allows.
    const double noLoad_rad_s = vdc->GetValueInBaseUnit() / k->GetValueInBaseUnit();
    return WriteWithin(*speed, 0.0, noLoad_rad_s, noLoad_rad_s * kTestSpeedShareOfNoLoad);
}

bool KFFS_scl(CQel_Setup& setup) {
    return WriteGain(setup, "KFFS_scl", "KFFS", "SFTSFFW");
}

bool StartMode(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"StartMode", "OSR"});
    if (!found) {
        return false;
    }
    const auto bits = engine::RegisterBits((*found)[1]->GetValueInBaseUnit());
    return WriteFlag(*(*found)[0], (bits & regfmt::kOsrStartMask) == regfmt::kOsrStartWithoutMove);
}

bool StartCurrent(CQel_Setup& setup) {
    return WriteStartCurrent(setup, "StartCurrent");
}

bool time_AB(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<3>(setup, {"time_AB", "UPGRADE", "T1ONA"});
    if (!found) {
        return false;
    }
    const auto [time, upgrade, t1ona] = *found;
    const double countsPerSecond =
        engine::IsBitSet(upgrade->GetValueInBaseUnit(), regfmt::kUpgradeSlowTimeBaseBit)
            ? regfmt::kSlowTimeBaseCountsPerSecond
            : regfmt::kFastTimeBaseCountsPerSecond;
    return WriteWithin(*time, kMinTimeAB_s, kMaxTimeABCounts / countsPerSecond,
                       t1ona->GetValueInBaseUnit() / countsPerSecond);
}

bool isAnalogueReference(CQel_Setup& setup) {
    const auto found = engine::FindInOrder<2>(setup, {"isAnalogueReference", "ACR"});
    if (!found) {
        return false;
    }
    // Without an analogue input the flag can only be off.
    const double high = HasAnalogueReferenceInput(setup) ? 1.0 : 0.0;
    const bool on =
        engine::IsBitSet((*found)[1]->GetValueInBaseUnit(), regfmt::kAcrAnalogueReferenceBit);
    return WriteWithin(*(*found)[0], 0.0, high, on ? 1.0 : 0.0);
}

bool DigitalReferenceType(CQel_Setup& setup) {
    return FlagFromBit(setup, "DigitalReferenceType", "ACR", regfmt::kAcrDigitalReferenceTypeBit,
                       false);
}

bool isLimitMaximum(CQel_Setup& setup) {
    return FlagFromBit(setup, "isLimitMaximum", "UPGRADE", regfmt::kUpgradeLimitMaximumBit);
}

bool ErefMaxSpeed(CQel_Setup& setup) {
    return MagnitudeFromCounts(setup, "ErefMaxSpeed", "CSPD", 0.0, ComputeSpeedScale);
}

bool ErefMaxAcceleration(CQel_Setup& setup) {
    return MagnitudeFromCounts(setup, "ErefMaxAcceleration", "CACC", 0.0, ComputeAccelerationScale);
}

}  // namespace derive
