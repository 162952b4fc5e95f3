#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "dialogs/ExternalReferenceDlg.h"
#include "drivetests/TestAnalogueRef.h"
#include "tests/drivetests/DriveTestSupport.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kTemplate = 104;
constexpr int kVoltageEdit = 1010;
constexpr int kCommandEdit = 1011;
constexpr int kCommandLabel = 1013;
constexpr int kVoltageBar = 1014;
constexpr int kCommandBar = 1015;
constexpr double kBench_V = 48.0;
// The converter's step on a 20 V span, with room for its noise.
constexpr double kReading_V = 0.02;

class AnalogueRefTest : public DriveTestDialogTest {
  protected:
    // Presses Start and lets the dialog read the input for a while.
    static void StartAndRead(DialogDriver& d, const CQel_TestDlg& test) {
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(200);
        EXPECT_TRUE(test.IsRunning()) << test.GetErrorText();
        EXPECT_EQ(d.Text(CQel_TestDlg::kStatusTextId), "Running test");
        EXPECT_EQ(d.Text(CQel_TestDlg::kStartStopId), "&Stop");
    }
    double Displayed(const char* name) { return setup_->FindParameter(name)->GetValue(); }
};

struct Mode {
    const char* name;
    int controlMode;
    const char* command;
    const char* low;
    const char* high;
};

struct Reading {
    Mode mode;
    double input_V;
    // Where the input lies in the range: 0 the low end, 1 the high end.
    double share;
};

class AnalogueRefReading : public AnalogueRefTest, public ::testing::WithParamInterface<Reading> {};

TEST_P(AnalogueRefReading, ShowsTheVoltageAndTheCommandItStandsForUntilStop) {
    const Reading row = GetParam();
    SetUpDrive(kBench_V);
    ForceParameter(*setup_, "AnalogueInputsRange", 20.0);
    ForceParameter(*setup_, "ControlMode", row.mode.controlMode);
    axis_->SetAnalogueInput(row.input_V);
    CTestAnalogueRef test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(kCommandLabel), row.mode.command);
        EXPECT_EQ(d.BarGraph(kVoltageBar).reference, 0.0);
        StartAndRead(d, test);
        EXPECT_NEAR(std::stod(d.Text(kVoltageEdit)), row.input_V, kReading_V);
        EXPECT_EQ(d.BarGraph(kVoltageBar).leftLimit, -10.0);
        EXPECT_EQ(d.BarGraph(kVoltageBar).rightLimit, 10.0);
        EXPECT_NEAR(d.BarGraph(kVoltageBar).value, row.input_V, kReading_V);
        const double low = Displayed(row.mode.low);
        const double high = Displayed(row.mode.high);
        const double command = low + row.share * (high - low);
        const double tolerance = std::abs(high - low) * kReading_V / 20.0 + 0.01;
        EXPECT_NEAR(std::stod(d.Text(kCommandEdit)), command, tolerance);
        EXPECT_EQ(d.BarGraph(kCommandBar).leftLimit, low);
        EXPECT_EQ(d.BarGraph(kCommandBar).rightLimit, high);
        EXPECT_NEAR(d.BarGraph(kCommandBar).value, command, tolerance);
        d.Click(CQel_TestDlg::kStartStopId);
        d.AdvanceTime(100);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(test.GetResultState(), 1);
        EXPECT_EQ(d.Text(CQel_TestDlg::kResultTextId), "Test completed successfully.");
        EXPECT_FALSE(axis_->Firmware().ConvertsAnalogueInput());
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

constexpr Mode kPosition{"Position", 0, "Position command", "POS_min", "POS_max"};
constexpr Mode kSpeed{"Speed", 1, "Speed command", "SPD_min", "SPD_max"};
constexpr Mode kCurrent{"Current", 2, "Current command", "CRT_min", "CRT_max"};

INSTANTIATE_TEST_SUITE_P(
    Inputs, AnalogueRefReading,
    ::testing::Values(Reading{kPosition, 10.0, 1.0}, Reading{kPosition, -10.0, 0.0},
                      Reading{kSpeed, 0.0, 0.5}, Reading{kSpeed, 5.0, 0.75},
                      Reading{kCurrent, -10.0, 0.0}, Reading{kCurrent, 10.0, 1.0}),
    [](const ::testing::TestParamInfo<Reading>& row) {
        return std::string(row.param.mode.name) + "_" + std::to_string(row.index);
    });

TEST_F(AnalogueRefTest, AnInputOfZeroToFiveVoltsIsDrawnFromItsLowEnd) {
    SetUpDrive(kBench_V);
    ForceParameter(*setup_, "AnalogueInputsRange", 5.0);
    CTestAnalogueRef test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        EXPECT_EQ(d.BarGraph(kVoltageBar).leftLimit, 0.0);
        EXPECT_EQ(d.BarGraph(kVoltageBar).rightLimit, 5.0);
        EXPECT_EQ(d.BarGraph(kVoltageBar).reference, 0.0);
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

TEST_F(AnalogueRefTest, AFailedReadEndsTheRunWithTheLinksText) {
    SetUpDrive(kBench_V);
    CTestAnalogueRef test(setup_.get(), nullptr);
    ui_->When(kTemplate, [&](DialogDriver& d) {
        StartAndRead(d, test);
        link_->InjectError(drive::LinkCall::ReadValue, "Timeout on the serial line.", "AD5");
        d.AdvanceTime(100);
        EXPECT_FALSE(test.IsRunning());
        EXPECT_EQ(test.GetResultState(), 0);
        EXPECT_EQ(test.GetErrorText(), "Timeout on the serial line.");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(test.DoModal(), IDCANCEL);
}

TEST_F(AnalogueRefTest, ExternalReferenceSetupTestOpensIt) {
    SetUpDrive(kBench_V);
    ForceParameter(*setup_, "isAnalogueReference", 1.0);
    bool opened = false;
    ui_->When(111, [](DialogDriver& d) { d.Click(1000); });
    ui_->When(kTemplate, [&](DialogDriver& d) {
        opened = true;
        d.Click(IDCANCEL);
    });
    ui_->When(111, [](DialogDriver& d) { d.Click(IDCANCEL); });
    CAnalogReferenceDlg dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_TRUE(opened);
}

}  // namespace
