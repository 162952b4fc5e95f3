#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "drive/link/SimulatedDriveLink.h"
#include "drivetests/MyTestDlg.h"
#include "engine/Derivation.h"
#include "engine/RegisterComputation.h"
#include "host/app/DriveTestRun.h"
#include "host/kernel/CoffFormat.h"
#include "host/ui/DialogTemplate.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/SetupForMotor.h"
#include "tests/support/Examples.h"

// The scripted person of the drive-test commands with their own steps before Start and after the
// conclusion, as brevan tune scripts them: the current loop's tuning dialog on the reference axis.
namespace {

constexpr int kCurrentTuningTemplate = 101;
constexpr int kTuneButton = 3149;
constexpr double kPatience_s = 60.0;
constexpr double kBench_V = 48.0;
constexpr const char* kProtectionBelowTestCurrent =
    "Over current protection must be greater or equal to Test current.";

struct ScriptCase {
    std::string label;
    // The test's protection, forced below the test current (1.75 A) to keep the test page shut.
    std::optional<double> protection_A;
    bool pressOk;
    int resultState;
    std::string errorText;
    int dialogResult;
    bool concluded;
    friend std::ostream& operator<<(std::ostream& out, const ScriptCase& row) {
        return out << row.label;
    }
};

class PersonScriptRun : public ::testing::TestWithParam<ScriptCase> {
  protected:
    void SetUp() override {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
        CQel_CoffFormat::SetProgramsDirectory(BREVAN_SOURCE_DIR "/drive/programs/images");
        setup_ = LoadExample("reference-axis.json");
        ASSERT_TRUE(setup_);
        ComputeDriveRegisters(*setup_);
        DeriveUserParameters(*setup_);
        axis_ = DriveFromSetup(*setup_, LoadExampleMotor("reference-axis-motor.json"));
        axis_->SetBusVoltage(kBench_V);
        link_ = std::make_unique<drive::SimulatedDriveLink>(*axis_);
    }

    std::unique_ptr<CQel_Setup> setup_;
    std::unique_ptr<drive::SimulatedDrive> axis_;
    std::unique_ptr<drive::SimulatedDriveLink> link_;
};

// Before Start the person opens the test page and presses Tune; a page that does not open is the
// run's error, with the message box that said why. After the conclusion they press OK or leave
// the dialog to the closing answers (Cancel, No to a question).
TEST_P(PersonScriptRun, StepsBeforeStartAndAfterTheConclusionShapeTheRun) {
    const ScriptCase& row = GetParam();
    if (row.protection_A) {
        ForceParameter(*setup_, "TestProtectionCurrent", *row.protection_A);
    }
    int conclusions = 0;
    PersonScript script;
    script.beforeStart = [](ui::headless::DialogDriver& dialog) -> std::string {
        dialog.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        if (dialog.Control(CMyTestDlg::kTabId)->selection != CMyTestDlg::kTestPage) {
            return "The test page did not open";
        }
        return dialog.Click(kTuneButton) ? "" : "Tune could not be pressed";
    };
    script.afterConclusion = [&](ui::headless::DialogDriver& dialog, const RunRecord& record) {
        ++conclusions;
        EXPECT_EQ(record.resultState, 1) << record.errorText;
        if (row.pressOk) {
            dialog.Click(IDOK);
        }
    };
    constexpr std::array kNo = {IDNO};
    script.closingAnswers = kNo;
    const DriveTestRun run = RunTestDialog(
        {FindDriveTest(DriveTest::CurrentController), kCurrentTuningTemplate, nullptr, kPatience_s},
        script, *setup_, *axis_, *link_);
    EXPECT_TRUE(run.record.opened);
    EXPECT_EQ(run.record.resultState, row.resultState);
    EXPECT_EQ(run.record.errorText, row.errorText);
    EXPECT_EQ(run.dialogResult, row.dialogResult);
    EXPECT_EQ(conclusions, row.concluded ? 1 : 0);
    EXPECT_TRUE(run.failures.empty()) << run.failures.front();
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, PersonScriptRun,
    ::testing::Values(ScriptCase{"OkAfterTheStep", std::nullopt, true, 1, "", IDOK, true},
                      ScriptCase{"ClosedAfterTheStep", std::nullopt, false, 1, "", IDCANCEL, true},
                      ScriptCase{
                          "TestPageShut", 0.5, true, -1,
                          std::string("The test page did not open: ") + kProtectionBelowTestCurrent,
                          IDCANCEL, false}),
    ByLabel());

}  // namespace
