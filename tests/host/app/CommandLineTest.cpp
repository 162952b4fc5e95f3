// The brevan command line as CLI11 reads it: what each command takes, in which order the edits
// apply, and the one line (with where to find help) a usage error gets.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/app/CommandLine.h"
#include "host/app/Suggest.h"

namespace {

struct AcceptedCase {
    const char* label;
    std::vector<std::string> arguments;
    std::string command;
    std::vector<std::string> positionals;
    friend std::ostream& operator<<(std::ostream& out, const AcceptedCase& row) {
        return out << row.label;
    }
};

class Accepted : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(Accepted, GivesTheCommandAndItsArgumentsInUsageOrder) {
    const ParsedCommandLine parsed = ParseCommandLine(GetParam().arguments);
    ASSERT_TRUE(parsed.invocation) << parsed.err;
    EXPECT_EQ(parsed.invocation->command, GetParam().command);
    EXPECT_EQ(parsed.invocation->arguments, GetParam().positionals);
    EXPECT_EQ(parsed.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Accepted,
    ::testing::Values(
        AcceptedCase{
            "ShowWithNames", {"show", "a.json", "Vdc", "pp"}, "show", {"a.json", "Vdc", "pp"}},
        AcceptedCase{"OptionsBeforeArguments",
                     {"show", "--json", "a.json", "-o", "b.json", "Vdc"},
                     "show",
                     {"a.json", "Vdc"}},
        AcceptedCase{"SimWithoutProgram", {"sim", "m.json", "a.json"}, "sim", {"m.json", "a.json"}},
        AcceptedCase{"SimNegativeVoltage",
                     {"sim", "m.json", "a.json", "P", "--analogue", "-2.5"},
                     "sim",
                     {"m.json", "a.json", "P"}},
        AcceptedCase{"ScaleOfAName",
                     {"scale", "a.json", "mA", "TestCurrent"},
                     "scale",
                     {"a.json", "mA", "TestCurrent"}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(CommandLine, EditsKeepTheirOrderAcrossKinds) {
    const ParsedCommandLine parsed =
        ParseCommandLine({"show", "a.json", "--set", "A=1", "--remove", "B", "--option=C=x=y",
                          "--set-internal", "D=-3", "--set=A=2"});
    ASSERT_TRUE(parsed.invocation) << parsed.err;
    const std::vector<SetupEdit>& edits = parsed.invocation->edits;
    ASSERT_EQ(edits.size(), 5U);
    const std::vector<std::tuple<EditKind, std::string, std::string>> expected = {
        {EditKind::SetBase, "A", "1"},     {EditKind::Remove, "B", ""},
        {EditKind::SetOption, "C", "x=y"}, {EditKind::SetInternal, "D", "-3"},
        {EditKind::SetBase, "A", "2"},
    };
    for (std::size_t i = 0; i < edits.size(); ++i) {
        EXPECT_EQ(std::tie(edits[i].kind, edits[i].name, edits[i].value), expected[i]) << i;
    }
}

TEST(CommandLine, OptionsAndFlagsGoWhereTheCommandReadsThem) {
    const ParsedCommandLine parsed = ParseCommandLine(
        {"tune", "a.json", "speed", "--motor", "m.json", "--tune", "--step", "--bus=60", "--plot",
         "g.svg", "--csv", "g.csv", "--fault", "enable-off", "--json", "--output", "o.json"});
    ASSERT_TRUE(parsed.invocation) << parsed.err;
    const Invocation& invocation = *parsed.invocation;
    EXPECT_EQ(invocation.motorFile, "m.json");
    EXPECT_EQ(invocation.busVoltage, "60");
    EXPECT_EQ(invocation.plotFile, "g.svg");
    EXPECT_EQ(invocation.csvFile, "g.csv");
    EXPECT_EQ(invocation.fault, "enable-off");
    EXPECT_EQ(invocation.output, "o.json");
    EXPECT_TRUE(invocation.tune && invocation.step && invocation.json);

    const ParsedCommandLine sim = ParseCommandLine(
        {"sim", "m.json", "a.json", "P", "--var", "In1=3", "--var", "T=-1", "--for", "0.5"});
    ASSERT_TRUE(sim.invocation) << sim.err;
    EXPECT_EQ(sim.invocation->programVariables,
              (std::vector<std::pair<std::string, std::string>>{{"In1", "3"}, {"T", "-1"}}));
    EXPECT_EQ(sim.invocation->runFor, "0.5");
}

struct RefusedCase {
    const char* label;
    std::vector<std::string> arguments;
    std::string message;  // the whole of standard error
    friend std::ostream& operator<<(std::ostream& out, const RefusedCase& row) {
        return out << row.label;
    }
};

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, SaysWhyInOneLineWithWhereToFindHelp) {
    const ParsedCommandLine parsed = ParseCommandLine(GetParam().arguments);
    EXPECT_FALSE(parsed.invocation);
    EXPECT_EQ(parsed.status, kExitUsage);
    EXPECT_EQ(parsed.err, GetParam().message);
    EXPECT_EQ(parsed.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Refused,
    ::testing::Values(
        RefusedCase{"NoCommand", {}, "brevan: no command given; see 'brevan --help'\n"},
        RefusedCase{"UnknownCommand",
                    {"frobnicate", "a.json"},
                    "brevan: unknown command \"frobnicate\"; see 'brevan --help'\n"},
        RefusedCase{"MisspeltCommand",
                    {"regsiters", "a.json"},
                    "brevan: unknown command \"regsiters\" (did you mean registers?); see 'brevan "
                    "--help'\n"},
        RefusedCase{"OptionOfAnotherCommand",
                    {"show", "a.json", "--for", "3"},
                    "brevan: show does not take --for (sim takes it); see 'brevan show --help'\n"},
        RefusedCase{"OptionOfSeveralCommands",
                    {"registers", "a.json", "--motor=m.json"},
                    "brevan: registers does not take --motor (edit, test, tune and commission "
                    "take it); see 'brevan registers --help'\n"},
        RefusedCase{"ShortOptionOfOtherCommands",
                    {"scale", "a.json", "A", "I", "-o", "x.json"},
                    "brevan: scale does not take -o (show, compute, registers, design, edit, test, "
                    "tune and commission take it); see 'brevan scale --help'\n"},
        RefusedCase{"UnknownOption",
                    {"show", "a.json", "--bogus"},
                    "brevan: show: unknown option --bogus; see 'brevan show --help'\n"},
        RefusedCase{"MisspeltOption",
                    {"test", "a.json", "dc-voltage", "--moter", "m.json"},
                    "brevan: test: unknown option --moter (did you mean --motor?); see 'brevan "
                    "test --help'\n"},
        RefusedCase{"ValueMissing",
                    {"show", "a.json", "--set"},
                    "brevan: show: --set needs a value; see 'brevan show --help'\n"},
        RefusedCase{"NotAnAssignment",
                    {"show", "a.json", "--set", "Vdc"},
                    "brevan: show: --set expects NAME=VALUE, not \"Vdc\"; see 'brevan show "
                    "--help'\n"},
        RefusedCase{"AssignmentWithoutName",
                    {"sim", "m.json", "a.json", "P", "--var", "=3"},
                    "brevan: sim: --var expects NAME=VALUE, not \"=3\"; see 'brevan sim --help'\n"},
        RefusedCase{"FlagWithValue",
                    {"show", "a.json", "--json=3"},
                    "brevan: show: --json takes no value; see 'brevan show --help'\n"},
        RefusedCase{"ArgumentMissing",
                    {"scale", "a.json", "A"},
                    "brevan: scale: PARAM is missing (brevan scale SETUP UNIT PARAM); see "
                    "'brevan scale --help'\n"},
        RefusedCase{"SetupMissing",
                    {"compute"},
                    "brevan: compute: SETUP is missing (brevan compute SETUP); see 'brevan "
                    "compute --help'\n"},
        RefusedCase{"ArgumentTooMany",
                    {"compute", "a.json", "b.json"},
                    "brevan: compute: unexpected argument \"b.json\" (brevan compute SETUP); see "
                    "'brevan compute --help'\n"}),
    [](const auto& row) { return std::string(row.param.label); });

struct HelpCase {
    const char* label;
    std::vector<std::string> arguments;
    std::vector<std::string> mentions;
    friend std::ostream& operator<<(std::ostream& out, const HelpCase& row) {
        return out << row.label;
    }
};

class Help : public ::testing::TestWithParam<HelpCase> {};

TEST_P(Help, IsPrintedOnStandardOutputWithSuccess) {
    const ParsedCommandLine parsed = ParseCommandLine(GetParam().arguments);
    EXPECT_FALSE(parsed.invocation);
    EXPECT_EQ(parsed.status, kExitSuccess);
    EXPECT_EQ(parsed.err, "");
    for (const std::string& mention : GetParam().mentions) {
        EXPECT_NE(parsed.out.find(mention), std::string::npos) << mention << "\n" << parsed.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Help,
    ::testing::Values(
        HelpCase{"Program",
                 {"--help"},
                 {"show", "scale", "compute", "registers", "design", "edit", "sim", "test", "tune",
                  "commission", "2 usage error"}},
        HelpCase{"Show", {"show", "--help"}, {"brevan show", "SETUP", "NAME", "--set", "--json"}},
        HelpCase{"SimShort", {"sim", "-h"}, {"MOTOR", "PROGRAM", "--var", "--log", "--bus"}},
        HelpCase{"EditAmongOtherArguments",
                 {"edit", "a.json", "--help", "--bogus"},
                 {"--script", "--controls"}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(CommandLine, VersionIsTheProjectsOnStandardOutput) {
    const ParsedCommandLine parsed = ParseCommandLine({"--version"});
    EXPECT_FALSE(parsed.invocation);
    EXPECT_EQ(parsed.status, kExitSuccess);
    EXPECT_EQ(parsed.out, std::string("brevan ") + BREVAN_VERSION + "\n");
}

struct NearestCase {
    const char* label;
    std::string typed;
    std::vector<std::string> known;
    std::optional<std::string> nearest;
    friend std::ostream& operator<<(std::ostream& out, const NearestCase& row) {
        return out << row.label;
    }
};

class Nearest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(Nearest, IsTheOneSlipAway) {
    EXPECT_EQ(NearestName(GetParam().typed, GetParam().known), GetParam().nearest);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Nearest,
    ::testing::Values(
        NearestCase{"SwappedLetters", "Vcd", {"Vdc", "R", "L"}, "Vdc"},
        NearestCase{"LetterCaseAside", "kp_c_SCL", {"Kp_C_scl", "Ki_C_scl"}, "Kp_C_scl"},
        NearestCase{"TwoEquallyNear", "ImaxP", {"ImaxPS", "ImaxM"}, std::nullopt},
        NearestCase{"OneLetterMore", "PWMPERR", {"PWMPER", "SLPER"}, "PWMPER"},
        NearestCase{"TwoSlipsInALongName", "Kp_S_sclxx", {"Kp_S_scl", "Ki_S_scl"}, "Kp_S_scl"},
        NearestCase{"TooFar", "Speed", {"STARTED", "In1"}, std::nullopt},
        NearestCase{"NothingKnown", "Vdc", {}, std::nullopt},
        NearestCase{"ShortNameOneSlip", "Jtt", {"Jm", "Jt"}, "Jt"}),
    [](const auto& row) { return std::string(row.param.label); });

TEST(Suggest, DidYouMeanNamesTheNearestOrSaysNothing) {
    const std::vector<std::string> known = {"current", "speed", "position"};
    EXPECT_EQ(DidYouMean("positon", known), " (did you mean position?)");
    EXPECT_EQ(DidYouMean("torque", known), "");
}

}  // namespace
