#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "drive/programs/ProgramParts.h"
#include "engine/BaseScales.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/drive/programs/ProgramRun.h"

// The tuning programs run the six-segment reference through the closed loops: the motor follows
// it, and the run ends after one cycle or, cyclically, when the host clears "MultiC".
namespace {

struct ProfileCase {
    const char* label;
    const char* program;
    bool position;
    // The amplitude in rad/s of the motor (speed) or rad (position).
    double amplitude;
    friend std::ostream& operator<<(std::ostream& out, const ProfileCase& row) {
        return out << row.label;
    }
};

// Rise, hold, return and pause, in speed-loop periods.
constexpr std::int64_t kRise = 100;
constexpr std::int64_t kHold = 200;
constexpr std::int64_t kReturn = 100;
constexpr std::int64_t kPause = 600;
constexpr std::int64_t kCycle = kRise + kHold + kReturn + kPause;

// Writes a positive profile of amplitude A (internal units) with single-segment ramps.
void WriteProfile(drive::TestProgram& program, double amplitude) {
    const std::int64_t lengths[] = {kRise, 0, kHold, kReturn, 0, kPause};
    const double increments[] = {amplitude / kRise, 0.0, 0.0, -amplitude / kReturn, 0.0, 0.0};
    for (int segment = 0; segment < 6; ++segment) {
        ASSERT_TRUE(program.SetVariable("a" + std::to_string(segment),
                                        static_cast<double>(lengths[segment])));
        ASSERT_TRUE(program.SetVariable("b" + std::to_string(segment), increments[segment]));
    }
}

class Profile : public ::testing::TestWithParam<ProfileCase> {
  protected:
    void SetUp() override {
        motor_ = LoadExampleMotor("reference-axis-motor.json");
        setup_ = SetupForMotor(motor_);
        ASSERT_NE(setup_, nullptr);
        drive_ = DriveFromSetup(*setup_, motor_);
        drive_->Motor().SetShaftState(kStartShaftAngle_rad, 0.0);
        const double current = std::trunc(setup_->GetParameterValueInInternalUnit("TestCurrent"));
        const ProgramRun positioning =
            RunProgram(*drive_, "Initial_Positioning_Test", {{"In1", current}});
        program_ = drive::CreateTestProgram(GetParam().program);
        ASSERT_NE(program_, nullptr);
        const double scale = GetParam().position ? ComputeMotorPositionScale(*setup_)
                                                 : ComputeMotorSpeedScale(*setup_);
        amplitude_ = std::round(GetParam().amplitude * scale);
        WriteProfile(*program_, amplitude_);
        program_->SetVariable("Imax_Prot_Test", 4.0 * current);
    }

    // The motor's speed (counts per speed-loop period) or travel since the start (counts).
    double Followed(std::int64_t origin) const {
        return GetParam().position
                   ? static_cast<double>(drive_->Firmware().MotorPosition() - origin)
                   : static_cast<double>(drive_->Firmware().MotorSpeed());
    }

    drive::MotorData motor_;
    std::unique_ptr<CQel_Setup> setup_;
    std::unique_ptr<drive::SimulatedDrive> drive_;
    std::unique_ptr<drive::TestProgram> program_;
    double amplitude_ = 0.0;
};

TEST_P(Profile, MotorFollowsTheHoldAndTheRunEndsAfterOneCycle) {
    const std::int64_t origin = drive_->Firmware().MotorPosition();
    program_->Start(*drive_);
    const double period_s = drive_->SpeedLoopPeriod_s();
    // At rest before the profile starts.
    drive_->Advance(0.9 * drive::program_parts::ProfileProgram::kRest_s);
    EXPECT_NEAR(Followed(origin), 0.0, 0.05 * amplitude_);
    drive_->Advance(0.1 * drive::program_parts::ProfileProgram::kRest_s);
    drive_->Advance(period_s * (kRise + kHold - 10));
    EXPECT_NEAR(Followed(origin), amplitude_, 0.05 * amplitude_);
    EXPECT_TRUE(drive_->IsOn());
    // Back at rest (speed 0, or the starting position) at the end of the pause.
    drive_->Advance(period_s * (kCycle - kRise - kHold + 5));
    EXPECT_NEAR(Followed(origin), 0.0, 0.05 * amplitude_);
    EXPECT_TRUE(drive_->IsOn());
    drive_->Advance(period_s * 10);
    EXPECT_FALSE(drive_->IsOn());
    EXPECT_EQ(*program_->GetVariable("test_flag"), 1.0);
    program_->Stop(*drive_);
}

TEST_P(Profile, CyclicRunRepeatsUntilTheHostClearsMultiC) {
    ASSERT_TRUE(program_->SetVariable("MultiC", 1.0));
    program_->Start(*drive_);
    const double period_s = drive_->SpeedLoopPeriod_s();
    drive_->Advance(drive::program_parts::ProfileProgram::kRest_s + period_s * (3 * kCycle));
    EXPECT_TRUE(drive_->IsOn());
    // A host running cycles reads a good verdict while they go on, and the logger records them.
    EXPECT_EQ(*program_->GetVariable("test_flag"), 1.0);
    EXPECT_TRUE(program_->IsLogging());
    ASSERT_TRUE(program_->SetVariable("MultiC", 0.0));
    drive_->Advance(period_s * (kCycle + 10));
    EXPECT_FALSE(drive_->IsOn());
    EXPECT_EQ(*program_->GetVariable("test_flag"), 1.0);
    program_->Stop(*drive_);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, Profile,
    ::testing::Values(ProfileCase{"Speed", "Speed_Controller_Tuning_Test", false, 50.0},
                      ProfileCase{"PositionWithSpeedLoop",
                                  "Position_Controller_Tuning_Test_with_SpdCtrl", true, 2.0},
                      ProfileCase{"PositionWithoutSpeedLoop",
                                  "Position_Controller_Tuning_Test_without_SpdCtrl", true, 2.0}),
    ByLabel{});

}  // namespace
