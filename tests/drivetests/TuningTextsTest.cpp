// The tuning tests' own words: their messages, procedures and captions as the user reads them.
// Each is written out here once more, so that a slip in the one the code holds shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "drivetests/TestAngle.h"
#include "drivetests/TestCurrent.h"
#include "drivetests/TestPositionTuning.h"
#include "drivetests/TestSpeedTuning.h"
#include "host/ui/DialogTemplate.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

struct TextCase {
    const char* label;
    std::string held;
    const char* written;
    friend std::ostream& operator<<(std::ostream& out, const TextCase& row) {
        return out << row.label;
    }
};

class TuningText : public ::testing::TestWithParam<TextCase> {};

TEST_P(TuningText, ReadsAsWritten) {
    EXPECT_EQ(GetParam().held, GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TuningText,
    ::testing::Values(
        TextCase{"CurrentProtectionBelowTestCurrent", CTestCurrent::kProtectionBelowTestCurrent,
                 "Over current protection must be greater or equal to Test current."},
        TextCase{"CurrentProtectionTriggered", CTestCurrent::kCurrentProtectionTriggered,
                 "Test failed!\nCurrent protection triggered during test!"},
        TextCase{"ProfileProtectionTriggered", CProfileTuningTest::kCurrentProtectionTriggered,
                 "Test failed!\nCurrent protection triggered during test!"},
        TextCase{"CurrentProcedure", CTestCurrent::kProcedure,
                 "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and press "
                 "the \"Tune\" button\r\n3. Set the desired passband and tune the "
                 "controller\r\n4. Press the \"Start\" button\r\n5. Wait until the test ends and "
                 "displays the results\r\n6. If needed, change the controller parameters during "
                 "the test, until you get satisfactory results"},
        TextCase{"ProtectionBelowLimit", CProfileTuningTest::kProtectionBelowLimit,
                 "Over current protection must be greater than Drive current limit. Recommended "
                 "value for Drive current limit is maximum 90% of Over current protection."},
        TextCase{"InertiaBelowMotor", CProfileTuningTest::kInertiaBelowMotor,
                 "You have chosen a value for the total inertia that is lower than the value of "
                 "the motor inertia.\nThe application will assume the motor inertia is unknown."},
        TextCase{"StartCurrentAboveNominal", CProfileTuningTest::kStartCurrentAboveNominal,
                 "You have set a start current bigger than the nominal current! The start "
                 "current will be applied for %.2f s.\n\nThe motor must withstand this over "
                 "current condition or it may be damaged."},
        TextCase{"RunningUntilStop", CProfileTuningTest::kRunningUntilStop,
                 "Test running. Press \"Stop\" to end the test"},
        TextCase{"SpeedProcedure", CTestSpeedTuning::kProcedure,
                 "1. Check/setup the test current limits and speed profile below\r\n2. Go to the "
                 "\"Test\" tab and press the \"Tune\" button\r\n3. Check/identify the total "
                 "inertia, then set the desired passband and tune the controller\r\n4. Press the "
                 "\"Start\" button\r\n5. Wait until the test begins and displays the "
                 "results\r\n6. If needed, change the controller parameters during the test, "
                 "until you get satisfactory results"},
        TextCase{"PositionProcedure", CTestPositionTuning::kProcedure,
                 "1. Check/setup the test current limits and position profile below\r\n2. Go to "
                 "the \"Test\" tab and press the \"Tune\" button\r\n3. Check/identify the total "
                 "inertia, then set the desired passband and tune the controller\r\n4. Press the "
                 "\"Start\" button\r\n5. Wait until the test begins and displays the "
                 "results\r\n6. If needed, change the controller parameters during the test, "
                 "until you get satisfactory results"}),
    ByLabel());

// The profile's two messages come from the module's string table.
TEST(ProfileMessages, ReadAsWritten) {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
    EXPECT_EQ(ui::LoadResourceString(profile::kTooLongMessageId),
              "Distances between consecutive points on X axis must be greater than 0 and below "
              "32768.");
    EXPECT_EQ(ui::LoadResourceString(profile::kTooSteepMessageId),
              "Reference variation between two consecutive points is too big (slope overflow).");
}

struct CaptionCase {
    int templateId;
    int controlId;
    const char* caption;
    friend std::ostream& operator<<(std::ostream& out, const CaptionCase& row) {
        return out << row.templateId << "_" << row.controlId;
    }
};

class TuningCaption : public ::testing::TestWithParam<CaptionCase> {
  protected:
    void SetUp() override { ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources"); }
};

TEST_P(TuningCaption, StandsOnItsControl) {
    const ui::TemplateLoad loaded = ui::LoadDialogTemplate(GetParam().templateId);
    ASSERT_TRUE(loaded.dialogTemplate) << loaded.problem;
    const auto& controls = loaded.dialogTemplate->controls;
    const auto control = std::find_if(controls.begin(), controls.end(),
                                      [](const auto& c) { return c.id == GetParam().controlId; });
    ASSERT_NE(control, controls.end());
    EXPECT_EQ(control->caption, GetParam().caption);
}

INSTANTIATE_TEST_SUITE_P(
    Captions, TuningCaption,
    ::testing::Values(CaptionCase{101, 3142, "Use filter on the current controller"},
                      CaptionCase{101, 3139, "Filter bandwidth"},
                      CaptionCase{101, 3147, "Compensate for gravitational loads"},
                      CaptionCase{101, 3146, "Offset value"}, CaptionCase{101, 3149, "Tune"},
                      CaptionCase{101, 1372, "S&ave Plots"}, CaptionCase{101, 10003, "&Details"},
                      CaptionCase{102, 1368, "Data logger"}, CaptionCase{102, 1369, "On-line plot"},
                      CaptionCase{102, 1332, "Multiple Cycle Movement"},
                      CaptionCase{102, 1363, "Speed reference: "},
                      CaptionCase{102, 1365, "Load speed:"}, CaptionCase{102, 10016, "PAUSE_"},
                      CaptionCase{102, 10017, "CONTINUE_"},
                      CaptionCase{103, 1512, "Kd filter (0...1)"},
                      CaptionCase{103, 1517, "Position reference: "},
                      CaptionCase{103, 1519, "Load position:"}),
    ::testing::PrintToStringParamName());

// The first step of a run shows its text; a drive that cannot take the positioning program leaves
// it on screen with the failure.
class FirstStepText : public DriveTestDialogTest {};

TEST_F(FirstStepText, StaysWhenThePositioningCannotStart) {
    SetUpDrive(48.0, "reference-axis-motor.json", Belief::Nameplate);
    auto broken = std::make_unique<drive::SimulatedDriveLink>(*axis_);
    broken->BreakAt(drive::LinkCall::DownloadAndStart, "The drive does not answer.");
    ConnectLink(std::move(broken));
    CTestSpeedTuning test(setup_.get(), nullptr);
    ui_->When(102, [&](ui::headless::DialogDriver& d) {
        d.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId),
                  "Launching the application for preliminary test");
        d.Click(IDCANCEL);
    });
    test.DoModal();
}

}  // namespace
