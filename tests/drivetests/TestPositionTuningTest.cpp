#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "drivetests/TestPositionTuning.h"
#include "engine/RegisterComputation.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 103;
constexpr int kTune = 1390;
constexpr int kGraph = 1361;
constexpr int kSpeedLimitEdit = 1043;
constexpr double kBench_V = 48.0;

class PositionTuningTest : public DriveTestDialogTest {
  protected:
    void SetUp() override {
        SetUpDrive(kBench_V, "reference-axis-motor.json", Belief::Nameplate);
        ForceParameter(*setup_, "Jt", motor_.TotalInertia_kgm2());
        ComputeDriveRegisters(*setup_);
    }
    static void ToTestPage(DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
    }
};

// Over the speed loop: Tune designs the position loop, the run follows the profile to the final
// position and back, and the speed curves come with the positions.
TEST_F(PositionTuningTest, TunedLoopOverTheSpeedLoopFollowsThePositionProfile) {
    ASSERT_EQ(Base("PositionControlType"), 1.0);
    CTestPositionTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(kSpeedLimitEdit));
        EXPECT_EQ(d.Text(1377), CTestPositionTuning::kProcedure);
        ToTestPage(d);
        d.Click(kTune);
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        const ui::GraphState& graph = d.Graph(kGraph);
        ASSERT_EQ(graph.curves.size(), 4U);
        EXPECT_EQ(graph.curves[0].name, "Target_Position");
        EXPECT_EQ(graph.curves[1].name, "Speed_Reference");
        EXPECT_EQ(graph.curves[2].name, "Load_Position");
        EXPECT_EQ(graph.curves[3].name, "Load_Speed");
        const auto& target = graph.curves[0].points;
        const auto& load = graph.curves[2].points;
        ASSERT_FALSE(target.empty());
        // The reference starts where the rotor stood; the profile moves it by the amplitude.
        const double start_rad = target.front().y;
        const double final_rad = Base("TestPosition");
        const double riseStart_s =
            std::find_if(target.begin(), target.end(), [&](const auto& point) {
                return std::fabs(point.y - start_rad) > 0.01 * std::fabs(final_rad);
            })->x;
        const double holdEnd_s = riseStart_s + Base("TaPP") + Base("TPP");
        const auto held = std::find_if(load.begin(), load.end(),
                                       [&](const auto& point) { return point.x >= holdEnd_s; });
        ASSERT_NE(held, load.end());
        EXPECT_NEAR(held->y - start_rad, final_rad, 0.02 * std::fabs(final_rad));
        d.Click(IDOK);
    });
    EXPECT_EQ(test.DoModal(), IDOK);
}

// A second run after a success on the test page starts with the profile at once; over the speed
// loop the launch makes the test's current limit the speed loop's saturations first.
TEST_F(PositionTuningTest, SecondRunSkipsThePositioningAndTheLaunchSetsTheSpeedLoopsLimits) {
    ForceParameter(*setup_, "TestLimitCurrent", 0.8 * Base("TestProtectionCurrent"));
    CTestPositionTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_DOUBLE_EQ(Base("IlimPS"), Base("TestLimitCurrent"));
        CQel_Setup expected(*setup_);
        compute::IMAXS(expected);
        compute::SATS(expected);
        compute::SATP(expected);
        for (const char* name : {"IMAXS", "SATS", "SATP"}) {
            EXPECT_EQ(setup_->GetParameterValueInInternalUnit(name),
                      expected.GetParameterValueInInternalUnit(name))
                << name;
        }
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Launching the application for test");
        for (int tick = 0; tick < 3000 && test.IsRunning(); ++tick) {
            d.AdvanceTime(20);
        }
        // The rotor stayed where the first run's positioning found its electric angle.
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

}  // namespace
