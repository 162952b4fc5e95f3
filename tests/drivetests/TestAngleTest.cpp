#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

#include "drivetests/TestAngle.h"
#include "engine/BaseScales.h"
#include "engine/RegisterComputation.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 3057;
constexpr int kKpEdit = 1335;
constexpr int kGraph = 1361;
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

}  // namespace
