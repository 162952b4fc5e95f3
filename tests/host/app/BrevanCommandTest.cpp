#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/CommandRun.h"
#include "tests/support/TestFolder.h"

namespace {

namespace fs = std::filesystem;

// A small axis: enough registers for the current and time scales, one scaled parameter of each.
constexpr const char* kSmallAxis = R"({
  "format": 1,
  "identity": {"description": "Test axis", "productId": "T-1", "firmwareId": "FW100",
               "e2romSizeWords": 16384, "userApplicationId": "bench"},
  "drive": {"adcBits": 10, "adcWordBits": 16, "ioPorts": []},
  "parameters": [
    {"name": "DSP_freq", "family": "frequency", "kind": "physical", "type": "real",
     "value": 40000000, "min": 1000000, "max": 200000000},
    {"name": "PWMPER", "family": "register", "kind": "physical", "type": "integer",
     "value": 1000, "min": 1, "max": 65535},
    {"name": "CLPER", "family": "register", "kind": "physical", "type": "integer",
     "value": 1, "min": 1, "max": 255},
    {"name": "SLPER", "family": "register", "kind": "physical", "type": "integer",
     "value": 10, "min": 1, "max": 255},
    {"name": "ImaxPS", "family": "current", "kind": "physical", "type": "real",
     "value": 16.5, "min": 0.1, "max": 100},
    {"name": "TestCurrent", "family": "current", "unit": "mA", "kind": "scaled", "type": "real",
     "value": 1984, "min": 0, "max": 5},
    {"name": "time_ERR_pos", "family": "time", "unit": "ms", "kind": "scaled", "type": "real",
     "value": 100, "min": 0.001, "max": 16},
    {"name": "DriveName", "family": "number", "kind": "physical", "type": "text",
     "value": "axis one"}
  ],
  "variables": [{"name": "APOS", "family": "rotary_position", "value": 0}],
  "options": {"IsClosedSpeed": "1"}
})";

class BrevanCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = TestFolder("brevan-cli");
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        axis_ = folder_ / "axis.json";
        std::ofstream(axis_) << kSmallAxis;
    }
    void TearDown() override { fs::remove_all(folder_); }

    RunResult Run(const std::vector<std::string>& arguments) {
        return RunBrevan(arguments, folder_);
    }

    nlohmann::json ShowJson(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"show", axis_.string()});
        arguments.push_back("--json");
        const RunResult result = Run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        return nlohmann::json::parse(result.out);
    }

    fs::path folder_;
    fs::path axis_;
};

struct UsageCase {
    std::vector<std::string> arguments;
    const char* expectedMessage;
};

class BrevanUsage : public BrevanCommand, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(BrevanUsage, ExitsWithTwoAndSaysWhy) {
    std::vector<std::string> arguments;
    for (const std::string& argument : GetParam().arguments) {
        arguments.push_back(argument == "AXIS" ? axis_.string() : argument);
    }
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find(GetParam().expectedMessage), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadCommandLines, BrevanUsage,
    ::testing::Values(
        UsageCase{{}, "no command given"},
        UsageCase{{"frobnicate", "AXIS"}, "unknown command \"frobnicate\""},
        UsageCase{{"show", "AXIS", "--bogus"}, "unknown option --bogus"},
        UsageCase{{"show", "AXIS", "--set", "Vdc"}, "expects NAME=VALUE"},
        UsageCase{{"show", "AXIS", "--set"}, "--set needs a value"},
        UsageCase{{"scale", "AXIS", "A"},
                  "scale: PARAM is missing (brevan scale SETUP UNIT PARAM)"},
        UsageCase{{"show", "AXIS", "--set", "PWMPER=fast"}, "is not a number"},
        // An option the command does not take is refused, not ignored.
        UsageCase{{"show", "AXIS", "--for", "3", "--log", "x.csv"},
                  "brevan: show does not take --for (sim takes it); see 'brevan show --help'\n"},
        UsageCase{{"show", "AXIS", "--json", "--for=3"}, "show does not take --for"},
        UsageCase{{"scale", "AXIS", "A", "TestCurrent", "-o", "x.json"}, "scale does not take -o"},
        UsageCase{{"edit", "AXIS", "--json"}, "edit does not take --json"},
        UsageCase{{"commission", "AXIS", "--script", "s.txt"}, "commission does not take --script"},
        UsageCase{{"registers", "AXIS", "--motor", "m.json"}, "registers does not take --motor"},
        // scale: a unit of the parameter's family, a name of the setup.
        UsageCase{{"scale", "AXIS", "furlong", "TestCurrent"},
                  "TestCurrent (current) is not measured in \"furlong\"; its units "
                  "are A, mA, IU"},
        UsageCase{{"scale", "AXIS", "s", "TestCurrent"}, "its units are A, mA, IU"},
        UsageCase{{"scale", "AXIS", "A", "Ghost"},
                  "the setup has no parameter or variable Ghost"}));

TEST_F(BrevanCommand, ShowsParametersAsJsonWithFullPrecision) {
    const nlohmann::json shown = ShowJson({});
    const nlohmann::json& current = shown["parameters"]["TestCurrent"];
    // 1984 counts of a 65472-count converter spanning +-16.5 A.
    EXPECT_EQ(current["base"].get<double>(), (1984.0 + 0.0) * (2.0 * 16.5 / 65472.0));
    EXPECT_EQ(current["internal"].get<double>(), 1984.0);
    EXPECT_EQ(current["min"].get<double>(), 0.0);
    EXPECT_EQ(current["max"].get<double>(), 5.0);
    EXPECT_EQ(current["unit"], "A");
    EXPECT_EQ(shown["parameters"]["time_ERR_pos"]["base"].get<double>(),
              100 * 2.0 * 10 * 1000 / 40e6);
    EXPECT_EQ(shown["options"]["IsClosedSpeed"], "1");
    EXPECT_EQ(shown["parameters"].size(), 8U);
}

TEST_F(BrevanCommand, ShowsOnlyTheNamedParametersInAnyLetterCase) {
    const RunResult result = Run({"show", axis_.string(), "pwmper", "TESTCURRENT", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json shown = nlohmann::json::parse(result.out);
    EXPECT_EQ(shown["parameters"].size(), 2U);
    EXPECT_TRUE(shown["parameters"].contains("PWMPER"));
}

TEST_F(BrevanCommand, UnknownParameterNameFailsWithOne) {
    const RunResult result = Run({"show", axis_.string(), "NoSuchThing"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("NoSuchThing"), std::string::npos);
}

// Texts that are not UTF-8 (an option set to a Windows-1252 byte, an option so named, a text
// parameter holding one): every command that prints JSON prints it whole, each such text read as
// Windows-1252 (0xFF is "ÿ"), instead of aborting in the JSON library.
struct NotUtf8Case {
    const char* label;
    std::vector<std::string> arguments;  // AXIS stands for the setup file
    const char* pointer;                 // where the text shows in the report, or nullptr
    const char* expected;                // what it shows there
    friend std::ostream& operator<<(std::ostream& out, const NotUtf8Case& row) {
        return out << row.label;
    }
};

class BrevanJsonOfNotUtf8 : public BrevanCommand,
                            public ::testing::WithParamInterface<NotUtf8Case> {};

TEST_P(BrevanJsonOfNotUtf8, PrintsTheTextAsWindows1252) {
    std::vector<std::string> arguments;
    for (const std::string& argument : GetParam().arguments) {
        arguments.push_back(argument == "AXIS" ? axis_.string() : argument);
    }
    arguments.insert(arguments.end(), {"--option", "X=\xff", "--option", "\xff=1", "--json"});
    const RunResult result = Run(arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    if (GetParam().pointer != nullptr) {
        EXPECT_EQ(report.at(nlohmann::json::json_pointer(GetParam().pointer)), GetParam().expected)
            << result.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, BrevanJsonOfNotUtf8,
    ::testing::Values(NotUtf8Case{"ShowOption", {"show", "AXIS"}, "/options/X", "\u00ff"},
                      NotUtf8Case{"ShowOptionName", {"show", "AXIS"}, "/options/\u00ff", "1"},
                      NotUtf8Case{"ShowText",
                                  {"show", "AXIS", "--set", "DriveName=\xff"},
                                  "/parameters/DriveName/text",
                                  "\u00ff"},
                      NotUtf8Case{"Compute", {"compute", "AXIS"}, "/options/X", "\u00ff"},
                      NotUtf8Case{"Registers", {"registers", "AXIS"}, nullptr, nullptr},
                      NotUtf8Case{"Scale", {"scale", "AXIS", "A", "TestCurrent"}, nullptr, nullptr},
                      NotUtf8Case{
                          "Design",
                          {"design", BREVAN_SOURCE_DIR "/examples/reference-axis.json", "speed"},
                          nullptr,
                          nullptr}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(BrevanCommand, ScalePrintsFactorAndOffsetWithSeventeenDigits) {
    const RunResult text = Run({"scale", axis_.string(), "A", "TestCurrent"});
    ASSERT_EQ(text.status, 0) << text.err;
    char expected[96];
    std::snprintf(expected, sizeof expected, "factor=%.17g offset=%.17g\n", 2.0 * 16.5 / 65472.0,
                  0.0);
    EXPECT_EQ(text.out, expected);
    const RunResult json = Run({"scale", axis_.string(), "s", "time_ERR_pos", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(nlohmann::json::parse(json.out)["factor"].get<double>(), 2.0 * 10 * 1000 / 40e6);
}

double ScaleFactor(const RunResult& result) {
    EXPECT_EQ(result.status, 0) << result.err;
    return result.status == 0 ? nlohmann::json::parse(result.out)["factor"].get<double>() : 0.0;
}

// The unit as a user types it: blanks around it and its letter case aside, it names the
// parameter's own unit ("V" of the DC bus is "V " to the module, the motor's voltage "V"); another
// unit of the family scales by its size.
struct TypedUnitCase {
    const char* label;
    const char* parameter;
    const char* typed;
    const char* exact;  // the unit as the family spells it
    double size;        // of the typed unit in the exact one
    friend std::ostream& operator<<(std::ostream& out, const TypedUnitCase& row) {
        return out << row.label;
    }
};

class BrevanScaleUnit : public BrevanCommand,
                        public ::testing::WithParamInterface<TypedUnitCase> {};

TEST_P(BrevanScaleUnit, GivesTheFactorOfTheParametersUnit) {
    const TypedUnitCase& row = GetParam();
    const std::string setup = std::string(BREVAN_SOURCE_DIR) + "/examples/reference-axis.json";
    const double exact = ScaleFactor(Run({"scale", setup, row.exact, row.parameter, "--json"}));
    const double typed = ScaleFactor(Run({"scale", setup, row.typed, row.parameter, "--json"}));
    EXPECT_NE(exact, 1.0) << "the module does not scale " << row.parameter;
    EXPECT_DOUBLE_EQ(typed, exact / row.size);
}

INSTANTIATE_TEST_SUITE_P(
    Units, BrevanScaleUnit,
    ::testing::Values(TypedUnitCase{"BusVoltsWithoutTheBlank", "Vdc", "V", "V ", 1.0},
                      TypedUnitCase{"BusVoltsBlankFirst", "Vdc", " V", "V ", 1.0},
                      TypedUnitCase{"BusVoltsLowerCase", "Vdc", "v", "V ", 1.0},
                      TypedUnitCase{"MilliampsOfAmperes", "ImaxPS", "mA", "A", 1e-3},
                      TypedUnitCase{"MilliampsWithBlanks", "ImaxPS", " mA ", "A", 1e-3}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(BrevanCommand, EditsApplyInOrderAndAreSaved) {
    const fs::path out = folder_ / "out.json";
    const RunResult result =
        Run({"show", axis_.string(), "--set", "ImaxPS=20", "--set", "ImaxPS=33", "--set-internal",
             "time_ERR_pos=50", "--option", "IsClosedSpeed=0", "--option", "NewOption=7",
             "--remove", "APOS", "--set", "DriveName=axis two", "-o", out.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json saved = nlohmann::json::parse(ReadAll(out));
    for (const auto& parameter : saved["parameters"]) {
        if (parameter["name"] == "ImaxPS") {
            EXPECT_EQ(parameter["value"].get<double>(), 33.0);
        } else if (parameter["name"] == "time_ERR_pos") {
            EXPECT_EQ(parameter["value"].get<double>(), 50.0);
        } else if (parameter["name"] == "DriveName") {
            EXPECT_EQ(parameter["value"], "axis two");
        }
    }
    EXPECT_EQ(saved["options"]["IsClosedSpeed"], "0");
    EXPECT_EQ(saved["options"]["NewOption"], "7");
    EXPECT_TRUE(saved["variables"].empty());
    // The saved file loads again as it was written.
    const RunResult again = Run({"show", out.string(), "ImaxPS", "--json"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(nlohmann::json::parse(again.out)["parameters"]["ImaxPS"]["base"].get<double>(), 33.0);
}

// A value the parameter cannot hold is refused as the setup dialogs refuse it, and nothing is
// saved; the edits before it are not saved either.
struct RefusedValueCase {
    const char* label;
    std::vector<std::string> edits;
    const char* message;
    friend std::ostream& operator<<(std::ostream& out, const RefusedValueCase& row) {
        return out << row.label;
    }
};

class BrevanRefusedValue : public BrevanCommand,
                           public ::testing::WithParamInterface<RefusedValueCase> {};

TEST_P(BrevanRefusedValue, ExitsWithTwoNamingTheRangeAndSavesNothing) {
    const fs::path out = folder_ / "out.json";
    std::vector<std::string> arguments = {"show", axis_.string(), "--set", "ImaxPS=20"};
    arguments.insert(arguments.end(), GetParam().edits.begin(), GetParam().edits.end());
    arguments.insert(arguments.end(), {"-o", out.string()});
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, std::string("brevan: ") + GetParam().message + "\n");
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Edits, BrevanRefusedValue,
    ::testing::Values(
        RefusedValueCase{"AboveTheMaximum",
                         {"--set", "TestCurrent=7"},
                         "--set TestCurrent=7: the value 7 A is out of range. Enter a value of "
                         "TestCurrent between 0 and 5 A."},
        RefusedValueCase{"BelowTheMinimum",
                         {"--set", "ImaxPS=-5"},
                         "--set ImaxPS=-5: the value -5 A is out of range. Enter a value of "
                         "ImaxPS between 0.1 and 100 A."},
        RefusedValueCase{"JustBelowTheMinimum",
                         {"--set", "time_ERR_pos=0.000999"},
                         "--set time_ERR_pos=0.000999: the value 0.000999 s is out of range. "
                         "Enter a value of time_ERR_pos between 0.001 and 16 s."},
        RefusedValueCase{"InternalBeyondTheRange",
                         {"--set-internal", "time_ERR_pos=40000"},
                         "--set-internal time_ERR_pos=40000: the value 40000 (internal, 20 s) is "
                         "out of range. Enter a value of time_ERR_pos between 0.001 and 16 s "
                         "(internal 2 to 32000)."},
        RefusedValueCase{"FractionOfAWholeNumber",
                         {"--set", "PWMPER=2.5"},
                         "--set PWMPER=2.5: PWMPER takes whole numbers only; 2.5 is not one."},
        RefusedValueCase{"InternalFractionOfAWholeNumber",
                         {"--set-internal", "SLPER=9.5"},
                         "--set-internal SLPER=9.5: SLPER takes whole numbers only; 9.5 is not "
                         "one."}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(BrevanCommand, ValuesAtTheRangeEndsAreTaken) {
    const nlohmann::json shown =
        ShowJson({"--set", "PWMPER=65535", "--set-internal", "CLPER=1", "--set", "ImaxPS=100",
                  "--set", "TestCurrent=5", "--set", "time_ERR_pos=0.001"});
    EXPECT_EQ(shown["parameters"]["ImaxPS"]["base"].get<double>(), 100.0);
    EXPECT_NEAR(shown["parameters"]["TestCurrent"]["base"].get<double>(), 5.0, 1e-12);
    EXPECT_NEAR(shown["parameters"]["time_ERR_pos"]["base"].get<double>(), 0.001, 1e-15);
    EXPECT_EQ(shown["parameters"]["PWMPER"]["base"].get<double>(), 65535.0);
}

// The reference axis's pole pairs are a real parameter shown with no decimals: 2.5 would be shown
// as a whole number it is not.
TEST_F(BrevanCommand, AValueShownWithNoDecimalsTakesWholeNumbersOnly) {
    const fs::path out = folder_ / "out.json";
    const std::string setup = std::string(BREVAN_SOURCE_DIR) + "/examples/reference-axis.json";
    const RunResult refused = Run({"registers", setup, "--set", "pp=2.5", "-o", out.string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "brevan: --set pp=2.5: pp takes whole numbers only; 2.5 is not one.\n");
    EXPECT_FALSE(fs::exists(out));
    const RunResult taken = Run({"show", setup, "pp", "--set", "pp=4", "--json"});
    ASSERT_EQ(taken.status, 0) << taken.err;
    EXPECT_EQ(nlohmann::json::parse(taken.out)["parameters"]["pp"]["base"].get<double>(), 4.0);
}

TEST_F(BrevanCommand, RemovingAnUnknownNameFailsWithOne) {
    const RunResult result = Run({"show", axis_.string(), "--remove", "Ghost"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Ghost"), std::string::npos);
}

struct BadFileCase {
    const char* content;  // null: the file does not exist
    const char* expectedMessage;
};

class BrevanBadSetup : public BrevanCommand, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BrevanBadSetup, ExitsWithThreeAndWritesNothing) {
    const fs::path bad = folder_ / "bad.json";
    if (GetParam().content != nullptr) {
        std::ofstream(bad) << GetParam().content;
    }
    const fs::path out = folder_ / "out.json";
    const RunResult result = Run({"show", bad.string(), "-o", out.string()});
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find(bad.string()), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(GetParam().expectedMessage), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrevanBadSetup,
    ::testing::Values(BadFileCase{nullptr, "cannot be read"}, BadFileCase{"", "not valid JSON"},
                      BadFileCase{"{\"format\": 1, \"identity\"", "line 1, column 25"},
                      BadFileCase{"[1, 2]", "expected an object"},
                      BadFileCase{"{\"format\": \"one\"}", "/format: expected a whole number"},
                      BadFileCase{"{\"format\": 9}", "format 9 is not supported"}));

TEST_F(BrevanCommand, MissingModuleFailsWithOne) {
    const RunResult result =
        Run({"show", axis_.string(), "--module", (folder_ / "nowhere.so").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot load the module"), std::string::npos) << result.err;
}

}  // namespace

namespace {

std::string Example(const char* name) {
    return std::string(BREVAN_SOURCE_DIR) + "/examples/" + name;
}

// The host's load-time computation on the reference axis gives back the user parameters it was
// built from, with their families, and saves them.
TEST_F(BrevanCommand, ComputeDerivesUserParametersWithTheirFamilies) {
    const fs::path out = folder_ / "computed.json";
    const RunResult result =
        Run({"compute", Example("reference-axis.json"), "--json", "-o", out.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;
    const nlohmann::json shown = nlohmann::json::parse(result.out);
    EXPECT_FALSE(shown["parameters"].contains("PWMPER")) << "registers are not user parameters";
    EXPECT_EQ(shown["parameters"]["Ts_S"]["base"].get<double>(), 2.0 * 10 * 1000 / 40e6);
    EXPECT_EQ(shown["parameters"]["ERR_position"]["family"], "rotary_position");
    EXPECT_EQ(shown["options"]["IsClosedPosition"], "1");
    EXPECT_TRUE(fs::exists(out));
}

// A missing mandatory name skips only the steps that need it: each is reported once, and every
// other value is still derived.
TEST_F(BrevanCommand, ComputeWithoutMandatoryNamesReportsThemAndDerivesTheRest) {
    const RunResult result =
        Run({"compute", Example("reference-axis.json"), "--remove", "K", "--remove", "SATS",
             "--remove", "ENDAT_BR", "--set-internal", "MECRESL=8192", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    for (const char* name : {"\"K\"", "\"SATS\"", "\"ENDAT_BR\""}) {
        const auto first = result.err.find(name);
        EXPECT_NE(first, std::string::npos) << name << " not reported: " << result.err;
        EXPECT_EQ(result.err.find(name, first + 1), std::string::npos) << name << " reported twice";
    }
    const nlohmann::json shown = nlohmann::json::parse(result.out);
    EXPECT_EQ(shown["parameters"]["No_encoder_lines"]["base"].get<double>(), 2048.0);
}

TEST_F(BrevanCommand, RegistersOfTheReferenceAxisAreItsOwn) {
    const RunResult shown = Run({"show", Example("reference-axis.json"), "--json"});
    const RunResult computed = Run({"registers", Example("reference-axis.json"), "--json"});
    ASSERT_EQ(computed.status, 0) << computed.err;
    const nlohmann::json before = nlohmann::json::parse(shown.out)["parameters"];
    const nlohmann::json after = nlohmann::json::parse(computed.out)["parameters"];
    ASSERT_GT(after.size(), 100U);
    for (const auto& [name, value] : after.items()) {
        EXPECT_EQ(value["family"], "register") << name;
        EXPECT_EQ(value["base"], before[name]["base"]) << name;
    }
}

// The designed gains, the registers the drive gets, and the gains those registers hold: within
// half a mantissa step of the design.
TEST_F(BrevanCommand, DesignShowsTheGainsTheRegistersHold) {
    const RunResult result =
        Run({"design", Example("reference-axis.json"), "speed", "--set", "PB_S=400", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json design = nlohmann::json::parse(result.out);
    EXPECT_EQ(design["loop"], "speed");
    ASSERT_EQ(design["gains"].size(), 2U);
    for (const auto& [name, gain] : design["gains"].items()) {
        const double step = std::exp2(gain["shift"].get<double>()) / 32767.0;
        EXPECT_NEAR(gain["held"].get<double>(), gain["designed"].get<double>(), 0.5 * step) << name;
        EXPECT_DOUBLE_EQ(gain["held"].get<double>(), gain["mantissa"].get<double>() * step) << name;
    }
    EXPECT_EQ(Run({"design", Example("reference-axis.json"), "torque"}).status, 2);
}

}  // namespace

namespace {

double SavedValue(const nlohmann::json& setup, const std::string& name) {
    for (const auto& parameter : setup["parameters"]) {
        if (parameter["name"] == name) {
            return parameter["value"].get<double>();
        }
    }
    ADD_FAILURE() << name << " is not in the saved setup";
    return 0.0;
}

TEST_F(BrevanCommand, EditRunsTheDialogsFromAScriptAndSavesOnOk) {
    const fs::path script = folder_ / "speed-mode.txt";
    std::ofstream(script) << "# accept the motor, switch to speed control\n"
                             "dialog \"Brushless Motor Setup\"\n"
                             "click 1\n"
                             "dialog \"Drive Setup\"\n"
                             "click 1060\n"
                             "type 3179 20\n"
                             "click \"OK\"\n";
    const fs::path out = folder_ / "edited.json";
    const RunResult result = Run(
        {"edit", Example("reference-axis.json"), "--script", script.string(), "-o", out.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("saved to"), std::string::npos) << result.out;
    const nlohmann::json saved = nlohmann::json::parse(ReadAll(out));
    EXPECT_EQ(SavedValue(saved, "ControlMode"), 1.0);
    EXPECT_EQ(saved["options"]["IsClosedSpeed"], "1");
}

// Motor Setup lists the motors the program ships: picking one from the system database writes its
// datasheet values into the setup.
TEST_F(BrevanCommand, EditPicksAMotorOfTheShippedSystemDatabase) {
    const fs::path script = folder_ / "pick-motor.txt";
    std::ofstream(script) << "dialog \"Brushless Motor Setup\"\n"
                             "select 10010 SYSTEM\n"
                             "select 10011 \"Small delta motor\"\n"
                             "click 1\n"
                             "dialog \"Drive Setup\"\n"
                             "click 1\n";
    const fs::path out = folder_ / "picked.json";
    const RunResult result = Run(
        {"edit", Example("reference-axis.json"), "--script", script.string(), "-o", out.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json saved = nlohmann::json::parse(ReadAll(out));
    EXPECT_DOUBLE_EQ(SavedValue(saved, "R"), 13.5);
    EXPECT_DOUBLE_EQ(SavedValue(saved, "L"), 0.006);
    EXPECT_DOUBLE_EQ(SavedValue(saved, "pp"), 4.0);
    EXPECT_DOUBLE_EQ(SavedValue(saved, "No_encoder_lines"), 500.0);
    EXPECT_DOUBLE_EQ(SavedValue(saved, "MotorPhaseConnectionType"), 1.0);
    EXPECT_DOUBLE_EQ(SavedValue(saved, "In"), 0.5);
    EXPECT_DOUBLE_EQ(SavedValue(saved, "ImaxM"), 1.5);
}

TEST_F(BrevanCommand, EditWhoseScriptRunsOutFailsAndSavesNothing) {
    const fs::path script = folder_ / "short.txt";
    std::ofstream(script) << "dialog \"Brushless Motor Setup\"\nclick 1\n";
    const fs::path out = folder_ / "edited.json";
    const RunResult result = Run(
        {"edit", Example("reference-axis.json"), "--script", script.string(), "-o", out.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("nothing was saved"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(out));
}

#if BREVAN_DESKTOP
// Without a script, edit opens windows; where there are none it says why and fails cleanly.
struct NoDesktopRow {
    const char* name;
    const char* display;  // null: not set
    const char* says;
};

class EditWithoutDesktop : public BrevanCommand,
                           public ::testing::WithParamInterface<NoDesktopRow> {};

TEST_P(EditWithoutDesktop, SaysWhyAndSavesNothing) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        ::unsetenv(variable);
    }
    if (GetParam().display != nullptr) {
        ::setenv("DISPLAY", GetParam().display, 1);
    }
    const fs::path out = folder_ / "edited.json";
    const RunResult result = Run({"edit", Example("reference-axis.json"), "-o", out.string()});
    ::unsetenv("DISPLAY");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Displays, EditWithoutDesktop,
    ::testing::Values(NoDesktopRow{"NoDisplaySet", nullptr, "there is no display"},
                      NoDesktopRow{"DisplayUnreachable", ":987", "the desktop cannot be opened"}),
    [](const ::testing::TestParamInfo<NoDesktopRow>& row) { return std::string(row.param.name); });
#else
TEST_F(BrevanCommand, EditWithoutAScriptIsAUsageError) {
    const RunResult result = Run({"edit", Example("reference-axis.json")});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("--script"), std::string::npos) << result.err;
}
#endif

}  // namespace

namespace {

std::string ReferenceAxis() {
    return std::string(BREVAN_SOURCE_DIR) + "/examples/reference-axis.json";
}

// A value the command derives afresh would be overwritten without a word: the edit is refused
// before anything runs, naming what the value comes from.
struct LostEditCase {
    const char* label;
    std::vector<std::string> arguments;  // after the command and the reference axis
    const char* command;
    const char* message;
    friend std::ostream& operator<<(std::ostream& out, const LostEditCase& row) {
        return out << row.label;
    }
};

class BrevanLostEdit : public BrevanCommand, public ::testing::WithParamInterface<LostEditCase> {};

TEST_P(BrevanLostEdit, IsRefusedNamingWhatToSetInstead) {
    const fs::path out = folder_ / "out.json";
    std::vector<std::string> arguments = {GetParam().command, ReferenceAxis()};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    arguments.insert(arguments.end(), {"-o", out.string()});
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, std::string("brevan: ") + GetParam().message + "\n");
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, BrevanLostEdit,
    ::testing::Values(
        LostEditCase{"ComputeGainFromRegisters",
                     {"--set", "Kp_C_scl=20"},
                     "compute",
                     "--set Kp_C_scl=20: compute derives Kp_C_scl afresh from KPI and SFTKPI, so "
                     "the value given would be lost; set those instead, or give it to 'brevan "
                     "registers', which computes the registers from it"},
        LostEditCase{"RegistersPeriodFromTheirInputs",
                     {"--set", "R=2.4", "--set", "ts_s=0.001"},
                     "registers",
                     "--set ts_s=0.001: registers derives Ts_S afresh from SLPER and PWM_freq, so "
                     "the value given would be lost; set those instead"},
        LostEditCase{"RegistersRegisterFromTheGain",
                     {"--set-internal", "KPI=100"},
                     "registers",
                     "--set-internal KPI=100: registers derives KPI afresh from Kp_C_scl, so the "
                     "value given would be lost; set that instead, or give it to 'brevan "
                     "compute', which derives the user parameters from the registers"},
        LostEditCase{"DesignGainFromThePassband",
                     {"current", "--set", "Kp_C_scl=20"},
                     "design",
                     "--set Kp_C_scl=20: design derives Kp_C_scl afresh from Vdc, ImaxPS, R, L, "
                     "MotorPhaseConnectionType, PB_C and Dump_C, so the value given would be "
                     "lost; set those instead"}),
    [](const auto& row) { return std::string(row.param.label); });

// What a command computes from the value given, or keeps as given, is taken.
struct KeptEditCase {
    const char* label;
    std::vector<std::string> arguments;  // after the command and the reference axis
    const char* command;
    const char* name;  // the parameter the edit set, as compute shows it
    double value;      // its value after the command
    friend std::ostream& operator<<(std::ostream& out, const KeptEditCase& row) {
        return out << row.label;
    }
};

class BrevanKeptEdit : public BrevanCommand, public ::testing::WithParamInterface<KeptEditCase> {};

TEST_P(BrevanKeptEdit, IsTakenAndSaved) {
    const fs::path out = folder_ / "out.json";
    std::vector<std::string> arguments = {GetParam().command, ReferenceAxis()};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    arguments.insert(arguments.end(), {"-o", out.string()});
    const RunResult result = Run(arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    const RunResult shown = Run({"show", out.string(), GetParam().name, "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NEAR(
        nlohmann::json::parse(shown.out)["parameters"][GetParam().name]["base"].get<double>(),
        GetParam().value, std::fabs(GetParam().value) * 1e-3);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, BrevanKeptEdit,
    ::testing::Values(
        // The registers hold the gain within a mantissa step of the value given.
        KeptEditCase{
            "RegistersFromTheGain", {"--set", "Kp_C_scl=20"}, "registers", "Kp_C_scl", 20.0},
        KeptEditCase{"RegistersFromTheMotor", {"--set", "R=2.4"}, "registers", "R", 2.4},
        // Within a mantissa step of the gain loaded: the registers stay, and so does the gain.
        KeptEditCase{"RegistersWithinAStepOfTheGain",
                     {"--set", "Kp_T_scl=230.9"},
                     "registers",
                     "Kp_T_scl",
                     230.9},
        KeptEditCase{"ComputeFromTheRegisters", {"--set", "SLPER=20"}, "compute", "Ts_S", 1e-3},
        KeptEditCase{
            "DesignFromThePassband", {"speed", "--set", "PB_S=400"}, "design", "PB_S", 400.0}),
    [](const auto& row) { return std::string(row.param.label); });

// A name the setup does not have is told with the name it is nearest to.
struct UnknownNameCase {
    const char* label;
    std::vector<std::string> arguments;  // AXIS stands for the small axis
    int status;
    const char* message;
    friend std::ostream& operator<<(std::ostream& out, const UnknownNameCase& row) {
        return out << row.label;
    }
};

class BrevanUnknownName : public BrevanCommand,
                          public ::testing::WithParamInterface<UnknownNameCase> {};

TEST_P(BrevanUnknownName, SuggestsTheNearestName) {
    std::vector<std::string> arguments;
    for (const std::string& argument : GetParam().arguments) {
        arguments.push_back(argument == "AXIS" ? axis_.string() : argument);
    }
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_EQ(result.err, std::string("brevan: ") + GetParam().message + "\n");
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Names, BrevanUnknownName,
    ::testing::Values(
        UnknownNameCase{"Show",
                        {"show", "AXIS", "PWMPRE"},
                        1,
                        "show: the setup has no parameter PWMPRE (did you mean PWMPER?)"},
        UnknownNameCase{"Set",
                        {"show", "AXIS", "--set", "ImaxSP=3"},
                        1,
                        "--set ImaxSP: the setup has no parameter of that name (did you mean "
                        "ImaxPS?)"},
        UnknownNameCase{"SetInternalFarFromAny",
                        {"show", "AXIS", "--set-internal", "Ghost=1"},
                        1,
                        "--set-internal Ghost: the setup has no parameter of that name"},
        UnknownNameCase{"RemoveAVariable",
                        {"show", "AXIS", "--remove", "APSO"},
                        1,
                        "--remove APSO: the setup has no parameter or variable of that name (did "
                        "you mean APOS?)"},
        UnknownNameCase{"Scale",
                        {"scale", "AXIS", "A", "TestCurent"},
                        2,
                        "scale: the setup has no parameter or variable TestCurent (did you mean "
                        "TestCurrent?)"}),
    [](const auto& row) { return std::string(row.param.label); });

// A folder given for a file, or a file to write in a folder that is not there, is told before
// anything is loaded or run.
struct PathCase {
    const char* label;
    std::vector<std::string> arguments;  // AXIS: the small axis; DIR: a folder; the file names
                                         // of others are in the test's folder
    int status;
    const char* message;  // after "brevan: " and the path
    friend std::ostream& operator<<(std::ostream& out, const PathCase& row) {
        return out << row.label;
    }
};

class BrevanPath : public BrevanCommand, public ::testing::WithParamInterface<PathCase> {};

TEST_P(BrevanPath, IsRefusedSayingWhatIsWrong) {
    const fs::path dir = folder_ / "a-folder";
    fs::create_directories(dir);
    std::vector<std::string> arguments;
    std::string named;
    for (const std::string& argument : GetParam().arguments) {
        if (argument == "AXIS") {
            arguments.push_back(axis_.string());
        } else if (argument == "DIR") {
            arguments.push_back(named = dir.string());
        } else if (argument.ends_with(".json") || argument.ends_with(".txt")) {
            arguments.push_back(named = (folder_ / argument).string());
        } else {
            arguments.push_back(argument);
        }
    }
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrevanPath,
    ::testing::Values(
        PathCase{"SetupIsAFolder", {"show", "DIR"}, 3, " is a folder, not a setup file\n"},
        PathCase{"ScriptIsAFolder",
                 {"edit", "AXIS", "--script", "DIR"},
                 2,
                 " is a folder, not a script\n"},
        PathCase{"MotorIsAFolder",
                 {"test", "AXIS", "dc-voltage", "--motor", "DIR"},
                 3,
                 " is a folder, not a motor file\n"},
        PathCase{"OutputIsAFolder",
                 {"show", "AXIS", "-o", "DIR"},
                 2,
                 ": is a folder; name the file to write\n"},
        PathCase{"OutputInAMissingFolder",
                 {"registers", "AXIS", "-o", "missing/out.json"},
                 2,
                 "/missing does not exist\n"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(BrevanCommand, VersionIsPrintedWithSuccess) {
    const RunResult result = Run({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out.starts_with("brevan ")) << result.out;
    EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
    EXPECT_EQ(result.err, "");
}

// edit --controls: each control of the dialog with its id, kind, caption and bound parameter.
TEST_F(BrevanCommand, EditListsTheControlsOfADialog) {
    const RunResult result = Run({"edit", ReferenceAxis(), "--controls", "drive setup"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    std::string heading;
    std::getline(lines, heading);
    EXPECT_EQ(heading, "dialog \"Drive Setup\" (template 106)");
    for (const char* line : {
             "1060   radio     \"Speed\"                                  ControlMode = 1\n",
             "3163   edit                                               Vdc\n",
             "3166   unit                                               unit of Vdc\n",
             "3171   button    \"Detect\"\n",
             "3116   check     \"Automatically activated after Power On\" "
             "isAutoActivatedAfterPowerOn (1 on, 0 off)\n",
         }) {
        EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;
    }
    // The template number names the dialog as well.
    const RunResult byNumber = Run({"edit", ReferenceAxis(), "--controls", "106"});
    EXPECT_EQ(byNumber.out, result.out);
}

TEST_F(BrevanCommand, EditControlsOfAnUnknownDialogListsTheDialogs) {
    const RunResult result = Run({"edit", ReferenceAxis(), "--controls", "Drive Stup"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("no dialog is called \"Drive Stup\" (did you mean Drive Setup?); "
                              "the dialogs: \"Current Controller Tuning Test\""),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("\"Brushless Motor Setup\""), std::string::npos) << result.err;
    const RunResult withScript = Run(
        {"edit", ReferenceAxis(), "--controls", "106", "--script", (folder_ / "s.txt").string()});
    EXPECT_EQ(withScript.status, 2);
    EXPECT_NE(withScript.err.find("opens no dialog"), std::string::npos) << withScript.err;
}

}  // namespace
