#include "engine/Derivation.h"

#include <array>
#include <cmath>

#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"

namespace derive::shape {

bool WriteWithin(CQel_Parameter& target, double low, double high, double value) {
    return SetParameterRange(target, low, high) && target.SetValueInBaseUnit(value);
}

bool WriteFlag(CQel_Parameter& target, bool on) {
    return WriteWithin(target, 0.0, 1.0, on ? 1.0 : 0.0);
}

bool FlagFromBit(CQel_Setup& setup, std::string_view target, std::string_view registerName, int bit,
                 bool flagWhenSet) {
    const auto found = engine::FindInOrder<2>(setup, {target, registerName});
    if (!found) {
        return false;
    }
    const auto [flag, bits] = *found;
    return WriteFlag(*flag, engine::IsBitSet(bits->GetValueInBaseUnit(), bit) == flagWhenSet);
}

bool FlagFromValue(CQel_Setup& setup, std::string_view target, std::string_view registerName,
                   double value, bool onWhenEqual) {
    const auto found = engine::FindInOrder<2>(setup, {target, registerName});
    if (!found) {
        return false;
    }
    const auto [flag, reading] = *found;
    return WriteFlag(*flag, (reading->GetValueInBaseUnit() == value) == onWhenEqual);
}

bool MagnitudeFromCounts(CQel_Setup& setup, std::string_view target, std::string_view registerName,
                         double low, double (*countsPerUnit)(const CQel_Setup&)) {
    const auto found = engine::FindInOrder<2>(setup, {target, registerName});
    if (!found) {
        return false;
    }
    const auto [limit, counts] = *found;
    const double magnitude = std::fabs(countsPerUnit(setup));
    return WriteWithin(*limit, low, regfmt::kQ15 / magnitude,
                       counts->GetValueInBaseUnit() / magnitude);
}

double FilterCorner_rad_s(double coefficient, double period_s, double cornerWhenOff_rad_s) {
    if (coefficient == regfmt::kQ15) {
        return cornerWhenOff_rad_s;
    }
    return -std::log(1.0 - coefficient / regfmt::kQ15) / period_s;
}

double AdcMax(const CQel_Setup& setup) {
    return static_cast<double>(Compute_ADCMaxValue(setup));
}

}  // namespace derive::shape

namespace {

using Step = bool (*)(CQel_Setup&);

// The order matters: Ts_S (step 12) and ControlMode (step 24) are written before the steps that
// read them, so one run is self-consistent.
constexpr std::array<Step, 106> kSteps = {
    derive::pp,
    derive::isMultiTurn,
    derive::No_Bits_Turns,
    derive::SPI_freq,
    derive::isReverseCounting,
    derive::No_encoder_lines,
    derive::isMotorTemperatureSensor,
    derive::Motor_TempSensor_Type,
    derive::PWM_freq,
    derive::PWMperiod,
    derive::Ts_C,
    derive::Ts_S,
    derive::PosSpd_in_FastLoop,
    derive::isDriveTemperatureSensor,
    derive::isOverVoltage,
    derive::isUnderVoltage,
    derive::isDriveOverTemp,
    derive::isDriveI2t,
    derive::UMAX_PROT,
    derive::UMIN_PROT,
    derive::Temp_2,
    derive::I_I2t_D,
    derive::t_I2t_D,
    derive::ControlMode,
    derive::ExternalReference,
    derive::IsAutoActivatedAfterPowerOn,
    derive::Axis_ID_list,
    derive::IlimPS,
    derive::Kp_C_scl,
    derive::Ki_C_scl,
    derive::TestCurrent,
    derive::TestProtectionCurrent,
    derive::isUseFilterOnCrtCtrlOutput,
    derive::FilterOnCurrentControllerOutput,
    derive::isCompensateGravitationalLoads,
    derive::OffsetCurrent,
    derive::Kp_S_scl,
    derive::Ki_S_scl,
    derive::IPSatS,
    derive::KFFA_scl,
    derive::TestLimitCurrent,
    derive::TestStartCurrent,
    derive::Jload_over_J,
    derive::Kp_P_scl,
    derive::Ki_P_scl,
    derive::Kd_P_scl,
    derive::Kp_T_scl,
    derive::Ki_T_scl,
    derive::filter_D,
    derive::IPSatP,
    derive::Limit_Speed,
    derive::TestMaxSpeed,
    derive::KFFS_scl,
    derive::isOverCurrent,
    derive::Imax_Prot,
    derive::time_Imax_Prot,
    derive::isPositionControlError,
    derive::ERR_position,
    derive::time_ERR_pos,
    derive::isSpeedControlError,
    derive::ERR_speed,
    derive::time_ERR_spd,
    derive::isMotorOverTemp,
    derive::isMotori2t,
    derive::I_I2t_M,
    derive::t_I2t_M,
    derive::isBrakeResistor,
    derive::Vbrake,
    derive::EnablePolarity,
    derive::LSPPolarity,
    derive::LSNPolarity,
    derive::isSWLS,
    derive::Negative_SWLS,
    derive::Positive_SWLS,
    derive::isSpeedEstimator,
    derive::StartMode,
    derive::StartCurrent,
    derive::time_AB,
    derive::isAnalogueReference,
    derive::DigitalReferenceType,
    derive::isLimitMaximum,
    derive::ErefMaxSpeed,
    derive::ErefMaxAcceleration,
    derive::DeadBand_Point,
    derive::DeadBand_Range,
    derive::UseFilter,
    derive::filter,
    derive::POS_min,
    derive::POS_max,
    derive::SPD_min,
    derive::SPD_max,
    derive::CRT_min,
    derive::CRT_max,
    derive::save_CAN_baudrate,
    derive::save_axis_id,
    derive::isMotorBrake,
    derive::MotorBrake_output,
    derive::MotorBrake_releasetime,
    derive::MotorBrake_applytime,
    derive::SpeedForward,
    derive::isFilterEnc,
    derive::isFreezeControl,
    derive::FreezeControl_errband,
    derive::FreezeControl_time,
    derive::InputsPolarityType,
    derive::ReverseCounting,
};

}  // namespace

void DeriveUserParameters(CQel_Setup& setup) {
    for (const Step step : kSteps) {
        // A failed step has changed nothing (or been reported by the kernel); the rest still run.
        static_cast<void>(step(setup));
    }
}
