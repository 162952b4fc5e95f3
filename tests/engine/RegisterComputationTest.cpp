#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/RegisterComputation.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

namespace {

using Step = bool (*)(CQel_Setup&);

// The reference axis: 10-bit converter in 16 bits (65472) for 16.5 A, 73 V measurable, 48 V bus,
// 1024 lines with 8 interpolation bits, Ts_S 0.5 ms, dead time 40 clocks x 50 % at 40 MHz.
constexpr double kCurrentScale = 65472.0 / 33.0;
constexpr double kVoltageScale = 65534.0 / (1.1 * 48.0);
constexpr double kPositionScale = 1024.0 * 2.0 * 256.0 / std::numbers::pi;
constexpr double kSpeedScale = 0.0005 * kPositionScale;
constexpr double kDeadTime_s = 40.0 * 0.5 / 40e6;

struct Setting {
    const char* name;
    double value;
    bool internal = false;
};

// A value the setup should hold afterwards; registers are whole numbers, so computed values are
// checked to within half a count, bit fields exactly.
struct Expected {
    const char* name;
    double value;
    double tolerance = 0.0;
};

struct RegisterCase {
    const char* label;
    std::vector<Step> steps;
    std::vector<Setting> before;
    std::vector<Expected> after;
    std::vector<const char*> removed = {};
    bool written = true;
    const char* negativeTransmissionOption = "1";
    friend std::ostream& operator<<(std::ostream& out, const RegisterCase& row) {
        return out << row.label;
    }
};

CQel_Parameter& Parameter(CQel_Setup& setup, const char* name) {
    CQel_Parameter* parameter = setup.FindParameter(name);
    if (parameter == nullptr) {
        throw std::runtime_error(std::string("no parameter ") + name);
    }
    return *parameter;
}

// Sets a value with the range opened, so that a row can hold any value a register may hold.
void Put(CQel_Setup& setup, const Setting& setting) {
    CQel_Parameter& parameter = Parameter(setup, setting.name);
    parameter.SetMinInBaseUnit(-1e300);
    parameter.SetMaxInBaseUnit(1e300);
    const bool stored = setting.internal ? parameter.SetValueInInternalUnit(setting.value)
                                         : parameter.SetValueInBaseUnit(setting.value);
    ASSERT_TRUE(stored) << setting.name;
}

std::string Joined(const std::vector<std::string>& messages) {
    std::string text;
    for (const std::string& message : messages) {
        text += message + "\n";
    }
    return text;
}

class RegisterRows : public ::testing::TestWithParam<RegisterCase> {};

TEST_P(RegisterRows, WriteTheRegistersFromTheirParameters) {
    const RegisterCase& row = GetParam();
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    for (const char* name : row.removed) {
        ASSERT_TRUE(setup->RemoveParameter(name)) << name;
    }
    setup->SetOption("hasNegTransmission", row.negativeTransmissionOption);
    for (const Setting& setting : row.before) {
        Put(*setup, setting);
    }
    const CollectedErrors errors;
    for (const Step step : row.steps) {
        EXPECT_EQ(step(*setup), row.written);
    }
    for (const Expected& expected : row.after) {
        const double actual = Parameter(*setup, expected.name).GetValueInBaseUnit();
        EXPECT_NEAR(actual, expected.value, expected.tolerance)
            << expected.name << ": expected " << expected.value << " (0x" << std::hex
            << static_cast<long long>(expected.value) << "), got " << std::dec << actual;
    }
    if (row.written) {
        EXPECT_EQ(errors.Messages().size(), 0u) << Joined(errors.Messages());
    }
}

std::string Label(const ::testing::TestParamInfo<RegisterCase>& info) {
    return info.param.label;
}

// A bit-field register with the parameters it is written from, in the order of a row's values.
struct BitRegister {
    Step step;
    const char* name;
    std::vector<const char*> flags;
};

const BitRegister kScr{
    compute::SCR,
    "SCR",
    {"isMotorTemperatureSensor", "isDriveTemperatureSensor", "isSpeedEstimator"}};
const BitRegister kOsr{compute::OSR, "OSR", {"isBrakeResistor", "isEnDatEncoder", "StartMode"}};
const BitRegister kAsr{compute::ASR, "ASR", {"isSWLS", "InputsPolarityType", "Motor_transmission"}};
const BitRegister kPcr{compute::PCR,
                       "PCR",
                       {"isDriveI2t", "isUnderVoltage", "isOverVoltage", "isDriveOverTemp",
                        "isMotorOverTemp", "isMotori2t", "isOverCurrent"}};
const BitRegister kAcr{
    compute::ACR,
    "ACR",
    {"IsAutoActivatedAfterPowerOn", "isAnalogueReference", "DigitalReferenceType",
     "PositionControlType", "ControlMode", "ExternalReference", "SpeedForward", "isFreezeControl"}};
const BitRegister kDigin{compute::DIGIN_ACTIVE_LEVEL,
                         "DIGIN_ACTIVE_LEVEL",
                         {"EnablePolarity", "LSNPolarity", "LSPPolarity"}};
const BitRegister kUpgrade{compute::UPGRADE, "UPGRADE", {"isLimitMaximum", "PosSpd_in_FastLoop"}};
const BitRegister kLss{compute::LSS_Active, "LSS_Active", {"save_CAN_baudrate", "save_axis_id"}};
const BitRegister kBrake{compute::BRAKECFG, "BRAKECFG", {"isMotorBrake", "MotorBrake_output"}};

// The register before, its parameters' values (the first ones of its list), the register after.
RegisterCase Bits(const char* label, const BitRegister& bitRegister, double before,
                  std::vector<double> values, double after, std::vector<const char*> removed = {},
                  bool written = true, const char* negativeTransmissionOption = "1") {
    RegisterCase row{label,
                     {bitRegister.step},
                     {{bitRegister.name, before}},
                     {{bitRegister.name, after}},
                     std::move(removed),
                     written,
                     negativeTransmissionOption};
    for (std::size_t i = 0; i < values.size(); ++i) {
        row.before.push_back({bitRegister.flags[i], values[i]});
    }
    return row;
}

// Every named bit in both states, the bits each register keeps, drops or forces.
INSTANTIATE_TEST_SUITE_P(
    BitFields, RegisterRows,
    ::testing::Values(
        Bits("ScrForcesBit13", kScr, 0, {0, 0, 0}, 0x2000),
        Bits("ScrMotorSensor", kScr, 0, {1, 0, 0}, 0x2080),
        Bits("ScrDriveSensor", kScr, 0, {0, 1, 0}, 0x2100),
        Bits("ScrEstimatorSetsBits4And5ClearsBit3", kScr, 0x08, {0, 0, 1}, 0x2030),
        Bits("ScrAllOffKeepsTheOtherBits", kScr, 0xFFFF, {0, 0, 0}, 0xAE47),
        Bits("ScrAllOn", kScr, 0xFFFF, {1, 1, 1}, 0xAFF7),
        Bits("ScrDropsBitsAbove15", kScr, 0x1F000, {0, 0, 0}, 0xA000),
        Bits("ScrWithoutEstimatorKeepsBits3To5", kScr, 0x28, {0, 0}, 0x2028, {"isSpeedEstimator"}),
        Bits("OsrMovingStart", kOsr, 0, {0, 0, 0}, 0x04),
        Bits("OsrBrakeResistor", kOsr, 0, {1, 0, 0}, 0x204),
        Bits("OsrMotionlessStart", kOsr, 0, {0, 0, 1}, 0x14),
        Bits("OsrEnDatStartWins", kOsr, 0, {0, 1, 1}, 0x1C),
        Bits("OsrKeepsTheOtherBits", kOsr, 0xFFFF, {0, 0, 0}, 0xFDE7),
        Bits("OsrIsSixteenBits", kOsr, 0x3001C, {0, 0, 0}, 0x04),
        Bits("AsrSoftwareLimitSwitches", kAsr, 0, {1, 1, 1}, 0x1000),
        Bits("AsrPolarityType0SetsBit2", kAsr, 0, {0, 0, 1}, 0x04),
        Bits("AsrKeepsTheOtherBits", kAsr, 0xFFFF, {0, 1, 1}, 0xEF7B),
        Bits("AsrReversedLoad", kAsr, 0, {0, 1, -1}, 0x80),
        Bits("AsrReversedLoadNeedsTheOption", kAsr, 0x80, {0, 1, -1}, 0, {}, true, "0"),
        Bits("AsrWithoutOptionalFlagsKeepsBits2And12", kAsr, 0x1004, {}, 0x1004,
             {"isSWLS", "InputsPolarityType"}),
        Bits("PcrKeepsBit6AndTheUpperByte", kPcr, 0x1FFFF, {0, 0, 0, 0, 0, 0, 0}, 0xFF40),
        Bits("PcrEveryProtection", kPcr, 0, {1, 1, 1, 1, 1, 1, 1}, 0xBF),
        Bits("PcrDriveI2t", kPcr, 0, {1, 0, 0, 0, 0, 0, 0}, 0x80),
        Bits("PcrOverVoltageAndOverCurrent", kPcr, 0, {0, 0, 1, 0, 0, 0, 1}, 0x11),
        Bits("PcrMotorProtections", kPcr, 0, {0, 1, 0, 1, 1, 1, 0}, 0x2E),
        // ACR rows start from torque control with every option off.
        Bits("AcrTorque", kAcr, 0, {0, 0, 1, 1, 2, 0, 0, 0}, 0x100),
        Bits("AcrSpeed", kAcr, 0, {0, 0, 1, 1, 1, 0, 0, 0}, 0x300),
        Bits("AcrPositionThroughSpeedLoop", kAcr, 0, {0, 0, 1, 1, 0, 0, 0, 0}, 0x700),
        Bits("AcrPositionDirect", kAcr, 0, {0, 0, 1, 0, 0, 0, 0, 0}, 0x500),
        Bits("AcrAutoActivated", kAcr, 0, {1, 0, 1, 1, 2, 0, 0, 0}, 0x102),
        Bits("AcrAnalogueReference", kAcr, 0x80, {0, 1, 1, 1, 2, 1, 0, 0}, 0x140),
        Bits("AcrDigitalReferenceType0", kAcr, 0x40, {0, 0, 0, 1, 2, 1, 0, 0}, 0x184),
        Bits("AcrDigitalReferenceType1", kAcr, 0x04, {0, 0, 1, 1, 2, 1, 0, 0}, 0x180),
        Bits("AcrInternalReferenceKeepsBit2", kAcr, 0xC4, {0, 0, 1, 1, 2, 0, 0, 0}, 0x104),
        Bits("AcrSpeedForward", kAcr, 0, {0, 0, 1, 1, 2, 0, 1, 0}, 0x4100),
        Bits("AcrFreezeControl", kAcr, 0, {0, 0, 1, 1, 2, 0, 0, 1}, 0x110),
        Bits("AcrKeepsTheOtherBits", kAcr, 0x1FFFF, {0, 0, 1, 1, 2, 0, 0, 0}, 0xB92D),
        Bits("AcrWithoutSpeedForwardClearsBit14", kAcr, 0x4000, {0, 0, 1, 1, 2, 0}, 0x100,
             {"SpeedForward", "POSOKLIM_FC"}),
        Bits("AcrWithoutFreezeControlKeepsBit4", kAcr, 0x10, {0, 0, 1, 1, 2, 0, 0}, 0x110,
             {"POSOKLIM_FC"}),
        Bits("AcrUnknownControlModeChangesNothing", kAcr, 0x1234, {0, 0, 1, 1, 3, 0, 0, 0}, 0x1234,
             {}, false),
        Bits("DiginEnable", kDigin, 0, {1, 0, 0}, 0x8000),
        Bits("DiginNegativeLimit", kDigin, 0, {0, 1, 0}, 0x4000),
        Bits("DiginPositiveLimit", kDigin, 0, {0, 0, 1}, 0x2000),
        Bits("DiginEnableOffClearsTheBitsAbove", kDigin, 0x3FFFF, {0, 0, 0}, 0x1FFF),
        Bits("DiginEnableOnKeepsTheBitsAbove", kDigin, 0x30000, {1, 1, 1}, 0x3E000),
        Bits("UpgradeLimitMaximum", kUpgrade, 0, {1, 0}, 0x04),
        Bits("UpgradeFastLoop", kUpgrade, 0, {0, 1}, 0x40),
        Bits("UpgradeClearsBit15KeepsTheOthers", kUpgrade, 0x1FFFF, {0, 0}, 0x7FBB),
        Bits("UpgradeWithoutFastLoopKeepsBit6", kUpgrade, 0x40, {0}, 0x40, {"PosSpd_in_FastLoop"}),
        Bits("LssSavesBothWithNoOtherBits", kLss, 0xFFFF, {1, 1}, 0),
        Bits("LssAxisIdUnsaved", kLss, 0, {1, 0}, 1),
        Bits("LssBaudrateUnsaved", kLss, 0, {0, 1}, 2),
        // Ports 2 and 3 are pins 27 and 28 of the reference drive; it has no port 9.
        Bits("BrakeOnPort2", kBrake, 0, {1, 2}, 27 << 8 | 1),
        Bits("BrakeOffPort3", kBrake, 0xFFFF, {0, 3}, 28 << 8),
        Bits("BrakeOnAMissingPortChangesNothing", kBrake, 1234, {1, 9}, 1234, {}, false)),
    Label);

INSTANTIATE_TEST_SUITE_P(
    Signs, RegisterRows,
    ::testing::Values(RegisterCase{"TransmissionReversed",
                                   {compute::TRANSMISSION},
                                   {{"Motor_transmission", -2}},
                                   {{"TRANSMISSION", -1}}},
                      RegisterCase{"TransmissionForward",
                                   {compute::TRANSMISSION},
                                   {{"TRANSMISSION", -1}},
                                   {{"TRANSMISSION", 1}}},
                      RegisterCase{"CountingReversed",
                                   {compute::COUNTINGDIR},
                                   {{"ReverseCounting", 1}},
                                   {{"COUNTINGDIR", 1}}},
                      RegisterCase{"CountingForward",
                                   {compute::COUNTINGDIR},
                                   {{"COUNTINGDIR", 1}, {"ReverseCounting", 0}},
                                   {{"COUNTINGDIR", 0}}},
                      RegisterCase{"EndatSenseReversed",
                                   {compute::ENDAT_SENSE},
                                   {{"isReverseCounting", 1}},
                                   {{"ENDAT_SENSE", -1}}},
                      RegisterCase{"EndatSenseForward",
                                   {compute::ENDAT_SENSE},
                                   {{"ENDAT_SENSE", -1}, {"isReverseCounting", 0}},
                                   {{"ENDAT_SENSE", 1}}}),
    Label);

// Qualification length n (QUAL_ACT bits 16 to 23) and sampling pattern b (QUAL_AQ2) by
// FilterEncValue, over registers with every bit set.
RegisterCase Qualification(const char* label, double value, long long n, long long b) {
    return {label,
            {compute::QUAL},
            {{"QUAL", 0},
             {"QUAL_ACT", 0xFFFFFFFF},
             {"QUAL_AQ2", 0xFFFFFFFF},
             {"isFilterEnc", 1},
             {"FilterEncValue", value}},
            {{"QUAL", 1},
             {"QUAL_ACT", static_cast<double>(0xFF00FFFFLL | n << 16)},
             {"QUAL_AQ2", static_cast<double>(0xFFFF30FFLL | b)}}};
}

INSTANTIATE_TEST_SUITE_P(
    EncoderFilter, RegisterRows,
    ::testing::Values(
        Qualification("Filter0", 0, 0, 0x4500), Qualification("Filter1", 1, 0, 0x8A00),
        Qualification("Filter2", 2, 1, 0x8A00), Qualification("Filter3", 3, 3, 0x4500),
        Qualification("Filter4", 4, 2, 0x8A00), Qualification("Filter5", 5, 5, 0x4500),
        Qualification("Filter6", 6, 3, 0x8A00), Qualification("Filter7", 7, 7, 0x4500),
        Qualification("Filter8", 8, 4, 0x8A00), Qualification("Filter9", 9, 9, 0x4500),
        Qualification("Filter10", 10, 5, 0x8A00), Qualification("Filter11", 11, 11, 0x4500),
        Qualification("Filter12", 12, 6, 0x8A00), Qualification("Filter13IsNone", 13, 0, 0),
        Qualification("FilterNegativeIsNone", -1, 0, 0),
        RegisterCase{"FilterOffLeavesTheFields",
                     {compute::QUAL},
                     {{"QUAL", 1},
                      {"QUAL_ACT", 0x123456},
                      {"QUAL_AQ2", 0x7777},
                      {"isFilterEnc", 0},
                      {"FilterEncValue", 5}},
                     {{"QUAL", 0}, {"QUAL_ACT", 0x123456}, {"QUAL_AQ2", 0x7777}}}),
    Label);

RegisterCase Endat(const char* label, double frequency_Hz, double code) {
    return {label, {compute::ENDAT_BR}, {{"SPI_freq", frequency_Hz}}, {{"ENDAT_BR", code}}};
}

INSTANTIATE_TEST_SUITE_P(
    EndatClock, RegisterRows,
    ::testing::Values(Endat("Endat2000kHz", 2e6, 19), Endat("Endat1750kHz", 1.75e6, 23),
                      Endat("Endat1500kHz", 1.5e6, 26), Endat("Endat1250kHz", 1.25e6, 31),
                      Endat("Endat1000kHz", 1e6, 39), Endat("Endat750kHz", 7.5e5, 52),
                      Endat("Endat500kHz", 5e5, 79), Endat("Endat250kHz", 2.5e5, 159),
                      Endat("Endat100kHz", 1e5, 399), Endat("Endat1200kHzIsNoClock", 1.2e6, 0)),
    Label);

RegisterCase Formula(const char* label, std::vector<Step> steps, std::vector<Setting> before,
                     std::vector<Expected> after, std::vector<const char*> removed = {}) {
    for (Expected& expected : after) {
        expected.tolerance = expected.tolerance == 0.0 ? 0.5 : expected.tolerance;
    }
    return {label, std::move(steps), std::move(before), std::move(after), std::move(removed)};
}

// The branches the reference axis does not take, within half a count (the registers hold whole
// numbers), so that a truncation where the value is rounded, or the reverse, shows.
INSTANTIATE_TEST_SUITE_P(
    Formulas, RegisterRows,
    ::testing::Values(
        Formula("PwmSaturationLeavesTheMeasurementWindow", {compute::SATPWM},
                {{"CurrentMeasurementType", 1}, {"PWM_freq", 10000}}, {{"SATPWM", 1310.7}}),
        Formula("PwmSaturationWithoutWindow", {compute::SATPWM}, {{"CurrentMeasurementType", 0}},
                {{"SATPWM", 0}}),
        Formula("MultiTurnBits", {compute::ENDAT_NO_REV},
                {{"isMultiTurn", 1}, {"No_Bits_Turns", 12}}, {{"ENDAT_NO_REV", 12}}),
        Formula("SingleTurn", {compute::ENDAT_NO_REV}, {{"isMultiTurn", 0}, {"No_Bits_Turns", 12}},
                {{"ENDAT_NO_REV", 0}}),
        Formula("EndatResolution1025Lines", {compute::ENDAT_RES}, {{"No_encoder_lines", 1025}},
                {{"ENDAT_RES", 13}}),
        Formula("EndatResolutionExactAt2To29", {compute::ENDAT_RES},
                {{"No_encoder_lines", 134217728}}, {{"ENDAT_RES", 29}}),
        Formula("NoAxisId", {compute::AAR_table}, {{"Axis_ID_list", 0}}, {{"AAR_table", 0}}),
        Formula("CurrentFilterTruncated", {compute::FILTERQ},
                {{"isUseFilterOnCrtCtrlOutput", 1}, {"FilterOnCurrentControllerOutput", 4000}},
                {{"FILTERQ", 5939, 1e-9}}),
        Formula("CurrentFilterOff", {compute::FILTERQ}, {{"isUseFilterOnCrtCtrlOutput", 0}},
                {{"FILTERQ", 32767}}),
        Formula("GravityCompensation", {compute::FFL},
                {{"OffsetCurrent", 1.0}, {"isCompensateGravitationalLoads", 1}},
                {{"FFL", kCurrentScale}}),
        Formula("NoGravityCompensation", {compute::FFL},
                {{"OffsetCurrent", 1.0}, {"isCompensateGravitationalLoads", 0}}, {{"FFL", 0}}),
        Formula("FixedFullScaleRegisters", {compute::KFFL, compute::T1MAXPROT},
                {{"KFFL", 0}, {"T1MAXPROT", 0}}, {{"KFFL", 32767}, {"T1MAXPROT", 32767}}),
        Formula("OverVoltageTruncated", {compute::UMAXPROT}, {{"UMAX_PROT", 60}},
                {{"UMAXPROT", 53812, 1e-9}}),
        Formula("UnderVoltageRounded", {compute::UMINPROT}, {{"UMIN_PROT", 20}},
                {{"UMINPROT", 17938, 1e-9}}),
        // The times count periods of the setup's Ts_S.
        Formula("ControlErrorsOn",
                {compute::ERRMAX, compute::TERRMAX, compute::SERRMAX, compute::TSERRMAX},
                {{"Ts_S", 0.001},
                 {"ERR_position", 0.1},
                 {"time_ERR_pos", 0.05},
                 {"isPositionControlError", 1},
                 {"ERR_speed", 100},
                 {"time_ERR_spd", 0.2},
                 {"isSpeedControlError", 1}},
                {{"ERRMAX", 0.1 * kPositionScale},
                 {"TERRMAX", 50},
                 {"SERRMAX", 100 * kSpeedScale},
                 {"TSERRMAX", 200}}),
        Formula("ControlErrorsOff", {compute::TERRMAX, compute::TSERRMAX},
                {{"isPositionControlError", 0}, {"isSpeedControlError", 0}},
                {{"TERRMAX", 65535}, {"TSERRMAX", 65535}}),
        Formula("PositionDirectSaturation", {compute::IMAXP, compute::SATP},
                {{"ControlMode", 0},
                 {"PositionControlType", 0},
                 {"IPSatP", 50},
                 {"Limit_Speed", 20000, true},
                 {"IlimPS", 10000, true}},
                {{"IMAXP", 27767}, {"SATP", 22767}}),
        Formula("SpeedModeSaturation", {compute::IMAXP, compute::SATP},
                {{"ControlMode", 1},
                 {"PositionControlType", 1},
                 {"IPSatP", 50},
                 {"Limit_Speed", 20000, true},
                 {"IlimPS", 10000, true}},
                {{"IMAXP", 27767}, {"SATP", 22767}}),
        Formula("AccelerationFeedForwardLargeShift",
                {compute::SFTAFFW, compute::SFTKFF, compute::KFFA}, {{"KFFA_scl", 10000}},
                {{"SFTAFFW", 11}, {"SFTKFF", 3}, {"KFFA", 10000 * 32767.0 / 16384}}),
        Formula("AccelerationFeedForwardSmallShift",
                {compute::SFTAFFW, compute::SFTKFF, compute::KFFA}, {{"KFFA_scl", 100}},
                {{"SFTAFFW", 7}, {"SFTKFF", 0}, {"KFFA", 100 * 32767.0 / 128}}),
        Formula("AccelerationFeedForwardBelowOne",
                {compute::SFTAFFW, compute::SFTKFF, compute::KFFA}, {{"KFFA_scl", 0.5}},
                {{"SFTAFFW", 0}, {"SFTKFF", 0}, {"KFFA", 16383.5}}),
        Formula("PhaseTestTimeInHundredths", {compute::T1ONA, compute::T1ONB},
                {{"UPGRADE", 0x200}, {"time_AB", 0.5}}, {{"T1ONA", 50}, {"T1ONB", 50}}),
        Formula("PhaseTestTimeInFine", {compute::T1ONA, compute::T1ONB},
                {{"UPGRADE", 0}, {"time_AB", 0.5}}, {{"T1ONA", 32767.5}, {"T1ONB", 32767.5}}),
        Formula("GearRatio", {compute::GEAR}, {{"GEARSLAVE", 3}, {"GEARMASTER", 2}},
                {{"GEAR", 1.5, 1e-12}}),
        Formula("StarStartVoltage", {compute::REFTST, compute::RINCTST},
                {{"StartCurrent", 50},
                 {"In", 3.5},
                 {"R", 1.2},
                 {"PWM_freq", 20000},
                 {"MotorPhaseConnectionType", 0}},
                {{"REFTST", kVoltageScale*(2.1 + 20000 * kDeadTime_s * 48)},
                 {"RINCTST", kVoltageScale*(2.1 + 20000 * kDeadTime_s * 48)}}),
        Formula("DeltaStartVoltage", {compute::REFTST, compute::RINCTST},
                {{"StartCurrent", 50},
                 {"In", 3.5},
                 {"R", 1.2},
                 {"PWM_freq", 20000},
                 {"MotorPhaseConnectionType", 1}},
                {{"REFTST", kVoltageScale*(0.7 + 20000 * kDeadTime_s * 48)},
                 {"RINCTST", kVoltageScale*(0.7 + 20000 * kDeadTime_s * 48)}}),
        Formula("BrakeDelays", {compute::BRAKEAPPLYDELAY, compute::BRAKERELEASEDELAY},
                {{"MotorBrake_applytime", 0.05}, {"MotorBrake_releasetime", 0.1}},
                {{"BRAKEAPPLYDELAY", 100}, {"BRAKERELEASEDELAY", 200}}),
        Formula("DeadBandOfAUnipolarInput", {compute::LEVEL_AD5, compute::E_LEVEL_AD5},
                {{"AnalogueInputsRange", 10}, {"DeadBand_Point", 2}, {"DeadBand_Range", 0.1}},
                {{"LEVEL_AD5", 13094.4}, {"E_LEVEL_AD5", 654.72}}),
        Formula("ReferenceFilterOff", {compute::FILTER1}, {{"UseFilter", 0}}, {{"FILTER1", 32767}}),
        Formula("MinimalMoveByDefault60Percent", {compute::ABSTART_MINMOVE}, {},
                {{"ABSTART_MINMOVE", 256 * 4096 / 3.0 / 3 * 0.6}}, {"ABSTART_MINMOVE_PERCENT"}),
        Formula("MinimalMoveFromThePercent", {compute::ABSTART_MINMOVE},
                {{"ABSTART_MINMOVE_PERCENT", 30}},
                {{"ABSTART_MINMOVE", 256 * 4096 / 3.0 / 3 * 0.3}}),
        Formula("AngleStepWithoutFraction", {compute::ENC2THL}, {},
                {{"ENC2THL", 3.0 * 4294967296.0 / 4096}}, {"ELRES_FRACT"}),
        // 128 lines and 4 pole pairs: 128 counts per electrical turn get 3 interpolation bits.
        // The angle step follows those, not the stale fraction the setup still holds.
        Formula("AngleStepWithTheFractionOfThisRun", {compute::ENC2THL},
                {{"No_encoder_lines", 128}, {"pp", 4}, {"ELRES_FRACT", 0}},
                {{"ENC2THL", 4.0 * 4294967296.0 / (128 * 4 * 8)}}),
        // Limits -10 rad and +20 rad; a reversed transmission swaps the registers.
        Formula("SoftwareLimitsForward", {compute::SWNEGLS, compute::SWPOSLS},
                {{"Negative_SWLS", -10}, {"Positive_SWLS", 20}},
                {{"SWNEGLS", -10 * kPositionScale}, {"SWPOSLS", 20 * kPositionScale}}),
        Formula("SoftwareLimitsReversed", {compute::SWNEGLS, compute::SWPOSLS},
                {{"Motor_transmission", -2 * std::numbers::pi},
                 {"Negative_SWLS", -10},
                 {"Positive_SWLS", 20}},
                {{"SWPOSLS", 10 * kPositionScale}, {"SWNEGLS", -20 * kPositionScale}})),
    Label);

// The analogue reference spans 2 x CADIN x 2^SFTADIN x 65472 / 65536 counts from AD5OFF.
constexpr double kSpanToGain = 0.5 * 65536.0 / 65472.0;

std::vector<Setting> ReferenceSpans(double controlMode, std::vector<Setting> changes = {}) {
    std::vector<Setting> settings = {{"AD5OFF", 123},          {"ControlMode", controlMode},
                                     {"POS_max", 20000, true}, {"POS_min", -20000, true},
                                     {"SPD_max", 60000, true}, {"SPD_min", -40000, true},
                                     {"CRT_max", 30000, true}, {"CRT_min", 0, true}};
    settings.insert(settings.end(), changes.begin(), changes.end());
    return settings;
}

const std::vector<Step> kReferenceSteps = {compute::CADIN, compute::SFTADIN, compute::AD5OFF};

INSTANTIATE_TEST_SUITE_P(
    AnalogueReference, RegisterRows,
    ::testing::Values(
        Formula("PositionSpanWithoutShift", kReferenceSteps, ReferenceSpans(0),
                {{"CADIN", 40000 * kSpanToGain}, {"SFTADIN", 0}, {"AD5OFF", -20000}}),
        Formula("SpeedSpanShifted", kReferenceSteps, ReferenceSpans(1),
                {{"CADIN", 100000 * kSpanToGain / 2}, {"SFTADIN", 1}, {"AD5OFF", -40000}}),
        Formula("TorqueSpan", kReferenceSteps, ReferenceSpans(2),
                {{"CADIN", 30000 * kSpanToGain}, {"SFTADIN", 0}, {"AD5OFF", 0}}),
        // A negative gain is shifted by its magnitude: -50049 does not fit 16 bits.
        Formula("ReversedTransmissionNegatesTheGain", kReferenceSteps,
                ReferenceSpans(1, {{"Motor_transmission", -2 * std::numbers::pi}}),
                {{"CADIN", -100000 * kSpanToGain / 2}, {"SFTADIN", 1}, {"AD5OFF", -40000}}),
        RegisterCase{"OffsetOfAnUnknownModeChangesNothing",
                     {compute::AD5OFF},
                     ReferenceSpans(3),
                     {{"AD5OFF", 123}},
                     {},
                     false}),
    Label);

struct SplitCase {
    double gain, shift, mantissa;
};

class SplitGainRows : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitGainRows, GiveTheShiftThatKeepsTheMantissaFine) {
    const SplitCase& row = GetParam();
    const Q15Gain split = SplitGain(row.gain);
    EXPECT_EQ(split.shift, row.shift) << "gain " << row.gain;
    EXPECT_NEAR(split.mantissa, row.mantissa, 1e-9 * std::max(1.0, row.mantissa))
        << "gain " << row.gain << ": expected " << row.mantissa << ", got " << split.mantissa;
}

INSTANTIATE_TEST_SUITE_P(
    KnownGains, SplitGainRows,
    ::testing::Values(SplitCase{0.5, 0, 16383.5}, SplitCase{3, 2, 24575.25}, SplitCase{4, 2, 32767},
                      SplitCase{1, 0, 32767}, SplitCase{1.0000001, 1, 1.0000001 * 32767 / 2},
                      SplitCase{0, 0, 0}, SplitCase{5, 3, 20479.375},
                      // The smallest gain kept unshifted, and below it gains shifted right so
                      // that the mantissa keeps 15 bits.
                      SplitCase{1024.0 / 32767, 0, 1024}, SplitCase{1023.0 / 32767, -5, 32736},
                      SplitCase{0.0006103701895199438, -10, 0.0006103701895199438 * 32767 * 1024},
                      // The drive shifts right by at most 16 bits: a slow position loop's
                      // integral gain (6.25e-6, held as 0 without a shift) keeps 14 bits, a
                      // smaller gain fewer.
                      SplitCase{6.25e-6, -16, 6.25e-6 * 32767 * 65536},
                      SplitCase{1e-9, -16, 1e-9 * 32767 * 65536},
                      // Powers of two where ln G / ln 2 lands just above the exponent.
                      SplitCase{536870912, 29, 32767}, SplitCase{2147483648, 31, 32767}));

// Each pair splits its own gain into its own registers, the shift before the mantissa.
struct GainPairCase {
    Step shiftStep, mantissaStep;
    const char *gain, *shift, *mantissa;
};

class GainPairs : public ::testing::TestWithParam<GainPairCase> {};

TEST_P(GainPairs, SplitTheirGain) {
    const GainPairCase& row = GetParam();
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    Put(*setup, {row.gain, 3.0});
    EXPECT_TRUE(row.shiftStep(*setup));
    EXPECT_TRUE(row.mantissaStep(*setup));
    EXPECT_EQ(Parameter(*setup, row.shift).GetValueInBaseUnit(), 2) << row.shift;
    EXPECT_EQ(Parameter(*setup, row.mantissa).GetValueInBaseUnit(), 24575) << row.mantissa;
}

INSTANTIATE_TEST_SUITE_P(
    EveryPair, GainPairs,
    ::testing::Values(
        GainPairCase{compute::SFTKPI, compute::KPI, "Kp_C_scl", "SFTKPI", "KPI"},
        GainPairCase{compute::SFTKII, compute::KII, "Ki_C_scl", "SFTKII", "KII"},
        GainPairCase{compute::SFTKPS, compute::KPS, "Kp_S_scl", "SFTKPS", "KPS"},
        GainPairCase{compute::SFTKIS, compute::KIS, "Ki_S_scl", "SFTKIS", "KIS"},
        GainPairCase{compute::SFTKPP, compute::KPP, "Kp_P_scl", "SFTKPP", "KPP"},
        GainPairCase{compute::SFTKIP, compute::KIP, "Ki_P_scl", "SFTKIP", "KIP"},
        GainPairCase{compute::SFTKDP, compute::KDP, "Kd_P_scl", "SFTKDP", "KDP"},
        GainPairCase{compute::SFTKPTHT, compute::KPTHT, "Kp_T_scl", "SFTKPTHT", "KPTHT"},
        GainPairCase{compute::SFTKITHT, compute::KITHT, "Ki_T_scl", "SFTKITHT", "KITHT"},
        GainPairCase{compute::SFTSFFW, compute::KFFS, "KFFS_scl", "SFTSFFW", "KFFS"}));

TEST(AccelerationFeedForwardShift, IsTheTotalShiftOfTheGain) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    Put(*setup, {"KFFA_scl", 10000});
    EXPECT_EQ(ComputeAccelerationFeedForwardShift(*setup), 14);
}

// ELRES_FRACT and the minimum of SINCOS_fract by encoder lines and pole pairs.
struct ResolutionCase {
    double lines, polePairs, fraction;
};

class ElectricalResolution : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(ElectricalResolution, InterpolatesUpTo1024CountsPerElectricalTurn) {
    const ResolutionCase& row = GetParam();
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    Put(*setup, {"No_encoder_lines", row.lines});
    Put(*setup, {"pp", row.polePairs});
    CQel_Parameter& interpolation = Parameter(*setup, "SINCOS_fract");
    interpolation.SetMinInBaseUnit(5);
    EXPECT_TRUE(compute::ELRES_FRACT(*setup));
    EXPECT_EQ(Parameter(*setup, "ELRES_FRACT").GetValueInBaseUnit(), row.fraction);
    EXPECT_EQ(interpolation.GetMinInBaseUnit(), row.fraction);
    EXPECT_EQ(interpolation.GetMaxInBaseUnit(), 10);
}

INSTANTIATE_TEST_SUITE_P(LinesAndPolePairs, ElectricalResolution,
                         ::testing::Values(ResolutionCase{2048, 4, 0}, ResolutionCase{128, 4, 3},
                                           ResolutionCase{256, 1, 0}, ResolutionCase{128, 1, 1},
                                           ResolutionCase{64, 1, 2}, ResolutionCase{1, 1, 8},
                                           ResolutionCase{1, 4, 8}, ResolutionCase{1, 8, 0},
                                           ResolutionCase{1024, 0, 0}));

// A missing name stops its own step only, which reports it and leaves its register.
struct MissingCase {
    Step step;
    const char* missing;
    const char* target;
};

class MissingName : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingName, SkipsItsStepAndIsReported) {
    const MissingCase& row = GetParam();
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    ASSERT_TRUE(setup->RemoveParameter(row.missing));
    const bool targetRemains = std::string(row.missing) != row.target;
    Put(*setup, {"PWM_freq", 16000});
    const double before = targetRemains ? Parameter(*setup, row.target).GetValueInBaseUnit() : 0;
    const CollectedErrors errors;
    EXPECT_FALSE(row.step(*setup));
    ASSERT_EQ(errors.Messages().size(), 1u) << Joined(errors.Messages());
    EXPECT_NE(errors.Messages()[0].find(row.missing), std::string::npos) << errors.Messages()[0];
    if (targetRemains) {
        EXPECT_EQ(Parameter(*setup, row.target).GetValueInBaseUnit(), before);
    }
    // The driver runs every other step: PWMPER follows the new PWM frequency.
    ComputeDriveRegisters(*setup);
    EXPECT_EQ(Parameter(*setup, "PWMPER").GetValueInBaseUnit(), 1250);
    if (targetRemains) {
        EXPECT_EQ(Parameter(*setup, row.target).GetValueInBaseUnit(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(MandatoryNames, MissingName,
                         ::testing::Values(MissingCase{compute::GEAR, "GEARSLAVE", "GEAR"},
                                           MissingCase{compute::KFFL, "KFFL", "KFFL"},
                                           MissingCase{compute::ACR, "ExternalReference", "ACR"},
                                           MissingCase{compute::ACR, "isFreezeControl", "ACR"},
                                           MissingCase{compute::ASR, "Load_transmission", "ASR"},
                                           MissingCase{compute::IMAXP, "Limit_Speed", "IMAXP"},
                                           MissingCase{compute::ELRES_FRACT, "pp", "ELRES_FRACT"},
                                           MissingCase{compute::QUAL, "QUAL_AQ2", "QUAL"},
                                           MissingCase{compute::CADIN, "POS_max", "CADIN"}));

// A zero divisor makes some registers incomputable; none of them may hold a non-finite value.
class ZeroDivisor : public ::testing::TestWithParam<Setting> {};

TEST_P(ZeroDivisor, LeavesEveryValueFinite) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    Put(*setup, GetParam());
    const CollectedErrors errors;
    ComputeDriveRegisters(*setup);
    for (std::size_t i = 0; i < setup->GetParameterCount(); ++i) {
        const CQel_Parameter& parameter = setup->GetParameterAt(i);
        EXPECT_TRUE(std::isfinite(parameter.GetValueInInternalUnit()) &&
                    std::isfinite(parameter.GetMinInBaseUnit()) &&
                    std::isfinite(parameter.GetMaxInBaseUnit()))
            << parameter.GetName();
    }
}

INSTANTIATE_TEST_SUITE_P(Divisors, ZeroDivisor,
                         ::testing::Values(Setting{"t_I2t_D", 0, true}, Setting{"t_I2t_M", 0, true},
                                           Setting{"Ts_S", 0}, Setting{"pp", 0},
                                           Setting{"GEARMASTER", 0}, Setting{"PWM_freq", 0},
                                           Setting{"Load_transmission", 0},
                                           Setting{"AnalogueInputsRange", 0},
                                           Setting{"ADCrange", 0}, Setting{"DSP_freq", 0},
                                           Setting{"No_encoder_lines", 0}));

TEST(DriveRegisters, OfAnAxisWithoutOptionalFeaturesReportNothing) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("minimal-axis.json");
    ASSERT_TRUE(setup);
    const CollectedErrors errors;
    ComputeDriveRegisters(*setup);
    EXPECT_EQ(errors.Messages().size(), 0u) << Joined(errors.Messages());
    EXPECT_EQ(Parameter(*setup, "PWMPER").GetValueInBaseUnit(), 1000);
}

// The reference axis was built self-consistent: its user parameters give its registers back.
// Every register the computation writes is cleared first, so that a step that writes nothing
// shows; bit fields keep their value, since their unnamed bits come from it.
TEST(DriveRegisters, OfTheReferenceAxisAreTheRegistersItHolds) {
    const std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    ASSERT_TRUE(setup);
    const std::vector<std::string> bitFields = {
        "SCR",     "OSR",        "ASR",      "PCR",      "ACR",     "DIGIN_ACTIVE_LEVEL",
        "UPGRADE", "LSS_Active", "BRAKECFG", "QUAL_ACT", "QUAL_AQ2"};
    // Registers the computation reads but never writes.
    const std::vector<std::string> inputs = {"CLPER",      "SLPER",     "DBT",
                                             "GEARMASTER", "GEARSLAVE", "START_POS"};
    std::vector<std::pair<std::string, double>> stored;
    for (std::size_t i = 0; i < setup->GetParameterCount(); ++i) {
        CQel_Parameter& parameter = setup->GetParameterAt(i);
        if (parameter.GetUnitFamily().BaseUnit().name.empty()) {
            stored.emplace_back(parameter.GetName(), parameter.GetValueInBaseUnit());
            const auto kept = [&](const std::vector<std::string>& names) {
                return std::find(names.begin(), names.end(), parameter.GetName()) != names.end();
            };
            if (!kept(bitFields) && !kept(inputs)) {
                parameter.SetMinInBaseUnit(std::min(parameter.GetMinInBaseUnit(), 0.0));
                parameter.SetValueInBaseUnit(0);
            }
        }
    }
    const CollectedErrors errors;
    ComputeDriveRegisters(*setup);
    EXPECT_EQ(errors.Messages().size(), 0u) << Joined(errors.Messages());
    for (const auto& [name, value] : stored) {
        const double computed = Parameter(*setup, name.c_str()).GetValueInBaseUnit();
        const bool bitField =
            std::find(bitFields.begin(), bitFields.end(), name) != bitFields.end();
        EXPECT_NEAR(computed, value, bitField ? 0.0 : 0.5)
            << name << ": the file holds " << value << ", computed " << computed;
    }
}

}  // namespace
