#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "drivetests/DetectEncoderResolution.h"
#include "host/ui/DrawnControls.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 292;
constexpr int kEstimatedLinesEdit = 1021;
constexpr int kCounterEdit = 3131;
constexpr int kReverseCountingCheck = 3357;
constexpr int kEncoderDiagram = 1024;
constexpr int kPhaseDiagram = 1025;
constexpr double kBench_V = 48.0;
// What the user believed before the test: no example motor's encoder has this many lines.
constexpr double kGuessedLines = 300.0;

class EncoderResolutionTest : public DriveTestDialogTest {
  protected:
    void SetUpGuess(const std::string& motorFile) {
        SetUpDrive(kBench_V, motorFile, Belief::Nameplate);
        ForceParameter(*setup_, "No_encoder_lines", kGuessedLines);
    }
};

class EncoderResolutionOnMotor : public EncoderResolutionTest,
                                 public ::testing::WithParamInterface<const char*> {};

TEST_P(EncoderResolutionOnMotor, FindsTheLinesAndKeepsThemOnYes) {
    SetUpGuess(GetParam());
    CDetectEncoderResolution test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_EQ(d.Diagram(kEncoderDiagram).style, ui::DiagramStyle::Dial);
        EXPECT_EQ(d.Diagram(kPhaseDiagram).style, ui::DiagramStyle::Phases);
        EXPECT_TRUE(d.IsEnabled(kEncoderDiagram));
        EXPECT_TRUE(d.IsEnabled(kPhaseDiagram));
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Test finished");
        EXPECT_EQ(d.Text(kEstimatedLinesEdit), std::to_string(motor_.encoder.lines));
        // One mechanical turn: the counter shows about four counts per line.
        const int counted = std::stoi(d.Text(kCounterEdit));
        EXPECT_NEAR(counted, 4 * motor_.encoder.lines, motor_.encoder.lines / 2);
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Encoder resolution", IDYES);
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_EQ(Base("No_encoder_lines"), motor_.encoder.lines);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    EXPECT_EQ(ui_->MessageBoxes()[0].text,
              "A different value than specified has been detected for the following "
              "parameter(s):\r\n\r\nEncoder resolution:\tOld = 300\tNew = " +
                  std::to_string(motor_.encoder.lines) +
                  "\r\n\r\nDo you want to save the new value(s)? (Recommended)");
    EXPECT_TRUE(errors_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(ExampleMotors, EncoderResolutionOnMotor,
                         ::testing::Values("reference-axis-motor.json", "large-motor.json",
                                           "small-delta-motor.json"),
                         [](const ::testing::TestParamInfo<const char*>& motor) {
                             std::string name = motor.param;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A pole-pair value a hair off its count (what the registers of a guessed 300 lines gave back
// before their derivation rounded it) still turns the field by whole pole pairs: the lines
// found are the encoder's, not two thirds of them.
TEST_F(EncoderResolutionTest, APolePairValueJustBelowItsCountStillFindsTheLines) {
    SetUpGuess("reference-axis-motor.json");
    ForceParameter(*setup_, "pp", motor_.polePairs - 6.7e-8);
    CDetectEncoderResolution test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(kEstimatedLinesEdit), std::to_string(motor_.encoder.lines));
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Encoder resolution", IDYES);
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_EQ(Base("No_encoder_lines"), motor_.encoder.lines);
}

TEST_F(EncoderResolutionTest, NoEndsWithOkAndLeavesTheLinesAndCancelStays) {
    SetUpGuess("reference-axis-motor.json");
    CDetectEncoderResolution test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Click(IDCANCEL);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_EQ(d.Text(kEstimatedLinesEdit), "1024");
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Encoder resolution", IDCANCEL);
    ui_->ExpectMessageBox("Encoder resolution", IDNO);
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_EQ(Base("No_encoder_lines"), kGuessedLines);
    EXPECT_EQ(ui_->MessageBoxes().size(), 2U);
}

TEST_F(EncoderResolutionTest, TheSameLinesCloseWithoutQuestion) {
    SetUpDrive(kBench_V, "reference-axis-motor.json", Belief::Nameplate);
    CDetectEncoderResolution test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

struct WiringCase {
    const char* name;
    const char* motorFile;
    drive::Fault fault;
    bool injectFault;
    const char* text;
};

class EncoderResolutionWiring : public EncoderResolutionTest,
                                public ::testing::WithParamInterface<WiringCase> {};

TEST_P(EncoderResolutionWiring, FailsWithTheTextThatExplainsItAndKeepsTheLines) {
    SetUpGuess(GetParam().motorFile);
    if (GetParam().injectFault) {
        axis_->InjectFault(GetParam().fault);
    }
    CDetectEncoderResolution test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), GetParam().text);
        EXPECT_EQ(d.Text(kEstimatedLinesEdit), "");
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
    EXPECT_EQ(Base("No_encoder_lines"), kGuessedLines);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EncoderResolutionWiring,
    ::testing::Values(
        WiringCase{"ReversedEncoder", "reversed-encoder-motor.json",
                   drive::Fault::SwappedEncoderChannels, false,
                   CDetectEncoderResolution::kWrongDirection},
        WiringCase{"SwappedPhases", "reference-axis-motor.json", drive::Fault::SwappedPhasesBC,
                   true, CDetectEncoderResolution::kWrongDirection},
        WiringCase{"MissingChannel", "reference-axis-motor.json",
                   drive::Fault::MissingEncoderChannelA, true,
                   CDetectEncoderResolution::kShaftNotTurning},
        // A cut lead carries no current: the positioning before the turn stops the run.
        WiringCase{"CutPhase", "reference-axis-motor.json", drive::Fault::DisconnectedPhaseA, true,
                   CQel_TestDlg::msc_pszErrInZero}),
    [](const ::testing::TestParamInfo<WiringCase>& wiring) { return wiring.param.name; });

TEST_F(EncoderResolutionTest, TheReverseCountingChoiceIsHandedToTheOpener) {
    SetUpDrive(kBench_V, "reversed-encoder-motor.json", Belief::Nameplate);
    CDetectEncoderResolution test(setup_.get(), nullptr);
    EXPECT_EQ(test.GetCountingDirection(), CDetectEncoderResolution::kNoDirection);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        ASSERT_TRUE(d.IsEnabled(kReverseCountingCheck));
        d.SetCheck(kReverseCountingCheck, true);
        EXPECT_EQ(Base("COUNTINGDIR"), 0.0);
        RunTest(d, test);
        // Every tick of the run carries the choice into the drive's counting direction.
        EXPECT_EQ(Base("COUNTINGDIR"), 1.0);
        d.SetCheck(kReverseCountingCheck, false);
        d.SetCheck(kReverseCountingCheck, true);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(test.GetCountingDirection(), 1);
}

TEST_F(EncoderResolutionTest, NoLinesStillMeasuresWithoutTurningTheEncoderDiagram) {
    SetUpGuess("reference-axis-motor.json");
    ForceParameter(*setup_, "No_encoder_lines", 0.0);
    CDetectEncoderResolution test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Diagram(kEncoderDiagram).theta_rad, 0.0);
        EXPECT_EQ(d.Text(kEstimatedLinesEdit), "1024");
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Old = 0\tNew = 1024", IDYES);
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_EQ(Base("No_encoder_lines"), 1024.0);
}

}  // namespace
