#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>

#include "engine/BaseScales.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/drive/programs/ProgramRun.h"

// The connection checks: the test current into phase A, and the shaft turned by hand under a
// passive program.
namespace {

struct ConnectionCase {
    const char* label;
    const char* motorFile;
    friend std::ostream& operator<<(std::ostream& out, const ConnectionCase& row) {
        return out << row.label;
    }
};

const auto kMotors =
    ::testing::Values(ConnectionCase{"ReferenceMotor", "reference-axis-motor.json"},
                      ConnectionCase{"LargeMotor", "large-motor.json"},
                      ConnectionCase{"SmallDeltaMotor", "small-delta-motor.json"});

class PhaseConnection : public ::testing::TestWithParam<ConnectionCase> {};

TEST_P(PhaseConnection, PhaseACarriesTheTestCurrentAndPhaseBMinusHalfOfIt) {
    const drive::MotorData motor = LoadExampleMotor(GetParam().motorFile);
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = DriveFromSetup(*setup, motor);
    drive->Motor().SetShaftState(kStartShaftAngle_rad, 0.0);
    const double current = std::trunc(setup->GetParameterValueInInternalUnit("TestCurrent"));
    const ProgramRun positioning =
        RunProgram(*drive, "Initial_Positioning_Test", {{"In1", current}});

    const ProgramRun run =
        RunProgram(*drive, "Motor_Phase_Connection_Test",
                   {{"RefTest", *positioning.program->GetDriveVariable("REFTST_V")},
                    {"RIncTest", *positioning.program->GetDriveVariable("RINCTST_V")}});

    const double ki = ComputeCurrentScale(*setup);
    const double test_A = current / ki;
    EXPECT_NEAR(*run.program->GetDriveVariable("var_i1") / ki, test_A, 0.02 * test_A);
    EXPECT_NEAR(*run.program->GetDriveVariable("var_i2") / ki, -test_A / 2.0, 0.02 * test_A);
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, PhaseConnection, kMotors, ByLabel{});

// A torque by hand, for as long as it takes to turn the shaft a little.
constexpr double kHandTorque_Nm = 0.05;
constexpr double kTurning_s = 0.1;

struct HandCase {
    const char* label;
    bool channelsSwapped;
    double torque_Nm;
    int direction;
    friend std::ostream& operator<<(std::ostream& out, const HandCase& row) {
        return out << row.label;
    }
};

class EncoderConnection : public ::testing::TestWithParam<HandCase> {};

TEST_P(EncoderConnection, TurningByHandMovesTheCounterUntilTheHostEndsTheProgram) {
    const HandCase& row = GetParam();
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.encoder.reversed = row.channelsSwapped;
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = DriveFromSetup(*setup, motor);
    auto program = drive::CreateTestProgram("Encoder_Connection_Test");
    ASSERT_NE(program, nullptr);
    program->Start(*drive);
    drive->Advance(kPollPeriod_s);
    ASSERT_EQ(*program->GetVariable("STARTED"), 1.0);
    ASSERT_TRUE(drive->IsOn());
    const std::int64_t before = drive->Firmware().MotorPosition();

    drive->SetExternalTorque(row.torque_Nm);
    drive->Advance(kTurning_s);
    drive->SetExternalTorque(0.0);
    drive->Advance(kPollPeriod_s);
    const std::int64_t moved = drive->Firmware().MotorPosition() - before;
    EXPECT_GT(moved * row.direction, 2);
    EXPECT_TRUE(drive->IsOn());

    ASSERT_TRUE(program->WriteDriveVariable("var_i2", 1.0));
    drive->Advance(kPollPeriod_s);
    EXPECT_FALSE(drive->IsOn());
    EXPECT_FALSE(program->IsRunning());
    program->Stop(*drive);
}

INSTANTIATE_TEST_SUITE_P(Hand, EncoderConnection,
                         ::testing::Values(HandCase{"Forward", false, kHandTorque_Nm, 1},
                                           HandCase{"Backward", false, -kHandTorque_Nm, -1},
                                           HandCase{"ForwardChannelsSwapped", true, kHandTorque_Nm,
                                                    -1}),
                         ByLabel{});

struct StepCase {
    const char* label;
    const char* motorFile;
    bool protectionBelowStep;
    friend std::ostream& operator<<(std::ostream& out, const StepCase& row) {
        return out << row.label;
    }
};

class CurrentStep : public ::testing::TestWithParam<StepCase> {};

// The record is the host's 100 points; the current settles on the step within its last points,
// unless the protection cuts the run short.
TEST_P(CurrentStep, StepIsLoggedAndSettlesOrTheProtectionEndsIt) {
    const StepCase& row = GetParam();
    const drive::MotorData motor = LoadExampleMotor(row.motorFile);
    std::unique_ptr<CQel_Setup> setup = SetupForMotor(motor);
    ASSERT_NE(setup, nullptr);
    auto drive = DriveFromSetup(*setup, motor);
    drive->Motor().SetShaftState(kStartShaftAngle_rad, 0.0);
    const double current = std::trunc(setup->GetParameterValueInInternalUnit("TestCurrent"));
    const ProgramRun positioning =
        RunProgram(*drive, "Initial_Positioning_Test", {{"In1", current}});

    const ProgramRun run =
        RunProgram(*drive, "Current_Controller_Tuning_Test",
                   {{"RefTest", *positioning.program->GetDriveVariable("REFTST_V")},
                    {"RIncTest", *positioning.program->GetDriveVariable("RINCTST_V")},
                    {"In1", current},
                    {"Imax_Prot_Test", row.protectionBelowStep ? current / 2.0 : 2.0 * current}});

    EXPECT_FALSE(drive->IsOn());
    if (row.protectionBelowStep) {
        EXPECT_EQ(*run.program->GetVariable("test_flag"), 0.0);
        EXPECT_LT(run.q.size(), 100u);
        return;
    }
    EXPECT_EQ(*run.program->GetVariable("test_flag"), 1.0);
    ASSERT_EQ(run.q.size(), 100u);
    EXPECT_EQ(run.referenceQ.front(), 0.0);
    EXPECT_EQ(run.referenceQ.back(), current);
    EXPECT_NEAR(run.q.back(), current, 0.02 * current);
}

INSTANTIATE_TEST_SUITE_P(
    ExampleMotors, CurrentStep,
    ::testing::Values(StepCase{"ReferenceMotor", "reference-axis-motor.json", false},
                      StepCase{"LargeMotor", "large-motor.json", false},
                      StepCase{"SmallDeltaMotor", "small-delta-motor.json", false},
                      StepCase{"ProtectionBelowStep", "reference-axis-motor.json", true}),
    ByLabel{});

}  // namespace
