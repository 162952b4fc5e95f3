#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "tests/drive/CaseLabel.h"
#include "tests/support/CommandRun.h"

// brevan tune, run as a user runs it: a loop's tuning dialog on the simulated drive of a motor
// file, with a scripted person, and the figures of the step response it shows.
namespace {

namespace fs = std::filesystem;

const std::string kReferenceMotor =
    std::string(BREVAN_SOURCE_DIR) + "/examples/motors/reference-axis-motor.json";
const std::string kReferenceAxis = std::string(BREVAN_SOURCE_DIR) + "/examples/reference-axis.json";

class TuneCommand : public ::testing::Test {
  protected:
    TuneCommand()
        : folder_(fs::temp_directory_path() /
                  ("brevan-tune-" + std::to_string(::getpid()) + "-" +
                   std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
        fs::create_directories(folder_);
        axis_ = folder_ / "axis.json";
        fs::copy_file(kReferenceAxis, axis_);
    }
    ~TuneCommand() override { fs::remove_all(folder_); }

    RunResult Tune(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "tune");
        return RunBrevan(arguments, folder_);
    }

    // A parameter's base value in a setup file, as brevan show reads it.
    double Saved(const fs::path& setup, const std::string& name) {
        const RunResult shown = RunBrevan({"show", setup.string(), name, "--json"}, folder_);
        EXPECT_EQ(shown.status, 0) << shown.err;
        return nlohmann::json::parse(shown.out)["parameters"][name]["base"].get<double>();
    }

    // The gain brevan design holds in its registers for the reference axis's current loop.
    double DesignedGain(const std::string& name) {
        const RunResult designed =
            RunBrevan({"design", axis_.string(), "current", "--json"}, folder_);
        EXPECT_EQ(designed.status, 0) << designed.err;
        return nlohmann::json::parse(designed.out)["gains"][name]["held"].get<double>();
    }

    fs::path folder_;
    fs::path axis_;
};

// Detuned gains, Tune, one step: the gains the setup is saved with are the ones designed from
// the passband, and the step the drive makes with them is the design's.
//
// The design places the closed loop's poles at the passband (5000 rad/s) with damping 0.7; the
// PI's zero (at Ki / Kp, below the passband for the motor's 2 ms time constant) hastens the
// step: the continuous loop reaches 63 % of it after 119.6 µs, 1 / (1.67 x the passband), with
// 18 % overshoot. The drive applies each voltage over the PWM period after it is computed, on
// average half a period (25 µs at 20 kHz) late: 63 % after about 145 µs, an achieved bandwidth
// near 6900 rad/s (1.38 x the passband; 7150 rad/s measured). 10 % allows for the current's
// quantisation (1/31 A, 2 % of the 1.75 A step) and the voltage limit the first periods reach.
// The delay also takes phase margin: more overshoot than the continuous design's.
constexpr double kContinuousTimeTo63_s = 119.6e-6;
constexpr double kHalfLoopPeriod_s = 25e-6;
constexpr double kContinuousOvershoot_percent = 18.2;

TEST_F(TuneCommand, TuneSavesTheDesignedGainsAndTheStepFollowsThePassband) {
    const fs::path out = folder_ / "tuned.json";
    const fs::path csv = folder_ / "step.csv";
    const fs::path plot = folder_ / "step.svg";
    const RunResult result = Tune({axis_.string(), "current", "--motor", kReferenceMotor, "--set",
                                   "Kp_C_scl=3", "--set", "Ki_C_scl=0.5", "--tune", "--json", "-o",
                                   out.string(), "--csv", csv.string(), "--plot", plot.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["loop"], "current");
    EXPECT_EQ(report["outcome"], "succeeded");
    EXPECT_TRUE(report["error"].is_null());
    EXPECT_EQ(report["designedBandwidth_rad_s"], 5000.0);
    const double expected_rad_s = 1.0 / (kContinuousTimeTo63_s + kHalfLoopPeriod_s);
    EXPECT_NEAR(report["achievedBandwidth_rad_s"].get<double>(), expected_rad_s,
                0.1 * expected_rad_s);
    EXPECT_GT(report["overshoot_percent"].get<double>(), kContinuousOvershoot_percent);
    EXPECT_LT(report["overshoot_percent"].get<double>(), 2.0 * kContinuousOvershoot_percent);
    EXPECT_GT(report["riseTime_s"].get<double>(), 0.0);
    EXPECT_GT(report["settlingTime_s"].get<double>(), report["riseTime_s"].get<double>());
    // The integrator leaves no error the ADC's quantisation would not explain.
    EXPECT_NEAR(report["steadyStateError"].get<double>(), 0.0, 0.02);

    const std::string table = ReadAll(csv);
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "time [s],Current_Reference [A],Voltage_Reference [V],Motor_Current [A]");
    const std::string picture = ReadAll(plot);
    EXPECT_NE(picture.find("<svg"), std::string::npos);
    EXPECT_NE(picture.find("Motor_Current"), std::string::npos);

    EXPECT_NEAR(Saved(out, "Kp_C_scl"), DesignedGain("Kp_C_scl"), 1e-9);
    EXPECT_NEAR(Saved(out, "Ki_C_scl"), DesignedGain("Ki_C_scl"), 1e-9);
    EXPECT_EQ(Saved(axis_, "Kp_C_scl"), Saved(kReferenceAxis, "Kp_C_scl"));
}

#if BREVAN_DESKTOP
// The PNG picture is drawn on Qt's offscreen platform: no display is needed.
TEST_F(TuneCommand, PlotsAPngWithoutADisplay) {
    const fs::path plot = folder_ / "step.png";
    const RunResult result = Tune({axis_.string(), "current", "--motor", kReferenceMotor, "--plot",
                                   plot.string(), "-o", (folder_ / "out.json").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadAll(plot).substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_NE(result.out.find("\noutcome: succeeded\nerror: none\ndesigned bandwidth: 5000 rad/s\n"
                              "achieved bandwidth: "),
              std::string::npos)
        << result.out;
}
#endif

struct RefusalCase {
    std::string label;
    std::vector<std::string> arguments;  // after SETUP; MOTOR stands for the reference motor
    int status;
    std::string message;
    friend std::ostream& operator<<(std::ostream& out, const RefusalCase& row) {
        return out << row.label;
    }
};

class Refusal : public TuneCommand, public ::testing::WithParamInterface<RefusalCase> {};

// Nothing runs, nothing is written and the setup stays as it was.
TEST_P(Refusal, ExitsWithItsStatusAndSaysWhy) {
    std::vector<std::string> arguments{axis_.string()};
    for (const std::string& argument : GetParam().arguments) {
        arguments.push_back(argument == "MOTOR" ? kReferenceMotor : argument);
    }
    const std::string before = ReadAll(axis_);
    const fs::path out = folder_ / "out.json";
    arguments.insert(arguments.end(), {"-o", out.string()});
    const RunResult result = Tune(arguments);
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(ReadAll(axis_), before);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Refusal,
    ::testing::Values(RefusalCase{"UnknownLoop",
                                  {"torque", "--motor", "MOTOR"},
                                  2,
                                  "unknown loop \"torque\"; the loops: current, speed, position"},
                      RefusalCase{"SpeedNotYet",
                                  {"speed", "--motor", "MOTOR"},
                                  2,
                                  "the speed controller tuning test is not available yet"},
                      RefusalCase{"PositionNotYet",
                                  {"position", "--motor", "MOTOR"},
                                  2,
                                  "the position controller tuning test is not available yet"},
                      RefusalCase{"NoMotor", {"current"}, 2, "tune needs --motor FILE"},
                      RefusalCase{"PlotNotAPicture",
                                  {"current", "--motor", "MOTOR", "--plot", "step.pdf"},
                                  2,
                                  "--plot writes a picture named .svg or .png, not \"step.pdf\""},
                      RefusalCase{"MissingMotorFile",
                                  {"current", "--motor", "/nonexistent/motor.json"},
                                  3,
                                  "/nonexistent/motor.json: file: cannot be opened for reading"}),
    ByLabel());

struct FailureCase {
    std::string label;
    std::vector<std::string> arguments;  // after SETUP current --motor MOTOR
    std::string error;
    friend std::ostream& operator<<(std::ostream& out, const FailureCase& row) {
        return out << row.label;
    }
};

class FailedRun : public TuneCommand, public ::testing::WithParamInterface<FailureCase> {};

// The test fails: exit 1, the dialog's reason, no figures, and neither the setup nor the curves
// are written.
TEST_P(FailedRun, SavesNothing) {
    const fs::path out = folder_ / "out.json";
    const fs::path csv = folder_ / "step.csv";
    std::vector<std::string> arguments{axis_.string(),  "current", "--motor",
                                       kReferenceMotor, "--json",  "-o",
                                       out.string(),    "--csv",   csv.string()};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const std::string before = ReadAll(axis_);
    const RunResult result = Tune(arguments);
    EXPECT_EQ(result.status, 1) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["outcome"], "failed");
    EXPECT_NE(report["error"].get<std::string>().find(GetParam().error), std::string::npos)
        << report["error"];
    for (const char* figure : {"achievedBandwidth_rad_s", "overshoot_percent", "riseTime_s",
                               "settlingTime_s", "steadyStateError"}) {
        EXPECT_TRUE(report[figure].is_null()) << figure;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(csv));
    EXPECT_EQ(ReadAll(axis_), before);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailedRun,
    ::testing::Values(FailureCase{"EnableOff", {"--fault", "enable-off"}, "ENABLE"},
                      FailureCase{"ShortCircuit",
                                  {"--fault", "short-circuit"},
                                  "Drive / Motor shortcircuit protection triggered."},
                      FailureCase{"OpenPhase",
                                  {"--fault", "open-phase-a"},
                                  "The preliminary test found no usable current."},
                      FailureCase{"BrokenLink",
                                  {"--fault", "link-error"},
                                  "Internal error: the test program could not be started"}),
    ByLabel());

}  // namespace
