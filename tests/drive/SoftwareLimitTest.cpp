#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numbers>

#include "engine/RegisterComputation.h"
#include "tests/drive/SetupForMotor.h"

// The software limit switches on the reference axis with its own motor and gains: the drive
// refuses to go beyond them, says so in MSR, and lets the axis come back.
namespace {

constexpr std::int64_t kLimit = 20000;  // counts, about a fiftieth of a turn

class SoftwareLimits : public ::testing::Test {
  protected:
    SoftwareLimits() : motor_(LoadExampleMotor("reference-axis-motor.json")) {
        setup_ = SetupForMotor(motor_);
        ForceParameter(*setup_, "isSWLS", 1);
        // The position scale counts 1048576 a turn: the limits in radians.
        ForceParameter(*setup_, "Positive_SWLS", kLimit * 2 * std::numbers::pi / 1048576.0);
        ForceParameter(*setup_, "Negative_SWLS", -kLimit * 2 * std::numbers::pi / 1048576.0);
        ComputeDriveRegisters(*setup_);
        axis_ = DriveFromSetup(*setup_, motor_);
        axis_->AlignElectricAngleToRotor();
    }

    bool AtPositiveLimit() const {
        return (axis_->Firmware().MotionStatus() & (1u << drive::msr::kPositiveSoftwareLimitBit)) !=
               0;
    }
    bool AtNegativeLimit() const {
        return (axis_->Firmware().MotionStatus() & (1u << drive::msr::kNegativeSoftwareLimitBit)) !=
               0;
    }

    drive::MotorData motor_;
    std::unique_ptr<CQel_Setup> setup_;
    std::unique_ptr<drive::SimulatedDrive> axis_;
};

// A target beyond the limit is cut to it: the axis stops there instead.
TEST_F(SoftwareLimits, PositionControlStopsAtTheLimitAndComesBack) {
    drive::DriveFirmware& firmware = axis_->Firmware();
    firmware.SetLoopMode(drive::LoopMode::Position);
    ASSERT_TRUE(axis_->SwitchOn());
    firmware.SetPositionReference(5 * kLimit);
    axis_->Advance(1.0);
    EXPECT_EQ(firmware.PositionReference(), kLimit);
    EXPECT_NEAR(static_cast<double>(firmware.MotorPosition()), static_cast<double>(kLimit), 50.0);
    firmware.SetPositionReference(-5 * kLimit);
    axis_->Advance(1.0);
    EXPECT_EQ(firmware.PositionReference(), -kLimit);
    EXPECT_NEAR(static_cast<double>(firmware.MotorPosition()), static_cast<double>(-kLimit), 50.0);
    EXPECT_TRUE(axis_->IsOn());
    EXPECT_EQ(firmware.MotionErrors(), 0);
}

// Running at a speed, the axis passes the limit, is braked to rest beyond it with the limit's MSR
// bit set, and may only run back; the bit clears once it is back inside.
TEST_F(SoftwareLimits, SpeedControlStopsBeyondTheLimitAndRunsOnlyBack) {
    drive::DriveFirmware& firmware = axis_->Firmware();
    firmware.SetLoopMode(drive::LoopMode::Speed);
    ASSERT_TRUE(axis_->SwitchOn());
    firmware.SetSpeedReference(200);  // 200 counts a speed-loop period: 0.38 turns a second
    axis_->Advance(1.0);
    EXPECT_GE(firmware.MotorPosition(), kLimit);
    EXPECT_TRUE(AtPositiveLimit());
    EXPECT_FALSE(AtNegativeLimit());
    EXPECT_LE(std::abs(firmware.MotorSpeed()), 2);
    firmware.SetSpeedReference(-200);
    axis_->Advance(0.04);
    EXPECT_LT(firmware.MotorPosition(), kLimit);
    EXPECT_FALSE(AtPositiveLimit());
    EXPECT_LT(firmware.MotorSpeed(), -150);
    // And on to the negative limit.
    axis_->Advance(0.3);
    EXPECT_LE(firmware.MotorPosition(), -kLimit);
    EXPECT_TRUE(AtNegativeLimit());
    EXPECT_LE(std::abs(firmware.MotorSpeed()), 2);
    EXPECT_TRUE(axis_->IsOn());
}

// Without isSWLS the same run goes on past the positions.
TEST_F(SoftwareLimits, DisarmedLimitsLetTheAxisPass) {
    ForceParameter(*setup_, "isSWLS", 0);
    ComputeDriveRegisters(*setup_);
    axis_ = DriveFromSetup(*setup_, motor_);
    axis_->AlignElectricAngleToRotor();
    axis_->Firmware().SetLoopMode(drive::LoopMode::Speed);
    ASSERT_TRUE(axis_->SwitchOn());
    axis_->Firmware().SetSpeedReference(200);
    axis_->Advance(1.0);
    EXPECT_GT(axis_->Firmware().MotorPosition(), 10 * kLimit);
    EXPECT_EQ(axis_->Firmware().MotionStatus(), 0);
}

}  // namespace
