#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "drivetests/TestCurrent.h"
#include "engine/RegisterComputation.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 101;
constexpr int kTestCurrentEdit = 1120;
constexpr int kProtectionEdit = 1303;
constexpr int kKpEdit = 1335;
constexpr int kKpFineSpin = 1336;
constexpr int kPassbandSlider = 3152;
constexpr int kTune = 3149;
constexpr int kUseFilter = 3142;
constexpr int kFilterEdit = 3140;
constexpr int kGraph = 1361;
constexpr double kBench_V = 48.0;

class CurrentTuningTest : public DriveTestDialogTest {
  protected:
    void SetUp() override {
        SetUpDrive(kBench_V, "reference-axis-motor.json", Belief::Nameplate);
        ComputeDriveRegisters(*setup_);
    }
    static void ToTestPage(DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
    }
    double DriveRegister(const char* name) {
        double value = 0.0;
        EXPECT_TRUE(link_->ReadValue(name, value)) << name;
        return value;
    }
};

// The step response the graph shows: the reference's final level, the current's time to 63 % of
// it from the step and its highest value.
struct StepFigures {
    double reference_A = 0.0;
    double timeTo63_s = 0.0;
    double peak_A = 0.0;
};

StepFigures Measure(const ui::GraphState& graph) {
    const auto& reference = graph.curves.at(0).points;
    const auto& current = graph.curves.at(2).points;
    StepFigures figures;
    figures.reference_A = reference.back().y;
    const auto step = std::find_if(reference.begin(), reference.end(), [&](const auto& point) {
        return point.y > 0.5 * figures.reference_A;
    });
    const double stepTime_s = step->x;
    for (const auto& point : current) {
        figures.peak_A = std::max(figures.peak_A, point.y);
        if (figures.timeTo63_s == 0.0 && point.x >= stepTime_s &&
            point.y >= 0.63 * figures.reference_A) {
            figures.timeTo63_s = point.x - stepTime_s;
        }
    }
    return figures;
}

// Tune designs the gains from the passband; the step the drive then makes follows the passband:
// the current reaches 63 % of the step after about one over the passband and overshoots no more
// than the design's damping implies (18 % at 0.7, the PI's zero included), with a few percent for
// the sampled loop. The passband is the slider's low end, 2500 rad/s, where the continuous
// design holds at 20 kHz.
TEST_F(CurrentTuningTest, TunedLoopStepsTheCurrentAtTheDesignedPassband) {
    CTestCurrent test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.MoveSlider(kPassbandSlider, 0);
        EXPECT_DOUBLE_EQ(Base("PB_C"), 2500.0);
        d.Click(kTune);
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Uploading results");
        const ui::GraphState& graph = d.Graph(kGraph);
        ASSERT_EQ(graph.curves.size(), 3U);
        EXPECT_EQ(graph.curves[0].name, "Current_Reference");
        EXPECT_EQ(graph.curves[1].name, "Voltage_Reference");
        EXPECT_EQ(graph.curves[2].name, "Motor_Current");
        EXPECT_EQ(graph.curves[0].unit, "A");
        EXPECT_EQ(graph.curves[1].unit, "V");
        EXPECT_EQ(graph.curves[0].points.size(), 100U);
        const StepFigures figures = Measure(graph);
        EXPECT_NEAR(figures.reference_A, Base("TestCurrent"), 0.01 * Base("TestCurrent"));
        const double loopPeriod_s = 1.0 / Base("PWM_freq");
        EXPECT_NEAR(figures.timeTo63_s, 1.0 / Base("PB_C"), 0.15 / Base("PB_C") + loopPeriod_s);
        EXPECT_LT(figures.peak_A, 1.23 * figures.reference_A);
        d.Click(IDOK);
    });
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_TRUE(errors_.Messages().empty()) << errors_.Messages().front();
}

TEST_F(CurrentTuningTest, OkMakesTheTestProtectionTheDrivesAndKeepsTheTunedGains) {
    ForceParameter(*setup_, "TestProtectionCurrent", 4.5);
    CTestCurrent test(setup_.get(), nullptr);
    double tunedKp = 0.0;
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        d.MoveSlider(kPassbandSlider, 80);
        d.Click(kTune);
        tunedKp = std::stod(d.Text(kKpEdit));
        d.Click(IDOK);
    });
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_DOUBLE_EQ(Base("Imax_Prot"), Base("TestProtectionCurrent"));
    EXPECT_NEAR(Base("Kp_C_scl"), tunedKp, 1e-3 * tunedKp);
    CQel_Setup expected(*setup_);
    ComputeDriveRegisters(expected);
    for (const char* name : {"SFTKPI", "KPI", "SFTKII", "KII"}) {
        EXPECT_EQ(setup_->GetParameterValueInInternalUnit(name),
                  expected.GetParameterValueInInternalUnit(name))
            << name;
    }
}

// Tune during a run sends the new gains to the drive at once; a gain spun between runs stays in
// the setup until the next run.
TEST_F(CurrentTuningTest, TuneDuringARunWritesTheGainsToTheDriveAndSpinsBetweenRunsDoNot) {
    CTestCurrent test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        const double kpiBefore = DriveRegister("KPI");
        d.Spin(kKpFineSpin, 5);
        EXPECT_EQ(DriveRegister("KPI"), kpiBefore);
        d.Click(CQel_TestDlg::kStartStopId);
        ASSERT_TRUE(test.IsRunning());
        EXPECT_FALSE(d.IsEnabled(kKpEdit));
        EXPECT_FALSE(d.IsEnabled(IDOK));
        // The parameters page stays closed while the test runs.
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kParametersPage);
        EXPECT_EQ(d.Control(CMyTestDlg::kTabId)->selection, CMyTestDlg::kTestPage);
        d.MoveSlider(kPassbandSlider, 90);
        d.Click(kTune);
        for (const char* name : {"SFTKPI", "KPI", "SFTKII", "KII"}) {
            EXPECT_EQ(DriveRegister(name), setup_->GetParameterValueInInternalUnit(name)) << name;
        }
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

struct PageCase {
    const char* label;
    double testCurrent_A;
    double protection_A;
    bool opens;
    friend std::ostream& operator<<(std::ostream& out, const PageCase& row) {
        return out << row.label;
    }
};

class TestPageEntry : public CurrentTuningTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(TestPageEntry, NeedsAProtectionAtLeastTheTestCurrent) {
    const PageCase& row = GetParam();
    CTestCurrent test(setup_.get(), nullptr);
    if (!row.opens) {
        ui_->ExpectMessageBox(CTestCurrent::kProtectionBelowTestCurrent, IDOK);
    }
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(kTestCurrentEdit));
        EXPECT_EQ(d.Text(1377), CTestCurrent::kProcedure);
        EXPECT_FALSE(d.IsVisible(kKpEdit));
        EXPECT_FALSE(d.IsVisible(kGraph));
        d.Type(kProtectionEdit, std::to_string(row.protection_A));
        d.Type(kTestCurrentEdit, std::to_string(row.testCurrent_A));
        ToTestPage(d);
        const int expectedPage = row.opens ? CMyTestDlg::kTestPage : CMyTestDlg::kParametersPage;
        EXPECT_EQ(d.Control(CMyTestDlg::kTabId)->selection, expectedPage);
        EXPECT_EQ(d.IsVisible(kKpEdit), row.opens);
        EXPECT_EQ(d.IsVisible(kGraph), row.opens);
        EXPECT_EQ(d.IsVisible(kTestCurrentEdit), !row.opens);
        EXPECT_EQ(d.IsVisible(CQel_TestDlg::kStartStopId), row.opens);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    EXPECT_EQ(ui_->PendingMessageBoxExpectations(), 0U);
}

INSTANTIATE_TEST_SUITE_P(Pages, TestPageEntry,
                         ::testing::Values(PageCase{"Equal", 2.0, 2.0, true},
                                           PageCase{"ProtectionAbove", 1.5, 2.0, true},
                                           PageCase{"ProtectionBelow", 2.5, 2.0, false}),
                         ByLabel());

TEST_F(CurrentTuningTest, FilterControlsShowOnlyWhenTheFilterIsUsed) {
    CTestCurrent test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        EXPECT_FALSE(d.IsVisible(kFilterEdit));
        d.Click(kUseFilter);
        EXPECT_TRUE(d.IsVisible(kFilterEdit));
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

// A protection the step's overshoot passes: the program stops the step and says so; nothing is
// uploaded.
TEST_F(CurrentTuningTest, ProtectionTrippedDuringTheStepFailsWithItsText) {
    ForceParameter(*setup_, "Kp_C_scl", 4.0 * Base("Kp_C_scl"));
    ForceParameter(*setup_, "Ki_C_scl", 4.0 * Base("Ki_C_scl"));
    ForceParameter(*setup_, "TestProtectionCurrent", Base("TestCurrent"));
    ComputeDriveRegisters(*setup_);
    CTestCurrent test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ToTestPage(d);
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), CTestCurrent::kCurrentProtectionTriggered);
        EXPECT_TRUE(d.Graph(kGraph).curves[0].points.empty());
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

}  // namespace
