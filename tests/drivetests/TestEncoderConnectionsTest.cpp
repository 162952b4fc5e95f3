#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "drivetests/TestEncoderConnections.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 291;
constexpr int kCounterEdit = 3131;
constexpr int kEncoderDiagram = 1024;
constexpr int kPhaseDiagram = 1025;
constexpr double kBench_V = 48.0;
// A hand's twist on the free shaft, and how long it turns it.
constexpr double kHandTorque_Nm = 0.5;
constexpr std::uint64_t kTurn_ms = 300;
constexpr std::uint64_t kTick_ms = 20;

class EncoderConnectionsTest : public DriveTestDialogTest {
  protected:
    // Presses Start and waits until the test runs.
    static void StartUntilRunning(DialogDriver& d, const CQel_TestDlg& test) {
        constexpr std::uint64_t kBound_ms = 2000;
        d.Click(CQel_TestDlg::kStartStopId);
        for (std::uint64_t waited_ms = 0;
             test.IsRunning() && d.Text(CQel_TestDlg::kStatusTextId) != "Running test" &&
             waited_ms < kBound_ms;
             waited_ms += kTick_ms) {
            d.AdvanceTime(kTick_ms);
        }
        ASSERT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Running test") << test.GetErrorText();
    }

    void TurnByHand(DialogDriver& d) {
        axis_->SetExternalTorque(kHandTorque_Nm);
        d.AdvanceTime(kTurn_ms);
        axis_->SetExternalTorque(0.0);
        d.AdvanceTime(kTurn_ms);
    }

    // The program has ended once the power stage is off again.
    void ExpectProgramEnded(DialogDriver& d) {
        d.AdvanceTime(kTick_ms);
        EXPECT_FALSE(axis_->IsOn());
    }
};

class EncoderConnectionsOnMotor : public EncoderConnectionsTest,
                                  public ::testing::WithParamInterface<const char*> {};

TEST_P(EncoderConnectionsOnMotor, PassesWhenTheHandTurnsTheShaftAndProposesNothing) {
    SetUpDrive(kBench_V, GetParam(), Belief::Nameplate);
    CTestEncoderConnections test(setup_.get(), nullptr);
    const double lines = Base("No_encoder_lines");
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsEnabled(kEncoderDiagram));
        EXPECT_FALSE(d.IsEnabled(kPhaseDiagram));
        StartUntilRunning(d, test);
        d.AdvanceTime(kTick_ms);
        // The counter shown lags by a tick: the first one shows the 0 of the start.
        EXPECT_EQ(d.Text(kCounterEdit), "0");
        TurnByHand(d);
        EXPECT_NE(d.Text(kCounterEdit), "0");
        EXPECT_NE(d.Diagram(kEncoderDiagram).theta_rad, 0.0);
        EXPECT_TRUE(test.IsRunning());
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Test finished");
        ExpectProgramEnded(d);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
    EXPECT_EQ(Base("No_encoder_lines"), lines);
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, EncoderConnectionsOnMotor,
                         ::testing::Values("reference-axis-motor.json", "large-motor.json",
                                           "small-delta-motor.json"),
                         [](const ::testing::TestParamInfo<const char*>& motor) {
                             std::string name = motor.param;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(EncoderConnectionsTest, StopWithoutTurningFailsAndEndsTheProgram) {
    SetUpDrive(kBench_V, "reference-axis-motor.json", Belief::Nameplate);
    CTestEncoderConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        StartUntilRunning(d, test);
        d.AdvanceTime(10 * kTick_ms);
        EXPECT_TRUE(axis_->IsOn());
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), CTestEncoderConnections::kNoPulses);
        ExpectProgramEnded(d);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

TEST_F(EncoderConnectionsTest, WithoutLinesFailsAtStartAndStartsNothing) {
    SetUpDrive(kBench_V, "reference-axis-motor.json", Belief::Nameplate);
    ForceParameter(*setup_, "No_encoder_lines", 0.0);
    CTestEncoderConnections test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), CTestEncoderConnections::kNoLines);
        d.AdvanceTime(10 * kTick_ms);
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("No_encoder_lines"), 0.0);
}

}  // namespace
