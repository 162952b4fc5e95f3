#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/AdvancedDlg.h"
#include "engine/Derivation.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

using ui::headless::DialogDriver;

std::string PeriodMessage(const char* loop, const char* milliseconds) {
    return std::string("The minimum value for ") + loop + " loop sampling period is " +
           milliseconds +
           " ms!\nAdjust the PWM frequency and/or the X loop sampling frequency divider until this "
           "condition is fulfilled!";
}

class AdvancedDlgTest : public DialogTest {
  protected:
    int Run(const ui::headless::DialogAction& action) {
        ui_->When(CAdvancedDialog::kTemplateId, action);
        CAdvancedDialog dialog(setup_.get(), nullptr);
        return static_cast<int>(dialog.DoModal());
    }
    // Sets values directly (the dialog derives nothing) and removes parameters.
    void Shape(const Values& values, const std::vector<const char*>& removed) {
        for (const auto& [name, value] : values) {
            Force(name, value);
        }
        for (const char* name : removed) {
            Remove(name);
        }
    }
};

// One row: the setup, then what the user does, then what the dialog shows and holds.
struct Row {
    const char* name;
    Values setup{};
    std::vector<const char*> removed{};
    std::vector<std::pair<int, const char*>> typed{};  // edits typed in order
    std::vector<int> clicked{};                        // then these clicks
    std::vector<Look> looks{};
    Values expected{};
};

class AdvancedRowTest : public AdvancedDlgTest, public ::testing::WithParamInterface<Row> {};

TEST_P(AdvancedRowTest, ControlsAndValuesFollow) {
    const Row& row = GetParam();
    Shape(row.setup, row.removed);
    Run([&](DialogDriver& d) {
        for (const auto& [id, text] : row.typed) {
            d.Type(id, text);
        }
        for (int id : row.clicked) {
            d.Click(id);
        }
        ExpectLooks(d, row.looks);
        ExpectValues(row.expected);
        d.Click(IDCANCEL);
    });
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_TRUE(errors_.Messages().empty());
    ExpectScriptCompleted();
}

Values Mode(double mode, double loops) {
    return {{"ControlMode", mode}, {"PositionControlType", loops}};
}
// PWM counts, dividers and sampling periods after a change of the PWM frequency.
Values Timing(double pwmCounts, double fast, double slow, double fast_s, double slow_s,
              double pwm_s) {
    return {{"PWMPER", pwmCounts}, {"CLPER", fast},  {"SLPER", slow},
            {"Ts_C", fast_s},      {"Ts_S", slow_s}, {"PWMperiod", pwm_s}};
}
constexpr COLORREF kRed = CAdvancedDialog::kRed;

INSTANTIATE_TEST_SUITE_P(
    Rules, AdvancedRowTest,
    ::testing::Values(
        Row{"PositionSpeedScheme",
            Mode(0, 1),
            {},
            {},
            {},
            {Bitmap(3280, "3016"), Shown(3344), Shown(3345), Enabled(3375), Enabled(3374)}},
        Row{"PositionCurrentScheme",
            Mode(0, 0),
            {},
            {},
            {},
            {Bitmap(3280, "3017"), Enabled(3375), Enabled(3376), Enabled(3374, false)}},
        Row{"SpeedScheme",
            Mode(1, 1),
            {},
            {},
            {},
            {Bitmap(3280, "3060"), Shown(3344, false), Shown(3345, false), Enabled(3375),
             Enabled(3374, false)}},
        Row{"TorqueScheme",
            Mode(2, 1),
            {},
            {},
            {},
            {Bitmap(3280, "3061"), Enabled(3375, false), Enabled(3376, false),
             Enabled(3374, false)}},
        Row{"NoSpeedForward",
            Mode(0, 1),
            {"SpeedForward"},
            {},
            {},
            {Enabled(3375, false), Enabled(3376, false), Enabled(3374, false)}},
        Row{"SchemeChosen",
            Mode(0, 1),
            {},
            {},
            {3344},
            {Bitmap(3280, "3017"), Enabled(3374, false)},
            {{"PositionControlType", 0}}},
        Row{"SchemeChosenBack", Mode(0, 0), {}, {}, {3345}, {Bitmap(3280, "3016"), Enabled(3374)}},
        Row{"FreezeOn",
            {{"isFreezeControl", 1}},
            {},
            {},
            {},
            {Enabled(3396), Enabled(3397), Enabled(3399), Enabled(3401)}},
        Row{"FreezeOff",
            {{"isFreezeControl", 0}},
            {},
            {},
            {},
            {Enabled(3396), Enabled(3399, false), Enabled(3402, false)}},
        Row{"FreezeChecked",
            {{"isFreezeControl", 0}},
            {},
            {},
            {3396},
            {Enabled(3399), Enabled(3401)},
            {{"isFreezeControl", 1}}},
        Row{"FreezeInSpeedMode",
            {{"ControlMode", 1}, {"isFreezeControl", 1}},
            {},
            {},
            {},
            {Enabled(3395, false), Enabled(3396, false), Enabled(3399, false)}},
        Row{"NoFreezeControl",
            {},
            {"POSOKLIM_FC"},
            {},
            {},
            {Enabled(3396, false), Enabled(3399, false)}},
        Row{"SlowLoopChoice",
            {{"ControlMode", 0}},
            {},
            {},
            {},
            {Shown(1146), Enabled(1146), Enabled(3347), Shown(1147), Enabled(1147, false)}},
        Row{"SlowLoopChoiceInTorqueMode",
            {{"ControlMode", 2}},
            {},
            {},
            {},
            {Shown(1146), Enabled(1146, false), Enabled(1147, false)}},
        Row{"NoLoopChoice",
            {},
            {"PosSpd_in_FastLoop"},
            {},
            {},
            {Shown(1146, false), Shown(1147, false), Shown(3347, false)}},
        Row{"SpeedEstimator", {}, {}, {}, {}, {Enabled(3340), Enabled(3355)}},
        Row{"NoSpeedEstimator",
            {},
            {"isSpeedEstimator"},
            {},
            {},
            {Enabled(3340, false), Enabled(3355, false)}},
        Row{"SpeedForwardForced",
            {{"ControlMode", 1}, {"SpeedForward", 0}},
            {},
            {{1132, "2"}},
            {},
            {Checked(3375)},
            {{"SpeedForward", 1}}},
        Row{"FastDividerAboveSlow",
            {},
            {},
            {{1132, "12"}},
            {},
            {Text(1135, "12")},
            {{"CLPER", 12}, {"SLPER", 12}, {"Ts_C", 600e-6}, {"Ts_S", 600e-6}}},
        Row{"FastDividerBelowSlow",
            {},
            {},
            {{1132, "5"}},
            {},
            {Text(1135, "10")},
            {{"CLPER", 5}, {"SLPER", 10}, {"Ts_C", 250e-6}, {"Ts_S", 500e-6}}},
        Row{"HalfPwmFrequency",
            {},
            {},
            {{1129, "10"}},
            {},
            {Text(1132, "1"), Text(1135, "5")},
            Timing(2000, 1, 5, 100e-6, 500e-6, 100e-6)},
        Row{"LowerPwmFrequency",
            {},
            {},
            {{1129, "16"}},
            {},
            {Text(1135, "8")},
            Timing(1250, 1, 8, 62.5e-6, 500e-6, 62.5e-6)},
        Row{"PwmFrequencyAndBack",
            {},
            {},
            {{1129, "10"}, {1129, "20"}},
            {},
            {Text(1135, "10")},
            Timing(1000, 1, 10, 50e-6, 500e-6, 50e-6)},
        Row{"FastPeriodTooShort",
            {{"Ts_C_min", 100e-6}},
            {},
            {{1132, "2"}, {1132, "1"}},
            {},
            {Shown(1148), Shown(1149, false)}},
        Row{"FastPeriodAtMinimum",
            {{"Ts_C_min", 100e-6}},
            {},
            {{1132, "2"}},
            {},
            {Shown(1148, false)}},
        Row{"FastPeriodBackAbove",
            {{"Ts_C_min", 100e-6}},
            {},
            {{1132, "2"}, {1132, "1"}, {1132, "2"}},
            {},
            {Shown(1148, false)}},
        Row{"FastPeriodWithoutMinimum",
            {},
            {"Ts_C_min"},
            {{1132, "2"}, {1132, "1"}},
            {},
            {Shown(1148, false)}},
        Row{"SlowPeriodTooShort",
            {{"Ts_S_min", 1e-3}},
            {},
            {{1135, "20"}, {1135, "10"}},
            {},
            {Shown(1149), Shown(1148, false)}},
        Row{"SlowPeriodAtMinimum",
            {{"Ts_S_min", 1e-3}},
            {},
            {{1135, "20"}},
            {},
            {Shown(1149, false)}}),
    RowName());

struct ColourRow {
    const char* name;
    const char* minimum;
    double minimum_s;
    int dividerId;
    std::vector<const char*> typed;
    std::vector<int> labels;
    COLORREF colour;
};

class LabelColourTest : public AdvancedDlgTest, public ::testing::WithParamInterface<ColourRow> {};

TEST_P(LabelColourTest, LoopLabelsRedWhilePeriodTooShort) {
    const ColourRow& row = GetParam();
    Force(row.minimum, row.minimum_s);
    Run([&](DialogDriver& d) {
        for (int id : row.labels) {
            EXPECT_EQ(d.TextColour(id), CAdvancedDialog::kBlack) << id;
        }
        for (const char* typed : row.typed) {
            d.Type(row.dividerId, typed);
        }
        for (int id : row.labels) {
            EXPECT_EQ(d.TextColour(id), row.colour) << id;
        }
        EXPECT_EQ(d.TextColour(1148), kRed);
        EXPECT_EQ(d.TextColour(1149), kRed);
        d.Click(IDCANCEL);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LabelColourTest,
    ::testing::Values(ColourRow{"Fast", "Ts_C_min", 100e-6, 1132, {"2", "1"}, {1131, 1140}, kRed},
                      ColourRow{"FastBack",
                                "Ts_C_min",
                                100e-6,
                                1132,
                                {"2", "1", "3"},
                                {1131, 1140},
                                CAdvancedDialog::kBlack},
                      ColourRow{"Slow", "Ts_S_min", 1e-3, 1135, {"20", "10"}, {1134, 1143}, kRed},
                      ColourRow{"SlowLeavesFast",
                                "Ts_S_min",
                                1e-3,
                                1135,
                                {"20", "10"},
                                {1131, 1140},
                                CAdvancedDialog::kBlack}),
    RowName());

struct RescaleRow {
    const char* name;
    const char* slowDivider;
    const char* parameter;
    double internalFactor;
};

class RescaleTest : public AdvancedDlgTest, public ::testing::WithParamInterface<RescaleRow> {};

TEST_P(RescaleTest, PhysicalValuesStayWhenSlowPeriodChanges) {
    const RescaleRow row = GetParam();
    const double internalBefore = Internal(row.parameter);
    const double baseBefore = Base(row.parameter);
    Run([&](DialogDriver& d) {
        d.Type(1135, row.slowDivider);
        d.Click(IDOK);
    });
    const double expected = internalBefore * row.internalFactor;
    EXPECT_NEAR(Internal(row.parameter), expected, 1e-3 * std::fabs(expected) + 0.5);
    EXPECT_NEAR(Base(row.parameter), baseBefore, 2e-3 * std::fabs(baseBefore));
    EXPECT_TRUE(MessageTexts().empty());
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RescaleTest,
    ::testing::Values(RescaleRow{"ProtectionTimeHalves", "20", "time_ERR_pos", 0.5},
                      RescaleRow{"OverCurrentTimeHalves", "20", "time_Imax_Prot", 0.5},
                      RescaleRow{"TestTimeHalves", "20", "TPS", 0.5},
                      RescaleRow{"SpeedErrorDoubles", "20", "ERR_speed", 2.0},
                      RescaleRow{"TestSpeedDoubles", "20", "TestSpeed", 2.0},
                      RescaleRow{"AccelerationQuadruples", "20", "ErefMaxAcceleration", 4.0},
                      RescaleRow{"CurrentSlopeDoubles", "20", "REF_INC", 2.0},
                      RescaleRow{"ProtectionTimeDoublesAtHalfPeriod", "5", "time_ERR_pos", 2.0},
                      RescaleRow{"SpeedHalvesAtHalfPeriod", "5", "ERR_speed", 0.5},
                      RescaleRow{"PhysicalTimeStays", "20", "time_AB", 1.0},
                      RescaleRow{"BandwidthStays", "20", "PB_S", 1.0}),
    RowName());

TEST_F(AdvancedDlgTest, I2tTimeThatCannotFollowKeepsCurrentSquaredTimeProduct) {
    const double previous_s = Base("Ts_S");
    Force("SLPER", 80);
    derive::Ts_S(*setup_);
    const double current_s = Base("Ts_S");
    ASSERT_DOUBLE_EQ(current_s, 8 * previous_s);
    const double wantedTime_s = Base("t_I2t_D") * previous_s / current_s;
    const double current_A = Base("I_I2t_D");
    // The time the protection should keep lies below what the longer period can count.
    Parameter("t_I2t_D").SetMinInBaseUnit(1.5 * wantedTime_s);
    CAdvancedDialog::RescaleToSlowLoopPeriod(*setup_, previous_s, current_s);
    const double keptTime_s = Base("t_I2t_D");
    ASSERT_GT(keptTime_s, 1.2 * wantedTime_s);
    EXPECT_NEAR(Base("I_I2t_D"), current_A * std::sqrt(wantedTime_s / keptTime_s),
                1e-3 * current_A);
}

struct MinimumRow {
    const char* name;
    double fastMinimum_s;  // 0: the setup lacks it
    double slowMinimum_s;
    std::vector<std::string> messages;
};

class MinimumPeriodTest : public AdvancedDlgTest,
                          public ::testing::WithParamInterface<MinimumRow> {};

TEST_P(MinimumPeriodTest, OkRefusedWhilePeriodBelowMinimum) {
    const MinimumRow& row = GetParam();
    for (const auto& [name, minimum_s] :
         {std::pair{"Ts_C_min", row.fastMinimum_s}, std::pair{"Ts_S_min", row.slowMinimum_s}}) {
        minimum_s > 0.0 ? Force(name, minimum_s) : Remove(name);
    }
    bool openAfterOk = false;
    const int result = Run([&](DialogDriver& d) {
        d.Click(IDOK);
        openAfterOk = d.IsOpen();
        if (openAfterOk) {
            d.Click(IDCANCEL);
        }
    });
    EXPECT_EQ(openAfterOk, !row.messages.empty());
    EXPECT_EQ(result, row.messages.empty() ? IDOK : IDCANCEL);
    EXPECT_EQ(MessageTexts(), row.messages);
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MinimumPeriodTest,
    ::testing::Values(
        MinimumRow{"Reference", 50e-6, 100e-6, {}}, MinimumRow{"NoMinimums", 0.0, 0.0, {}},
        MinimumRow{"FastTooShort", 100e-6, 100e-6, {PeriodMessage("Fast", "0.100000")}},
        MinimumRow{"SlowTooShort", 50e-6, 1e-3, {PeriodMessage("Slow", "1.000000")}},
        MinimumRow{"BothTooShort",
                   75e-6,
                   2.5e-3,
                   {PeriodMessage("Fast", "0.075000"), PeriodMessage("Slow", "2.500000")}}),
    RowName());

}  // namespace
