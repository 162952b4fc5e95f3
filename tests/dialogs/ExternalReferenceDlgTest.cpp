#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "dialogs/ExternalReferenceDlg.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

constexpr int kTemplate = 111;

constexpr int kDigitalRadio = 3289;
constexpr int kAnalogueRadio = 3290;
constexpr int kLimitCheck = 3116;
constexpr int kSpeedLimitEdit = 3302;
constexpr int kSpeedLimitUnit = 3136;
constexpr int kAccelerationLimitEdit = 3304;
constexpr int kAccelerationLimitUnit = 3137;
constexpr int kMaximumEdit = 1006;
constexpr int kMaximumUnit = 1015;
constexpr int kMinimumEdit = 1008;
constexpr int kDeadBandPointEdit = 1010;
constexpr int kDeadBandPointUnit = 1016;
constexpr int kDeadBandRangeEdit = 1012;
constexpr int kFilterCheck = 1001;
constexpr int kFilterEdit = 1003;
constexpr int kTestButton = 1000;
constexpr int kInputLowCaption = 3328;
constexpr int kInputHighCaption = 3327;
constexpr int kGearSlaveEdit = 3295;
constexpr int kGearMasterEdit = 3296;
constexpr int kFilterRow[] = {1002, 1003, 1004};
constexpr int kDigitalFields[] = {3291, 3292, 3294, 3297, 3295, 3298, 3299, 3296, 3300};
constexpr int kAnalogueFields[] = {1007, 1009, 1006, 1008, 1015, 1016, 1011, 1010, 1013,
                                   1012, 1004, 1001, 1002, 1003, 1000, 3328, 3327};

class ExternalReferenceDlgTest : public DialogTest {
  protected:
    // Runs the dialog with one scripted step, then cancels it if the step left it open.
    INT_PTR Run(const std::function<void(ui::headless::DialogDriver&)>& step) {
        ui_->When(kTemplate, [&](ui::headless::DialogDriver& d) {
            EXPECT_EQ(d.Caption(), "External Reference Setup");
            step(d);
            if (d.IsOpen()) {
                d.Click(IDCANCEL);
            }
        });
        CAnalogReferenceDlg dialog(setup_.get(), nullptr);
        const INT_PTR result = dialog.DoModal();
        ExpectScriptCompleted();
        return result;
    }
    void RemoveAnalogueInput() { Remove("CADIN"); }
    // What an edit bound to the parameter shows.
    static std::string Shown(ui::headless::DialogDriver& d, CQel_Parameter& parameter) {
        return static_cast<CQel_EditSetupDlg&>(d.Dialog()).FormatParameterValue(parameter);
    }
};

// --- Bindings by control mode and analogue input ---------------------------------------------

struct BindingRow {
    const char* name;
    double controlMode;
    bool analogueInput;
    // Parameter each edit shows; empty: the edit is unbound.
    const char* maximum;
    const char* minimum;
    const char* speedLimitPlace;
    const char* accelerationLimitPlace;
    const char* deadBandPoint;
    const char* deadBandRange;
    const char* filter;
};

class ExternalReferenceBindingTest : public ExternalReferenceDlgTest,
                                     public ::testing::WithParamInterface<BindingRow> {};

TEST_P(ExternalReferenceBindingTest, EditsShowTheParametersOfTheModeAndInput) {
    const BindingRow& row = GetParam();
    Force("ControlMode", row.controlMode);
    if (!row.analogueInput) {
        RemoveAnalogueInput();
    }
    Run([&](ui::headless::DialogDriver& d) {
        const auto expectShows = [&](int edit, const char* parameter) {
            const std::string expected =
                parameter[0] == '\0' ? std::string() : Shown(d, Parameter(parameter));
            EXPECT_EQ(d.Text(edit), expected) << "control " << edit << " " << parameter;
            if (parameter[0] != '\0') {
                EXPECT_FALSE(expected.empty());
            }
        };
        expectShows(kMaximumEdit, row.maximum);
        expectShows(kMinimumEdit, row.minimum);
        expectShows(kSpeedLimitEdit, row.speedLimitPlace);
        expectShows(kAccelerationLimitEdit, row.accelerationLimitPlace);
        expectShows(kDeadBandPointEdit, row.deadBandPoint);
        expectShows(kDeadBandRangeEdit, row.deadBandRange);
        expectShows(kFilterEdit, row.filter);
        expectShows(kGearMasterEdit, "GEARMASTER");
        expectShows(kGearSlaveEdit, "GEARSLAVE");
    });
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ExternalReferenceBindingTest,
    ::testing::Values(BindingRow{"Position", 0, true, "POS_max", "POS_min", "ErefMaxSpeed",
                                 "ErefMaxAcceleration", "DeadBand_Point", "DeadBand_Range",
                                 "filter"},
                      BindingRow{"Speed", 1, true, "SPD_max", "SPD_min", "ErefMaxAcceleration", "",
                                 "DeadBand_Point", "DeadBand_Range", "filter"},
                      BindingRow{"Torque", 2, true, "CRT_max", "CRT_min", "", "", "DeadBand_Point",
                                 "DeadBand_Range", "filter"},
                      BindingRow{"PositionWithoutAnalogueInput", 0, false, "", "", "ErefMaxSpeed",
                                 "ErefMaxAcceleration", "", "", ""},
                      BindingRow{"SpeedWithoutAnalogueInput", 1, false, "", "",
                                 "ErefMaxAcceleration", "", "", "", ""}),
    [](const ::testing::TestParamInfo<BindingRow>& row) { return std::string(row.param.name); });

TEST_F(ExternalReferenceDlgTest, MinimaAndDeadBandRangeTakeTheUnitOfTheirPartner) {
    Parameter("POS_max").ChangeUnit("deg");
    Parameter("DeadBand_Point").ChangeUnit("mV");
    Run([](ui::headless::DialogDriver&) {});
    EXPECT_EQ(Parameter("POS_min").GetUnitName(), "deg");
    EXPECT_EQ(Parameter("DeadBand_Range").GetUnitName(), "mV");
}

// --- Rules ------------------------------------------------------------------------------------

struct RuleRow {
    const char* name;
    double controlMode;
    double analogueReference;
    double limitMaximum;
    double useFilter;
    bool analogueInput;
    const char* digitalDisabledOption;  // null: option absent
    // Expected:
    bool limitCheckShown;
    const char* limitCaption;
    bool speedLimitShown;
    bool accelerationLimitShown;
    bool filterRowShown;
    bool analogueFieldsEnabled;
    bool digitalFieldsEnabled;
    bool digitalRadioEnabled;
    bool analogueRadioEnabled;
    const char* maximumCaption;
    const char* minimumCaption;
    const char* picture;
};

class ExternalReferenceRulesTest : public ExternalReferenceDlgTest,
                                   public ::testing::WithParamInterface<RuleRow> {};

TEST_P(ExternalReferenceRulesTest, ControlsFollowModeReferenceAndLimit) {
    const RuleRow& row = GetParam();
    Force("ControlMode", row.controlMode);
    Force("isAnalogueReference", row.analogueReference);
    Force("isLimitMaximum", row.limitMaximum);
    Force("UseFilter", row.useFilter);
    if (!row.analogueInput) {
        RemoveAnalogueInput();
    }
    if (row.digitalDisabledOption == nullptr) {
        setup_->ClearOption("DisableExternalDigitalReference");
    } else {
        setup_->SetOption("DisableExternalDigitalReference", row.digitalDisabledOption);
    }
    Run([&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.IsVisible(kLimitCheck), row.limitCheckShown);
        EXPECT_EQ(d.Text(kLimitCheck), row.limitCaption);
        EXPECT_EQ(d.IsVisible(kSpeedLimitEdit), row.speedLimitShown);
        EXPECT_EQ(d.IsVisible(kSpeedLimitUnit), row.speedLimitShown);
        EXPECT_EQ(d.IsVisible(kAccelerationLimitEdit), row.accelerationLimitShown);
        EXPECT_EQ(d.IsVisible(kAccelerationLimitUnit), row.accelerationLimitShown);
        for (int id : kFilterRow) {
            EXPECT_EQ(d.IsVisible(id), row.filterRowShown) << id;
        }
        for (int id : kAnalogueFields) {
            EXPECT_EQ(d.IsEnabled(id), row.analogueFieldsEnabled) << id;
        }
        for (int id : kDigitalFields) {
            EXPECT_EQ(d.IsEnabled(id), row.digitalFieldsEnabled) << id;
        }
        EXPECT_EQ(d.IsEnabled(kDigitalRadio), row.digitalRadioEnabled);
        EXPECT_EQ(d.IsEnabled(kAnalogueRadio), row.analogueRadioEnabled);
        EXPECT_EQ(d.Text(1007), row.maximumCaption);
        EXPECT_EQ(d.Text(1009), row.minimumCaption);
        EXPECT_EQ(d.Bitmap(1014), row.picture);
    });
    EXPECT_TRUE(errors_.Messages().empty()) << errors_.Messages().front();
}

INSTANTIATE_TEST_SUITE_P(
    States, ExternalReferenceRulesTest,
    ::testing::Values(RuleRow{"PositionAnalogueLimited", 0, 1, 1, 1, true, "0", true,
                              "Limit maximum speed at", true, false, true, true, false, true, true,
                              "Maximum Position", "Minimum Position", "3003"},
                      RuleRow{"PositionDigitalLimited", 0, 0, 1, 1, true, "0", true,
                              "Limit maximum acceleration at", false, true, true, false, true, true,
                              true, "Maximum Position", "Minimum Position", "3003"},
                      RuleRow{"PositionDigitalUnlimited", 0, 0, 0, 0, true, nullptr, true,
                              "Limit maximum acceleration at", false, false, false, false, true,
                              true, true, "Maximum Position", "Minimum Position", "3003"},
                      RuleRow{"PositionDigitalDisabledByOption", 0, 0, 0, 1, true, "1", true,
                              "Limit maximum acceleration at", false, false, true, false, true,
                              false, true, "Maximum Position", "Minimum Position", "3003"},
                      RuleRow{"SpeedAnalogueLimited", 1, 1, 1, 0, true, "0", true,
                              "Limit maximum acceleration at", true, false, false, true, false,
                              false, true, "Maximum Speed", "Minimum Speed", "3044"},
                      RuleRow{"TorqueAnalogueLimited", 2, 1, 1, 1, true, "0", false,
                              "Limit maximum speed at", false, false, true, true, false, false,
                              true, "Maximum Current", "Minimum Current", "3002"},
                      RuleRow{"PositionWithoutAnalogueInput", 0, 0, 0, 1, false, "0", true,
                              "Limit maximum acceleration at", false, false, false, false, true,
                              true, false, "Maximum Position", "Minimum Position", "3003"}),
    [](const ::testing::TestParamInfo<RuleRow>& row) { return std::string(row.param.name); });

struct RangeRow {
    double inputRange_V;
    const char* low;
    const char* high;
};

class InputRangeCaptionTest : public ExternalReferenceDlgTest,
                              public ::testing::WithParamInterface<RangeRow> {};

TEST_P(InputRangeCaptionTest, CaptionsFrameTheAnalogueInputRange) {
    const RangeRow& row = GetParam();
    Force("AnalogueInputsRange", row.inputRange_V);
    Force("isAnalogueReference", 1);
    Run([&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Text(kInputLowCaption), row.low);
        EXPECT_EQ(d.Text(kInputHighCaption), row.high);
    });
}

INSTANTIATE_TEST_SUITE_P(Ranges, InputRangeCaptionTest,
                         ::testing::Values(RangeRow{20, "-10", "10"}, RangeRow{5, "0", "5"},
                                           RangeRow{10, "0", "3.3"}, RangeRow{3.3, "0", "3.3"}));

// --- What the user does -----------------------------------------------------------------------

TEST_F(ExternalReferenceDlgTest, SwitchingToDigitalSwapsTheLimitEditsAndCaption) {
    Force("ControlMode", 0);
    Force("isAnalogueReference", 1);
    Force("isLimitMaximum", 1);
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(kSpeedLimitEdit));
        ASSERT_TRUE(d.Click(kDigitalRadio));
        EXPECT_EQ(d.Text(kLimitCheck), "Limit maximum acceleration at");
        EXPECT_FALSE(d.IsVisible(kSpeedLimitEdit));
        EXPECT_TRUE(d.IsVisible(kAccelerationLimitEdit));
        EXPECT_TRUE(d.IsEnabled(kGearMasterEdit));
        EXPECT_FALSE(d.IsEnabled(kMaximumEdit));
        ASSERT_TRUE(d.Click(kAnalogueRadio));
        EXPECT_EQ(d.Text(kLimitCheck), "Limit maximum speed at");
        EXPECT_TRUE(d.IsVisible(kSpeedLimitEdit));
        EXPECT_FALSE(d.IsVisible(kAccelerationLimitEdit));
        ASSERT_TRUE(d.Click(kDigitalRadio));
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("isAnalogueReference"), 0.0);
}

TEST_F(ExternalReferenceDlgTest, LimitCheckShowsTheLimitEditAtOnce) {
    Force("ControlMode", 0);
    Force("isAnalogueReference", 1);
    Force("isLimitMaximum", 0);
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(kSpeedLimitEdit));
        ASSERT_TRUE(d.SetCheck(kLimitCheck, true));
        EXPECT_TRUE(d.IsVisible(kSpeedLimitEdit));
        EXPECT_TRUE(d.IsVisible(kSpeedLimitUnit));
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("isLimitMaximum"), 1.0);
}

TEST_F(ExternalReferenceDlgTest, FilterCheckShowsAndHidesTheBandwidthRowAtOnce) {
    Force("isAnalogueReference", 1);
    Force("UseFilter", 1);
    Run([](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.SetCheck(kFilterCheck, false));
        for (int id : kFilterRow) {
            EXPECT_FALSE(d.IsVisible(id)) << id;
        }
        ASSERT_TRUE(d.SetCheck(kFilterCheck, true));
        for (int id : kFilterRow) {
            EXPECT_TRUE(d.IsVisible(id)) << id;
        }
        ASSERT_TRUE(d.SetCheck(kFilterCheck, false));
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("UseFilter"), 0.0);
}

struct UnitRow {
    double controlMode;
    int unitCombo;
    const char* unit;
    const char* follower;
    int followerEdit;
};

class UnitPartnerTest : public ExternalReferenceDlgTest,
                        public ::testing::WithParamInterface<UnitRow> {};

TEST_P(UnitPartnerTest, PickingTheUnitOfTheLeaderRedisplaysItsPartner) {
    const UnitRow& row = GetParam();
    Force("ControlMode", row.controlMode);
    Force("isAnalogueReference", 1);
    Run([&](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.SelectUnit(row.unitCombo, row.unit));
        EXPECT_EQ(Parameter(row.follower).GetUnitName(), row.unit);
        EXPECT_EQ(d.Text(row.followerEdit), Shown(d, Parameter(row.follower)));
    });
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, UnitPartnerTest,
    ::testing::Values(UnitRow{0, kMaximumUnit, "deg", "POS_min", kMinimumEdit},
                      UnitRow{1, kMaximumUnit, "rad/s", "SPD_min", kMinimumEdit},
                      UnitRow{2, kMaximumUnit, "mA", "CRT_min", kMinimumEdit},
                      UnitRow{0, kDeadBandPointUnit, "mV", "DeadBand_Range", kDeadBandRangeEdit}));

struct SpanRow {
    double controlMode;
    const char* upper;
    const char* lower;
};

class SpanLimitTest : public ExternalReferenceDlgTest,
                      public ::testing::WithParamInterface<SpanRow> {};

TEST_P(SpanLimitTest, TypedMaximumBecomesTheMinimumsUpperBound) {
    const SpanRow& row = GetParam();
    Force("ControlMode", row.controlMode);
    Force("isAnalogueReference", 1);
    CQel_Parameter& upper = Parameter(row.upper);
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", upper.GetValue() / 2.0);
    const double typed = std::stod(text);
    Run([&](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Type(kMaximumEdit, text));
        d.Click(IDOK);
    });
    EXPECT_NEAR(upper.GetValue(), typed, 1e-9);
    EXPECT_DOUBLE_EQ(Parameter(row.lower).GetMaxInBaseUnit(), upper.GetValueInBaseUnit());
    EXPECT_DOUBLE_EQ(upper.GetMinInBaseUnit(), Parameter(row.lower).GetValueInBaseUnit());
}

INSTANTIATE_TEST_SUITE_P(Modes, SpanLimitTest,
                         ::testing::Values(SpanRow{0, "POS_max", "POS_min"},
                                           SpanRow{1, "SPD_max", "SPD_min"},
                                           SpanRow{2, "CRT_max", "CRT_min"}));

TEST_F(ExternalReferenceDlgTest, MovingTheDeadBandPointNarrowsTheCentredRange) {
    setup_->SetOption("NewDeadBand", "0");
    Force("AnalogueInputsRange", 20);
    Force("isAnalogueReference", 1);
    Run([](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Type(kDeadBandPointEdit, "6"));
        d.Click(IDOK);
    });
    EXPECT_NEAR(Base("DeadBand_Point"), 6.0, 1e-9);
    EXPECT_NEAR(Parameter("DeadBand_Range").GetMaxInBaseUnit(), 4.0, 1e-9);
    EXPECT_DOUBLE_EQ(Parameter("DeadBand_Range").GetMinInBaseUnit(), 0.0);
}

// A dialog whose analogue reference test is a scripted stand-in.
class ScriptedExternalReferenceDlg : public CAnalogReferenceDlg {
  public:
    ScriptedExternalReferenceDlg(CQel_Setup* setup, std::function<INT_PTR()> test)
        : CAnalogReferenceDlg(setup, nullptr), test_(std::move(test)) {}

  protected:
    ChildRunner AnalogueReferenceTest() override { return test_; }

  private:
    std::function<INT_PTR()> test_;
};

struct TestResultRow {
    const char* name;
    INT_PTR result;
};

class AnalogueTestResultTest : public ExternalReferenceDlgTest,
                               public ::testing::WithParamInterface<TestResultRow> {};

TEST_P(AnalogueTestResultTest, RegistersAreRecomputedBeforeAndAfterTheTestWhateverItsResult) {
    const TestResultRow& row = GetParam();
    Force("isAnalogueReference", 1);
    const double registerBefore = Base("KPI");
    double registerSeenByTest = 0.0;
    ScriptedExternalReferenceDlg dialog(setup_.get(), [&] {
        registerSeenByTest = Base("KPI");
        setup_->SetParameterValueInBaseUnit("KPI", registerBefore / 4.0);
        return row.result;
    });
    Force("KPI", registerBefore / 2.0);
    ui_->When(kTemplate, [](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Click(kTestButton));
        EXPECT_TRUE(d.IsOpen());
        d.Click(IDCANCEL);
    });
    dialog.DoModal();
    ExpectScriptCompleted();
    EXPECT_EQ(registerSeenByTest, registerBefore);
    EXPECT_EQ(Base("KPI"), registerBefore);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Results, AnalogueTestResultTest,
                         ::testing::Values(TestResultRow{"Ok", IDOK},
                                           TestResultRow{"Cancel", IDCANCEL}),
                         [](const ::testing::TestParamInfo<TestResultRow>& row) {
                             return std::string(row.param.name);
                         });

TEST_F(ExternalReferenceDlgTest, HelpOpensTheTopicOfExternalReferenceSetup) {
    qel::SetGUIDirectory("/opt/host/");
    qel::SetHelpFileOfGUI("host.chm");
    Run([](ui::headless::DialogDriver& d) { ASSERT_TRUE(d.Click(CMySetupDlg::kHelpButtonId)); });
    ASSERT_EQ(ui_->HelpRequests().size(), 1U);
    EXPECT_EQ(ui_->HelpRequests()[0].file, "/opt/host/host.chm");
    EXPECT_EQ(ui_->HelpRequests()[0].topic, 0x40101U);
}

}  // namespace
