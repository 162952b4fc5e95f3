#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/DriveSetupDlg.h"
#include "drive/link/SimulatedDriveLink.h"
#include "drivetests/TestVdcDetection.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 105;
constexpr int kVdcEdit = 1012;
constexpr double kSetupVdc_V = 48.0;
constexpr const char* kQuestionStart =
    "A different value than specified has been detected for the following parameter(s):\r\n\r\n"
    "Power supply:\tOld = 48\tNew = ";

class VdcDetectionTest : public DriveTestDialogTest {};

struct Bench {
    const char* name;
    double supply_V;
};

class VdcOnBench : public VdcDetectionTest, public ::testing::WithParamInterface<Bench> {};

TEST_P(VdcOnBench, ProposesTheBenchSupplyAndKeepsItOnYes) {
    SetUpDrive(GetParam().supply_V);
    CTestVdcDetection test(setup_.get(), nullptr);
    std::vector<std::string> steps;
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Running test");
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        EXPECT_EQ(d.Control(CQel_TestDlg::kResultIconId)->bitmap, CQel_TestDlg::kPassedIcon);
        EXPECT_NE(d.Text(kVdcEdit), "");
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Power supply", IDYES);
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_NEAR(Base("Vdc"), GetParam().supply_V, GetParam().supply_V * 0.005);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    const std::string& question = ui_->MessageBoxes()[0].text;
    EXPECT_EQ(question.rfind(kQuestionStart, 0), 0U) << question;
    EXPECT_NE(question.find("\r\n\r\nDo you want to save the new value(s)? (Recommended)"),
              std::string::npos);
    EXPECT_EQ(ui_->MessageBoxes()[0].type, MB_YESNOCANCEL | MB_ICONQUESTION);
}

INSTANTIATE_TEST_SUITE_P(Supplies, VdcOnBench,
                         ::testing::Values(Bench{"Low", 24.0}, Bench{"BelowSetup", 44.0},
                                           Bench{"AboveSetup", 52.5}),
                         [](const ::testing::TestParamInfo<Bench>& bench) {
                             return std::string(bench.param.name);
                         });

TEST_F(VdcDetectionTest, NoPutsTheOldValueBackAndCancelKeepsTheDialogOpen) {
    SetUpDrive(40.0);
    CTestVdcDetection test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        d.Click(IDCANCEL);
        EXPECT_EQ(ui_->MessageBoxes().size(), 1U);
        EXPECT_NEAR(Base("Vdc"), 40.0, 0.2);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Power supply", IDCANCEL);
    ui_->ExpectMessageBox("Power supply", IDNO);
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("Vdc"), kSetupVdc_V);
    EXPECT_EQ(ui_->MessageBoxes().size(), 2U);
}

TEST_F(VdcDetectionTest, SameSupplyAsTheSetupClosesWithoutAQuestion) {
    SetUpDrive(kSetupVdc_V);
    CTestVdcDetection test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        d.Click(IDCANCEL);
    });
    const INT_PTR result = test.DoModal();
    // The converter's counts may show the supply a hair off; only a difference in the first six
    // digits asks.
    if (ui_->MessageBoxes().empty()) {
        EXPECT_EQ(result, IDCANCEL);
    }
    EXPECT_NEAR(Base("Vdc"), kSetupVdc_V, kSetupVdc_V * 0.005);
}

struct FailureCase {
    const char* name;
    void (*inject)(drive::SimulatedDrive& axis, drive::SimulatedDriveLink& link);
    const char* error;
};

class VdcFailure : public VdcDetectionTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(VdcFailure, FailsWithItsTextLeavesVdcAndClosesWithoutAQuestion) {
    SetUpDrive(36.0);
    GetParam().inject(*axis_, *link_);
    CTestVdcDetection test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test, 5000);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), GetParam().error);
        EXPECT_EQ(d.Control(CQel_TestDlg::kResultIconId)->bitmap, CQel_TestDlg::kFailedIcon);
        EXPECT_TRUE(d.IsVisible(CQel_TestDlg::kDetailsId));
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Start");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("Vdc"), kSetupVdc_V);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VdcFailure,
    ::testing::Values(FailureCase{"PowerStageReadFails",
                                  [](drive::SimulatedDrive&, drive::SimulatedDriveLink& link) {
                                      link.InjectError(drive::LinkCall::ReadAxisOn,
                                                       "The drive did not answer.");
                                  },
                                  "The drive did not answer."},
                      FailureCase{"DownloadFails",
                                  [](drive::SimulatedDrive&, drive::SimulatedDriveLink& link) {
                                      link.InjectError(drive::LinkCall::DownloadAndStart,
                                                       "Timeout on the serial line.");
                                  },
                                  CQel_TestDlg::msc_pszErrInternal},
                      FailureCase{"BusReadFails",
                                  [](drive::SimulatedDrive&, drive::SimulatedDriveLink& link) {
                                      link.InjectError(drive::LinkCall::ReadValue,
                                                       "Timeout on the serial line.", "var_u2");
                                  },
                                  "Timeout on the serial line."}),
    [](const ::testing::TestParamInfo<FailureCase>& failure) {
        return std::string(failure.param.name);
    });

TEST_F(VdcDetectionTest, StopEndsTheRunAndLeavesTheSetup) {
    SetUpDrive(30.0);
    CTestVdcDetection test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Stop");
        d.Click(CQel_TestDlg::kStartStopId);
        EXPECT_FALSE(test.IsRunning());
        d.AdvanceTime(2000);
        EXPECT_EQ(test.GetResultState(), -1);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test stopped.");
        EXPECT_EQ(d.Control(CQel_TestDlg::kResultIconId)->bitmap, "");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("Vdc"), kSetupVdc_V);
}

TEST_F(VdcDetectionTest, DriveSetupDetectOpensTheTestAndTakesItsValue) {
    SetUpDrive(42.0);
    ui_->When(106, [](DialogDriver& d) { d.Click(3171); });
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(3000);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Power supply", IDYES);
    ui_->When(106, [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(3163).substr(0, 2), "42");
        d.Click(IDCANCEL);
    });
    CDriveSetupDlg dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_NEAR(Base("Vdc"), 42.0, 0.2);
}

}  // namespace
