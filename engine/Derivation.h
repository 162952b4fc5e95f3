#pragma once

#include <string_view>

class CQel_Parameter;
class CQel_Setup;

// Recomputes the user parameters (physical values the dialogs show) from the drive registers in
// the setup. Runs every step below in order; a step that cannot run (a missing name, a range whose
// low end exceeds its high end) leaves its target as it was and the next step runs regardless.
void DeriveUserParameters(CQel_Setup& setup);

// One function per derived value, named after the parameter it writes. Each returns true when it
// wrote its target or had nothing to do (an optional feature the drive lacks), false when a name
// was missing (the kernel reports it), the range failed or the kernel refused the value.
namespace derive {

// Encoder and timing.
bool pp(CQel_Setup& setup);
bool isMultiTurn(CQel_Setup& setup);
bool No_Bits_Turns(CQel_Setup& setup);
bool SPI_freq(CQel_Setup& setup);
bool isReverseCounting(CQel_Setup& setup);
bool No_encoder_lines(CQel_Setup& setup);
bool isMotorTemperatureSensor(CQel_Setup& setup);
bool Motor_TempSensor_Type(CQel_Setup& setup);
bool PWM_freq(CQel_Setup& setup);
bool PWMperiod(CQel_Setup& setup);
bool Ts_C(CQel_Setup& setup);
bool Ts_S(CQel_Setup& setup);
bool PosSpd_in_FastLoop(CQel_Setup& setup);

// Drive protections.
bool isDriveTemperatureSensor(CQel_Setup& setup);
bool isOverVoltage(CQel_Setup& setup);
bool isUnderVoltage(CQel_Setup& setup);
bool isDriveOverTemp(CQel_Setup& setup);
bool isDriveI2t(CQel_Setup& setup);
bool UMAX_PROT(CQel_Setup& setup);
bool UMIN_PROT(CQel_Setup& setup);
bool Temp_2(CQel_Setup& setup);
bool I_I2t_D(CQel_Setup& setup);
bool t_I2t_D(CQel_Setup& setup);

// Control structure, controllers and test values.
bool ControlMode(CQel_Setup& setup);
bool ExternalReference(CQel_Setup& setup);
bool IsAutoActivatedAfterPowerOn(CQel_Setup& setup);
bool Axis_ID_list(CQel_Setup& setup);
bool IlimPS(CQel_Setup& setup);
bool Kp_C_scl(CQel_Setup& setup);
bool Ki_C_scl(CQel_Setup& setup);
bool TestCurrent(CQel_Setup& setup);
bool TestProtectionCurrent(CQel_Setup& setup);
bool isUseFilterOnCrtCtrlOutput(CQel_Setup& setup);
bool FilterOnCurrentControllerOutput(CQel_Setup& setup);
bool isCompensateGravitationalLoads(CQel_Setup& setup);
bool OffsetCurrent(CQel_Setup& setup);
bool Kp_S_scl(CQel_Setup& setup);
bool Ki_S_scl(CQel_Setup& setup);
bool IPSatS(CQel_Setup& setup);
bool KFFA_scl(CQel_Setup& setup);
bool TestLimitCurrent(CQel_Setup& setup);
bool TestStartCurrent(CQel_Setup& setup);
bool Jload_over_J(CQel_Setup& setup);
bool Kp_P_scl(CQel_Setup& setup);
bool Ki_P_scl(CQel_Setup& setup);
bool Kd_P_scl(CQel_Setup& setup);
bool Kp_T_scl(CQel_Setup& setup);
bool Ki_T_scl(CQel_Setup& setup);
bool filter_D(CQel_Setup& setup);
bool IPSatP(CQel_Setup& setup);
bool Limit_Speed(CQel_Setup& setup);
bool TestMaxSpeed(CQel_Setup& setup);
bool KFFS_scl(CQel_Setup& setup);

// Motor and motion protections, brake resistor, input polarities.
bool isOverCurrent(CQel_Setup& setup);
bool Imax_Prot(CQel_Setup& setup);
bool time_Imax_Prot(CQel_Setup& setup);
bool isPositionControlError(CQel_Setup& setup);
bool ERR_position(CQel_Setup& setup);
bool time_ERR_pos(CQel_Setup& setup);
bool isSpeedControlError(CQel_Setup& setup);
bool ERR_speed(CQel_Setup& setup);
bool time_ERR_spd(CQel_Setup& setup);
bool isMotorOverTemp(CQel_Setup& setup);
bool isMotori2t(CQel_Setup& setup);
bool I_I2t_M(CQel_Setup& setup);
bool t_I2t_M(CQel_Setup& setup);
bool isBrakeResistor(CQel_Setup& setup);
bool Vbrake(CQel_Setup& setup);
bool EnablePolarity(CQel_Setup& setup);
bool LSPPolarity(CQel_Setup& setup);
bool LSNPolarity(CQel_Setup& setup);

// Software limit switches and speed estimator (optional).
bool isSWLS(CQel_Setup& setup);
bool Negative_SWLS(CQel_Setup& setup);
bool Positive_SWLS(CQel_Setup& setup);
bool isSpeedEstimator(CQel_Setup& setup);

// Start, references.
bool StartMode(CQel_Setup& setup);
bool StartCurrent(CQel_Setup& setup);
bool time_AB(CQel_Setup& setup);
bool isAnalogueReference(CQel_Setup& setup);
bool DigitalReferenceType(CQel_Setup& setup);
bool isLimitMaximum(CQel_Setup& setup);
bool ErefMaxSpeed(CQel_Setup& setup);
bool ErefMaxAcceleration(CQel_Setup& setup);

// Analogue reference input (only on drives that have one).
bool DeadBand_Point(CQel_Setup& setup);
bool DeadBand_Range(CQel_Setup& setup);
bool UseFilter(CQel_Setup& setup);
bool filter(CQel_Setup& setup);
bool POS_min(CQel_Setup& setup);
bool POS_max(CQel_Setup& setup);
bool SPD_min(CQel_Setup& setup);
bool SPD_max(CQel_Setup& setup);
bool CRT_min(CQel_Setup& setup);
bool CRT_max(CQel_Setup& setup);

// Remaining optional features.
bool save_CAN_baudrate(CQel_Setup& setup);
bool save_axis_id(CQel_Setup& setup);
bool isMotorBrake(CQel_Setup& setup);
bool MotorBrake_output(CQel_Setup& setup);
bool MotorBrake_releasetime(CQel_Setup& setup);
bool MotorBrake_applytime(CQel_Setup& setup);
bool SpeedForward(CQel_Setup& setup);
bool isFilterEnc(CQel_Setup& setup);
bool isFreezeControl(CQel_Setup& setup);
bool FreezeControl_errband(CQel_Setup& setup);
bool FreezeControl_time(CQel_Setup& setup);
bool InputsPolarityType(CQel_Setup& setup);
bool ReverseCounting(CQel_Setup& setup);

// The serial clock an EnDat baud-rate code selects, 0 for a code the drive does not know.
double SpiFrequencyFromEndatCode(double code);

// The shapes the steps share, so that each rule of the register formats is written once.
namespace shape {

// The range rule, then the value in base units.
bool WriteWithin(CQel_Parameter& target, double low, double high, double value);
// A flag: range 0 to 1, then 1 or 0.
bool WriteFlag(CQel_Parameter& target, bool on);
// A flag that mirrors one bit of a register; flagWhenSet is the flag's value for a set bit.
bool FlagFromBit(CQel_Setup& setup, std::string_view target, std::string_view registerName, int bit,
                 bool flagWhenSet = true);
// A flag that is 1 exactly when the register reads the given value (or, with onWhenEqual
// false, exactly when it reads anything else).
bool FlagFromValue(CQel_Setup& setup, std::string_view target, std::string_view registerName,
                   double value, bool onWhenEqual);
// A limit the drive holds as a 16-bit count, in the load's units whatever the transmission's
// sign: range low to 32767 / |scale|, value counts / |scale|. The scale is computed after the
// look-ups.
bool MagnitudeFromCounts(CQel_Setup& setup, std::string_view target, std::string_view registerName,
                         double low, double (*countsPerUnit)(const CQel_Setup&));
// The corner of a first-order filter whose register holds 32767 (1 - e^(-w T)); 32767 means the
// filter is off, which gives the corner shown for an unused filter.
double FilterCorner_rad_s(double coefficient, double period_s, double cornerWhenOff_rad_s);
// Full-scale count of the drive's converter.
double AdcMax(const CQel_Setup& setup);

}  // namespace shape

}  // namespace derive
