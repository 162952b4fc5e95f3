#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Derivation.h"
#include "engine/RegisterFormats.h"
#include "host/kernel/Setup.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"
#include "tests/support/ReferenceAxisTest.h"

namespace {

using Step = bool (*)(CQel_Setup&);

// The reference axis: 40 MHz DSP, PWMPER 1000, SLPER 10, a 10-bit converter left-aligned in 16
// bits, 16.5 A power stage, 1024 lines with 8 interpolation bits, transmission 1.
constexpr double kTsS_s = 0.0005;
constexpr double kCountsPerAmpere = 65472.0 / 33.0;
constexpr double kCountsPerRad = 1024.0 * 2.0 * 256.0 / std::numbers::pi;
constexpr double kSpeedUnitsPerRadS = kTsS_s * kCountsPerRad;
constexpr double kVoltageUnitsPerVolt = 65534.0 / (1.1 * 48.0);

class Derivation : public ReferenceAxisTest {
  protected:
    // Puts a value into the target that the step would not write: the range end farther from
    // the value the step derives.
    void PutSentinel(const std::string& name, double derived) {
        CQel_Parameter& parameter = Parameter(name);
        const double low = parameter.GetMinInBaseUnit();
        const double high = parameter.GetMaxInBaseUnit();
        parameter.SetValueInBaseUnit(std::fabs(high - derived) > std::fabs(low - derived) ? high
                                                                                          : low);
        ASSERT_NE(parameter.GetValueInBaseUnit(), derived) << name;
    }
};

// ---------------------------------------------------------------------------------------------
// Every single-bit flag: the bit alone set gives the flag's "set" value; every other bit set and
// this one clear gives the other value, so a step reading a neighbouring bit fails one way or
// the other.

struct BitCase {
    const char* registerName;
    int bit;
    const char* target;
    Step step;
    bool flagWhenSet;
    friend std::ostream& operator<<(std::ostream& out, const BitCase& row) {
        return out << row.registerName << " bit " << row.bit << " -> " << row.target;
    }
};

class DeriveBitFlags : public Derivation, public ::testing::WithParamInterface<BitCase> {};

TEST_P(DeriveBitFlags, FollowTheirBitAlone) {
    const BitCase& row = GetParam();
    constexpr double kAllSixteenBits = 0xFFFF;
    const double onlyBit = static_cast<double>(1 << row.bit);

    Force(row.registerName, onlyBit);
    ASSERT_TRUE(row.step(*setup_));
    EXPECT_EQ(Base(row.target), row.flagWhenSet ? 1.0 : 0.0) << "bit set alone";

    Force(row.registerName, kAllSixteenBits - onlyBit);
    ASSERT_TRUE(row.step(*setup_));
    EXPECT_EQ(Base(row.target), row.flagWhenSet ? 0.0 : 1.0) << "every bit but this one set";
}

INSTANTIATE_TEST_SUITE_P(
    EveryBitOfTheMaps, DeriveBitFlags,
    ::testing::Values(
        BitCase{"SCR", 7, "isMotorTemperatureSensor", derive::isMotorTemperatureSensor, true},
        BitCase{"SCR", 8, "isDriveTemperatureSensor", derive::isDriveTemperatureSensor, true},
        BitCase{"PCR", 0, "isOverCurrent", derive::isOverCurrent, true},
        BitCase{"PCR", 1, "isMotori2t", derive::isMotori2t, true},
        BitCase{"PCR", 2, "isMotorOverTemp", derive::isMotorOverTemp, true},
        BitCase{"PCR", 3, "isDriveOverTemp", derive::isDriveOverTemp, true},
        BitCase{"PCR", 4, "isOverVoltage", derive::isOverVoltage, true},
        BitCase{"PCR", 5, "isUnderVoltage", derive::isUnderVoltage, true},
        BitCase{"PCR", 7, "isDriveI2t", derive::isDriveI2t, true},
        BitCase{"ACR", 1, "IsAutoActivatedAfterPowerOn", derive::IsAutoActivatedAfterPowerOn, true},
        BitCase{"ACR", 2, "DigitalReferenceType", derive::DigitalReferenceType, false},
        BitCase{"ACR", 4, "isFreezeControl", derive::isFreezeControl, true},
        BitCase{"ACR", 6, "isAnalogueReference", derive::isAnalogueReference, true},
        BitCase{"ACR", 14, "SpeedForward", derive::SpeedForward, true},
        BitCase{"OSR", 9, "isBrakeResistor", derive::isBrakeResistor, true},
        BitCase{"ASR", 2, "InputsPolarityType", derive::InputsPolarityType, false},
        BitCase{"ASR", 12, "isSWLS", derive::isSWLS, true},
        BitCase{"UPGRADE", 2, "isLimitMaximum", derive::isLimitMaximum, true},
        BitCase{"UPGRADE", 6, "PosSpd_in_FastLoop", derive::PosSpd_in_FastLoop, true},
        BitCase{"DIGIN_ACTIVE_LEVEL", 13, "LSPPolarity", derive::LSPPolarity, true},
        BitCase{"DIGIN_ACTIVE_LEVEL", 14, "LSNPolarity", derive::LSNPolarity, true},
        BitCase{"DIGIN_ACTIVE_LEVEL", 15, "EnablePolarity", derive::EnablePolarity, true},
        BitCase{"LSS_Active", 0, "save_axis_id", derive::save_axis_id, false},
        BitCase{"LSS_Active", 1, "save_CAN_baudrate", derive::save_CAN_baudrate, false},
        BitCase{"BRAKECFG", 0, "isMotorBrake", derive::isMotorBrake, true}));

// ---------------------------------------------------------------------------------------------
// Flags read from a register's whole value or from a field of several bits.

struct ValueCase {
    const char* registerName;
    double registerValue;
    const char* target;
    Step step;
    double expected;
    friend std::ostream& operator<<(std::ostream& out, const ValueCase& row) {
        return out << row.registerName << " = " << row.registerValue << " -> " << row.target;
    }
};

class DeriveRegisterValues : public Derivation, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(DeriveRegisterValues, GiveTheirParameter) {
    const ValueCase& row = GetParam();
    Force(row.registerName, row.registerValue);
    ASSERT_TRUE(row.step(*setup_));
    EXPECT_DOUBLE_EQ(Base(row.target), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DeriveRegisterValues,
    ::testing::Values(
        // The speed source field reads 0x30 for the estimator, whatever the other bits hold.
        ValueCase{"SCR", 0x30, "isSpeedEstimator", derive::isSpeedEstimator, 1},
        ValueCase{"SCR", 0x2180 | 0x30, "isSpeedEstimator", derive::isSpeedEstimator, 1},
        ValueCase{"SCR", 0x38, "isSpeedEstimator", derive::isSpeedEstimator, 0},
        ValueCase{"SCR", 0x10, "isSpeedEstimator", derive::isSpeedEstimator, 0},
        ValueCase{"SCR", 0x20, "isSpeedEstimator", derive::isSpeedEstimator, 0},
        // The start field reads 0x14 for the motionless start; 0x1C is the EnDat start.
        ValueCase{"OSR", 0x14, "StartMode", derive::StartMode, 1},
        ValueCase{"OSR", 0x214, "StartMode", derive::StartMode, 1},
        ValueCase{"OSR", 0x1C, "StartMode", derive::StartMode, 0},
        ValueCase{"OSR", 0x04, "StartMode", derive::StartMode, 0},
        ValueCase{"OSR", 0x10, "StartMode", derive::StartMode, 0}));

INSTANTIATE_TEST_SUITE_P(
    ControlModeFromLoopBits, DeriveRegisterValues,
    ::testing::Values(ValueCase{"ACR", 0x700, "ControlMode", derive::ControlMode, 0},
                      ValueCase{"ACR", 0x500, "ControlMode", derive::ControlMode, 0},
                      ValueCase{"ACR", 0x300, "ControlMode", derive::ControlMode, 1},
                      ValueCase{"ACR", 0x100, "ControlMode", derive::ControlMode, 2},
                      ValueCase{"ACR", 0, "ControlMode", derive::ControlMode, 2}));

INSTANTIATE_TEST_SUITE_P(
    ExternalReferenceFromEitherBit, DeriveRegisterValues,
    ::testing::Values(ValueCase{"ACR", 0x40, "ExternalReference", derive::ExternalReference, 1},
                      ValueCase{"ACR", 0x80, "ExternalReference", derive::ExternalReference, 1},
                      ValueCase{"ACR", 0xC0, "ExternalReference", derive::ExternalReference, 1},
                      ValueCase{"ACR", 0xFF3F, "ExternalReference", derive::ExternalReference, 0}));

INSTANTIATE_TEST_SUITE_P(
    WholeValues, DeriveRegisterValues,
    ::testing::Values(
        ValueCase{"ENDAT_NO_REV", 0, "isMultiTurn", derive::isMultiTurn, 0},
        ValueCase{"ENDAT_NO_REV", 12, "isMultiTurn", derive::isMultiTurn, 1},
        ValueCase{"ENDAT_SENSE", -1, "isReverseCounting", derive::isReverseCounting, 1},
        ValueCase{"ENDAT_SENSE", 1, "isReverseCounting", derive::isReverseCounting, 0},
        ValueCase{"FILTERQ", 32767, "isUseFilterOnCrtCtrlOutput",
                  derive::isUseFilterOnCrtCtrlOutput, 0},
        ValueCase{"FILTERQ", 7252, "isUseFilterOnCrtCtrlOutput", derive::isUseFilterOnCrtCtrlOutput,
                  1},
        ValueCase{"FILTERQ", 32767, "FilterOnCurrentControllerOutput",
                  derive::FilterOnCurrentControllerOutput, 5000},
        ValueCase{"FILTER1", 32767, "UseFilter", derive::UseFilter, 0},
        ValueCase{"FILTER1", 1598, "UseFilter", derive::UseFilter, 1},
        ValueCase{"FILTER1", 32767, "filter", derive::filter, 50},
        ValueCase{"FFL", 0, "isCompensateGravitationalLoads",
                  derive::isCompensateGravitationalLoads, 0},
        ValueCase{"FFL", -5, "isCompensateGravitationalLoads",
                  derive::isCompensateGravitationalLoads, 1},
        ValueCase{"TERRMAX", 65535, "isPositionControlError", derive::isPositionControlError, 0},
        ValueCase{"TERRMAX", 200, "isPositionControlError", derive::isPositionControlError, 1},
        ValueCase{"TSERRMAX", 65535, "isSpeedControlError", derive::isSpeedControlError, 0},
        ValueCase{"TSERRMAX", 400, "isSpeedControlError", derive::isSpeedControlError, 1},
        ValueCase{"QUAL", 1, "isFilterEnc", derive::isFilterEnc, 1},
        ValueCase{"QUAL", 2, "isFilterEnc", derive::isFilterEnc, 0},
        ValueCase{"COUNTINGDIR", 1, "ReverseCounting", derive::ReverseCounting, 1},
        ValueCase{"COUNTINGDIR", 0, "ReverseCounting", derive::ReverseCounting, 0},
        ValueCase{"AAR_table", 0, "Axis_ID_list", derive::Axis_ID_list, 0},
        ValueCase{"AAR_table", 300, "Axis_ID_list", derive::Axis_ID_list, 44},
        ValueCase{"MECRESL", 10, "No_encoder_lines", derive::No_encoder_lines, 2},
        ValueCase{"MECRESL", 4002, "No_encoder_lines", derive::No_encoder_lines, 1000},
        ValueCase{"MTSTYPE", 1, "Motor_TempSensor_Type", derive::Motor_TempSensor_Type, 1},
        ValueCase{"MTSTYPE", 0, "Motor_TempSensor_Type", derive::Motor_TempSensor_Type, 0},
        // The brake pin in bits 8 to 15: pin 28 is the drive's port 3, pin 25 its port 0.
        ValueCase{"BRAKECFG", 0x1C01, "MotorBrake_output", derive::MotorBrake_output, 3},
        ValueCase{"BRAKECFG", 0x1900, "MotorBrake_output", derive::MotorBrake_output, 0},
        // A single-turn encoder keeps the multi-turn width.
        ValueCase{"ENDAT_NO_REV", 0, "No_Bits_Turns", derive::No_Bits_Turns, 12},
        ValueCase{"ENDAT_NO_REV", 16, "No_Bits_Turns", derive::No_Bits_Turns, 16}));

// A pin that is none of the drive's outputs must not turn into another output's port.
TEST_F(Derivation, BrakePinOfNoOutputLeavesTheChosenPort) {
    const double chosen = Internal("MotorBrake_output");
    Force("BRAKECFG", 0x6301);
    EXPECT_FALSE(derive::MotorBrake_output(*setup_));
    EXPECT_EQ(Internal("MotorBrake_output"), chosen);
}

// ---------------------------------------------------------------------------------------------
// The EnDat clock table, both as a lookup and through the step.

struct EndatCase {
    double code;
    double frequency_Hz;
    friend std::ostream& operator<<(std::ostream& out, const EndatCase& row) {
        return out << "code " << row.code;
    }
};

class DeriveEndatCodes : public Derivation, public ::testing::WithParamInterface<EndatCase> {};

TEST_P(DeriveEndatCodes, SelectTheirClock) {
    const EndatCase& row = GetParam();
    EXPECT_EQ(derive::SpiFrequencyFromEndatCode(row.code), row.frequency_Hz) << row.code;
    Force("ENDAT_BR", row.code);
    ASSERT_TRUE(derive::SPI_freq(*setup_));
    EXPECT_EQ(Base("SPI_freq"), row.frequency_Hz) << row.code;
    EXPECT_EQ(Parameter("SPI_freq").GetMinInBaseUnit(), 100000.0);
    EXPECT_EQ(Parameter("SPI_freq").GetMaxInBaseUnit(), 2000000.0);
}

INSTANTIATE_TEST_SUITE_P(EveryCode, DeriveEndatCodes,
                         ::testing::Values(EndatCase{19, 2000000}, EndatCase{23, 1750000},
                                           EndatCase{26, 1500000}, EndatCase{31, 1250000},
                                           EndatCase{39, 1000000}, EndatCase{52, 750000},
                                           EndatCase{79, 500000}, EndatCase{159, 250000},
                                           EndatCase{399, 100000}));

TEST_F(Derivation, UnknownEndatCodeOffersZeroWhichTheKernelClampsToTheRange) {
    EXPECT_EQ(derive::SpiFrequencyFromEndatCode(40), 0.0);
    Force("ENDAT_BR", 40);
    // The step writes 0 regardless of the range it has just set; the kernel keeps the low end.
    EXPECT_TRUE(derive::SPI_freq(*setup_));
    EXPECT_EQ(Base("SPI_freq"), 100000.0);
}

// ---------------------------------------------------------------------------------------------
// Formula steps with known numbers. Each case changes a few inputs of the reference axis.

struct Input {
    const char* name;
    double value;
    friend std::ostream& operator<<(std::ostream& out, const Input& input) {
        return out << input.name << " = " << input.value;
    }
};

struct FormulaCase {
    const char* label;
    std::vector<Input> inputs;
    Step step;
    const char* target;
    double expected;
    friend std::ostream& operator<<(std::ostream& out, const FormulaCase& row) {
        return out << row.label;
    }
};

class DeriveFormulas : public Derivation, public ::testing::WithParamInterface<FormulaCase> {};

TEST_P(DeriveFormulas, GiveTheKnownValue) {
    const FormulaCase& row = GetParam();
    for (const Input& input : row.inputs) {
        Force(input.name, input.value);
    }
    ASSERT_TRUE(row.step(*setup_)) << row.label;
    EXPECT_NEAR(Base(row.target), row.expected, std::fabs(row.expected) * 1e-9 + 1e-12)
        << row.label;
}

INSTANTIATE_TEST_SUITE_P(
    KnownNumbers, DeriveFormulas,
    ::testing::Values(
        // Three pole pairs: 4096 counts x 3 x 2^20 = 3 x 2^32; with ELRES_FRACT the fraction
        // counts too.
        FormulaCase{"pp", {}, derive::pp, "pp", 3.0},
        FormulaCase{"pp with ELRES_FRACT 2",
                    {{"ENC2THL", 786432}, {"ELRES_FRACT", 2}},
                    derive::pp,
                    "pp",
                    3.0},
        // 300 lines and three pole pairs: the angle step 3 x 2^32 / 1200 = 10737418.24 is
        // stored whole, and 1200 x 10737418 / 2^32 = 2.99999993 is still three pole pairs.
        FormulaCase{"pp of 300 lines, whose angle step is rounded",
                    {{"MECRESL", 1200}, {"ENC2THL", 10737418}},
                    derive::pp,
                    "pp",
                    3.0},
        FormulaCase{"PWM_freq", {}, derive::PWM_freq, "PWM_freq", 20000.0},
        FormulaCase{"PWMperiod", {}, derive::PWMperiod, "PWMperiod", 50e-6},
        FormulaCase{"Ts_C with CLPER 2", {{"CLPER", 2}}, derive::Ts_C, "Ts_C", 100e-6},
        FormulaCase{"Ts_S", {}, derive::Ts_S, "Ts_S", kTsS_s},
        // 26784 counts of 3.3 V over 65472 are 1.35 V: (1.35 - 0.5) / 0.01 V per degree.
        FormulaCase{"Temp_2", {}, derive::Temp_2, "Temp_2", 85.0},
        FormulaCase{"UMAX_PROT", {{"UMAXPROT", 32736}}, derive::UMAX_PROT, "UMAX_PROT", 36.5},
        FormulaCase{"UMIN_PROT", {{"UMINPROT", 16368}}, derive::UMIN_PROT, "UMIN_PROT", 18.25},
        FormulaCase{"Vbrake", {{"BRAKELIM", 49104}}, derive::Vbrake, "Vbrake", 54.75},
        // I2t: sqrt(16 x limit + (In x CS)^2) / CS; 15872^2 + 16 x 39608576 = 29760^2.
        FormulaCase{"I_I2t_D", {}, derive::I_I2t_D, "I_I2t_D", 15.0},
        FormulaCase{"I_I2t_M", {}, derive::I_I2t_M, "I_I2t_M", 7.0},
        FormulaCase{"I_I2t_M is held at 1.1 In",
                    {{"I2TINTLIM_M", 0}, {"In", 5.0}},
                    derive::I_I2t_M,
                    "I_I2t_M",
                    5.5},
        FormulaCase{"t_I2t_D", {{"SFI2T_D", 8192}}, derive::t_I2t_D, "t_I2t_D", kTsS_s * 8192.0},
        FormulaCase{"t_I2t_M", {{"SFI2T_M", 4096}}, derive::t_I2t_M, "t_I2t_M", kTsS_s * 16384.0},
        // Saturations hold 32767 minus the limit in converter counts.
        FormulaCase{"IlimPS from SATS (speed loop closed)",
                    {{"SATS", 32767 - 3968}},
                    derive::IlimPS,
                    "IlimPS",
                    2.0},
        FormulaCase{"IlimPS from SATP (no speed loop)",
                    {{"ACR", 0x510}, {"SATP", 32767 - 5952}},
                    derive::IlimPS,
                    "IlimPS",
                    3.0},
        FormulaCase{"TestLimitCurrent from SATS",
                    {{"SATS", 32767 - 3968}},
                    derive::TestLimitCurrent,
                    "TestLimitCurrent",
                    2.0},
        FormulaCase{"TestLimitCurrent from SATP",
                    {{"ACR", 0x100}, {"SATP", 32767 - 5952}},
                    derive::TestLimitCurrent,
                    "TestLimitCurrent",
                    3.0},
        FormulaCase{"IPSatS",
                    {{"IMAXS", 32767 - 900}, {"SATS", 32767 - 1200}},
                    derive::IPSatS,
                    "IPSatS",
                    75.0},
        FormulaCase{"IPSatP",
                    {{"IMAXP", 32767 - 300}, {"SATP", 32767 - 1200}},
                    derive::IPSatP,
                    "IPSatP",
                    25.0},
        FormulaCase{"TestProtectionCurrent",
                    {{"IMAXPROT", 9920}},
                    derive::TestProtectionCurrent,
                    "TestProtectionCurrent",
                    5.0},
        FormulaCase{"Imax_Prot", {{"IMAXPROT", 9920}}, derive::Imax_Prot, "Imax_Prot", 5.0},
        FormulaCase{"OffsetCurrent", {{"FFL", -992}}, derive::OffsetCurrent, "OffsetCurrent", -0.5},
        // The gain rule M x 2^S / 32767.
        FormulaCase{
            "Kp_C_scl of one", {{"KPI", 32767}, {"SFTKPI", 0}}, derive::Kp_C_scl, "Kp_C_scl", 1.0},
        FormulaCase{"Ki_C_scl",
                    {{"KII", 24575}, {"SFTKII", 2}},
                    derive::Ki_C_scl,
                    "Ki_C_scl",
                    24575.0 * 4.0 / 32767.0},
        FormulaCase{
            "Kp_P_scl", {{"KPP", 32767}, {"SFTKPP", 5}}, derive::Kp_P_scl, "Kp_P_scl", 32.0},
        FormulaCase{"Kd_P_scl",
                    {{"KDP", 20000}, {"SFTKDP", 4}},
                    derive::Kd_P_scl,
                    "Kd_P_scl",
                    320000.0 / 32767.0},
        FormulaCase{"gain at the top of the range",
                    {{"KPI", 32767}, {"SFTKPI", 14}},
                    derive::Kp_C_scl,
                    "Kp_C_scl",
                    16384.0},
        FormulaCase{"gain above the range is held at its top",
                    {{"KPI", 32767}, {"SFTKPI", 15}},
                    derive::Kp_C_scl,
                    "Kp_C_scl",
                    16384.0},
        // The acceleration feed-forward shifts by the sum of both shift registers.
        FormulaCase{"KFFA_scl",
                    {{"KFFA", 20000}, {"SFTAFFW", 11}, {"SFTKFF", 3}},
                    derive::KFFA_scl,
                    "KFFA_scl",
                    20000.0 * 16384.0 / 32767.0},
        FormulaCase{"filter_D", {{"KDFP", 32767}}, derive::filter_D, "filter_D", 1.0},
        FormulaCase{"Jload_over_J",
                    {{"Jt", 5e-4}, {"Jm", 1e-4}},
                    derive::Jload_over_J,
                    "Jload_over_J",
                    4.0},
        // Half the smaller nominal current, whatever the user had entered.
        FormulaCase{"TestCurrent from In",
                    {{"TestCurrent", 0.2}},
                    derive::TestCurrent,
                    "TestCurrent",
                    1.75},
        FormulaCase{"TestCurrent from InPS",
                    {{"In", 9.0}, {"InPS", 3.0}},
                    derive::TestCurrent,
                    "TestCurrent",
                    1.5},
        FormulaCase{"TestMaxSpeed",
                    {{"Vdc", 60.0}, {"K", 0.2}},
                    derive::TestMaxSpeed,
                    "TestMaxSpeed",
                    100.0},
        // First-order filters: the register holds 32767 (1 - e^(-w T)).
        FormulaCase{"FilterOnCurrentControllerOutput",
                    {{"FILTERQ", 8192}},
                    derive::FilterOnCurrentControllerOutput,
                    "FilterOnCurrentControllerOutput",
                    -std::log(1.0 - 8192.0 / 32767.0) / 50e-6},
        FormulaCase{"filter", {{"FILTER1", 1598}}, derive::filter, "filter", 99.9958004777941},
        // Protection delays count speed-loop periods.
        FormulaCase{
            "time_Imax_Prot", {{"TIMAXPROT", 1000}}, derive::time_Imax_Prot, "time_Imax_Prot", 0.5},
        FormulaCase{"time_ERR_pos", {{"TERRMAX", 300}}, derive::time_ERR_pos, "time_ERR_pos", 0.15},
        FormulaCase{"time_ERR_spd", {{"TSERRMAX", 20}}, derive::time_ERR_spd, "time_ERR_spd", 0.01},
        FormulaCase{"MotorBrake_releasetime",
                    {{"BRAKERELEASEDELAY", 40}},
                    derive::MotorBrake_releasetime,
                    "MotorBrake_releasetime",
                    0.02},
        FormulaCase{"MotorBrake_applytime",
                    {{"BRAKEAPPLYDELAY", 60}},
                    derive::MotorBrake_applytime,
                    "MotorBrake_applytime",
                    0.03},
        FormulaCase{"FreezeControl_time",
                    {{"TONPOSOK_FC", 30}},
                    derive::FreezeControl_time,
                    "FreezeControl_time",
                    0.015},
        // Errors and reference limits in the load's units.
        FormulaCase{"ERR_position",
                    {{"ERRMAX", 3000}},
                    derive::ERR_position,
                    "ERR_position",
                    3000.0 / kCountsPerRad},
        FormulaCase{"ERR_speed",
                    {{"SERRMAX", 3000}},
                    derive::ERR_speed,
                    "ERR_speed",
                    3000.0 / kSpeedUnitsPerRadS},
        FormulaCase{"ErefMaxSpeed",
                    {{"CSPD", 3000}},
                    derive::ErefMaxSpeed,
                    "ErefMaxSpeed",
                    3000.0 / kSpeedUnitsPerRadS},
        FormulaCase{"ErefMaxAcceleration",
                    {{"CACC", 100}},
                    derive::ErefMaxAcceleration,
                    "ErefMaxAcceleration",
                    100.0 / (kSpeedUnitsPerRadS * kTsS_s)},
        FormulaCase{"FreezeControl_errband",
                    {{"POSOKLIM_FC", 500}},
                    derive::FreezeControl_errband,
                    "FreezeControl_errband",
                    500.0 / kCountsPerRad},
        // time_AB in hundredths of a second (UPGRADE bit 9 set) or 1/65535 s.
        FormulaCase{"time_AB in hundredths",
                    {{"UPGRADE", 0x200}, {"T1ONA", 250}},
                    derive::time_AB,
                    "time_AB",
                    2.5},
        FormulaCase{"time_AB in 65535ths",
                    {{"UPGRADE", 0}, {"T1ONA", 13107}},
                    derive::time_AB,
                    "time_AB",
                    0.2},
        // The analogue input counts its levels over its range; a +-10 V input from -10 V.
        FormulaCase{"DeadBand_Point of a +-10 V input",
                    {{"LEVEL_AD5", 49104}},
                    derive::DeadBand_Point,
                    "DeadBand_Point",
                    5.0},
        FormulaCase{"DeadBand_Point of a 0-5 V input",
                    {{"AnalogueInputsRange", 5.0}, {"LEVEL_AD5", 49104}},
                    derive::DeadBand_Point,
                    "DeadBand_Point",
                    3.75},
        FormulaCase{"DeadBand_Point of a 0-3.3 V input",
                    {{"AnalogueInputsRange", 3.3}, {"LEVEL_AD5", 16368}},
                    derive::DeadBand_Point,
                    "DeadBand_Point",
                    0.825},
        FormulaCase{"DeadBand_Range",
                    {{"E_LEVEL_AD5", 3274}},
                    derive::DeadBand_Range,
                    "DeadBand_Range",
                    20.0 * 3274.0 / 65472.0}));

// The start current: (REFTST - PWM frequency x dead time x Vdc x VS) x 100 / (VS x In x R'),
// with R' the star-equivalent resistance. The reference axis has a dead time of 40 clocks at
// 50 %, that is 0.5 us.
struct StartCurrentCase {
    Step step;
    const char* target;
    double connection;
    double expected_percent;
    friend std::ostream& operator<<(std::ostream& out, const StartCurrentCase& row) {
        return out << row.target << (row.connection == 1 ? " delta" : " star");
    }
};

class DeriveStartCurrents : public Derivation,
                            public ::testing::WithParamInterface<StartCurrentCase> {};

TEST_P(DeriveStartCurrents, ComeFromTheTestVoltageLessTheDeadTime) {
    const StartCurrentCase& row = GetParam();
    // 1.75 A through 1.2 Ohm, plus the dead-time voltage of 20 kHz x 0.5 us x 48 V.
    const double deadTime_counts = 20000.0 * 0.5e-6 * 48.0 * kVoltageUnitsPerVolt;
    Force("REFTST", std::round(1.75 * 1.2 * kVoltageUnitsPerVolt + deadTime_counts));
    Force("MotorPhaseConnectionType", row.connection);
    ASSERT_TRUE(row.step(*setup_));
    EXPECT_NEAR(Base(row.target), row.expected_percent, 0.05) << row.target;
}

INSTANTIATE_TEST_SUITE_P(
    StarAndDelta, DeriveStartCurrents,
    ::testing::Values(StartCurrentCase{derive::TestStartCurrent, "TestStartCurrent", 0, 50.0},
                      StartCurrentCase{derive::StartCurrent, "StartCurrent", 0, 50.0},
                      // A delta motor's phase is a third of the resistance.
                      StartCurrentCase{derive::TestStartCurrent, "TestStartCurrent", 1, 150.0},
                      StartCurrentCase{derive::StartCurrent, "StartCurrent", 1, 150.0}));

// ---------------------------------------------------------------------------------------------
// Limit_Speed exists only with a speed loop inside position control.

struct LimitSpeedCase {
    double controlMode;
    double positionControlType;
    bool derived;
    friend std::ostream& operator<<(std::ostream& out, const LimitSpeedCase& row) {
        return out << "ControlMode " << row.controlMode << ", PositionControlType "
                   << row.positionControlType;
    }
};

class DeriveLimitSpeed : public Derivation, public ::testing::WithParamInterface<LimitSpeedCase> {};

TEST_P(DeriveLimitSpeed, IsDerivedOnlyInPositionControlWithASpeedLoop) {
    const LimitSpeedCase& row = GetParam();
    Force("ControlMode", row.controlMode);
    Force("PositionControlType", row.positionControlType);
    Force("SATP", 32767 - 5000);
    Force("Limit_Speed", 123.0);
    EXPECT_TRUE(derive::Limit_Speed(*setup_));
    EXPECT_NEAR(Base("Limit_Speed"), row.derived ? 5000.0 / kSpeedUnitsPerRadS : 123.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(ControlStructures, DeriveLimitSpeed,
                         ::testing::Values(LimitSpeedCase{0, 1, true}, LimitSpeedCase{0, 0, false},
                                           LimitSpeedCase{1, 1, false},
                                           LimitSpeedCase{2, 1, false}));

// ---------------------------------------------------------------------------------------------
// A negative transmission: the load's negative limit is the motor's positive one, as a negative
// position of the load, and the analogue span keeps its direction.

TEST_F(Derivation, NegativeTransmissionSwapsTheSoftwareLimitSwitches) {
    Force("Load_transmission", -2.0 * std::numbers::pi);
    Force("SWPOSLS", 2000000);
    Force("SWNEGLS", -1000000);
    ASSERT_TRUE(derive::Negative_SWLS(*setup_));
    ASSERT_TRUE(derive::Positive_SWLS(*setup_));
    EXPECT_NEAR(Base("Negative_SWLS"), -2000000.0 / kCountsPerRad, 1e-9);
    EXPECT_NEAR(Base("Positive_SWLS"), 1000000.0 / kCountsPerRad, 1e-9);
}

TEST_F(Derivation, PositiveTransmissionKeepsTheSoftwareLimitSwitches) {
    Force("SWPOSLS", 2000000);
    Force("SWNEGLS", -1000000);
    ASSERT_TRUE(derive::Negative_SWLS(*setup_));
    ASSERT_TRUE(derive::Positive_SWLS(*setup_));
    EXPECT_NEAR(Base("Negative_SWLS"), -1000000.0 / kCountsPerRad, 1e-9);
    EXPECT_NEAR(Base("Positive_SWLS"), 2000000.0 / kCountsPerRad, 1e-9);
}

struct SpanCase {
    Step step;
    const char* target;
    double gain;
    double shift;
    double transmissionSign;
    double expectedInternal;
    friend std::ostream& operator<<(std::ostream& out, const SpanCase& row) {
        return out << row.target << " CADIN " << row.gain << " SFTADIN " << row.shift;
    }
};

class DeriveAnalogueSpan : public Derivation, public ::testing::WithParamInterface<SpanCase> {};

TEST_P(DeriveAnalogueSpan, UpperEndIsOffsetPlusTwiceTheGainOfFullScale) {
    const SpanCase& row = GetParam();
    Force("Load_transmission", row.transmissionSign * 2.0 * std::numbers::pi);
    Force("CADIN", row.gain);
    Force("SFTADIN", row.shift);
    Force("AD5OFF", -19000);
    ASSERT_TRUE(row.step(*setup_));
    EXPECT_NEAR(Internal(row.target), row.expectedInternal, 1e-9) << row.target;
}

INSTANTIATE_TEST_SUITE_P(SignAndShift, DeriveAnalogueSpan,
                         ::testing::Values(
                             // 2 x 19019 x 65472 / 65536 = 38000.853515625.
                             SpanCase{derive::POS_max, "POS_max", 19019, 0, 1, 19000.853515625},
                             SpanCase{derive::POS_max, "POS_max", -19019, 0, -1, 19000.853515625},
                             SpanCase{derive::POS_max, "POS_max", 9000, 1, 1,
                                      -19000.0 + 4.0 * 9000 * 65472 / 65536},
                             SpanCase{derive::SPD_max, "SPD_max", 19019, 0, 1, 19000.853515625},
                             SpanCase{derive::SPD_max, "SPD_max", -19019, 0, -1, 19000.853515625},
                             SpanCase{derive::CRT_max, "CRT_max", 19019, 0, 1, 19000.853515625},
                             SpanCase{derive::POS_min, "POS_min", 19019, 0, 1, -19000.0},
                             SpanCase{derive::SPD_min, "SPD_min", 19019, 0, 1, -19000.0},
                             SpanCase{derive::CRT_min, "CRT_min", 19019, 0, 1, -19000.0}));

// ---------------------------------------------------------------------------------------------
// Ranges set before writing, and what happens when the low end exceeds the high end.

TEST_F(Derivation, DisabledMotorTemperatureHoldsTheProtectionOff) {
    Force("PCR", 0x04);
    setup_->SetOption("DisableMotorTemperature", "1");
    ASSERT_TRUE(derive::isMotorOverTemp(*setup_));
    EXPECT_EQ(Base("isMotorOverTemp"), 0.0);
    EXPECT_EQ(Parameter("isMotorOverTemp").GetMaxInBaseUnit(), 0.0);

    setup_->SetOption("DisableMotorTemperature", "0");
    ASSERT_TRUE(derive::isMotorOverTemp(*setup_));
    EXPECT_EQ(Base("isMotorOverTemp"), 1.0);
}

TEST_F(Derivation, AnalogueReferenceFlagIsHeldOffWithoutTheInput) {
    Force("ACR", 0x40);
    ASSERT_TRUE(setup_->RemoveVariable("CADIN"));
    ASSERT_TRUE(derive::isAnalogueReference(*setup_));
    EXPECT_EQ(Base("isAnalogueReference"), 0.0);
    EXPECT_EQ(Parameter("isAnalogueReference").GetMaxInBaseUnit(), 0.0);
}

TEST_F(Derivation, FreezeControlNeedsPositionControl) {
    Force("ACR", 0x10);
    Force("ControlMode", 1);
    ASSERT_TRUE(derive::isFreezeControl(*setup_));
    EXPECT_EQ(Base("isFreezeControl"), 0.0);
}

struct RangeCase {
    const char* label;
    std::vector<Input> inputs;
    Step step;
    const char* target;
    double low;
    double high;
    friend std::ostream& operator<<(std::ostream& out, const RangeCase& row) {
        return out << row.label;
    }
};

constexpr double kFarRange = 1e9;

class DeriveStepRanges : public Derivation, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(DeriveStepRanges, AreSetBeforeTheValue) {
    const RangeCase& row = GetParam();
    for (const Input& input : row.inputs) {
        Force(input.name, input.value);
    }
    // A range far from the expected one, so that a step that sets none is seen.
    Parameter(row.target).SetMinInBaseUnit(-kFarRange);
    Parameter(row.target).SetMaxInBaseUnit(kFarRange);
    ASSERT_TRUE(row.step(*setup_)) << row.label;
    const CQel_Parameter& target = Parameter(row.target);
    EXPECT_NEAR(target.GetMinInBaseUnit(), row.low, std::fabs(row.low) * 1e-12) << row.label;
    EXPECT_NEAR(target.GetMaxInBaseUnit(), row.high, std::fabs(row.high) * 1e-12) << row.label;
}

INSTANTIATE_TEST_SUITE_P(
    KnownRanges, DeriveStepRanges,
    ::testing::Values(
        RangeCase{"I_I2t_D from InPS to ImaxPS", {}, derive::I_I2t_D, "I_I2t_D", 8.0, 16.5},
        RangeCase{"I_I2t_M from 1.1 In to ImaxM", {}, derive::I_I2t_M, "I_I2t_M", 3.85, 10.0},
        RangeCase{"t_I2t_D over 2048 to 2^26 periods",
                  {},
                  derive::t_I2t_D,
                  "t_I2t_D",
                  2048 * kTsS_s,
                  67108864 * kTsS_s},
        RangeCase{"t_I2t_M over 2048 to 2^26 periods",
                  {},
                  derive::t_I2t_M,
                  "t_I2t_M",
                  2048 * kTsS_s,
                  67108864 * kTsS_s},
        RangeCase{"IlimPS up to the smaller peak current",
                  {{"ImaxM", 12.0}, {"ImaxPS", 11.0}},
                  derive::IlimPS,
                  "IlimPS",
                  0.001,
                  11.0},
        RangeCase{"TestCurrent up to 1.8 times its default",
                  {},
                  derive::TestCurrent,
                  "TestCurrent",
                  0.001,
                  3.15},
        RangeCase{
            "OffsetCurrent within +-In", {}, derive::OffsetCurrent, "OffsetCurrent", -3.5, 3.5},
        RangeCase{"Limit_Speed up to the no-load speed",
                  {},
                  derive::Limit_Speed,
                  "Limit_Speed",
                  0.0,
                  480.0},
        RangeCase{"TestMaxSpeed up to the no-load speed",
                  {},
                  derive::TestMaxSpeed,
                  "TestMaxSpeed",
                  0.0,
                  480.0},
        RangeCase{"current filter below Nyquist",
                  {},
                  derive::FilterOnCurrentControllerOutput,
                  "FilterOnCurrentControllerOutput",
                  0.0,
                  10000.0},
        RangeCase{"reference filter below Nyquist", {}, derive::filter, "filter", 0.0, 1000.0},
        RangeCase{"time_AB up to 1 s in 65535ths",
                  {{"UPGRADE", 0}},
                  derive::time_AB,
                  "time_AB",
                  0.01,
                  1.0},
        RangeCase{
            "time_AB up to 655.35 s in hundredths", {}, derive::time_AB, "time_AB", 0.01, 655.35},
        RangeCase{"protection delay up to 32767 periods",
                  {},
                  derive::time_ERR_spd,
                  "time_ERR_spd",
                  0.001,
                  32767 * kTsS_s},
        RangeCase{"ERR_speed up to 32767 units",
                  {},
                  derive::ERR_speed,
                  "ERR_speed",
                  0.001,
                  32767 / kSpeedUnitsPerRadS},
        RangeCase{"software limits over 32-bit counts",
                  {},
                  derive::Positive_SWLS,
                  "Positive_SWLS",
                  -2147483648.0 / kCountsPerRad,
                  2147483647.0 / kCountsPerRad},
        RangeCase{"FreezeControl_time up to 65535 periods",
                  {},
                  derive::FreezeControl_time,
                  "FreezeControl_time",
                  0.0,
                  65535 * kTsS_s},
        RangeCase{"Vbrake up to the measurable voltage", {}, derive::Vbrake, "Vbrake", 1.0, 73.0},
        RangeCase{"flags from 0 to 1", {}, derive::isOverVoltage, "isOverVoltage", 0.0, 1.0},
        RangeCase{"ControlMode from 0 to 2", {}, derive::ControlMode, "ControlMode", 0.0, 2.0},
        RangeCase{"SPI_freq over the EnDat clocks",
                  {},
                  derive::SPI_freq,
                  "SPI_freq",
                  100000.0,
                  2000000.0},
        RangeCase{"gains from 0 to 16384", {}, derive::Kd_P_scl, "Kd_P_scl", 0.0, 16384.0},
        RangeCase{"KFFA_scl from 0 to 2^22", {}, derive::KFFA_scl, "KFFA_scl", 0.0, 4194304.0},
        // The analogue reference steps apply the limit rules of their targets first.
        RangeCase{"DeadBand_Point by its rule",
                  {},
                  derive::DeadBand_Point,
                  "DeadBand_Point",
                  -10.0,
                  10.0},
        RangeCase{
            "DeadBand_Range by its rule", {}, derive::DeadBand_Range, "DeadBand_Range", 0.0, 20.0},
        RangeCase{"POS_min by its rule",
                  {},
                  derive::POS_min,
                  "POS_min",
                  -32767.0 / kCountsPerRad,
                  19000.853515625 / kCountsPerRad},
        RangeCase{"POS_max by its rule",
                  {},
                  derive::POS_max,
                  "POS_max",
                  -19000.0 / kCountsPerRad,
                  32767.0 / kCountsPerRad},
        RangeCase{"SPD_min by its rule",
                  {},
                  derive::SPD_min,
                  "SPD_min",
                  -25033.0 / kSpeedUnitsPerRadS,
                  19000.853515625 / kSpeedUnitsPerRadS},
        RangeCase{"SPD_max by its rule",
                  {},
                  derive::SPD_max,
                  "SPD_max",
                  -19000.0 / kSpeedUnitsPerRadS,
                  25033.0 / kSpeedUnitsPerRadS},
        RangeCase{"CRT_min keeps its range", {}, derive::CRT_min, "CRT_min", -kFarRange, kFarRange},
        RangeCase{"CRT_max by its rule",
                  {},
                  derive::CRT_max,
                  "CRT_max",
                  -19000.0 / kCountsPerAmpere,
                  10.0}));

class DeriveFailedRanges : public Derivation, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(DeriveFailedRanges, LeaveTheTargetUnchanged) {
    const RangeCase& row = GetParam();
    ASSERT_TRUE(row.step(*setup_)) << row.label;
    const double derived = Base(row.target);
    PutSentinel(row.target, derived);
    const double sentinel = Internal(row.target);
    for (const Input& input : row.inputs) {
        Force(input.name, input.value);
    }
    EXPECT_FALSE(row.step(*setup_)) << row.label;
    EXPECT_EQ(Internal(row.target), sentinel) << row.label;
}

INSTANTIATE_TEST_SUITE_P(
    LowAboveHigh, DeriveFailedRanges,
    ::testing::Values(
        RangeCase{"InPS above ImaxPS", {{"InPS", 20.0}}, derive::I_I2t_D, "I_I2t_D", 0, 0},
        RangeCase{"1.1 In above ImaxM", {{"In", 9.5}}, derive::I_I2t_M, "I_I2t_M", 0, 0},
        RangeCase{
            "negative torque constant", {{"K", -0.1}}, derive::Limit_Speed, "Limit_Speed", 0, 0},
        RangeCase{
            "negative torque constant", {{"K", -0.1}}, derive::TestMaxSpeed, "TestMaxSpeed", 0, 0},
        RangeCase{"peak current below 1 mA", {{"ImaxM", 0.0005}}, derive::IlimPS, "IlimPS", 0, 0},
        RangeCase{"nominal current below 1 mA",
                  {{"In", -1.0}},
                  derive::OffsetCurrent,
                  "OffsetCurrent",
                  0,
                  0},
        RangeCase{"measurable voltage below 1 V",
                  {{"VdcMaxMeasurable", 0.5}},
                  derive::Vbrake,
                  "Vbrake",
                  0,
                  0}));

// ---------------------------------------------------------------------------------------------
// The driver: optional groups, missing names, zero divisors, and the reference axis.

TEST_F(Derivation, ReferenceAxisIsDerivedWithoutReports) {
    const CollectedErrors errors;
    DeriveUserParameters(*setup_);
    for (const std::string& message : errors.Messages()) {
        ADD_FAILURE() << message;
    }
}

TEST(DerivationOfMinimalAxis, SkipsAbsentOptionalGroupsSilently) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("minimal-axis.json");
    const CollectedErrors errors;
    DeriveUserParameters(*setup);
    for (const std::string& message : errors.Messages()) {
        ADD_FAILURE() << message;
    }
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Ts_S"), kTsS_s);
}

// Every value the derivation writes must be the value the file holds: the example was built from
// the same registers.
TEST_F(Derivation, ReferenceAxisIsSelfConsistent) {
    const CQel_Setup original(*setup_);
    DeriveUserParameters(*setup_);
    ASSERT_EQ(setup_->GetParameterCount(), original.GetParameterCount());
    for (std::size_t i = 0; i < original.GetParameterCount(); ++i) {
        const CQel_Parameter& before = original.GetParameterAt(i);
        const CQel_Parameter& after = setup_->GetParameterAt(i);
        EXPECT_NEAR(after.GetValueInInternalUnit(), before.GetValueInInternalUnit(),
                    std::fabs(before.GetValueInInternalUnit()) * 1e-9)
            << before.GetName() << " (internal units)";
    }
}

// The driver runs every step: a target spoiled beforehand gets the file's value back.
class DeriveEveryTarget : public Derivation, public ::testing::WithParamInterface<const char*> {};

TEST_P(DeriveEveryTarget, IsRebuiltFromTheRegisters) {
    const char* target = GetParam();
    const double file = Internal(target);
    PutSentinel(target, Base(target));
    DeriveUserParameters(*setup_);
    EXPECT_NEAR(Internal(target), file, std::fabs(file) * 1e-9) << target;
}

// Every target but No_Bits_Turns, which a single-turn encoder leaves alone.
INSTANTIATE_TEST_SUITE_P(
    ReferenceAxis, DeriveEveryTarget,
    ::testing::Values(
        "pp", "isMultiTurn", "SPI_freq", "isReverseCounting", "No_encoder_lines",
        "isMotorTemperatureSensor", "Motor_TempSensor_Type", "PWM_freq", "PWMperiod", "Ts_C",
        "Ts_S", "PosSpd_in_FastLoop", "isDriveTemperatureSensor", "isOverVoltage", "isUnderVoltage",
        "isDriveOverTemp", "isDriveI2t", "UMAX_PROT", "UMIN_PROT", "Temp_2", "I_I2t_D", "t_I2t_D",
        "ControlMode", "ExternalReference", "IsAutoActivatedAfterPowerOn", "Axis_ID_list", "IlimPS",
        "Kp_C_scl", "Ki_C_scl", "TestCurrent", "TestProtectionCurrent",
        "isUseFilterOnCrtCtrlOutput", "FilterOnCurrentControllerOutput",
        "isCompensateGravitationalLoads", "OffsetCurrent", "Kp_S_scl", "Ki_S_scl", "IPSatS",
        "KFFA_scl", "TestLimitCurrent", "TestStartCurrent", "Jload_over_J", "Kp_P_scl", "Ki_P_scl",
        "Kd_P_scl", "Kp_T_scl", "Ki_T_scl", "filter_D", "IPSatP", "Limit_Speed", "TestMaxSpeed",
        "KFFS_scl", "isOverCurrent", "Imax_Prot", "time_Imax_Prot", "isPositionControlError",
        "ERR_position", "time_ERR_pos", "isSpeedControlError", "ERR_speed", "time_ERR_spd",
        "isMotorOverTemp", "isMotori2t", "I_I2t_M", "t_I2t_M", "isBrakeResistor", "Vbrake",
        "EnablePolarity", "LSPPolarity", "LSNPolarity", "isSWLS", "Negative_SWLS", "Positive_SWLS",
        "isSpeedEstimator", "StartMode", "StartCurrent", "time_AB", "isAnalogueReference",
        "DigitalReferenceType", "isLimitMaximum", "ErefMaxSpeed", "ErefMaxAcceleration",
        "DeadBand_Point", "DeadBand_Range", "UseFilter", "filter", "POS_min", "POS_max", "SPD_min",
        "SPD_max", "CRT_min", "CRT_max", "save_CAN_baudrate", "save_axis_id", "isMotorBrake",
        "MotorBrake_output", "MotorBrake_releasetime", "MotorBrake_applytime", "SpeedForward",
        "isFilterEnc", "isFreezeControl", "FreezeControl_errband", "FreezeControl_time",
        "InputsPolarityType", "ReverseCounting"));

struct MissingCase {
    const char* name;
    std::vector<const char*> skipped;
    friend std::ostream& operator<<(std::ostream& out, const MissingCase& row) {
        return out << "without " << row.name;
    }
};

class DeriveMissingName : public Derivation, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(DeriveMissingName, SkipsOnlyItsOwnStepsAndIsReported) {
    const MissingCase& row = GetParam();
    DeriveUserParameters(*setup_);
    const CQel_Setup derived(*setup_);
    // Targets that cannot be derived keep what they hold; witnesses early and late in the order
    // are derived again.
    const std::vector<const char*> witnesses = {"Ts_S", "Kp_P_scl", "FreezeControl_time"};
    for (const char* target : row.skipped) {
        PutSentinel(target, derived.GetParameterValueInBaseUnit(target));
    }
    for (const char* witness : witnesses) {
        PutSentinel(witness, derived.GetParameterValueInBaseUnit(witness));
    }
    std::vector<double> sentinels;
    for (const char* target : row.skipped) {
        sentinels.push_back(Internal(target));
    }
    ASSERT_TRUE(setup_->RemoveParameter(row.name));

    const CollectedErrors errors;
    DeriveUserParameters(*setup_);

    for (std::size_t i = 0; i < row.skipped.size(); ++i) {
        EXPECT_EQ(Internal(row.skipped[i]), sentinels[i]) << row.skipped[i];
    }
    for (const char* witness : witnesses) {
        EXPECT_EQ(Base(witness), derived.GetParameterValueInBaseUnit(witness)) << witness;
    }
    ASSERT_FALSE(errors.Messages().empty());
    for (const std::string& message : errors.Messages()) {
        EXPECT_NE(message.find(row.name), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MandatoryNames, DeriveMissingName,
    ::testing::Values(
        MissingCase{"SATP", {"IPSatP", "Limit_Speed", "TestLimitCurrent"}},
        MissingCase{"Jm", {"Jload_over_J"}},
        MissingCase{"REFTST", {"TestStartCurrent", "StartCurrent"}},
        MissingCase{"SFI2T_M", {"t_I2t_M"}},
        MissingCase{"PCR",
                    {"isOverVoltage", "isUnderVoltage", "isDriveOverTemp", "isDriveI2t",
                     "isOverCurrent", "isMotorOverTemp", "isMotori2t"}},
        MissingCase{"AnalogueInputsRange", {"DeadBand_Point", "DeadBand_Range"}},
        MissingCase{"AD5OFF", {"POS_min", "POS_max", "SPD_min", "SPD_max", "CRT_min", "CRT_max"}}));

class DeriveZeroDivisor : public Derivation, public ::testing::WithParamInterface<Input> {};

TEST_P(DeriveZeroDivisor, LeavesNothingNonFiniteInTheSetup) {
    const Input& input = GetParam();
    const CollectedErrors errors;
    Force(input.name, input.value);
    DeriveUserParameters(*setup_);
    for (std::size_t i = 0; i < setup_->GetParameterCount(); ++i) {
        const CQel_Parameter& parameter = setup_->GetParameterAt(i);
        EXPECT_TRUE(std::isfinite(parameter.GetValueInInternalUnit())) << parameter.GetName();
        EXPECT_TRUE(std::isfinite(parameter.GetMinInBaseUnit())) << parameter.GetName();
        EXPECT_TRUE(std::isfinite(parameter.GetMaxInBaseUnit())) << parameter.GetName();
    }
}

// Each input makes some step divide by zero; a saturation of 32767 is a current limit of 0.
INSTANTIATE_TEST_SUITE_P(Inputs, DeriveZeroDivisor,
                         ::testing::Values(Input{"Jm", 0}, Input{"SFI2T_D", 0}, Input{"SFI2T_M", 0},
                                           Input{"K", 0}, Input{"DSP_freq", 0}, Input{"PWMPER", 0},
                                           Input{"MECRESL", 0}, Input{"ImaxPS", 0},
                                           Input{"DriveTempSensorGain", 0},
                                           Input{"VdcMaxMeasurable", 0}, Input{"In", 0},
                                           Input{"SATS", 32767}, Input{"SATP", 32767},
                                           Input{"Load_transmission", 0}));

TEST_F(Derivation, ZeroMotorInertiaLeavesTheRatio) {
    const CollectedErrors errors;
    Force("Jm", 0.0);
    const double before = Base("Jload_over_J");
    EXPECT_FALSE(derive::Jload_over_J(*setup_));
    EXPECT_EQ(Base("Jload_over_J"), before);
}

}  // namespace
