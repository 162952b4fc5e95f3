#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <ostream>
#include <string>

#include "engine/BaseScales.h"
#include "module/Exports.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/SetupBuilder.h"

namespace {

constexpr double kPi = std::numbers::pi;

// A 40 MHz DSP with 20 kHz PWM, current loop every PWM period and speed loop every tenth,
// 48 V bus, 16.5 A power stage, 1024-line encoder with 8 interpolation bits, 10-bit converter
// left-aligned in 16 bits (full scale 65472).
constexpr double kTsC_s = 2.0 * 1 * 1000 / 40e6;
constexpr double kTsS_s = 2.0 * 10 * 1000 / 40e6;
constexpr double kAdcMax = 65472.0;
constexpr double kCountsPerRad = 1024.0 * 2.0 * 256.0 / kPi;

class UnitScales : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_.SetAdcFormat({10, 16});
        AddPhysical(setup_, "DSP_freq", 40e6, "frequency");
        AddPhysical(setup_, "PWMPER", 1000, "register");
        AddPhysical(setup_, "CLPER", 1, "register");
        AddPhysical(setup_, "SLPER", 10, "register");
        AddPhysical(setup_, "Vdc", 48, "voltage");
        AddPhysical(setup_, "VdcMaxMeasurable", 73, "voltage");
        AddPhysical(setup_, "ImaxPS", 16.5, "current");
        AddPhysical(setup_, "MECRESL", 4096, "register");
        AddPhysical(setup_, "No_encoder_lines", 1024);
        AddPhysical(setup_, "SINCOS_fract", 8);
        AddPhysical(setup_, "Motor_transmission", 1);
        AddPhysical(setup_, "Load_transmission", 1);
        AddPhysical(setup_, "AnalogueInputsRange", 10, "voltage");
        // Three pole pairs: 4096 x 196608 x 2^4 = 3 x 2^32.
        AddPhysical(setup_, "ENC2THL", 196608, "register");
        AddPhysical(setup_, "ELRES_FRACT", 4, "register");
        AddPhysical(setup_, "ADCrange", 3.3, "voltage");
        AddPhysical(setup_, "DriveTempSensorGain", 0.01);
        AddPhysical(setup_, "DriveTempOutputAt0oC", 0.5, "voltage");
    }

    double Factor(const std::string& unit, const std::string& parameter) {
        return GetScaleFactor(&setup_, unit.c_str(), parameter.c_str());
    }

    CQel_Setup setup_;
};

struct FactorCase {
    const char* unit;
    const char* parameter;
    double expected;
    friend std::ostream& operator<<(std::ostream& out, const FactorCase& row) {
        return out << '"' << row.unit << "\" " << row.parameter;
    }
};

class ScaleFactorRows : public UnitScales, public ::testing::WithParamInterface<FactorCase> {};

TEST_P(ScaleFactorRows, GivesTheFactorOfItsRow) {
    const FactorCase& row = GetParam();
    EXPECT_NEAR(Factor(row.unit, row.parameter), row.expected, std::fabs(row.expected) * 1e-12)
        << "unit \"" << row.unit << "\", parameter " << row.parameter;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, ScaleFactorRows,
    ::testing::Values(
        FactorCase{"V ", "UMAX_PROT", 73.0 / kAdcMax}, FactorCase{"V", "AnalogueInputsRange", 1.0},
        FactorCase{"V", "DeadBand_Point", 10.0 / kAdcMax},
        FactorCase{"V", "DeadBand_Range", 10.0 / kAdcMax}, FactorCase{"V", "AD2", 10.0 / kAdcMax},
        FactorCase{"V", "AD2FIL_VAL", 10.0 / kAdcMax}, FactorCase{"V", "AD5", 10.0 / kAdcMax},
        FactorCase{"V", "UQREF", 1.1 * 48.0 / 65534.0},
        FactorCase{"A", "TestCurrent", 2.0 * 16.5 / kAdcMax}, FactorCase{"s", "Ts_C", kTsC_s},
        FactorCase{"s", "time_ERR_pos", kTsS_s},
        FactorCase{"rad", "Motor_Position", 1.0 / kCountsPerRad},
        FactorCase{"rad", "APOS_MT", 1.0 / kCountsPerRad},
        FactorCase{"rad", "THTST", kPi / 32767.0},
        FactorCase{"rad", "ERR_position", 1.0 / kCountsPerRad},
        FactorCase{"rad", "APOS", 1.0 / kCountsPerRad},
        FactorCase{"m", "POS_max", 1.0 / kCountsPerRad},
        FactorCase{"m", "APOS", 1.0 / kCountsPerRad},
        FactorCase{"rad/s", "ASPD", 1.0 / (kTsS_s * kCountsPerRad)},
        FactorCase{"rad/s", "Motor_Speed_Reference", 1.0 / (kTsS_s * kCountsPerRad)},
        FactorCase{"rad/s", "TINCTST", 9.587672516830327e-5 / kTsC_s / 3.0},
        FactorCase{"rad/s", "Limit_Speed", 1.0 / (kTsS_s * kCountsPerRad)},
        FactorCase{"rad/s", "CSPD", 1.0 / (kTsS_s * kCountsPerRad)},
        FactorCase{"m/s", "TestSpeed", 1.0 / (kTsS_s * kCountsPerRad)},
        FactorCase{"m/s", "CSPD", 1.0 / (kTsS_s * kCountsPerRad)},
        FactorCase{"rad/s^2", "CACC", 1.0 / (256.0 * 2.0 * 1024.0 * kTsS_s * kTsS_s / kPi)},
        FactorCase{"m/s^2", "CACC", 1.0 / (256.0 * 2.0 * 1024.0 * kTsS_s * kTsS_s / kPi)},
        FactorCase{"rad/s^3", "JERK",
                   1.0 / (256.0 * 2.0 * 1024.0 * kTsS_s * kTsS_s * kTsS_s / kPi)},
        FactorCase{"m/s^3", "JERK", 1.0 / (256.0 * 2.0 * 1024.0 * kTsS_s * kTsS_s * kTsS_s / kPi)},
        FactorCase{"\xC2\xB0"
                   "C",
                   "Temp_2", 3.3 / (kAdcMax * 0.01)},
        FactorCase{"V/s", "UQREF_RATE", 1.1 * 48.0 / 65534.0 / kTsS_s},
        FactorCase{"A/s", "IQREF_RATE", 2.0 * 16.5 / kAdcMax / kTsS_s},
        FactorCase{"rpm", "TestSpeed", 1.0}, FactorCase{"Ohm", "R", 1.0}));

// Names come from files and users in any letter case; "°C" may come as the Windows-1252 byte.
INSTANTIATE_TEST_SUITE_P(
    AnyLetterCase, ScaleFactorRows,
    ::testing::Values(FactorCase{"a", "testcurrent", 2.0 * 16.5 / kAdcMax},
                      FactorCase{"v", "deadband_point", 10.0 / kAdcMax},
                      FactorCase{"S", "TS_C", kTsC_s}, FactorCase{"RAD", "thtst", kPi / 32767.0},
                      FactorCase{"Rad/S", "tinctst", 9.587672516830327e-5 / kTsC_s / 3.0},
                      FactorCase{"\xB0"
                                 "C",
                                 "Temp_2", 3.3 / (kAdcMax * 0.01)},
                      FactorCase{"\xB0"
                                 "c",
                                 "Temp_2", 3.3 / (kAdcMax * 0.01)}));

TEST_F(UnitScales, TemperatureOffsetRemovesTheSensorOutputAtZeroDegrees) {
    const double offset = GetScaleOffset(&setup_,
                                         "\xB0"
                                         "C");
    EXPECT_NEAR(offset, -(kAdcMax * 0.5 / 3.3), 1e-9);
    // A reading of the sensor's output at 30 degrees (0.5 V + 30 x 0.01 V) converts back to 30.
    const double reading = (0.5 + 30 * 0.01) / 3.3 * kAdcMax;
    EXPECT_NEAR((reading + offset) * Factor("\xC2\xB0"
                                            "C",
                                            "Temp_2"),
                30.0, 1e-9);
}

TEST_F(UnitScales, OffsetIsZeroForEveryOtherUnit) {
    for (const char* unit : {"A", "V", "V ", "s", "rad", "rad/s", "rpm", "xyz"}) {
        EXPECT_EQ(GetScaleOffset(&setup_, unit), 0.0) << unit;
    }
}

struct SignCase {
    const char* unit;
    const char* parameter;
    bool positive;
    friend std::ostream& operator<<(std::ostream& out, const SignCase& row) {
        return out << '"' << row.unit << "\" " << row.parameter;
    }
};

class NegativeTransmission : public UnitScales, public ::testing::WithParamInterface<SignCase> {};

// Limits and errors are magnitudes and stay positive; actual positions and speeds follow the
// reversed direction of the load.
TEST_P(NegativeTransmission, KeepsMagnitudesPositiveAndActualValuesSigned) {
    setup_.SetParameterValueInBaseUnit("Load_transmission", -2);
    const SignCase& row = GetParam();
    const double factor = Factor(row.unit, row.parameter);
    EXPECT_EQ(factor > 0, row.positive) << row.unit << " " << row.parameter << ": " << factor;
}

INSTANTIATE_TEST_SUITE_P(
    SignRules, NegativeTransmission,
    ::testing::Values(SignCase{"rad", "POS_max", true}, SignCase{"rad", "ERR_position", true},
                      SignCase{"rad", "FreezeControl_errband", true},
                      SignCase{"rad", "TestPosition", true}, SignCase{"m", "POS_min", true},
                      SignCase{"rad", "APOS", false}, SignCase{"m", "APOS", false},
                      SignCase{"rad", "Motor_Position", true},
                      SignCase{"rad/s", "Limit_Speed", true}, SignCase{"rad/s", "SPD_max", true},
                      SignCase{"m/s", "ErefMaxSpeed", true}, SignCase{"rad/s", "CSPD", false},
                      SignCase{"m/s", "CSPD", false}, SignCase{"rad/s", "ASPD", true},
                      SignCase{"rad/s^2", "CACC", false}, SignCase{"m/s^3", "JERK", false}));

TEST_F(UnitScales, LoadScalesHalveWithATwoToOneTransmission) {
    setup_.SetParameterValueInBaseUnit("Load_transmission", 0.5);
    EXPECT_NEAR(ComputePositionScale(setup_), 2.0 * kCountsPerRad, 1e-9);
    EXPECT_NEAR(ComputeSpeedScale(setup_), 2.0 * kTsS_s * kCountsPerRad, 1e-12);
    EXPECT_NEAR(ComputeMotorPositionScale(setup_), kCountsPerRad, 1e-9);
}

struct LinesCase {
    double mecresl;
    double countedLines;
    friend std::ostream& operator<<(std::ostream& out, const LinesCase& row) {
        return out << "MECRESL " << row.mecresl;
    }
};

class EncoderCounts : public UnitScales, public ::testing::WithParamInterface<LinesCase> {};

// The drive counts int(MECRESL) / 4 lines in integer arithmetic: fractions are dropped, toward 0.
TEST_P(EncoderCounts, DivideTheIntegerPartOfMecreslByFour) {
    setup_.SetParameterValueInBaseUnit("MECRESL", GetParam().mecresl);
    EXPECT_NEAR(ComputeMotorPositionScale(setup_), GetParam().countedLines * 2.0 * 256.0 / kPi,
                1e-9);
}

INSTANTIATE_TEST_SUITE_P(IntegerDivision, EncoderCounts,
                         ::testing::Values(LinesCase{4002, 1000}, LinesCase{4003.9, 1000},
                                           LinesCase{4004, 1001}, LinesCase{3, 0},
                                           LinesCase{-6, -1}));

TEST_F(UnitScales, InterpolationBitsWrapAtThirtyTwo) {
    setup_.SetParameterValueInBaseUnit("SINCOS_fract", 0);
    EXPECT_NEAR(ComputeMotorPositionScale(setup_), 1024.0 * 2.0 / kPi, 1e-12);
    setup_.SetParameterValueInBaseUnit("SINCOS_fract", 33);
    EXPECT_NEAR(ComputeMotorPositionScale(setup_), 1024.0 * 2.0 * 2.0 / kPi, 1e-12);
}

TEST_F(UnitScales, TestAngleFactorDoesNotDependOnTheSetup) {
    CQel_Setup empty;
    const CollectedErrors errors;
    EXPECT_DOUBLE_EQ(GetScaleFactor(&empty, "rad", "THTST"), 9.587672516830327e-5);
    EXPECT_TRUE(errors.Messages().empty());
}

TEST_F(UnitScales, TestAngleIncrementUsesPolePairsWithoutFractionWhenAbsent) {
    setup_.RemoveParameter("ELRES_FRACT");
    // 4096 x 196608 / 2^32 = 0.1875 rounds to 0 pole pairs: the factor is infinite, as the
    // registers say nothing sensible; with ENC2THL of three whole pole pairs it is finite again.
    EXPECT_TRUE(std::isinf(Factor("rad/s", "TINCTST")));
    setup_.SetParameterValueInBaseUnit("ENC2THL", 3145728);
    EXPECT_NEAR(Factor("rad/s", "TINCTST"), 9.587672516830327e-5 / kTsC_s / 3.0, 1e-9);
}

TEST_F(UnitScales, NullArgumentsGiveTheNeutralScale) {
    EXPECT_EQ(GetScaleFactor(nullptr, "A", "TestCurrent"), 1.0);
    EXPECT_EQ(GetScaleOffset(nullptr,
                             "\xB0"
                             "C"),
              0.0);
    EXPECT_EQ(GetScaleFactor(&setup_, nullptr, nullptr), 1.0);
}

struct DeadTimeCase {
    double dbt;    // NaN: no DBT register
    double dbtpc;  // NaN: no DBTPC register
    double expected_s;
    friend std::ostream& operator<<(std::ostream& out, const DeadTimeCase& row) {
        return out << "DBT " << row.dbt << " DBTPC " << row.dbtpc;
    }
};

class DeadTime : public UnitScales, public ::testing::WithParamInterface<DeadTimeCase> {};

TEST_P(DeadTime, TakesTheLongerEdgeTimesTheShare) {
    const DeadTimeCase& row = GetParam();
    if (!std::isnan(row.dbt)) {
        AddPhysical(setup_, "DBT", row.dbt, "register");
    }
    if (!std::isnan(row.dbtpc)) {
        AddPhysical(setup_, "DBTPC", row.dbtpc, "percent");
    }
    const CollectedErrors errors;
    EXPECT_NEAR(ComputeDeadTime(setup_), row.expected_s, 1e-15);
    EXPECT_TRUE(errors.Messages().empty()) << "optional registers are probed quietly";
}

INSTANTIATE_TEST_SUITE_P(Registers, DeadTime,
                         ::testing::Values(DeadTimeCase{0x1A30, 50, 48 * 0.5 / 40e6},
                                           DeadTimeCase{0x301A, 50, 48 * 0.5 / 40e6},
                                           DeadTimeCase{0x1A30, 75, 48 * 0.75 / 40e6},
                                           DeadTimeCase{0x1A30, NAN, 48 * 0.5 / 40e6},
                                           DeadTimeCase{0x12FF40, 100, 255 / 40e6},
                                           DeadTimeCase{0, 75, 1e-6}, DeadTimeCase{NAN, 75, 0.0},
                                           DeadTimeCase{NAN, NAN, 0.0}));

}  // namespace
