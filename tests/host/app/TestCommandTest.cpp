#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "tests/drive/CaseLabel.h"
#include "tests/support/CommandRun.h"

// brevan test (and brevan edit with a simulated drive), run as a user runs them: the drive-test
// dialogs on the simulated drive of a motor file, with a scripted person.
namespace {

namespace fs = std::filesystem;

const std::string kReferenceMotor =
    std::string(BREVAN_SOURCE_DIR) + "/examples/motors/reference-axis-motor.json";
const std::string kReferenceAxis = std::string(BREVAN_SOURCE_DIR) + "/examples/reference-axis.json";
// The reference axis's setup believes in a 48 V supply.
constexpr double kBelievedVdc_V = 48.0;
constexpr const char* kInternalError =
    "Internal error: the test program could not be started or read on the drive.";

class TestCommand : public ::testing::Test {
  protected:
    TestCommand()
        : folder_(fs::temp_directory_path() /
                  ("brevan-test-" + std::to_string(::getpid()) + "-" +
                   std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
        fs::create_directories(folder_);
        axis_ = folder_ / "axis.json";
        fs::copy_file(kReferenceAxis, axis_);
    }
    ~TestCommand() override { fs::remove_all(folder_); }

    RunResult Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "test");
        return RunBrevan(arguments, folder_);
    }

    // The reference motor on a bench of that supply.
    std::string MotorOnBench(double supply_V) {
        nlohmann::ordered_json motor = nlohmann::ordered_json::parse(ReadAll(kReferenceMotor));
        motor["bench"] = {{"supply_V", supply_V}};
        const fs::path path = folder_ / "motor-on-bench.json";
        std::ofstream(path) << motor.dump(2);
        return path.string();
    }

    double SavedVdc(const fs::path& setup) {
        const RunResult shown = RunBrevan({"show", setup.string(), "Vdc", "--json"}, folder_);
        EXPECT_EQ(shown.status, 0) << shown.err;
        return nlohmann::json::parse(shown.out)["parameters"]["Vdc"]["base"].get<double>();
    }

    fs::path folder_;
    fs::path axis_;
};

struct BenchCase {
    std::string label;
    double supply_V;
    bool fromBusOption;  // else from the motor file's bench
    friend std::ostream& operator<<(std::ostream& out, const BenchCase& row) {
        return out << row.label;
    }
};

class DcVoltageOnBench : public TestCommand, public ::testing::WithParamInterface<BenchCase> {};

TEST_P(DcVoltageOnBench, YesSavesTheMeasuredSupply) {
    const BenchCase& bench = GetParam();
    const fs::path out = folder_ / "measured.json";
    std::vector<std::string> arguments{axis_.string(), "dc-voltage", "-o", out.string()};
    if (bench.fromBusOption) {
        arguments.insert(arguments.end(),
                         {"--motor", kReferenceMotor, "--bus", std::to_string(bench.supply_V)});
    } else {
        arguments.insert(arguments.end(), {"--motor", MotorOnBench(bench.supply_V)});
    }
    const RunResult result = Run(arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("step: Launching test\nstep: Running test\noutcome: succeeded\n"
                               "error: none\n",
                               0),
              0u)
        << result.out;
    EXPECT_NE(result.out.find("\nproposed: Vdc: old 48 V, new "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\ndialog result: 1\nsaved: " + out.string() + "\n"),
              std::string::npos)
        << result.out;
    EXPECT_NEAR(SavedVdc(out), bench.supply_V, bench.supply_V * 0.005);
    EXPECT_EQ(SavedVdc(axis_), kBelievedVdc_V);
}

INSTANTIATE_TEST_SUITE_P(Supplies, DcVoltageOnBench,
                         ::testing::Values(BenchCase{"MotorFileBench", 36.0, false},
                                           BenchCase{"BusOption", 52.5, true}),
                         ByLabel());

struct TableCase {
    std::string test;
    std::string outcome;
    // Settings the person makes before the run.
    std::vector<std::string> settings;
    friend std::ostream& operator<<(std::ostream& out, const TableCase& row) {
        return out << row.test;
    }
};

class EveryTest : public TestCommand, public ::testing::WithParamInterface<TableCase> {};

// Every test of the command concludes on the reference axis's motor, those whose dialog opens on
// another page than the one holding Start included. The reference axis's encoder keeps no offset:
// its offset test fails, by design. Its electric angle controller is not tuned (Kp_T_scl 2,
// Ki_T_scl 0.05 leave the angle unsettled): the person runs it with tuned gains.
TEST_P(EveryTest, ConcludesOnTheReferenceAxis) {
    const fs::path out = folder_ / "tested.json";
    std::vector<std::string> arguments{axis_.string(), GetParam().test, "--motor", kReferenceMotor,
                                       "-o",           out.string()};
    arguments.insert(arguments.end(), GetParam().settings.begin(), GetParam().settings.end());
    const RunResult result = Run(arguments);
    EXPECT_NE(result.out.find("\noutcome: " + GetParam().outcome + "\n"), std::string::npos)
        << result.out << result.err;
    EXPECT_EQ(result.out.find("The test did not conclude"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(ReferenceAxis, EveryTest,
                         ::testing::Values(TableCase{"resistance-inductance", "succeeded", {}},
                                           TableCase{"encoder-resolution", "succeeded", {}},
                                           TableCase{"pole-pairs", "succeeded", {}},
                                           TableCase{"total-inertia", "succeeded", {}},
                                           TableCase{"phase-connections", "succeeded", {}},
                                           TableCase{"encoder-connections", "succeeded", {}},
                                           TableCase{"encoder-offset", "failed", {}},
                                           TableCase{"dc-voltage", "succeeded", {}},
                                           TableCase{"analogue-reference", "succeeded", {}},
                                           TableCase{"angle-controller",
                                                     "succeeded",
                                                     {"--set", "Kp_T_scl=230.9", "--set",
                                                      "Ki_T_scl=19"}}),
                         [](const ::testing::TestParamInfo<TableCase>& row) {
                             std::string name = row.param.test;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

struct AnswerCase {
    std::string label;
    std::string answer;
    int dialogResult;
    std::size_t questions;
    bool saved;
    friend std::ostream& operator<<(std::ostream& out, const AnswerCase& row) {
        return out << row.label;
    }
};

class ClosingAnswer : public TestCommand, public ::testing::WithParamInterface<AnswerCase> {};

// Saved in place on Yes; No, and Cancel followed by a second Close answered No, leave the file as
// it was, byte for byte. The test succeeded either way.
TEST_P(ClosingAnswer, DecidesWhetherTheSetupIsSavedInPlace) {
    const AnswerCase& answer = GetParam();
    const std::string before = ReadAll(axis_);
    const RunResult result = Run({axis_.string(), "dc-voltage", "--motor", kReferenceMotor, "--bus",
                                  "40", "--answer", answer.answer, "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["dialogResult"], answer.dialogResult);
    EXPECT_EQ(report["saved"], answer.saved);
    EXPECT_NEAR(report["proposed"]["Vdc"]["new"].get<double>(), 40.0, 0.2);
    std::size_t questions = 0;
    for (std::size_t at = result.err.find("Power supply:"); at != std::string::npos;
         at = result.err.find("Power supply:", at + 1)) {
        ++questions;
    }
    EXPECT_EQ(questions, answer.questions) << result.err;
    if (answer.saved) {
        EXPECT_NEAR(SavedVdc(axis_), 40.0, 0.2);
    } else {
        EXPECT_EQ(ReadAll(axis_), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ClosingAnswer,
                         ::testing::Values(AnswerCase{"Yes", "yes", 1, 1, true},
                                           AnswerCase{"No", "no", 2, 1, false},
                                           AnswerCase{"CancelThenNo", "cancel", 2, 2, false}),
                         ByLabel());

TEST_F(TestCommand, JsonReportsTheRunInItsShape) {
    const RunResult result = Run({axis_.string(), "dc-voltage", "--motor", kReferenceMotor, "--bus",
                                  "44", "--answer", "no", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::ordered_json report = nlohmann::ordered_json::parse(result.out);
    std::vector<std::string> keys;
    for (const auto& [key, value] : report.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"test", "outcome", "error", "steps", "proposed",
                                              "dialogResult", "saved"}));
    EXPECT_EQ(report["test"], "dc-voltage");
    EXPECT_EQ(report["outcome"], "succeeded");
    EXPECT_TRUE(report["error"].is_null());
    EXPECT_EQ(report["steps"], (nlohmann::ordered_json{"Launching test", "Running test"}));
    // Besides the supply, the test base's own change when the dialog is made: the motionless
    // start's minimum move is cleared for every test but the tuning ones.
    ASSERT_EQ(report["proposed"].size(), 2u) << report["proposed"].dump();
    EXPECT_EQ(report["proposed"]["ABSTART_MINMOVE"]["new"], 0.0);
    EXPECT_EQ(report["proposed"]["Vdc"]["old"], kBelievedVdc_V);
    EXPECT_NEAR(report["proposed"]["Vdc"]["new"].get<double>(), 44.0, 44.0 * 0.005);
    EXPECT_EQ(report["dialogResult"], 2);
    EXPECT_EQ(report["saved"], false);
}

// The angle test's advice quotes with a Windows-1252 quotation mark; the report is UTF-8 JSON that
// any reader takes.
TEST_F(TestCommand, JsonCarriesTheDialogsWindows1252TextsAsUtf8) {
    const RunResult result =
        Run({axis_.string(), "angle-controller", "--motor", kReferenceMotor, "--set",
             "Kp_T_scl=0.5", "--set", "Ki_T_scl=0", "--answer", "no", "--json"});
    ASSERT_EQ(result.status, 1) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_NE(report["error"].get<std::string>().find("doesn\xE2\x80\x99t decreases to zero"),
              std::string::npos)
        << report["error"];
}

// Options that are not UTF-8 (0xFF as a value and as a name) leave the JSON report whole.
TEST_F(TestCommand, JsonWithAnOptionThatIsNotUtf8IsPrintedWhole) {
    const RunResult result =
        Run({axis_.string(), "dc-voltage", "--motor", kReferenceMotor, "--answer", "no", "--json",
             "--option", "X=\xff", "--option", "\xff=1"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["outcome"], "succeeded");
    EXPECT_EQ(report["saved"], false);
}

// A clock that makes the PWM faster than any drive switches is refused before any test runs, as
// sim refuses it: the simulation would take minutes for a second of drive time.
TEST_F(TestCommand, APwmTheSimulationCannotRunIsRefusedBeforeTheTest) {
    nlohmann::ordered_json setup = nlohmann::ordered_json::parse(std::ifstream(axis_));
    for (auto& parameter : setup["parameters"]) {
        if (parameter["name"] == "DSP_freq") {
            parameter["max"] = 1e15;
        }
    }
    std::ofstream(axis_) << setup.dump();
    const std::string before = ReadAll(axis_);
    const RunResult result = Run({axis_.string(), "dc-voltage", "--motor", kReferenceMotor, "--set",
                                  "DSP_freq=1e14", "-o", (folder_ / "out.json").string()});
    EXPECT_EQ(result.status, 3) << result.err;
    EXPECT_NE(result.err.find("; the simulated drive runs PWM frequencies above 0 up to 200000 Hz"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(folder_ / "out.json"));
    EXPECT_EQ(ReadAll(axis_), before);
}

// The link breaks at the program's download: the dialog fails its launch, the kernel reports the
// link's own text, and no supply is proposed and nothing saved.
TEST_F(TestCommand, BrokenLinkFailsTheTestWithTheCommunicationError) {
    const std::string before = ReadAll(axis_);
    const RunResult result =
        Run({axis_.string(), "dc-voltage", "--motor", kReferenceMotor, "--fault", "link-error"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find("Starting the program \"VDC_Detection_Test\" failed: The drive does "
                              "not answer: the link to it is broken."),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.out.find(std::string("outcome: failed\nerror: ") + kInternalError),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("proposed: Vdc"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\ndialog result: 2\nsaved: no\n"), std::string::npos) << result.out;
    EXPECT_EQ(ReadAll(axis_), before);
}

struct RefusalCase {
    std::string label;
    std::vector<std::string> arguments;  // after SETUP; MOTOR stands for the reference motor
    int status;
    std::string message;
    friend std::ostream& operator<<(std::ostream& out, const RefusalCase& row) {
        return out << row.label;
    }
};

class Refusal : public TestCommand, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, ExitsWithItsStatusAndSaysWhy) {
    std::vector<std::string> arguments{axis_.string()};
    for (const std::string& argument : GetParam().arguments) {
        arguments.push_back(argument == "MOTOR" ? kReferenceMotor : argument);
    }
    const std::string before = ReadAll(axis_);
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadAll(axis_), before);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Refusal,
    ::testing::Values(
        RefusalCase{"UnknownTest",
                    {"vdc", "--motor", "MOTOR"},
                    2,
                    "unknown test \"vdc\"; the tests: resistance-inductance, encoder-resolution"},
        RefusalCase{"MisspeltTest",
                    {"dc-votlage", "--motor", "MOTOR"},
                    2,
                    "angle-controller (did you mean dc-voltage?)"},
        RefusalCase{"MisspeltFault",
                    {"dc-voltage", "--motor", "MOTOR", "--fault", "enable-of"},
                    2,
                    "not \"enable-of\" (did you mean enable-off?)"},
        RefusalCase{"NoMotor", {"dc-voltage"}, 2, "test needs --motor FILE"},
        RefusalCase{"UnknownAnswer",
                    {"dc-voltage", "--motor", "MOTOR", "--answer", "maybe"},
                    2,
                    "--answer expects yes, no or cancel, not \"maybe\""},
        RefusalCase{"UnknownFault",
                    {"dc-voltage", "--motor", "MOTOR", "--fault", "open-phase-d"},
                    2,
                    "--fault expects one of open-phase-a, "},
        RefusalCase{"BusBeyondABench",
                    {"dc-voltage", "--motor", "MOTOR", "--bus", "1500"},
                    2,
                    "--bus expects a supply from 1 to 1000 volts, not \"1500\""},
        RefusalCase{"MissingMotorFile",
                    {"dc-voltage", "--motor", "/nonexistent/motor.json"},
                    3,
                    "/nonexistent/motor.json: file: cannot be opened for reading"},
        RefusalCase{"NoTestNamed", {}, 2, "test: TEST is missing (brevan test SETUP TEST)"}),
    ByLabel());

// The help lists the names a command accepts, the same as its refusal of an unknown name does:
// the tests for TEST, the faults for --fault, the commissioning's steps for --only.
struct ListedNamesCase {
    std::string label;
    std::string command;
    std::string helpLead;              // the help's words before the list
    std::vector<std::string> refused;  // arguments after SETUP naming what does not exist
    std::string refusalLead;           // the refusal's words before the list
    friend std::ostream& operator<<(std::ostream& out, const ListedNamesCase& row) {
        return out << row.label;
    }
};

class ListedNames : public TestCommand, public ::testing::WithParamInterface<ListedNamesCase> {};

// The comma-separated list after the lead, up to the end of its line or the refusal's ", not".
std::string ListAfter(const std::string& text, const std::string& lead) {
    const auto start = text.find(lead);
    if (start == std::string::npos) {
        return {};
    }
    const std::string rest = text.substr(start + lead.size());
    return rest.substr(0, std::min(rest.find('\n'), rest.find(", not ")));
}

TEST_P(ListedNames, HelpListsWhatTheRefusalAccepts) {
    const ListedNamesCase& row = GetParam();
    const RunResult help = RunBrevan({row.command, "--help"}, folder_);
    ASSERT_EQ(help.status, 0) << help.err;
    std::vector<std::string> arguments{row.command, axis_.string()};
    arguments.insert(arguments.end(), row.refused.begin(), row.refused.end());
    const RunResult refusal = RunBrevan(arguments, folder_);
    ASSERT_EQ(refusal.status, 2) << refusal.err;

    const std::string listed = ListAfter(help.out, row.helpLead);
    const std::string accepted = ListAfter(refusal.err, row.refusalLead);
    EXPECT_NE(listed.find(", "), std::string::npos) << help.out;
    EXPECT_EQ(listed, accepted) << help.out << refusal.err;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ListedNames,
    ::testing::Values(ListedNamesCase{"Tests",
                                      "test",
                                      "the drive test: ",
                                      {"no-such-test", "--motor", kReferenceMotor},
                                      "the tests: "},
                      ListedNamesCase{"Faults",
                                      "test",
                                      "a fault of the simulated drive: ",
                                      {"dc-voltage", "--motor", kReferenceMotor, "--fault", "x"},
                                      "--fault expects one of "},
                      ListedNamesCase{"CommissionFaults",
                                      "commission",
                                      "a fault of the simulated drive: ",
                                      {"--motor", kReferenceMotor, "--fault", "x"},
                                      "--fault expects one of "},
                      ListedNamesCase{"CommissionSteps",
                                      "commission",
                                      "run only the steps named: ",
                                      {"--motor", kReferenceMotor, "--only", "x"},
                                      "the steps: "}),
    ByLabel());

// brevan edit with --motor connects the simulated drive on its bench: Detect in Drive Setup finds
// the bench's supply, and OK saves it.
TEST_F(TestCommand, EditWithAMotorDetectsTheBenchSupply) {
    const fs::path script = folder_ / "detect.txt";
    std::ofstream(script) << "dialog \"Brushless Motor Setup\"\n"
                             "click 1\n"
                             "dialog \"Drive Setup\"\n"
                             "click 3171\n"
                             "dialog 105\n"
                             "click 10000\n"
                             "wait 1000\n"
                             "click 2\n"
                             "dialog \"Drive Setup\"\n"
                             "click 1\n"
                             "answer \"Power supply\" yes\n";
    const fs::path out = folder_ / "edited.json";
    const RunResult result = RunBrevan({"edit", axis_.string(), "--motor", MotorOnBench(30.0),
                                        "--script", script.string(), "-o", out.string()},
                                       folder_);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NEAR(SavedVdc(out), 30.0, 30.0 * 0.005);
}

}  // namespace
