#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/DriveTestRunners.h"
#include "drivetests/ClosingQuestion.h"
#include "drivetests/TotalInertiaTest.h"
#include "tests/drivetests/DriveTestSupport.h"
#include "tests/drivetests/ProgramStandIn.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 3041;
constexpr int kInertiaEdit = 3263;
constexpr int kProtectionEdit = 3265;
constexpr double kBench_V = 48.0;
// The user's first guess is off by this factor.
constexpr double kInertiaGuess = 3.0;
constexpr double kTolerance = 0.02;
constexpr const char* kProgram = "Total_Inertia_Identification_Test";
constexpr const char* kReferenceMotor = "reference-axis-motor.json";

class InertiaTest : public DriveTestDialogTest {
  public:
    // Describes the motor truly but for the total inertia, which the user only guessed.
    void SetUpGuess(const std::string& motorFile) {
        SetUpDrive(kBench_V, motorFile, Belief::Nameplate);
        ForceParameter(*setup_, "Jt", motor_.TotalInertia_kgm2() * kInertiaGuess);
    }

    // The J test's program reports these results instead of measuring.
    void ReportInstead(double verdict, double periods, double speedChange) {
        ConnectLink(LinkWithStandIn(*axis_, kProgram, [=] {
            return std::make_unique<ProgramStandIn>(
                kProgram,
                std::vector<std::string>{"In1", "RefTest", "RIncTest", "LimitSpeedMax",
                                         "Imax_Prot_Test"},
                NamedValues{
                    {"test_flag", verdict}, {"delta_time", periods}, {"delta_speed", speedChange}},
                NamedValues{}, ProgramStandIn::Run::EndsAtOnce);
        }));
    }

    drive::SimulatedDrive& Axis() { return *axis_; }
    drive::SimulatedDriveLink& Link() { return *link_; }
    CQel_Setup& SetupDocument() { return *setup_; }
};

struct InertiaMotor {
    const char* name;
    const char* motorFile;
};

class InertiaOnMotor : public InertiaTest, public ::testing::WithParamInterface<InertiaMotor> {};

// The motors keep their friction and load torque: the inertia found is the motor file's, not the
// torque over an acceleration that friction and the load slowed.
TEST_P(InertiaOnMotor, MeasuresTheTotalInertiaAndKeepsItOnYes) {
    SetUpGuess(GetParam().motorFile);
    const double guess_kgm2 = Base("Jt");
    CTotalInertiaTest test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(kInertiaEdit), "");
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Waiting J test to be finished");
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        EXPECT_NE(d.Text(kInertiaEdit), "");
        EXPECT_FALSE(axis_->IsOn());
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Total inertia", IDYES);
    EXPECT_EQ(test.DoModal(), IDOK);
    const double found_kgm2 = Base("Jt");
    EXPECT_NEAR(found_kgm2, motor_.TotalInertia_kgm2(), kTolerance * motor_.TotalInertia_kgm2());
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    EXPECT_EQ(ui_->MessageBoxes()[0].text,
              "A different value than specified has been detected for the following "
              "parameter(s):\r\n\r\nTotal inertia:\tOld = " +
                  FormatLowerG(guess_kgm2) + "\tNew = " + FormatLowerG(found_kgm2) +
                  "\r\n\r\nDo you want to save the new value(s)? (Recommended)");
}

INSTANTIATE_TEST_SUITE_P(
    ExampleMotors, InertiaOnMotor,
    ::testing::Values(InertiaMotor{"ReferenceMotor", "reference-axis-motor.json"},
                      InertiaMotor{"LargeMotorWithItsFriction", "large-motor.json"},
                      InertiaMotor{"SmallDeltaMotor", "small-delta-motor.json"},
                      InertiaMotor{"AbsoluteEncoderMotor", "absolute-encoder-motor.json"},
                      InertiaMotor{"LoadTorqueMotor", "load-torque-motor.json"}),
    [](const ::testing::TestParamInfo<InertiaMotor>& row) { return std::string(row.param.name); });

TEST_F(InertiaTest, NoWritesTheOldInertiaBackAndCancelKeepsTheDialogOpen) {
    SetUpGuess("reference-axis-motor.json");
    const double guess_kgm2 = Base("Jt");
    CTotalInertiaTest test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        d.Click(IDCANCEL);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_NEAR(Base("Jt"), motor_.TotalInertia_kgm2(),
                    kTolerance * motor_.TotalInertia_kgm2());
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Total inertia", IDCANCEL);
    ui_->ExpectMessageBox("Total inertia", IDNO);
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("Jt"), guess_kgm2);
    EXPECT_EQ(ui_->MessageBoxes().size(), 2U);
}

TEST_F(InertiaTest, ATestCurrentAboveTheProtectionNeverStarts) {
    SetUpGuess("reference-axis-motor.json");
    const double guess_kgm2 = Base("Jt");
    CTotalInertiaTest test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        const double protection_A = Base("TestCurrent") / 2.0;
        d.SelectUnit(3266, "A");
        d.Type(kProtectionEdit, std::to_string(protection_A));
        EXPECT_LT(Base("TestProtectionCurrent"), Base("TestCurrent"));
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(2000);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Start");
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "");
        EXPECT_EQ(link_->Program(), nullptr);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox(CTotalInertiaTest::kProtectionBelowTestCurrent, IDOK);
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    EXPECT_EQ(ui_->MessageBoxes()[0].text, CTotalInertiaTest::kProtectionBelowTestCurrent);
    EXPECT_EQ(ui_->MessageBoxes()[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(Base("Jt"), guess_kgm2);
}

TEST_F(InertiaTest, OkTakesTheTestProtectionAsTheDrivesProtection) {
    SetUpGuess("reference-axis-motor.json");
    CTotalInertiaTest test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.SelectUnit(3266, "A");
        d.Type(kProtectionEdit, "2.5");
        d.Dialog().DispatchCommand(IDOK, BN_CLICKED);
    });
    EXPECT_EQ(test.DoModal(), IDOK);
    EXPECT_NEAR(Base("Imax_Prot"), 2.5, 0.01);
    EXPECT_EQ(Base("Imax_Prot"), Base("TestProtectionCurrent"));
}

struct InertiaFault {
    const char* name;
    const char* motorFile;
    std::function<void(InertiaTest& fixture)> arrange;
    const char* error;
};

class InertiaFailure : public InertiaTest, public ::testing::WithParamInterface<InertiaFault> {};

TEST_P(InertiaFailure, FailsWithItsTextAndLeavesTheInertia) {
    SetUpGuess(GetParam().motorFile);
    GetParam().arrange(*this);
    const double guess_kgm2 = Base("Jt");
    CTotalInertiaTest test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), GetParam().error);
        EXPECT_TRUE(d.IsVisible(CQel_TestDlg::kDetailsId));
        EXPECT_EQ(d.Text(kInertiaEdit), "");
        EXPECT_EQ(Base("Jt"), guess_kgm2);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_EQ(Base("Jt"), guess_kgm2);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InertiaFailure,
    ::testing::Values(
        InertiaFault{"ReversedEncoder", "reversed-encoder-motor.json", [](InertiaTest&) {},
                     CTotalInertiaTest::kNegativeSpeed},
        InertiaFault{
            "MissingEncoderChannel", kReferenceMotor,
            [](InertiaTest& f) { f.Axis().InjectFault(drive::Fault::MissingEncoderChannelA); },
            CTotalInertiaTest::kZeroSpeed},
        InertiaFault{"SpeedBeyondTheMotorsReach", kReferenceMotor,
                     [](InertiaTest& f) {
                         constexpr double kUnreachable_rad_s = 470.0;
                         ForceParameter(f.SetupDocument(), "TestMaxSpeed", kUnreachable_rad_s);
                     },
                     CTotalInertiaTest::kSpeedNotReached},
        InertiaFault{"ShortCircuit", kReferenceMotor,
                     [](InertiaTest& f) { f.Axis().InjectFault(drive::Fault::ShortCircuit); },
                     "Drive / Motor shortcircuit protection triggered."},
        InertiaFault{"DownloadFails", kReferenceMotor,
                     [](InertiaTest& f) {
                         f.Link().InjectError(drive::LinkCall::DownloadAndStart,
                                              "Timeout on the serial line.", kProgram);
                     },
                     CQel_TestDlg::msc_pszErrInternal},
        InertiaFault{"ResultUnreadable", kReferenceMotor,
                     [](InertiaTest& f) {
                         f.Link().InjectError(drive::LinkCall::ReadProgramVariable,
                                              "Timeout on the serial line.", "delta_speed");
                     },
                     "Timeout on the serial line."},
        InertiaFault{"BackwardCode", kReferenceMotor,
                     [](InertiaTest& f) { f.ReportInstead(1.0, -1.0, 0.0); },
                     CTotalInertiaTest::kNegativeSpeedCode},
        InertiaFault{"NoMotionCode", kReferenceMotor,
                     [](InertiaTest& f) { f.ReportInstead(1.0, -2.0, 0.0); },
                     CTotalInertiaTest::kZeroSpeed},
        InertiaFault{"OtherCode", kReferenceMotor,
                     [](InertiaTest& f) { f.ReportInstead(1.0, -3.0, 0.0); },
                     CTotalInertiaTest::kSpeedNotReached},
        InertiaFault{"ZeroTime", kReferenceMotor,
                     [](InertiaTest& f) { f.ReportInstead(1.0, 0.0, 100.0); },
                     CTotalInertiaTest::kSpeedNotReached},
        InertiaFault{"BackwardVerdict", kReferenceMotor,
                     [](InertiaTest& f) { f.ReportInstead(0.0, 250.0, 100.0); },
                     CTotalInertiaTest::kNegativeSpeed},
        InertiaFault{"NoSpeedChange", kReferenceMotor,
                     [](InertiaTest& f) { f.ReportInstead(1.0, 250.0, 0.0); },
                     CTotalInertiaTest::kNoSpeedIncrease},
        InertiaFault{"FallingSpeed", kReferenceMotor,
                     [](InertiaTest& f) { f.ReportInstead(1.0, 250.0, -40.0); },
                     CTotalInertiaTest::kNoSpeedIncrease}),
    [](const ::testing::TestParamInfo<InertiaFault>& row) { return std::string(row.param.name); });

TEST_F(InertiaTest, RunsAloneFromItsRegisteredRunner) {
    SetUpGuess("small-delta-motor.json");
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(15000);
        d.Click(IDCANCEL);
    });
    ui_->ExpectMessageBox("Total inertia", IDYES);
    const DriveTestRunner& runner = FindDriveTest(DriveTest::TotalInertia);
    ASSERT_TRUE(runner);
    EXPECT_EQ(runner(setup_.get()), IDOK);
    EXPECT_NEAR(Base("Jt"), motor_.TotalInertia_kgm2(), kTolerance * motor_.TotalInertia_kgm2());
}

}  // namespace
