#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/drive/CaseLabel.h"
#include "tests/support/CommandRun.h"

namespace {

namespace fs = std::filesystem;

const std::string kMotor =
    std::string(BREVAN_SOURCE_DIR) + "/examples/motors/reference-axis-motor.json";
const std::string kSetup = std::string(BREVAN_SOURCE_DIR) + "/examples/reference-axis.json";

class SimCommandTest : public ::testing::Test {
  protected:
    SimCommandTest()
        : folder_(fs::temp_directory_path() /
                  ("brevan-sim-" + std::to_string(::getpid()) + "-" +
                   std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
        fs::create_directories(folder_);
    }
    ~SimCommandTest() override { fs::remove_all(folder_); }

    RunResult Run(const std::vector<std::string>& arguments) {
        std::vector<std::string> withCommand{"sim"};
        withCommand.insert(withCommand.end(), arguments.begin(), arguments.end());
        return RunBrevan(withCommand, folder_);
    }

    fs::path folder_;
};

TEST_F(SimCommandTest, RunsTheProgramAndPrintsItsVariables) {
    const RunResult result = Run({kMotor, kSetup, "VDC_Detection_Test"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("VDC_Detection_Test ended after ", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("\nSTARTED = 1\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("(drive variable)"), std::string::npos) << result.out;
}

TEST_F(SimCommandTest, JsonReportsTheProgramsEndAndItsVariables) {
    const RunResult result = Run({kMotor, kSetup, "VDC_Detection_Test", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["program"], "VDC_Detection_Test");
    EXPECT_EQ(report["ended"], true);
    EXPECT_EQ(report["MER"], 0);
    EXPECT_EQ(report["variables"]["STARTED"], 1);
    EXPECT_GT(report["time_s"].get<double>(), 0.0);
}

TEST_F(SimCommandTest, WritesTheLoggedCurvesAsCsvWithOneRowPerSpeedLoopPeriod) {
    const fs::path csv = folder_ / "curves.csv";
    const RunResult logged = Run(
        {kMotor, kSetup, "VDC_Detection_Test", "--json", "--log", csv.string(), "--for", "0.5"});
    ASSERT_EQ(logged.status, 0) << logged.err;
    const double ran_s = nlohmann::json::parse(logged.out)["time_s"].get<double>();
    std::ifstream file(csv);
    std::string header;
    ASSERT_TRUE(std::getline(file, header));
    EXPECT_EQ(header,
              "time [s],Current_Reference [A],Motor_Current [A],Speed_Reference [rad/s],"
              "Load_Speed [rad/s],Target_Position [rad],Load_Position [rad]");
    std::vector<std::string> rows;
    for (std::string row; std::getline(file, row);) {
        rows.push_back(row);
    }
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(std::count(rows.back().begin(), rows.back().end(), ','), 6);
    EXPECT_NEAR(std::stod(rows.back().substr(0, rows.back().find(','))), ran_s, 1e-9);
}

struct SupplyCase {
    std::string label;
    std::vector<std::string> options;
    double supply_V;
    friend std::ostream& operator<<(std::ostream& out, const SupplyCase& row) {
        return out << row.label;
    }
};

class SimSupply : public SimCommandTest, public ::testing::WithParamInterface<SupplyCase> {};

// The drive runs on the motor file's bench, or on the --bus supply, whatever the setup's Vdc: the
// bus converter (10 bits in 16, 73 V full scale) reads that supply.
TEST_P(SimSupply, BusConverterReadsTheBenchNotTheSetup) {
    std::vector<std::string> arguments{kMotor,  kSetup,   "VDC_Detection_Test",
                                       "--set", "Vdc=30", "--json"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const RunResult result = Run(arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_NEAR(report["driveVariables"]["var_u2"].get<double>(),
                GetParam().supply_V / 73.0 * 65472.0, 32.0);
}

INSTANTIATE_TEST_SUITE_P(Supplies, SimSupply,
                         ::testing::Values(SupplyCase{"MotorFileBench", {}, 48.0},
                                           SupplyCase{"BusOption", {"--bus", "60"}, 60.0},
                                           SupplyCase{
                                               "BusAboveTheConverter", {"--bus", "90"}, 73.0}),
                         ByLabel());

// The potentiometer at 2.5 V on the reference axis's +-10 V input: 12.5 / 20 of the converter's
// 1023 steps of 64 counts, 639 steps. The program runs until stopped: the run ends with the time.
TEST_F(SimCommandTest, AnalogueInputIsConvertedWhileTheAnalogueReferenceTestRuns) {
    const RunResult result = Run(
        {kMotor, kSetup, "Analogue_Reference_Test", "--analogue", "2.5", "--for", "0.1", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["ended"], false);
    EXPECT_EQ(report["variables"]["STARTED"], 1);
    EXPECT_EQ(report["AD5"], 639 * 64);
    EXPECT_NE(result.err.find("still running"), std::string::npos) << result.err;
}

// The angle controller's gains as --set parameters, the test current, its ramp and the stabilize
// time as the dialog passes them: gains the reference motor settles with pass.
TEST_F(SimCommandTest, AngleControllerTuningTestGivesItsVerdict) {
    const RunResult result =
        Run({kMotor, kSetup, "Angle_Controller_Tuning_Test", "--set", "Kp_T_scl=230.9", "--set",
             "Ki_T_scl=19", "--var", "In1=3968", "--var", "ReferenceIncrement=4", "--var",
             "TimeLimit=1000", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["ended"], true);
    EXPECT_EQ(report["variables"]["test_flag"], 1);
    EXPECT_EQ(report["variables"]["theta_1"], -16384);
}

struct FailureCase {
    std::string label;
    std::vector<std::string> arguments;
    int status;
    std::string fragment;
};

class SimCommandFailure : public SimCommandTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SimCommandFailure, ExitsWithItsStatusAndSaysWhy) {
    const RunResult result = Run(GetParam().arguments);
    EXPECT_EQ(result.status, GetParam().status) << result.err;
    EXPECT_NE(result.err.find(GetParam().fragment), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Invocations, SimCommandFailure,
    ::testing::Values(
        FailureCase{"UnknownProgram",
                    {kMotor, kSetup, "No_Such_Test"},
                    1,
                    "unknown program \"No_Such_Test\""},
        FailureCase{"MissingMotorFile",
                    {"/nonexistent/motor.json", kSetup, "VDC_Detection_Test"},
                    3,
                    "/nonexistent/motor.json"},
        FailureCase{"MotorFileIsASetup", {kSetup, kSetup, "VDC_Detection_Test"}, 3, kSetup},
        FailureCase{"MissingSetupFile",
                    {kMotor, "/nonexistent/setup.json", "VDC_Detection_Test"},
                    3,
                    "/nonexistent/setup.json"},
        FailureCase{"UnknownProgramVariable",
                    {kMotor, kSetup, "VDC_Detection_Test", "--var", "Speed=3"},
                    1,
                    "The program \"VDC_Detection_Test\" has no variable \"Speed\"."},
        FailureCase{"VariableNotANumber",
                    {kMotor, kSetup, "VDC_Detection_Test", "--var", "STARTED=abc"},
                    2,
                    "--var STARTED expects a number, not \"abc\""},
        FailureCase{"VariableWithoutValue",
                    {kMotor, kSetup, "VDC_Detection_Test", "--var", "STARTED"},
                    2,
                    "--var expects NAME=VALUE"},
        FailureCase{"NegativeDuration",
                    {kMotor, kSetup, "VDC_Detection_Test", "--for", "-1"},
                    2,
                    "--for expects a positive number of seconds, not \"-1\""},
        FailureCase{"AnalogueInputNotAVoltage",
                    {kMotor, kSetup, "Analogue_Reference_Test", "--analogue", "high"},
                    2,
                    "--analogue expects a voltage, not \"high\""},
        FailureCase{"BusNotAVoltage",
                    {kMotor, kSetup, "VDC_Detection_Test", "--bus", "0"},
                    2,
                    "--bus expects a supply from 1 to 1000 volts, not \"0\""},
        FailureCase{"MissingProgramArgument", {kMotor, kSetup}, 2, "wrong number of arguments"}),
    ByLabel());

}  // namespace
