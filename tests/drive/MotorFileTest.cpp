#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "drive/MotorFile.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"

namespace {

// A valid file to spoil one member at a time.
std::string ValidFile(const std::string& replaceFrom = "", const std::string& replaceTo = "") {
    std::string text = R"({
  "format": 1,
  "name": "Test motor",
  "connection": "star",
  "phaseResistance_ohm": 1.0,
  "phaseInductance_H": 0.001,
  "torqueConstant_Nm_A": 0.1,
  "polePairs": 2,
  "rotorInertia_kgm2": 1e-05,
  "encoder": { "lines": 1000 }
})";
    if (!replaceFrom.empty()) {
        const auto at = text.find(replaceFrom);
        EXPECT_NE(at, std::string::npos) << replaceFrom;
        text.replace(at, replaceFrom.size(), replaceTo);
    }
    return text;
}

TEST(MotorFile, FluxGivesTheTorqueConstantOfItsPolePairs) {
    const drive::MotorFileResult result =
        drive::ParseMotorFile(ValidFile(R"("torqueConstant_Nm_A": 0.1)", R"("flux_Wb": 0.02)"));
    ASSERT_TRUE(result.motor);
    EXPECT_DOUBLE_EQ(result.motor->torqueConstant_Nm_A, 1.5 * 2 * 0.02);
    EXPECT_DOUBLE_EQ(result.motor->Flux_Wb(), 0.02);
}

TEST(MotorFile, ThermalSectionGivesTheWindingsHeatingAndItsSensor) {
    const drive::MotorFileResult result =
        drive::ParseMotorFile(ValidFile(R"("lines": 1000 })", R"("lines": 1000 },
  "thermal": { "thermalResistance_K_W": 1.5, "timeConstant_s": 900, "sensor": "NTC",
               "sensorRatedTemperature_C": 110 })"));
    ASSERT_TRUE(result.motor) << drive::DescribeMotorFileProblems("motor.json", result.problems);
    EXPECT_DOUBLE_EQ(result.motor->thermal.thermalResistance_K_W, 1.5);
    EXPECT_DOUBLE_EQ(result.motor->thermal.timeConstant_s, 900.0);
    EXPECT_EQ(result.motor->thermal.sensor, drive::ThermalSensor::NTC);
    EXPECT_DOUBLE_EQ(result.motor->thermal.sensorRatedTemperature_C, 110.0);
    // Without the section the winding does not heat.
    EXPECT_EQ(drive::ParseMotorFile(ValidFile()).motor->thermal.thermalResistance_K_W, 0.0);
}

TEST(MotorFile, BenchGivesTheSupplyAndDefaultsToTheReferenceAxis) {
    const drive::MotorFileResult result = drive::ParseMotorFile(
        ValidFile(R"("lines": 1000 })", R"("lines": 1000 }, "bench": { "supply_V": 320 })"));
    ASSERT_TRUE(result.motor) << drive::DescribeMotorFileProblems("motor.json", result.problems);
    EXPECT_DOUBLE_EQ(result.bench.supply_V, 320.0);
    EXPECT_DOUBLE_EQ(drive::ParseMotorFile(ValidFile()).bench.supply_V, 48.0);
    EXPECT_DOUBLE_EQ(
        drive::ParseMotorFile(ValidFile(R"("lines": 1000 })", R"("lines": 1000 }, "bench": {})"))
            .bench.supply_V,
        48.0);
}

struct BadFileCase {
    const char* label;
    const char* from;
    const char* to;
    const char* place;
    const char* message;
    friend std::ostream& operator<<(std::ostream& out, const BadFileCase& row) {
        return out << row.label;
    }
};

class BadMotorFile : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(BadMotorFile, IsRefusedWithThePlaceAndTheReason) {
    const BadFileCase& row = GetParam();
    const drive::MotorFileResult result = drive::ParseMotorFile(ValidFile(row.from, row.to));
    EXPECT_FALSE(result.motor);
    ASSERT_EQ(result.problems.size(), 1u)
        << drive::DescribeMotorFileProblems("motor.json", result.problems);
    EXPECT_EQ(result.problems[0].place, row.place);
    EXPECT_EQ(result.problems[0].message, row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Problems, BadMotorFile,
    ::testing::Values(
        BadFileCase{"ZeroResistance", R"("phaseResistance_ohm": 1.0)",
                    R"("phaseResistance_ohm": 0)", "/phaseResistance_ohm",
                    "must be a number from 0.001 to 1000"},
        BadFileCase{"MissingInductance", R"("phaseInductance_H": 0.001,)", "", "/",
                    "the member \"phaseInductance_H\" is missing"},
        BadFileCase{"FractionalPolePairs", R"("polePairs": 2)", R"("polePairs": 2.5)", "/polePairs",
                    "must be a whole number from 1 to 256"},
        BadFileCase{"TorqueConstantAndFlux", R"("torqueConstant_Nm_A": 0.1)",
                    R"("torqueConstant_Nm_A": 0.1, "flux_Wb": 0.02)", "/",
                    "give exactly one of \"torqueConstant_Nm_A\" and \"flux_Wb\""},
        BadFileCase{"UnknownConnection", R"("connection": "star")", R"("connection": "wye")",
                    "/connection", "must be \"star\" or \"delta\""},
        BadFileCase{"NegativeFriction", R"("polePairs": 2,)",
                    R"("polePairs": 2, "coulombFriction_Nm": -1,)", "/coulombFriction_Nm",
                    "must be a number from 0 to 1000"},
        BadFileCase{"MisspeltMember", R"("polePairs": 2,)", R"("polePairs": 2, "polepairs": 2,)",
                    "/polepairs", "is not a member of a motor file"},
        BadFileCase{"PeakBelowRatedCurrent", R"("polePairs": 2,)",
                    R"("polePairs": 2, "ratedCurrent_A": 3, "peakCurrent_A": 2,)", "/peakCurrent_A",
                    "must be at least the rated current (3 A)"},
        BadFileCase{"ZeroLines", R"("lines": 1000)", R"("lines": 0)", "/encoder/lines",
                    "must be a whole number from 1 to 1048576"},
        BadFileCase{"EncoderDirectionNotBoolean", R"("lines": 1000)",
                    R"("lines": 1000, "reversed": "yes")", "/encoder/reversed",
                    "must be true or false"},
        BadFileCase{"ThermalWithoutTimeConstant", R"("lines": 1000 })",
                    R"("lines": 1000 }, "thermal": { "thermalResistance_K_W": 1 })", "/thermal",
                    "the member \"timeConstant_s\" is missing"},
        BadFileCase{"UnknownThermalSensor", R"("lines": 1000 })",
                    R"("lines": 1000 }, "thermal": { "thermalResistance_K_W": 1,
                                  "timeConstant_s": 60, "sensor": "KTY" })",
                    "/thermal/sensor", "must be \"PTC\" or \"NTC\""},
        BadFileCase{"BenchWithoutSupply", R"("lines": 1000 })",
                    R"("lines": 1000 }, "bench": { "supply_V": 0 })", "/bench/supply_V",
                    "must be a number from 1 to 1000"},
        BadFileCase{"BenchAboveMains", R"("lines": 1000 })",
                    R"("lines": 1000 }, "bench": { "supply_V": 1200 })", "/bench/supply_V",
                    "must be a number from 1 to 1000"},
        BadFileCase{"BenchNotAnObject", R"("lines": 1000 })", R"("lines": 1000 }, "bench": 48)",
                    "/bench", "must be an object"},
        BadFileCase{"MisspeltBenchMember", R"("lines": 1000 })",
                    R"("lines": 1000 }, "bench": { "supply": 48 })", "/bench/supply",
                    "is not a member of a motor file"},
        BadFileCase{"NumberBeyondADouble", R"("phaseResistance_ohm": 1.0)",
                    R"("phaseResistance_ohm": 1e400)", "/phaseResistance_ohm",
                    "the number is too large (beyond what a double holds)"},
        BadFileCase{"NumberBeyondADoubleInTheEncoder", R"("lines": 1000)",
                    R"("lines": 1000, "zeroAngle_rad": -1e400)", "/encoder/zeroAngle_rad",
                    "the number is too large (beyond what a double holds)"},
        BadFileCase{"NestedTooDeep", R"("lines": 1000)",
                    R"("lines": [[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]])", "line 10, column 39",
                    "nested more than 16 levels deep; a motor file needs 2"},
        BadFileCase{"OtherFormat", R"("format": 1)", R"("format": 2)", "/format",
                    "must be 1, the format this program reads"},
        BadFileCase{"SyntaxError", R"("polePairs": 2,)", R"("polePairs": 2,,)", "line 8, column 18",
                    "the text is not valid JSON"}),
    ByLabel());

// Each member against the range a real servo motor can have: a value just outside either end is
// refused with the member's name, and the ends themselves load.
struct RangeCase {
    const char* label;
    const char* from;
    const char* to;  // VALUE stands for the value tried
    const char* place;
    const char* below;
    const char* lowest;
    const char* highest;
    const char* above;
    const char* requirement;
    friend std::ostream& operator<<(std::ostream& out, const RangeCase& row) {
        return out << row.label;
    }
};

class MotorFileRange : public ::testing::TestWithParam<RangeCase> {};

std::string WithValue(const RangeCase& row, const std::string& value) {
    std::string to = row.to;
    to.replace(to.find("VALUE"), 5, value);
    return ValidFile(row.from, to);
}

TEST_P(MotorFileRange, RefusesValuesOutsideWithTheMembersName) {
    const RangeCase& row = GetParam();
    for (const char* value : {row.below, row.above}) {
        const drive::MotorFileResult result = drive::ParseMotorFile(WithValue(row, value));
        EXPECT_FALSE(result.motor) << value;
        ASSERT_EQ(result.problems.size(), 1u)
            << value << "\n"
            << drive::DescribeMotorFileProblems("motor.json", result.problems);
        EXPECT_EQ(result.problems[0].place, row.place);
        EXPECT_EQ(result.problems[0].message, std::string("must be ") + row.requirement);
    }
}

TEST_P(MotorFileRange, LoadsItsEnds) {
    const RangeCase& row = GetParam();
    for (const char* value : {row.lowest, row.highest}) {
        const drive::MotorFileResult result = drive::ParseMotorFile(WithValue(row, value));
        EXPECT_TRUE(result.motor) << value << "\n"
                                  << drive::DescribeMotorFileProblems("motor.json",
                                                                      result.problems);
    }
}

constexpr const char* kThermalFrom = R"("lines": 1000 })";

INSTANTIATE_TEST_SUITE_P(
    Members, MotorFileRange,
    ::testing::Values(
        RangeCase{"Resistance", R"("phaseResistance_ohm": 1.0)", R"("phaseResistance_ohm": VALUE)",
                  "/phaseResistance_ohm", "0.00099", "0.001", "1000", "1001",
                  "a number from 0.001 to 1000"},
        RangeCase{"Inductance", R"("phaseInductance_H": 0.001)", R"("phaseInductance_H": VALUE)",
                  "/phaseInductance_H", "9.9e-7", "1e-6", "1", "1.01", "a number from 1e-06 to 1"},
        RangeCase{"TorqueConstant", R"("torqueConstant_Nm_A": 0.1)",
                  R"("torqueConstant_Nm_A": VALUE)", "/torqueConstant_Nm_A", "0.00099", "0.001",
                  "100", "100.5", "a number from 0.001 to 100"},
        RangeCase{"Flux", R"("torqueConstant_Nm_A": 0.1)", R"("flux_Wb": VALUE)", "/flux_Wb",
                  "9.9e-5", "0.0004", "10", "10.5", "a number from 0.0001 to 10"},
        RangeCase{"RotorInertia", R"("rotorInertia_kgm2": 1e-05)", R"("rotorInertia_kgm2": VALUE)",
                  "/rotorInertia_kgm2", "9.9e-8", "1e-7", "1", "1.01", "a number from 1e-07 to 1"},
        RangeCase{"LoadInertia", R"("polePairs": 2)",
                  R"("polePairs": 2, "loadInertia_kgm2": VALUE)", "/loadInertia_kgm2", "-1e-9", "0",
                  "100", "101", "a number from 0 to 100"},
        RangeCase{"ViscousFriction", R"("polePairs": 2)",
                  R"("polePairs": 2, "viscousFriction_Nms_rad": VALUE)", "/viscousFriction_Nms_rad",
                  "-1e-9", "0", "10", "10.1", "a number from 0 to 10"},
        RangeCase{"CoulombFriction", R"("polePairs": 2)",
                  R"("polePairs": 2, "coulombFriction_Nm": VALUE)", "/coulombFriction_Nm", "-1e-9",
                  "0", "1000", "1001", "a number from 0 to 1000"},
        RangeCase{"RatedCurrent", R"("polePairs": 2)", R"("polePairs": 2, "ratedCurrent_A": VALUE)",
                  "/ratedCurrent_A", "0.00099", "0.001", "1000", "1001",
                  "a number from 0.001 to 1000"},
        RangeCase{"LoadTorque", R"("polePairs": 2)", R"("polePairs": 2, "loadTorque_Nm": VALUE)",
                  "/loadTorque_Nm", "-1001", "-1000", "1000", "1e12",
                  "a number from -1000 to 1000"},
        RangeCase{"ZeroAngle", R"("lines": 1000)", R"("lines": 1000, "zeroAngle_rad": VALUE)",
                  "/encoder/zeroAngle_rad", "-6.3", "-6.28318", "6.28318", "6.3",
                  "a number from -2π to 2π"},
        RangeCase{"ThermalResistance", kThermalFrom,
                  R"("lines": 1000 }, "thermal": { "thermalResistance_K_W": VALUE,
                  "timeConstant_s": 60 })",
                  "/thermal/thermalResistance_K_W", "0.0099", "0.01", "100", "101",
                  "a number from 0.01 to 100"},
        RangeCase{"ThermalTimeConstant", kThermalFrom,
                  R"("lines": 1000 }, "thermal": { "thermalResistance_K_W": 1,
                  "timeConstant_s": VALUE })",
                  "/thermal/timeConstant_s", "0.099", "0.1", "1e5", "1.01e5",
                  "a number from 0.1 to 100000"},
        RangeCase{"SensorRatedTemperature", kThermalFrom,
                  R"("lines": 1000 }, "thermal": { "thermalResistance_K_W": 1,
                  "timeConstant_s": 60, "sensorRatedTemperature_C": VALUE })",
                  "/thermal/sensorRatedTemperature_C", "-1", "0", "250", "251",
                  "a number from 0 to 250"}),
    ByLabel());

TEST(MotorFile, FluxGivingAnUnrealTorqueConstantIsRefused) {
    // 1.5 x 256 pole pairs x 10 Wb: 3840 N·m/A, far beyond any servo motor.
    std::string text = ValidFile(R"("torqueConstant_Nm_A": 0.1)", R"("flux_Wb": 10)");
    text.replace(text.find(R"("polePairs": 2)"), 14, R"("polePairs": 256)");
    const drive::MotorFileResult result = drive::ParseMotorFile(text);
    EXPECT_FALSE(result.motor);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].place, "/flux_Wb");
    EXPECT_EQ(result.problems[0].message,
              "gives a torque constant of 3840 N·m/A with the pole pairs; it must be a number "
              "from 0.001 to 100");
}

TEST(MotorFile, MissingFileIsReportedNotThrown) {
    const drive::MotorFileResult result = drive::LoadMotorFile("/nonexistent/motor.json");
    EXPECT_FALSE(result.motor);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].message, "cannot be opened for reading");
}

TEST(ExampleMotorFiles, TheListNamesEveryMotorOfTheFolder) {
    std::vector<std::string> inFolder;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(BREVAN_SOURCE_DIR) / "examples" / "motors")) {
        if (entry.path().extension() == ".json") {
            inFolder.push_back(entry.path().filename().string());
        }
    }
    std::vector<std::string> listed(kExampleMotorFiles.begin(), kExampleMotorFiles.end());
    std::sort(inFolder.begin(), inFolder.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(inFolder, listed);
}

class ExampleMotorFile : public ::testing::TestWithParam<const char*> {};

// A motor file with a misspelt member or a value out of range gives no motor. A load torque must
// stay below the friction that holds it (else the shaft runs away before any test starts).
TEST_P(ExampleMotorFile, LoadsAndHoldsItsLoadAtRest) {
    const std::filesystem::path path =
        std::filesystem::path(BREVAN_SOURCE_DIR) / "examples" / "motors" / GetParam();
    const drive::MotorFileResult result = drive::LoadMotorFile(path);
    ASSERT_TRUE(result.motor) << drive::DescribeMotorFileProblems(path, result.problems);
    EXPECT_LE(std::abs(result.motor->loadTorque_Nm), result.motor->coulombFriction_Nm);
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleMotorFile, ::testing::ValuesIn(kExampleMotorFiles),
                         [](const ::testing::TestParamInfo<const char*>& motor) {
                             std::string name = motor.param;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
