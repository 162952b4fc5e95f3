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
#include <utility>
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

// An option that is not UTF-8 (0xFF) leaves the JSON report whole.
TEST_F(SimCommandTest, JsonWithAnOptionThatIsNotUtf8IsPrintedWhole) {
    const RunResult result = Run({kMotor, kSetup, "VDC_Detection_Test", "--json", "--option",
                                  "X=\xff", "--option", "\xff=1"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["variables"]["STARTED"], 1);
}

// A setup whose clock and PWM register give a PWM far faster than any drive switches (a DSP clock
// of 1e14 Hz, which the file's own range allows here) would make each second of drive time take
// minutes: it is refused before the program runs, naming the parameters.
struct PwmBoundCase {
    const char* label;
    const char* clock;  // --set DSP_freq=...
    int status;
    const char* fragment;  // of the refusal, or nullptr when it runs
    friend std::ostream& operator<<(std::ostream& out, const PwmBoundCase& row) {
        return out << row.label;
    }
};

class SimPwmBound : public SimCommandTest, public ::testing::WithParamInterface<PwmBoundCase> {};

TEST_P(SimPwmBound, RefusesAPwmBeyondTheFastestDrive) {
    const PwmBoundCase& row = GetParam();
    nlohmann::ordered_json setup = nlohmann::ordered_json::parse(std::ifstream(kSetup));
    for (auto& parameter : setup["parameters"]) {
        if (parameter["name"] == "DSP_freq") {
            parameter["max"] = 1e15;
        }
    }
    const fs::path fast = folder_ / "fast-clock.json";
    std::ofstream(fast) << setup.dump();
    const RunResult result = Run({kMotor, fast.string(), "Analogue_Reference_Test", "--for",
                                  "0.001", "--set", std::string("DSP_freq=") + row.clock});
    EXPECT_EQ(result.status, row.status) << result.err;
    const std::string bound = "; the simulated drive runs PWM frequencies above 0 up to 200000 Hz";
    if (row.fragment == nullptr) {
        EXPECT_EQ(result.err.find(bound), std::string::npos) << result.err;
    } else {
        EXPECT_NE(result.err.find(row.fragment + bound), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

// The PWM register holds at most 65535 half periods: a clock of 2 x 65535 x 200 kHz is the
// fastest that still switches at 200 kHz.
INSTANTIATE_TEST_SUITE_P(
    Clocks, SimPwmBound,
    ::testing::Values(PwmBoundCase{"FuzzersClock", "1e14", 3,
                                   "DSP_freq 100000000000000 Hz and PWMPER 65535 give a PWM "
                                   "frequency of 762951094.83482111 Hz"},
                      PwmBoundCase{"AtTheBound", "26214000000", 0, nullptr},
                      PwmBoundCase{"JustBeyond", "26215000000", 3,
                                   "DSP_freq 26215000000 Hz and PWMPER 65535 give a PWM frequency "
                                   "of 200007.62951094835 Hz"}),
    ByLabel());

// A converter range of 1e-310 A (which the file's own range allows here) makes the power stage's
// current scale infinite: the firmware saturates the counts it reads instead of overflowing its
// transforms (the sanitizer build stops at an overflow), and the program runs its time.
TEST_F(SimCommandTest, ACurrentScaleOfNoSensibleValueRunsWithoutOverflow) {
    nlohmann::ordered_json setup = nlohmann::ordered_json::parse(std::ifstream(kSetup));
    for (auto& parameter : setup["parameters"]) {
        if (parameter["name"] == "ImaxPS") {
            parameter["min"] = 0;
        }
    }
    const fs::path tiny = folder_ / "tiny-converter.json";
    std::ofstream(tiny) << setup.dump();
    const RunResult result = Run({kMotor, tiny.string(), "Analogue_Reference_Test", "--analogue",
                                  "2.5", "--for", "0.05", "--set", "ImaxPS=1e-310", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["ended"], false);
    EXPECT_GE(report["time_s"].get<double>(), 0.05);
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
        FailureCase{"MisspeltProgram",
                    {kMotor, kSetup, "VDC_Detection_Tset"},
                    1,
                    "(did you mean VDC_Detection_Test?)"},
        FailureCase{"MotorAndSetupSwapped",
                    {kSetup, kMotor, "VDC_Detection_Test"},
                    3,
                    "sim takes MOTOR before SETUP: " + kSetup + " is a setup file and " + kMotor +
                        " a motor file"},
        FailureCase{"MisspeltProgramVariable",
                    {kMotor, kSetup, "VDC_Detection_Test", "--var", "STRATED=1"},
                    1,
                    "has no variable \"STRATED\". Its variables: STARTED (did you mean "
                    "STARTED?)"},
        FailureCase{"LogInAMissingFolder",
                    {kMotor, kSetup, "VDC_Detection_Test", "--log", "/nonexistent/log.csv"},
                    2,
                    "--log /nonexistent/log.csv: the folder /nonexistent does not exist"},
        FailureCase{"RegisterComputedAfresh",
                    {kMotor, kSetup, "VDC_Detection_Test", "--set-internal", "KPI=100"},
                    2,
                    "--set-internal KPI=100: sim derives KPI afresh from Kp_C_scl"},
        FailureCase{"MissingProgramArgument",
                    {kMotor, kSetup},
                    2,
                    "sim: PROGRAM is missing; the simulated drive runs: "}),
    ByLabel());

}  // namespace
