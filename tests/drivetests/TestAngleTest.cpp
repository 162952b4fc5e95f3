#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "drivetests/TestAngle.h"
#include "engine/BaseScales.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/HostServices.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 3057;
constexpr int kKpEdit = 1335;
constexpr int kKpSlider = 1337;
constexpr int kKiSlider = 1342;
constexpr int kGraph = 1361;
constexpr int kSavePlots = 1372;
constexpr int kProcedure = 1377;
constexpr int kCurrentEdit = 3362;
constexpr int kPointsEdit = 3357;
constexpr int kPeriodEdit = 3359;
constexpr double kBench_V = 48.0;

// The gains that settle the angle: a stiffness letting the rotor give way by a twentieth of the
// frame's first error (Ki = 19), critically damped by Kp (see the program's own tests).
struct Gains {
    double kp = 0.0;
    double ki = 0.0;
};

constexpr double kStiffness = 19.0;

Gains DesignedGains(const drive::MotorData& motor, const CQel_Setup& setup) {
    const double current_A = setup.GetParameterValueInBaseUnit("MAX_CURRENT");
    const double a =
        motor.polePairs * motor.torqueConstant_Nm_A * current_A / motor.TotalInertia_kgm2();
    const double naturalFrequency_rad_s = std::sqrt(a * (1.0 + kStiffness));
    return {2.0 * naturalFrequency_rad_s / (a * ComputeSpeedLoopPeriod(setup)), kStiffness};
}

std::string NotStabilizedAt(const char* goal) {
    char text[1024];
    std::snprintf(text, sizeof text, CTestAngle::kNotStabilizedAt, goal);
    return text;
}

struct Verdict {
    const char* label;
    const char* motorFile;
    // Multiplies the designed gains.
    double kpShare;
    double kiShare;
    double extraFriction_Nm;
    double protection_A;  // 0: the setup's
    int result;
    std::string error;
    friend std::ostream& operator<<(std::ostream& out, const Verdict& row) {
        return out << row.label;
    }
};

class AngleTest : public DriveTestDialogTest {
  protected:
    // The motor told truly, the gains and the protection in the setup and on the drive.
    void SetUpAxis(const Verdict& row) {
        SetUpDrive(kBench_V, row.motorFile, Belief::Nameplate);
        const Gains designed = DesignedGains(motor_, *setup_);
        ForceParameter(*setup_, "Kp_T_scl", designed.kp * row.kpShare);
        ForceParameter(*setup_, "Ki_T_scl", designed.ki * row.kiShare);
        if (row.protection_A > 0.0) {
            ForceParameter(*setup_, "Imax_Prot", row.protection_A);
        }
        ComputeDriveRegisters(*setup_);
        drive::MotorData motor = motor_;
        motor.coulombFriction_Nm += row.extraFriction_Nm;
        ReplaceMotor(motor);
    }
};

class AngleVerdict : public AngleTest, public ::testing::WithParamInterface<Verdict> {};

TEST_P(AngleVerdict, ShowsTheProgramsVerdictAndDrawsBothCurves) {
    const Verdict& row = GetParam();
    SetUpAxis(row);
    CTestAngle test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), row.result) << test.GetErrorText();
        EXPECT_EQ(test.GetErrorText(), row.error);
        const ui::GraphState& graph = d.Graph(kGraph);
        ASSERT_EQ(graph.curves.size(), 2U);
        EXPECT_EQ(graph.curves[0].name, "Motor_Current");
        EXPECT_EQ(graph.curves[1].name, "Electric_Angle");
        if (row.result == 1) {
            EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
            ASSERT_FALSE(graph.curves[1].points.empty());
            // The settled angle lies within 10 electrical degrees of the aligned rotor's.
            EXPECT_NEAR(graph.curves[1].points.back().y, -16384.0, 1820.0);
            EXPECT_EQ(graph.curves[0].points.size(), graph.curves[1].points.size());
        }
        d.Click(IDCANCEL);
    });
    test.DoModal();
    EXPECT_TRUE(errors_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Motors, AngleVerdict,
    ::testing::Values(
        Verdict{"DesignedReferenceMotor", "reference-axis-motor.json", 1, 1, 0, 0, 1, ""},
        Verdict{"DesignedLargeMotor", "large-motor.json", 1, 1, 0, 0, 1, ""},
        Verdict{"NoGainLargeMotor", "large-motor.json", 0, 0, 0, 0, 0, NotStabilizedAt("-16384")},
        Verdict{"TooMuchProportionalGain", "reference-axis-motor.json", 10, 1, 0, 0, 0,
                NotStabilizedAt("-16384")},
        Verdict{"CurrentTooLowForTheFriction", "large-motor.json", 1, 1, 1.0, 0, 0,
                CTestAngle::kLowCurrent},
        Verdict{"ProtectionBelowTheTestCurrent", "reference-axis-motor.json", 1, 1, 0, 1.0, 0,
                CTestAngle::kOverCurrent}),
    ByLabel());

// A Kp typed into the dialog splits into the shift and mantissa registers and stays in the setup
// when the dialog is closed with OK.
TEST_F(AngleTest, TypedGainGoesToTheRegistersAndTheDriveAndStaysOnOk) {
    SetUpAxis(Verdict{"", "reference-axis-motor.json", 1, 1, 0, 0, 1, ""});
    const double kp = DesignedGains(motor_, *setup_).kp;
    CTestAngle test(setup_.get(), nullptr);
    char typed[32];
    std::snprintf(typed, sizeof typed, "%.4f", 1.25 * kp);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        d.Type(kKpEdit, typed);
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Click(IDOK);
    });
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_NEAR(Base("Kp_T_scl"), 1.25 * kp, 1e-3 * kp);
    CQel_Setup expected(*setup_);
    ComputeDriveRegisters(expected);
    for (const char* name : {"SFTKPTHT", "KPTHT"}) {
        EXPECT_EQ(setup_->GetParameterValueInInternalUnit(name),
                  expected.GetParameterValueInInternalUnit(name))
            << name;
    }
}

// The dialog opens on its settings page; the test page holds the gains, Start and the graph,
// and cannot be left while a test runs.
TEST_F(AngleTest, PagesShowTheirOwnControlsAndTheSettingsPageWaitsForTheRun) {
    SetUpAxis(Verdict{"", "reference-axis-motor.json", 1, 1, 0, 0, 1, ""});
    CTestAngle test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(kCurrentEdit));
        EXPECT_FALSE(d.IsVisible(kKpEdit));
        EXPECT_FALSE(d.IsVisible(kGraph));
        EXPECT_FALSE(d.IsVisible(CQel_TestDlg::kStartStopId));
        EXPECT_EQ(d.Text(kProcedure), CTestAngle::kProcedureWithStartPosition);
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        EXPECT_FALSE(d.IsVisible(kCurrentEdit));
        EXPECT_TRUE(d.IsVisible(kGraph));
        d.Click(CQel_TestDlg::kStartStopId);
        ASSERT_TRUE(test.IsRunning());
        EXPECT_FALSE(d.IsEnabled(kKpEdit));
        EXPECT_FALSE(d.IsEnabled(kKpSlider));
        EXPECT_FALSE(d.IsEnabled(IDOK));
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kParametersPage);
        EXPECT_EQ(d.Control(CMyTestDlg::kTabId)->selection, CMyTestDlg::kTestPage);
        while (test.IsRunning()) {
            d.AdvanceTime(20);
        }
        EXPECT_TRUE(d.IsEnabled(kKpEdit));
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        // Back and forth: the outcome is shown again on the test page.
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kParametersPage);
        EXPECT_TRUE(d.IsVisible(kCurrentEdit));
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

// The gain sliders run from half to one and a half times the gain the dialog opened with.
TEST_F(AngleTest, GainSlidersSpanHalfToOneAndAHalfTimesTheGain) {
    SetUpAxis(Verdict{"", "reference-axis-motor.json", 1, 1, 0, 0, 1, ""});
    const double kp = Base("Kp_T_scl");
    const double ki = Base("Ki_T_scl");
    CTestAngle test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        d.MoveSlider(kKpSlider, 0);
        EXPECT_NEAR(Base("Kp_T_scl"), 0.5 * kp, 1e-9 * kp);
        d.MoveSlider(kKiSlider, CQel_EditSetupDlg::kSliderPositions);
        EXPECT_NEAR(Base("Ki_T_scl"), 1.5 * ki, 1e-9 * ki);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    EXPECT_DOUBLE_EQ(Base("Kp_T_scl"), kp);
}

// Without the logger settings in the setup the dialog keeps its own: 2000 points, one every
// second period, edited like the setup's and used by the run.
TEST_F(AngleTest, LoggerSettingsTheSetupLacksAreTheDialogsOwn) {
    SetUpAxis(Verdict{"", "reference-axis-motor.json", 1, 1, 0, 0, 1, ""});
    setup_->RemoveParameter("AquisitionsNo");
    setup_->RemoveParameter("SamplingRate");
    setup_->RemoveParameter("START_POS");
    CTestAngle test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(kProcedure), CTestAngle::kProcedure);
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        EXPECT_EQ(d.Text(kPointsEdit), "2000");
        EXPECT_EQ(d.Text(kPeriodEdit), "2");
        d.Type(kPointsEdit, "500");
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Graph(kGraph).curves[0].points.size(), 500U);
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

// A run that did not settle offers the tuning help with its details.
TEST_F(AngleTest, DetailsOfAnUnsettledAngleOfferTheTuningHelp) {
    SetUpAxis(Verdict{"", "large-motor.json", 0, 0, 0, 0, 0, ""});
    qel::SetHelpFileOfGUI("brevan-help.html");
    CTestAngle test(setup_.get(), nullptr);
    ui_->ExpectMessageBox("Open the help on tuning the electric angle controller?", IDYES);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        RunTest(d, test);
        EXPECT_EQ(test.GetErrorText(), NotStabilizedAt("-16384"));
        EXPECT_EQ(d.Control(CQel_TestDlg::kResultIconId)->bitmap, CQel_TestDlg::kFailedIcon);
        d.Click(CQel_TestDlg::kDetailsId);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    qel::SetHelpFileOfGUI("");
    ASSERT_EQ(ui_.Backend().HelpRequests().size(), 1U);
    EXPECT_EQ(ui_.Backend().HelpRequests()[0].topic, 262415U);
}

// Save Plots asks where and writes the curves there; while a run goes on it does nothing.
TEST_F(AngleTest, SavePlotsAsksWhereAndWritesTheCurves) {
    SetUpAxis(Verdict{"", "reference-axis-motor.json", 1, 1, 0, 0, 1, ""});
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("brevan-angle-" + std::to_string(::getpid()) + ".csv");
    CTestAngle test(setup_.get(), nullptr);
    ui_->ExpectSavePrompt(file);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        d.Click(CQel_TestDlg::kStartStopId);
        d.Click(kSavePlots);
        EXPECT_TRUE(ui_->SavePrompts().empty());
        while (test.IsRunning()) {
            d.AdvanceTime(20);
        }
        d.Click(kSavePlots);
        d.Click(IDCANCEL);
    });
    test.DoModal();
    ASSERT_EQ(ui_->SavePrompts().size(), 1U);
    EXPECT_EQ(ui_->SavePrompts()[0].prompt.defaultName, "AngleControllerTuning.svg");
    std::ifstream saved(file);
    std::string header;
    std::getline(saved, header);
    EXPECT_EQ(header, "time [s],Motor_Current [A],Electric_Angle");
    std::filesystem::remove(file);
}

}  // namespace
