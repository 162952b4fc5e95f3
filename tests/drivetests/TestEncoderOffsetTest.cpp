#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/MotorSetupDlg.h"
#include "drivetests/TestEncoderOffset.h"
#include "tests/drivetests/DriveTestSupport.h"
#include "tests/drivetests/ProgramStandIn.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 3058;
constexpr int kOffsetEdit = 3131;
constexpr int kAlignTimeEdit = 3358;
constexpr double kBench_V = 48.0;
constexpr const char* kProgram = "Encoder_Offset_Zero_And_A_Detection_Test";
constexpr const char* kAbsoluteMotor = "absolute-encoder-motor.json";

class EncoderOffsetTest : public DriveTestDialogTest {
  public:
    // The motor described truly; an example motor is given an absolute encoder, and loses its
    // friction, which would let the rotor stop anywhere within its band around phase A.
    void SetUpMotor(const std::string& motorFile, bool makeAbsolute) {
        SetUpDrive(kBench_V, motorFile, Belief::Nameplate);
        if (makeAbsolute) {
            drive::MotorData motor = motor_;
            motor.encoder.absolute = true;
            motor.coulombFriction_Nm = 0.0;
            motor.viscousFriction_Nms_rad = 0.0;
            ReplaceMotor(motor);
        }
    }

    // The offset program reports these words instead of aligning the rotor.
    void ReportInstead(double lowWord, double highWord) {
        ConnectLink(LinkWithStandIn(*axis_, kProgram, [=] {
            return std::make_unique<ProgramStandIn>(
                kProgram, std::vector<std::string>{"RefTest", "RIncTest"}, NamedValues{},
                NamedValues{{"ENDAT_DATA1", lowWord}, {"ENDAT_DATA2", highWord}},
                ProgramStandIn::Run::EndsAtOnce);
        }));
    }

    // The counts between an offset and the nearest true one.
    std::int64_t CountsFromTrueOffset(std::int64_t offset) const {
        return ::CountsFromTrueOffset(*axis_, motor_, offset);
    }

    drive::SimulatedDrive& Axis() { return *axis_; }
    drive::SimulatedDriveLink& Link() { return *link_; }
};

struct OffsetMotor {
    const char* name;
    const char* motorFile;
    bool makeAbsolute;
    double startAngle_rad;
};

class OffsetOnMotor : public EncoderOffsetTest,
                      public ::testing::WithParamInterface<OffsetMotor> {};

TEST_P(OffsetOnMotor, StoresThePositionOfPhaseAWithinACountAndShowsIt) {
    SetUpMotor(GetParam().motorFile, GetParam().makeAbsolute);
    axis_->Motor().SetShaftState(GetParam().startAngle_rad, 0.0);
    CTestEncoderOffset test(setup_.get(), nullptr);
    std::string shown;
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Reading results");
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        shown = d.Text(kOffsetEdit);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
    ASSERT_FALSE(shown.empty());
    const std::int64_t offset = std::stoll(shown);
    EXPECT_LE(CountsFromTrueOffset(offset), 1) << "offset " << offset;
    EXPECT_EQ(axis_->ReadEncoderOffset(), std::optional<std::int64_t>(offset));
    // The board's reset after the test took the electrical angle from the stored offset.
    axis_->Advance(0.001);
    constexpr double kAngleUnitsPerTurn = 65536.0;
    const double firmware_rad = static_cast<double>(axis_->Firmware().ElectricAngle()) * 2.0 *
                                std::numbers::pi / kAngleUnitsPerTurn;
    const double rotor_rad = motor_.polePairs * axis_->Motor().ShaftAngle_rad();
    EXPECT_NEAR(std::remainder(firmware_rad - rotor_rad, 2.0 * std::numbers::pi), 0.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Motors, OffsetOnMotor,
    ::testing::Values(OffsetMotor{"AbsoluteEncoderMotor", kAbsoluteMotor, false, 0.7},
                      OffsetMotor{"ReferenceMotor", "reference-axis-motor.json", true, 1.0},
                      OffsetMotor{"LargeMotor", "large-motor.json", true, -2.1},
                      OffsetMotor{"SmallDeltaMotor", "small-delta-motor.json", true, 0.3}),
    [](const ::testing::TestParamInfo<OffsetMotor>& row) { return std::string(row.param.name); });

struct Words {
    const char* name;
    double low;
    double high;
    const char* offset;
};

class OffsetWords : public EncoderOffsetTest, public ::testing::WithParamInterface<Words> {};

TEST_P(OffsetWords, ShowsTheOffsetAssembledFromItsWords) {
    SetUpMotor(kAbsoluteMotor, false);
    ReportInstead(GetParam().low, GetParam().high);
    CTestEncoderOffset test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        ASSERT_EQ(test.GetResultState(), 1) << test.GetErrorText();
        EXPECT_EQ(d.Text(kOffsetEdit), GetParam().offset);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(
    Assembly, OffsetWords,
    ::testing::Values(Words{"LowWordOnly", 40000.0, 0.0, "40000"},
                      Words{"LowWordBeyondSixteenBits", 70000.0, 2.0, "135536"},
                      Words{"NegativeHighWord", 5.0, -1.0, "-65531"}),
    [](const ::testing::TestParamInfo<Words>& row) { return std::string(row.param.name); });

struct FirstLook {
    const char* name;
    const char* alignTime_s;
    std::uint64_t after_ms;
};

class OffsetFirstLook : public EncoderOffsetTest,
                        public ::testing::WithParamInterface<FirstLook> {};

// The first look at the drive after the launch comes after twice the alignment time and half a
// second; a failed look there resets the board.
TEST_P(OffsetFirstLook, ComesAfterTwiceTheAlignmentTimeAndHalfASecond) {
    SetUpMotor(kAbsoluteMotor, false);
    CTestEncoderOffset test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        constexpr std::uint64_t kTick_ms = 20;
        d.SelectUnit(1018, "s");
        d.Type(kAlignTimeEdit, GetParam().alignTime_s);
        d.Click(CQel_TestDlg::kStartStopId);
        for (int tick = 0; tick < 500 && test.IsRunning() &&
                           d.Text(CQel_TestDlg::kStatusTextId) != "Reading results";
             ++tick) {
            d.AdvanceTime(kTick_ms);
        }
        ASSERT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Reading results");
        link_->InjectError(drive::LinkCall::ReadEndOfInitialisation, "The drive did not answer.");
        const std::uint64_t launch_ms = ui_->Now_ms();
        while (test.IsRunning() && ui_->Now_ms() - launch_ms < 5000) {
            d.AdvanceTime(1);
        }
        EXPECT_EQ(ui_->Now_ms() - launch_ms, GetParam().after_ms);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), CQel_TestDlg::msc_pszErrInternal);
        EXPECT_EQ(link_->Program(), nullptr);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(AlignmentTimes, OffsetFirstLook,
                         ::testing::Values(FirstLook{"Shortest", "0.01", 520},
                                           FirstLook{"HalfASecond", "0.5", 1500}),
                         [](const ::testing::TestParamInfo<FirstLook>& row) {
                             return std::string(row.param.name);
                         });

struct OffsetFault {
    const char* name;
    const char* motorFile;
    std::function<void(EncoderOffsetTest& fixture)> arrange;
    const char* error;
    // Whether the failure reset the drive's board (which forgets the program it ran).
    bool boardReset;
};

class OffsetFailure : public EncoderOffsetTest,
                      public ::testing::WithParamInterface<OffsetFault> {};

TEST_P(OffsetFailure, FailsWithItsTextAndShowsNoOffset) {
    SetUpMotor(GetParam().motorFile, false);
    GetParam().arrange(*this);
    CTestEncoderOffset test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        RunTest(d, test);
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), GetParam().error);
        EXPECT_TRUE(d.IsVisible(CQel_TestDlg::kDetailsId));
        EXPECT_EQ(d.Text(kOffsetEdit), "");
        EXPECT_EQ(link_->Program() == nullptr, GetParam().boardReset);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OffsetFailure,
    ::testing::Values(OffsetFault{"IncrementalEncoder", "reference-axis-motor.json",
                                  [](EncoderOffsetTest&) {}, "Offset write error", false},
                      OffsetFault{"BrokenEncoderLink", kAbsoluteMotor,
                                  [](EncoderOffsetTest& f) { f.Axis().SetEncoderLinkBroken(true); },
                                  "Offset write error", false},
                      OffsetFault{"OpenPhaseA", kAbsoluteMotor,
                                  [](EncoderOffsetTest& f) {
                                      f.Axis().InjectFault(drive::Fault::DisconnectedPhaseA);
                                  },
                                  CQel_TestDlg::msc_pszErrInZero, true},
                      OffsetFault{"EnableInputOff", kAbsoluteMotor,
                                  [](EncoderOffsetTest& f) { f.Axis().SetEnableInput(false); },
                                  "Drive / Motor ENABLE input is in DISABLED state.", false},
                      OffsetFault{"PositioningUnreadable", kAbsoluteMotor,
                                  [](EncoderOffsetTest& f) {
                                      f.Link().InjectError(drive::LinkCall::ReadProgramVariable,
                                                           "Timeout on the serial line.",
                                                           "STARTED");
                                  },
                                  "Timeout on the serial line.", true},
                      OffsetFault{"DownloadFails", kAbsoluteMotor,
                                  [](EncoderOffsetTest& f) {
                                      f.Link().InjectError(drive::LinkCall::DownloadAndStart,
                                                           "Timeout on the serial line.", kProgram);
                                  },
                                  CQel_TestDlg::msc_pszErrInternal, true},
                      OffsetFault{"WordUnreadable", kAbsoluteMotor,
                                  [](EncoderOffsetTest& f) {
                                      f.Link().InjectError(drive::LinkCall::ReadValue,
                                                           "Timeout on the serial line.",
                                                           "ENDAT_DATA2");
                                  },
                                  "Timeout on the serial line.", false}),
    [](const ::testing::TestParamInfo<OffsetFault>& row) { return std::string(row.param.name); });

TEST_F(EncoderOffsetTest, MotorSetupButtonOpensTheTestThatStoresTheOffsetInTheEncoder) {
    SetUpMotor(kAbsoluteMotor, false);
    ForceParameter(*setup_, "isEnDatEncoder", 1);
    ui_->When(108, [](DialogDriver& d) { d.Click(3345); });
    ui_->When(kTemplate, [&](DialogDriver& d) {
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(5000);
        EXPECT_NE(d.Text(kOffsetEdit), "");
        d.Click(IDCANCEL);
    });
    ui_->When(108, [&](DialogDriver& d) { d.Click(IDCANCEL); });
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_TRUE(ui_->MessageBoxes().empty());
    EXPECT_TRUE(axis_->ReadEncoderOffset().has_value());
}

}  // namespace
