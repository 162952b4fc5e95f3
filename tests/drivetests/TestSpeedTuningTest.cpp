#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

#include "drivetests/TestSpeedTuning.h"
#include "engine/BaseScales.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/ScopeSettings.h"
#include "host/kernel/ScopeSettingsDlg.h"
#include "host/ui/UserInput.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 102;
constexpr int kLimitEdit = 3284;
constexpr int kProtectionEdit = 3281;
constexpr int kStartCurrentEdit = 3287;
constexpr int kSpeedEdit = 1320;
constexpr int kRiseEdit = 1327;
constexpr int kMultiCycle = 1332;
constexpr int kOnlinePlot = 1369;
constexpr int kTune = 1390;
constexpr int kKpEdit = 1335;
constexpr int kGraph = 1361;
constexpr double kBench_V = 48.0;

class SpeedTuningTest : public DriveTestDialogTest {
  protected:
    void SetUp() override {
        SetUpDrive(kBench_V, "reference-axis-motor.json", Belief::Nameplate);
        ComputeDriveRegisters(*setup_);
    }
    static void ToTestPage(DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
    }
};

// Tune designs the loop from the passband and the true inertia; the run follows the profile: the
// load speed reaches the final speed and holds it, within a few percent, and ends at rest.
TEST_F(SpeedTuningTest, TunedLoopFollowsTheSpeedProfile) {
    ForceParameter(*setup_, "Jt", motor_.TotalInertia_kgm2());
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.Click(kTune);
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        const ui::GraphState& graph = d.Graph(kGraph);
        ASSERT_EQ(graph.curves.size(), 4U);
        EXPECT_EQ(graph.curves[0].name, "Speed_Reference");
        EXPECT_EQ(graph.curves[1].name, "Current_Reference");
        EXPECT_EQ(graph.curves[2].name, "Load_Speed");
        EXPECT_EQ(graph.curves[3].name, "Motor_Current");
        EXPECT_EQ(graph.curves[0].unit, "rad/s");
        EXPECT_EQ(graph.curves[1].unit, "A");
        const auto& reference = graph.curves[0].points;
        const auto& load = graph.curves[2].points;
        ASSERT_FALSE(reference.empty());
        ASSERT_EQ(reference.size(), load.size());
        const double final_rad_s = Base("TestSpeed");
        const double peak_rad_s =
            std::max_element(reference.begin(), reference.end(), [](auto a, auto b) {
                return a.y < b.y;
            })->y;
        EXPECT_NEAR(peak_rad_s, final_rad_s, 0.01 * final_rad_s);
        // Half way through the hold the loop has caught up with the reference.
        const double riseStart_s =
            std::find_if(reference.begin(), reference.end(), [&](const auto& point) {
                return point.y > 0.01 * final_rad_s;
            })->x;
        const double holdMiddle_s = riseStart_s + Base("TaPS") + 0.5 * Base("TPS");
        const auto middle = std::find_if(
            load.begin(), load.end(), [&](const auto& point) { return point.x >= holdMiddle_s; });
        ASSERT_NE(middle, load.end());
        EXPECT_NEAR(middle->y, final_rad_s, 0.03 * final_rad_s);
        EXPECT_NEAR(load.back().y, 0.0, 0.03 * final_rad_s);
        d.Click(IDOK);
    });
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_DOUBLE_EQ(Base("IlimPS"), Base("TestLimitCurrent"));
    EXPECT_DOUBLE_EQ(Base("Imax_Prot"), Base("TestProtectionCurrent"));
    EXPECT_DOUBLE_EQ(Base("StartCurrent"), Base("TestStartCurrent"));
}

// Several cycles run until Stop; the logger's first cycles are then drawn and the run passes.
TEST_F(SpeedTuningTest, MultipleCyclesRunUntilStopAndDrawTheFirstOnes) {
    ForceParameter(*setup_, "MultiCycleS", 1.0);
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(3000);
        ASSERT_TRUE(test.IsRunning());
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), CTestSpeedTuning::kRunningUntilStop);
        d.Click(CQel_TestDlg::kStartStopId);
        for (int tick = 0; tick < 100 && test.IsRunning(); ++tick) {
            d.AdvanceTime(20);
        }
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_FALSE(d.Graph(kGraph).curves[0].points.empty());
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

struct PageCase {
    const char* label;
    double limit_A;
    double protection_A;
    bool opens;
    friend std::ostream& operator<<(std::ostream& out, const PageCase& row) {
        return out << row.label;
    }
};

class SpeedTestPageEntry : public SpeedTuningTest,
                           public ::testing::WithParamInterface<PageCase> {};

TEST_P(SpeedTestPageEntry, NeedsAProtectionAtLeastTheCurrentLimit) {
    const PageCase& row = GetParam();
    CTestSpeedTuning test(setup_.get(), nullptr);
    if (!row.opens) {
        ui_->ExpectMessageBox(CTestSpeedTuning::kProtectionBelowLimit, IDOK);
    }
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Type(kProtectionEdit, std::to_string(row.protection_A));
        d.Type(kLimitEdit, std::to_string(row.limit_A));
        ToTestPage(d);
        EXPECT_EQ(d.Control(CMyTestDlg::kTabId)->selection,
                  row.opens ? CMyTestDlg::kTestPage : CMyTestDlg::kParametersPage);
        EXPECT_EQ(d.IsVisible(kKpEdit), row.opens);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    EXPECT_EQ(ui_->PendingMessageBoxExpectations(), 0U);
}

INSTANTIATE_TEST_SUITE_P(Pages, SpeedTestPageEntry,
                         ::testing::Values(PageCase{"Equal", 2.0, 2.0, true},
                                           PageCase{"ProtectionBelow", 2.5, 2.0, false}),
                         ByLabel());

// The test speed is a whole, non-zero number of the drive's speed units.
TEST_F(SpeedTuningTest, TestSpeedIsSnappedToWholeDriveUnits) {
    const double unit_rad_s = 1.0 / ComputeSpeedScale(*setup_);
    ForceParameter(*setup_, "TestSpeed", 0.3 * unit_rad_s);
    CTestSpeedTuning test(setup_.get(), nullptr);
    EXPECT_DOUBLE_EQ(Base("TestSpeed"), unit_rad_s);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.SelectUnit(1321, "rad/s");
        char typed[32];
        std::snprintf(typed, sizeof typed, "%.6f", -0.2 * unit_rad_s);
        d.Type(kSpeedEdit, typed);
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

struct WarningCase {
    const char* label;
    const char* typed;
    bool warns;
    friend std::ostream& operator<<(std::ostream& out, const WarningCase& row) {
        return out << row.label;
    }
};

class StartCurrentWarning : public SpeedTuningTest,
                            public ::testing::WithParamInterface<WarningCase> {};

TEST_P(StartCurrentWarning, WarnsAboveTheNominalCurrentWithTheTimeItIsApplied) {
    CTestSpeedTuning test(setup_.get(), nullptr);
    char expected[512];
    std::snprintf(expected, sizeof expected, CTestSpeedTuning::kStartCurrentAboveNominal,
                  2.0 * Base("time_AB"));
    if (GetParam().warns) {
        ui_->ExpectMessageBox(expected, IDOK);
    }
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Type(kStartCurrentEdit, GetParam().typed);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    EXPECT_EQ(ui_.Backend().MessageBoxes().size(), GetParam().warns ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(Warnings, StartCurrentWarning,
                         ::testing::Values(WarningCase{"Nominal", "100", false},
                                           WarningCase{"AboveNominal", "100.5", true}),
                         ByLabel());

// Reading the drive between cycles needs the cycles: switching them off switches the on-line
// plot off.
TEST_F(SpeedTuningTest, SingleCycleSwitchesTheOnlinePlotOff) {
    ForceParameter(*setup_, "MultiCycleS", 1.0);
    ForceParameter(*setup_, "OnlinePlotS", 1.0);
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(kMultiCycle);
        EXPECT_EQ(Base("OnlinePlotS"), 0.0);
        ToTestPage(d);
        EXPECT_EQ(d.Control(kOnlinePlot)->checked, BST_UNCHECKED);
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

// A rise shorter than half a loop period cannot be made: the profile's slope check fails the run
// before the test program starts.
TEST_F(SpeedTuningTest, RiseTooShortForTheLoopFailsWithTheSlopeMessage) {
    ForceParameter(*setup_, "TaPS", 0.4 * ComputeSpeedLoopPeriod(*setup_));
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(),
                  "Reference variation between two consecutive points is too big (slope "
                  "overflow).");
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

// With the start mode of the motionless start the rotor is not positioned first: the run starts
// with the test program.
TEST_F(SpeedTuningTest, MotionlessStartSkipsThePositioning) {
    ForceParameter(*setup_, "StartMode", 1.0);
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Launching the application for test");
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

}  // namespace

namespace {

constexpr int kScope = 1362;
constexpr int kPause = 10016;
constexpr int kContinue = 10017;
constexpr int kReferenceValue = 1364;

// On-line with the drive's scope: the acquisition is triggered when the reference reaches the
// final speed and the run ends when the acquisition is complete; the scope graph holds the four
// channels in base units, the reference at the final speed at the trigger.
TEST_F(SpeedTuningTest, OnlineScopeDrawsTheTriggeredAcquisitionAndEndsWithIt) {
    ForceParameter(*setup_, "OnlinePlotS", 1.0);
    CTestSpeedTuning test(setup_.get(), nullptr);
    ASSERT_NE(test.Scope(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(kOnlinePlot), "Scope");
        ToTestPage(d);
        EXPECT_TRUE(d.IsVisible(kScope));
        EXPECT_FALSE(d.IsVisible(kGraph));
        EXPECT_FALSE(d.IsVisible(kPause));
        RunTest(d, test, 20000);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        const ui::GraphState& scope = d.Graph(kScope);
        ASSERT_EQ(scope.curves.size(), 4U);
        EXPECT_EQ(scope.curves[0].name, "Speed_Reference");
        EXPECT_EQ(scope.curves[1].name, "Load_Speed");
        const auto& reference = scope.curves[0].points;
        ASSERT_FALSE(reference.empty());
        const auto trigger = std::find_if(reference.begin(), reference.end(),
                                          [](const auto& point) { return point.x >= 0.0; });
        ASSERT_NE(trigger, reference.end());
        EXPECT_NEAR(trigger->y, Base("TestSpeed"), 0.02 * Base("TestSpeed"));
        // The acquisition keeps a share of the rise before the trigger.
        EXPECT_LT(reference.front().x, 0.0);
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

// The scope's settings customised through its menu are kept in the setup on OK, loaded again by
// the next dialog, and dropped once the user goes back to the defaults.
TEST_F(SpeedTuningTest, CustomisedScopeSettingsAreKeptInTheSetupOnOk) {
    ForceParameter(*setup_, "OnlinePlotS", 1.0);
    {
        CTestSpeedTuning test(setup_.get(), nullptr);
        ui_->ExpectMenu("&Autoscale");
        ui_->When(kTemplate, [&](DialogDriver& d) {
            ToTestPage(d);
            RunTest(d, test, 20000);
            d.RightClick(kScope);
            d.Click(IDOK);
        });
        test.DoModal();
    }
    const std::string kept = setup_->GetOptionNoError("SpeedTuningOscSettings");
    EXPECT_NE(kept, "");
    {
        CTestSpeedTuning test(setup_.get(), nullptr);
        ui_->When(kTemplate, [&](DialogDriver& d) { d.Click(IDOK); });
        test.DoModal();
    }
    EXPECT_EQ(setup_->GetOptionNoError("SpeedTuningOscSettings"), kept);
    {
        CTestSpeedTuning test(setup_.get(), nullptr);
        ui_->ExpectMenu("&Default settings");
        ui_->When(kTemplate, [&](DialogDriver& d) {
            ToTestPage(d);
            d.RightClick(kScope);
            d.Click(IDOK);
        });
        test.DoModal();
    }
    EXPECT_EQ(setup_->GetOptionNoError("SpeedTuningOscSettings"), "");
    EXPECT_EQ(ui_->PendingMenuExpectations(), 0U);
}

// The scope graph's scale request (the wheel beside a channel's axis) steps that channel along
// 1, 2, 5, 10 per division, redraws the graph with it, and counts as customising: the settings
// are kept on OK. A curve without a scale of its own (the data logger's graph) has none to step.
TEST_F(SpeedTuningTest, ScaleRequestStepsTheChannelAndKeepsTheSettings) {
    ForceParameter(*setup_, "OnlinePlotS", 1.0);
    {
        CTestSpeedTuning test(setup_.get(), nullptr);
        ui_->When(kTemplate, [&](DialogDriver& d) {
            ToTestPage(d);
            const ui::GraphState& scope = d.Graph(kScope);
            ASSERT_EQ(scope.curves.size(), 4U);
            ASSERT_TRUE(scope.curves[1].scale && scope.curves[2].scale);
            const ui::GraphScale speedBefore = *scope.curves[1].scale;
            const ui::GraphScale currentBefore = *scope.curves[2].scale;
            ASSERT_TRUE(d.StepGraphScale(kScope, 2, 1));
            ASSERT_TRUE(d.StepGraphScale(kScope, 2, 1));
            ASSERT_TRUE(d.StepGraphScale(kScope, 1, -1));
            const ui::GraphScale& current = *d.Graph(kScope).curves[2].scale;
            const ui::GraphScale& speed = *d.Graph(kScope).curves[1].scale;
            EXPECT_EQ(
                qel::StepScopeScale(qel::StepScopeScale(currentBefore.valuePerDivision, 1), 1),
                current.valuePerDivision);
            EXPECT_EQ(current.valuePerDivision, test.Scope()->GetChannel(2)->valuePerDivision);
            EXPECT_EQ(qel::StepScopeScale(speedBefore.valuePerDivision, -1),
                      speed.valuePerDivision);
            EXPECT_EQ(speed.unit, speedBefore.unit);
            d.Click(IDOK);
        });
        test.DoModal();
    }
    const std::string kept = setup_->GetOptionNoError("SpeedTuningOscSettings");
    ASSERT_NE(kept, "");
    EXPECT_NE(kept.find("\"valuePerDivision\""), std::string::npos) << kept;
    {
        ForceParameter(*setup_, "OnlinePlotS", 0.0);
        CTestSpeedTuning test(setup_.get(), nullptr);
        ui_->When(kTemplate, [&](DialogDriver& d) {
            ToTestPage(d);
            RunTest(d, test, 20000);
            EXPECT_FALSE(ui::input::StepGraphScale(test, kGraph, 0, 1));
            d.Click(IDCANCEL);
        });
        test.DoModal();
    }
}

// "Edit settings..." of the scope's menu opens the settings dialog; what the user applies there
// is shown by the scope graph and kept in the setup on OK.
TEST_F(SpeedTuningTest, EditedScopeSettingsAreShownAndKept) {
    ForceParameter(*setup_, "OnlinePlotS", 1.0);
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->ExpectMenu("&Edit settings...");
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.RightClick(kScope);
        EXPECT_DOUBLE_EQ(d.Graph(kScope).timeBase->span_s, 0.4);
        EXPECT_DOUBLE_EQ(d.Graph(kScope).curves[2].scale->valuePerDivision, 20.0);
        d.Click(IDOK);
    });
    ui_->When(std::string(CScopeSettingsDlg::kCaption), [](DialogDriver& d) {
        d.EnterText(CScopeSettingsDlg::kDurationId, "0.4");
        d.EnterText(CScopeSettingsDlg::kChannelScaleId + 2 * CScopeSettingsDlg::kChannelIdStep,
                    "20");
        d.Click(IDOK);
    });
    test.DoModal();
    const std::optional<qel::ScopeSettings> kept = [this] {
        std::string problem;
        return qel::ParseScopeSettings(setup_->GetOptionNoError("SpeedTuningOscSettings"), problem);
    }();
    ASSERT_TRUE(kept.has_value());
    EXPECT_DOUBLE_EQ(kept->acquisition.duration_s, 0.4);
    EXPECT_DOUBLE_EQ(kept->channels.at(2).valuePerDivision, 20.0);
    EXPECT_EQ(ui_->PendingMenuExpectations(), 0U);
}

// On-line without the scope: the oscilloscope is fed by reading the reference and the load speed
// while the cycles run; Pause holds the picture, Stop ends the run.
TEST_F(SpeedTuningTest, OnlineReadsFeedTheOscilloscopeUntilStop) {
    setup_->SetOption("hasOscilloscope", "0");
    ForceParameter(*setup_, "OnlinePlotS", 1.0);
    ForceParameter(*setup_, "MultiCycleS", 1.0);
    CTestSpeedTuning test(setup_.get(), nullptr);
    ASSERT_EQ(test.Scope(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(1000);
        ASSERT_TRUE(test.IsRunning()) << test.GetErrorText();
        EXPECT_TRUE(d.IsVisible(kReferenceValue));
        EXPECT_NE(d.Text(kReferenceValue).find("rpm"), std::string::npos)
            << d.Text(kReferenceValue);
        const std::size_t drawn = test.Oscilloscope().GetView().curves.at(0).points.size();
        EXPECT_GT(drawn, 10U);
        d.Click(kPause);
        EXPECT_TRUE(d.IsEnabled(kContinue));
        d.AdvanceTime(500);
        EXPECT_EQ(test.Oscilloscope().GetView().curves.at(0).points.size(), drawn);
        d.Click(kContinue);
        d.AdvanceTime(200);
        EXPECT_GT(test.Oscilloscope().GetView().curves.at(0).points.size(), drawn);
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(100);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

}  // namespace

namespace {

constexpr int kKpSlider = 1337;
constexpr int kProcedureText = 1377;
constexpr int kInertiaEdit = 3270;
constexpr int kInertiaUnit = 3288;

// After a run that succeeded the rotor stays positioned: the next run on the test page starts with
// the profile; coming back to the page asks for a new positioning.
TEST_F(SpeedTuningTest, ARunAfterASuccessSkipsThePositioningUntilThePageIsEnteredAgain) {
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(kProcedureText), CTestSpeedTuning::kProcedure);
        ToTestPage(d);
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Launching the application for test");
        d.Click(CQel_TestDlg::kStartStopId);
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kParametersPage);
        ToTestPage(d);
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Waiting preliminary test to be finished");
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

// Cancel leaves the setup's scope settings as they were, whatever the user did to them.
TEST_F(SpeedTuningTest, CancelLeavesTheScopeSettingsOptionAlone) {
    setup_->SetOption("SpeedTuningOscSettings", "kept by an earlier session");
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->ExpectMenu("&Default settings");
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.RightClick(kScope);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    EXPECT_EQ(setup_->GetOptionNoError("SpeedTuningOscSettings"), "kept by an earlier session");
}

// A total inertia typed below the motor's own makes the motor's inertia unknown, with a warning.
TEST_F(SpeedTuningTest, TotalInertiaBelowTheMotorsWarnsAndMarksTheMotorInertiaUnknown) {
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->ExpectMessageBox(CTestSpeedTuning::kInertiaBelowMotor, IDOK);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.SelectUnit(kInertiaUnit, "kgm^2");
        char typed[32];
        std::snprintf(typed, sizeof typed, "%.9f", 0.5 * Base("Jm"));
        d.Type(kInertiaEdit, typed);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    EXPECT_EQ(ui_->PendingMessageBoxExpectations(), 0U);
}

// On-line, a gain moved on its slider during the cycles goes to the drive at once and the drive
// follows the reference differently from then on.
TEST_F(SpeedTuningTest, ASliderMovedDuringTheCyclesReachesTheDriveAndChangesTheResponse) {
    setup_->SetOption("hasOscilloscope", "0");
    ForceParameter(*setup_, "OnlinePlotS", 1.0);
    ForceParameter(*setup_, "MultiCycleS", 1.0);
    CTestSpeedTuning test(setup_.get(), nullptr);
    const auto followingError = [&](DialogDriver& d) {
        // The largest gap between the reference and the load speed over one profile cycle.
        double worst = 0.0;
        const double cycle_s = Base("TaPS") + Base("TPS") + Base("TaNS") + Base("TNS");
        for (double waited_s = 0.0; waited_s < cycle_s; waited_s += 0.001) {
            d.AdvanceTime(1);
            double reference = 0.0;
            double load = 0.0;
            EXPECT_TRUE(link_->ReadValue("Speed_Reference", reference));
            EXPECT_TRUE(link_->ReadValue("Load_Speed", load));
            worst = std::max(worst, std::fabs(reference - load));
        }
        return worst;
    };
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(500);
        ASSERT_TRUE(test.IsRunning()) << test.GetErrorText();
        const double before = followingError(d);
        EXPECT_TRUE(d.IsEnabled(kKpSlider));
        d.MoveSlider(kKpSlider, 0);
        double onDrive = 0.0;
        ASSERT_TRUE(link_->ReadValue("KPS", onDrive));
        EXPECT_EQ(onDrive, setup_->GetParameterValueInInternalUnit("KPS"));
        const double after = followingError(d);
        // Half the proportional gain: the load lags the reference further.
        EXPECT_GT(after, 1.2 * before) << "before " << before << ", after " << after;
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(100);
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

}  // namespace

namespace {

constexpr int kIdentify = 3271;
constexpr int kInertiaTest = 3041;
constexpr int kJloadEdit = 1385;

// Identify opens the inertia test on the same drive; the inertia it finds comes back into the
// tuning test with the load's share of it, ready for Tune.
TEST_F(SpeedTuningTest, IdentifyBringsTheMeasuredInertiaBackForTune) {
    ForceParameter(*setup_, "Jt", 3.0 * motor_.TotalInertia_kgm2());
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.Click(kIdentify);
        EXPECT_NEAR(Base("Jt"), motor_.TotalInertia_kgm2(), 0.02 * motor_.TotalInertia_kgm2());
        const double ratio = (Base("Jt") - Base("Jm")) / Base("Jm");
        EXPECT_NEAR(std::stod(d.Text(kJloadEdit)), ratio, 1e-3 * std::max(1.0, ratio));
        d.Click(IDCANCEL);
    });
    ui_->When(kInertiaTest, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        for (int tick = 0; tick < 3000 && d.Text(CQel_TestDlg::kResultTextId).empty(); ++tick) {
            d.AdvanceTime(20);
        }
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Total inertia", IDYES);
    test.DoModal();
    EXPECT_EQ(ui_->PendingSteps(), 0U);
}

}  // namespace
