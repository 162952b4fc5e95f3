#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "drive/programs/TestProgram.h"
#include "tests/drive/CaseLabel.h"

namespace {

// Every program the drive knows has a description file naming its user variables with the same
// initial values the program starts from, and answers to its name in any letter case.
TEST(ProgramRegistry, EachProgramHasADescriptionAgreeingWithItsVariables) {
    for (const std::string& name : drive::TestProgramNames()) {
        const std::filesystem::path path = std::filesystem::path(BREVAN_SOURCE_DIR) / "drive" /
                                           "programs" / "images" / (name + ".json");
        std::ifstream file(path);
        ASSERT_TRUE(file) << path;
        const nlohmann::json image = nlohmann::json::parse(file);
        EXPECT_EQ(image.at("name").get<std::string>(), name);
        const auto program = drive::CreateTestProgram(name);
        ASSERT_NE(program, nullptr) << name;
        EXPECT_EQ(program->Name(), name);
        EXPECT_EQ(image.at("variables").size(), program->Variables().size()) << name;
        for (const auto& variable : image.at("variables")) {
            const std::string variableName = variable.at("name").get<std::string>();
            EXPECT_EQ(program->GetVariable(variableName), variable.at("initial").get<double>())
                << name << " " << variableName;
        }
    }
}

// The registry takes each name from its program: two programs answering to one name (in any
// letter case) would leave the second unreachable.
TEST(ProgramRegistry, EveryProgramAnswersToADistinctName) {
    std::set<std::string> seen;
    for (const std::string& name : drive::TestProgramNames()) {
        std::string folded = name;
        std::ranges::transform(folded, folded.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_TRUE(seen.insert(folded).second) << name;
    }
}

struct LookupCase {
    const char* label;
    const char* name;
    bool known;
};

class ProgramLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(ProgramLookup, NamesAreFoundIgnoringLetterCase) {
    EXPECT_EQ(drive::CreateTestProgram(GetParam().name) != nullptr, GetParam().known);
}

INSTANTIATE_TEST_SUITE_P(Names, ProgramLookup,
                         ::testing::Values(LookupCase{"Exact", "Ident_R_or_Rs", true},
                                           LookupCase{"OtherCase", "vdc_detection_test", true},
                                           LookupCase{"Unknown", "Ident_R", false},
                                           LookupCase{"Empty", "", false}),
                         ByLabel{});

struct VariableCase {
    const char* label;
    const char* name;
    bool accepted;
};

class ProgramVariables : public ::testing::TestWithParam<VariableCase> {};

TEST_P(ProgramVariables, OnlyDeclaredVariablesCanBeWritten) {
    auto program = drive::CreateTestProgram("Ident_R_or_Rs");
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->SetVariable(GetParam().name, 12.0), GetParam().accepted);
    EXPECT_EQ(program->GetVariable(GetParam().name).has_value(), GetParam().accepted);
    if (GetParam().accepted) {
        EXPECT_EQ(*program->GetVariable(GetParam().name), 12.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ProgramVariables,
                         ::testing::Values(VariableCase{"Declared", "RefTest", true},
                                           VariableCase{"DeclaredOtherCase", "rinctest", true},
                                           VariableCase{"Undeclared", "var_i1", false}),
                         ByLabel{});

// A second run of the same program object must not look started before its first period. With
// no inputs each program ends at once.
class ProgramRestart : public ::testing::TestWithParam<const char*> {};

TEST_P(ProgramRestart, StartedIsClearedWhenTheProgramStartsAgain) {
    drive::MotorData motor;
    drive::DriveHardware hardware;
    drive::DriveRegisters registers;
    registers.PWMPER = 1000;
    drive::SimulatedDrive drive(motor, hardware, registers);
    auto program = drive::CreateTestProgram(GetParam());
    ASSERT_NE(program, nullptr);
    program->Start(drive);
    drive.Advance(0.1);
    ASSERT_FALSE(program->IsRunning());
    ASSERT_EQ(*program->GetVariable("STARTED"), 1.0);
    program->Start(drive);
    EXPECT_EQ(*program->GetVariable("STARTED"), 0.0);
    program->Stop(drive);
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramRestart,
                         ::testing::Values("VDC_Detection_Test", "Initial_Positioning_Test",
                                           "Ident_R_or_Rs", "Total_Inertia_Identification_Test",
                                           "Angle_Controller_Tuning_Test"));

}  // namespace
