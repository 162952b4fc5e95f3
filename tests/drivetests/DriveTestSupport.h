#pragma once

// What the drive-test dialogs' tests share: the reference axis as the user set it up, a simulated
// drive whose motor and bench are the truth (the motor file, and a supply that may differ from
// what the setup believes), connected through the kernel and advancing with the headless clock,
// and a scripted user.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>

#include "drive/link/SimulatedDriveLink.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Comm.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/TestDlg.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

// The true encoder offset nearest to an offset: the encoder's position at a shaft angle where the
// rotor's d axis lies on phase A (there is one such angle per pole pair).
inline std::int64_t NearestTrueOffset(const drive::SimulatedDrive& axis,
                                      const drive::MotorData& motor, std::int64_t offset) {
    const std::int64_t turn = axis.Encoder().CountsPerTurn();
    std::int64_t nearest = 0;
    std::int64_t nearestApart = turn;
    for (int pair = 0; pair < motor.polePairs; ++pair) {
        const double angle_rad = 2.0 * std::numbers::pi * pair / motor.polePairs;
        const std::int64_t truth = axis.Encoder().ReadAbsolutePosition(angle_rad).value_or(0);
        const std::int64_t apart = ((offset - truth) % turn + turn) % turn;
        if (std::min(apart, turn - apart) < nearestApart) {
            nearestApart = std::min(apart, turn - apart);
            nearest = truth;
        }
    }
    return nearest;
}

// The counts between an offset and the nearest true one, the way round the turn that is shorter.
inline std::int64_t CountsFromTrueOffset(const drive::SimulatedDrive& axis,
                                         const drive::MotorData& motor, std::int64_t offset) {
    const std::int64_t turn = axis.Encoder().CountsPerTurn();
    const std::int64_t apart =
        ((offset - NearestTrueOffset(axis, motor, offset)) % turn + turn) % turn;
    return std::min(apart, turn - apart);
}

class DriveTestDialogTest : public ::testing::Test {
  protected:
    // What the setup says of the motor: the reference axis as it is, or the motor file's motor
    // described truly (the connection, currents and encoder a user reads off the nameplate).
    enum class Belief { ReferenceAxis, Nameplate };

    // The bench supply of the simulated drive, volts.
    void SetUpDrive(double bench_V, const std::string& motorFile = "reference-axis-motor.json",
                    Belief belief = Belief::ReferenceAxis) {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
        qel::SetGUIDirectory("");
        qel::SetHelpFileOfGUI("");
        CQel_CoffFormat::SetProgramsDirectory(BREVAN_SOURCE_DIR "/drive/programs/images");
        motor_ = LoadExampleMotor(motorFile);
        setup_ = belief == Belief::Nameplate ? SetupForMotor(motor_)
                                             : LoadExample("reference-axis.json");
        ASSERT_TRUE(setup_);
        axis_ = DriveFromSetup(*setup_, motor_);
        axis_->SetBusVoltage(bench_V);
        link_ = std::make_unique<drive::SimulatedDriveLink>(*axis_);
        link_->AttachToClock(ui_.Backend());
        CQel_Comm::Connect(*setup_, link_.get());
    }
    // The simulated drive runs this motor instead, on the same bench; the setup stays.
    void ReplaceMotor(const drive::MotorData& motor) {
        const double bench_V = axis_->Power().Hardware().busVoltage_V;
        // The link holds the drive: it goes first.
        link_.reset();
        motor_ = motor;
        axis_ = DriveFromSetup(*setup_, motor_);
        axis_->SetBusVoltage(bench_V);
        ConnectLink(std::make_unique<drive::SimulatedDriveLink>(*axis_));
    }
    // The drive is reached through this link from now on.
    void ConnectLink(std::unique_ptr<drive::SimulatedDriveLink> link) {
        link_ = std::move(link);
        link_->AttachToClock(ui_.Backend());
        CQel_Comm::Connect(*setup_, link_.get());
    }
    void TearDown() override {
        if (setup_) {
            CQel_Comm::Connect(*setup_, nullptr);
        }
    }

    // Presses Start and lets the drive run until the test concludes (or the bound passes).
    static void RunTest(ui::headless::DialogDriver& d, const CQel_TestDlg& test,
                        std::uint64_t bound_ms = 60000) {
        constexpr std::uint64_t kTick_ms = 20;
        d.Click(CQel_TestDlg::kStartStopId);
        for (std::uint64_t waited_ms = 0; test.IsRunning() && waited_ms < bound_ms;
             waited_ms += kTick_ms) {
            d.AdvanceTime(kTick_ms);
        }
        EXPECT_FALSE(test.IsRunning()) << "still running after " << bound_ms << " ms";
    }

    double Base(const std::string& name) { return setup_->GetParameterValueInBaseUnit(name); }

    ui::headless::Session ui_;
    CollectedErrors errors_;
    drive::MotorData motor_;
    std::unique_ptr<CQel_Setup> setup_;
    std::unique_ptr<drive::SimulatedDrive> axis_;
    std::unique_ptr<drive::SimulatedDriveLink> link_;
};
