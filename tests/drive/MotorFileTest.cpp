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
    ::testing::Values(BadFileCase{"ZeroResistance", R"("phaseResistance_ohm": 1.0)",
                                  R"("phaseResistance_ohm": 0)", "/phaseResistance_ohm",
                                  "must be a number above 0"},
                      BadFileCase{"MissingInductance", R"("phaseInductance_H": 0.001,)", "", "/",
                                  "the member \"phaseInductance_H\" is missing"},
                      BadFileCase{"FractionalPolePairs", R"("polePairs": 2)", R"("polePairs": 2.5)",
                                  "/polePairs", "must be a whole number from 1 to 256"},
                      BadFileCase{"TorqueConstantAndFlux", R"("torqueConstant_Nm_A": 0.1)",
                                  R"("torqueConstant_Nm_A": 0.1, "flux_Wb": 0.02)", "/",
                                  "give exactly one of \"torqueConstant_Nm_A\" and \"flux_Wb\""},
                      BadFileCase{"UnknownConnection", R"("connection": "star")",
                                  R"("connection": "wye")", "/connection",
                                  "must be \"star\" or \"delta\""},
                      BadFileCase{"NegativeFriction", R"("polePairs": 2,)",
                                  R"("polePairs": 2, "coulombFriction_Nm": -1,)",
                                  "/coulombFriction_Nm", "must be a number of at least 0"},
                      BadFileCase{"MisspeltMember", R"("polePairs": 2,)",
                                  R"("polePairs": 2, "polepairs": 2,)", "/polepairs",
                                  "is not a member of a motor file"},
                      BadFileCase{"ZeroLines", R"("lines": 1000)", R"("lines": 0)",
                                  "/encoder/lines", "must be a whole number from 1 to 1048576"},
                      BadFileCase{"EncoderDirectionNotBoolean", R"("lines": 1000)",
                                  R"("lines": 1000, "reversed": "yes")", "/encoder/reversed",
                                  "must be true or false"},
                      BadFileCase{"ThermalWithoutTimeConstant", R"("lines": 1000 })",
                                  R"("lines": 1000 }, "thermal": { "thermalResistance_K_W": 1 })",
                                  "/thermal", "the member \"timeConstant_s\" is missing"},
                      BadFileCase{"UnknownThermalSensor", R"("lines": 1000 })",
                                  R"("lines": 1000 }, "thermal": { "thermalResistance_K_W": 1,
                                  "timeConstant_s": 60, "sensor": "KTY" })",
                                  "/thermal/sensor", "must be \"PTC\" or \"NTC\""},
                      BadFileCase{"BenchWithoutSupply", R"("lines": 1000 })",
                                  R"("lines": 1000 }, "bench": { "supply_V": 0 })",
                                  "/bench/supply_V", "must be a number from 1 to 1000"},
                      BadFileCase{"BenchAboveMains", R"("lines": 1000 })",
                                  R"("lines": 1000 }, "bench": { "supply_V": 1200 })",
                                  "/bench/supply_V", "must be a number from 1 to 1000"},
                      BadFileCase{"BenchNotAnObject", R"("lines": 1000 })",
                                  R"("lines": 1000 }, "bench": 48)", "/bench", "must be an object"},
                      BadFileCase{"MisspeltBenchMember", R"("lines": 1000 })",
                                  R"("lines": 1000 }, "bench": { "supply": 48 })", "/bench/supply",
                                  "is not a member of a motor file"},
                      BadFileCase{"OtherFormat", R"("format": 1)", R"("format": 2)", "/format",
                                  "must be 1, the format this program reads"},
                      BadFileCase{"SyntaxError", R"("polePairs": 2,)", R"("polePairs": 2,,)",
                                  "line 8, column 18", "the text is not valid JSON"}),
    ByLabel());

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
