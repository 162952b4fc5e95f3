#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "dialogs/MotorSetupDlg.h"
#include "drivetests/TestRL.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 290;
constexpr double kBench_V = 48.0;
// The user's first guesses are off by these factors.
constexpr double kResistanceGuess = 2.0;
constexpr double kInductanceGuess = 0.5;

class ResistanceInductanceTest : public DriveTestDialogTest {
  protected:
    // Describes the motor truly but for R and L, which the user only guessed.
    void SetUpGuesses(const std::string& motorFile) {
        SetUpDrive(kBench_V, motorFile, Belief::Nameplate);
        ForceParameter(*setup_, "R", motor_.phaseResistance_ohm * kResistanceGuess);
        ForceParameter(*setup_, "L", motor_.phaseInductance_H * kInductanceGuess);
    }
};

class RLOnMotor : public ResistanceInductanceTest,
                  public ::testing::WithParamInterface<const char*> {};

TEST_P(RLOnMotor, FindsTheMotorsTrueValuesAndKeepsThemOnYes) {
    SetUpGuesses(GetParam());
    const double oldVdc_V = Base("Vdc");
    CTestRL test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Waiting L test to be finished");
        EXPECT_NE(d.Text(1002), "");
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Phase resistance", IDYES);
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_NEAR(Base("R"), motor_.phaseResistance_ohm, 0.01 * motor_.phaseResistance_ohm);
    EXPECT_NEAR(Base("L"), motor_.phaseInductance_H, 0.01 * motor_.phaseInductance_H);
    EXPECT_EQ(Base("Vdc"), oldVdc_V);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    const std::string& question = ui_->MessageBoxes()[0].text;
    EXPECT_NE(question.find("Phase resistance:\tOld = "), std::string::npos) << question;
    EXPECT_NE(question.find("\r\nPhase inductance:\tOld = "), std::string::npos) << question;
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, RLOnMotor,
                         ::testing::Values("reference-axis-motor.json", "large-motor.json",
                                           "small-delta-motor.json"),
                         [](const ::testing::TestParamInfo<const char*>& motor) {
                             std::string name = motor.param;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(ResistanceInductanceTest, NoDropsTheValuesAndCloseRestoresTheSupplyEvenOnCancel) {
    SetUpGuesses("reference-axis-motor.json");
    axis_->SetBusVoltage(40.0);
    const double guessR = Base("R");
    CTestRL test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        // The runs' bus stands in the setup while the dialog is open.
        EXPECT_NEAR(Base("Vdc"), 40.0, 0.5);
        d.Click(IDCANCEL);
        EXPECT_EQ(Base("Vdc"), kBench_V);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Phase resistance", IDCANCEL);
    ui_->ExpectMessageBox("Phase resistance", IDNO);
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("R"), guessR);
    EXPECT_EQ(Base("Vdc"), kBench_V);
}

struct RLFault {
    const char* name;
    drive::Fault fault;
    const char* error;
};

class RLFailure : public ResistanceInductanceTest, public ::testing::WithParamInterface<RLFault> {};

TEST_P(RLFailure, FailsWithItsTextAndChangesNothing) {
    SetUpGuesses("reference-axis-motor.json");
    axis_->InjectFault(GetParam().fault);
    const double guessR = Base("R");
    CTestRL test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), GetParam().error);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("R"), guessR);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RLFailure,
    ::testing::Values(RLFault{"ShortCircuit", drive::Fault::ShortCircuit,
                              "Drive / Motor shortcircuit protection triggered."},
                      RLFault{"OpenPhaseA", drive::Fault::DisconnectedPhaseA,
                              CQel_TestDlg::msc_pszErrInZero}),
    [](const ::testing::TestParamInfo<RLFault>& fault) { return std::string(fault.param.name); });

TEST_F(ResistanceInductanceTest, MotorSetupButtonOpensTheTestAndShowsTheNewValues) {
    SetUpGuesses("reference-axis-motor.json");
    ui_->When(108, [](DialogDriver& d) { d.Click(1177); });
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(20000);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Phase resistance", IDYES);
    ui_->When(108, [&](DialogDriver& d) { d.Click(IDCANCEL); });
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_NEAR(Base("R"), motor_.phaseResistance_ohm, 0.01 * motor_.phaseResistance_ohm);
}

}  // namespace
