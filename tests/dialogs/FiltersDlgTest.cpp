#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/FiltersDlg.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

constexpr int kFiltersTemplate = 295;

// The controls of one filter in the template.
struct FilterIds {
    int number;
    int group;
    int onOff;
    int locationCaption;
    int locationList;
    int typeCaption;
    int typeList;
    int qCaption;
    int qEdit;
    int frequencyCaption;
    int f1Edit;
    int f1Unit;
    int f2Edit;
    int f2Unit;
};

constexpr FilterIds kFilter1 = {1,    3484, 3485, 3503, 3502, 3486, 3487,
                                3488, 3489, 3490, 3491, 3508, 3504, 3510};
constexpr FilterIds kFilter2 = {2,    3492, 3493, 3501, 3500, 3494, 3495,
                                3496, 3497, 3498, 3499, 3509, 3505, 3511};
constexpr FilterIds kFilter3 = {3,    3517, 3518, 3527, 3526, 3520, 3519,
                                3521, 3523, 3522, 3524, 3525, 3506, 3512};

std::string Name(const char* prefix, int number) {
    return prefix + std::to_string(number);
}

class FiltersDlgTest : public DialogTest {
  protected:
    // Shapes filter j before the dialog opens.
    void SetFilter(int number, double on, double type) {
        Force(Name("BQFilter", number), on);
        Force(Name("BQFilterType", number), type);
    }
    // Runs the dialog with one scripted step, then cancels it if the step left it open.
    INT_PTR Run(bool locked, const std::function<void(ui::headless::DialogDriver&)>& step) {
        ui_->When(kFiltersTemplate, [&](ui::headless::DialogDriver& d) {
            step(d);
            if (d.IsOpen()) {
                d.Click(IDCANCEL);
            }
        });
        CFiltersDialog dialog(setup_.get(), locked, nullptr);
        const INT_PTR result = dialog.DoModal();
        ExpectScriptCompleted();
        return result;
    }
};

// --- Rules of one filter by its state --------------------------------------------------------

struct RuleRow {
    const char* name;
    FilterIds ids;
    double on;
    double type;
    bool locked;
    // Expected:
    bool mainEnabled;  // group, type, frequency and both frequency edits
    bool locationEnabled;
    bool qEnabled;
    const char* qText;  // empty: blanked
    bool checkEnabled;
    const char* checkCaption;
    const char* qCaption;
    const char* frequencyCaption;
    bool secondFrequencyShown;  // F2 edit and unit instead of the Q edit
};

class FilterRulesTest : public FiltersDlgTest, public ::testing::WithParamInterface<RuleRow> {};

TEST_P(FilterRulesTest, ControlsFollowOnOffTypeAndLock) {
    const RuleRow& row = GetParam();
    const FilterIds& f = row.ids;
    SetFilter(f.number, row.on, row.type);
    Force(Name("BQFilterQ", f.number), 2.5);
    Run(row.locked, [&](ui::headless::DialogDriver& d) {
        for (int id : {f.group, f.typeCaption, f.typeList, f.frequencyCaption, f.f1Edit, f.f1Unit,
                       f.f2Edit, f.f2Unit}) {
            EXPECT_EQ(d.IsEnabled(id), row.mainEnabled) << id;
        }
        EXPECT_EQ(d.IsEnabled(f.locationCaption), row.locationEnabled);
        EXPECT_EQ(d.IsEnabled(f.locationList), row.locationEnabled);
        EXPECT_EQ(d.IsEnabled(f.qCaption), row.qEnabled);
        EXPECT_EQ(d.IsEnabled(f.qEdit), row.qEnabled);
        EXPECT_EQ(d.Text(f.qEdit), row.qText);
        EXPECT_EQ(d.IsEnabled(f.onOff), row.checkEnabled);
        EXPECT_EQ(d.Text(f.onOff), row.checkCaption);
        EXPECT_EQ(d.IsChecked(f.onOff), row.on != 0.0);
        EXPECT_EQ(d.Text(f.qCaption), row.qCaption);
        EXPECT_EQ(d.Text(f.frequencyCaption), row.frequencyCaption);
        EXPECT_EQ(d.IsVisible(f.f2Edit), row.secondFrequencyShown);
        EXPECT_EQ(d.IsVisible(f.f2Unit), row.secondFrequencyShown);
        EXPECT_EQ(d.IsVisible(f.qEdit), !row.secondFrequencyShown);
    });
}

INSTANTIATE_TEST_SUITE_P(
    States, FilterRulesTest,
    ::testing::Values(RuleRow{"NotchOn", kFilter1, 1, 2, false, true, true, true, "2.5", true, "On",
                              "Q", "Frequency", false},
                      RuleRow{"NotchOnLocked", kFilter1, 1, 2, true, true, false, true, "2.5",
                              false, "On", "Q", "Frequency", false},
                      RuleRow{"LowPassOff", kFilter2, 0, 1, false, false, false, false, "2.5", true,
                              "Off", "Q", "Frequency", false},
                      RuleRow{"FirstOrderLowPassHasNoQ", kFilter2, 1, 0, false, true, true, false,
                              "", true, "On", "Q", "Frequency", false},
                      RuleRow{"LeadLagFirstOrder", kFilter3, 1, 8, false, true, true, true, "2.5",
                              true, "On", "Lag Frequency", "Lead Frequency", true},
                      RuleRow{"LeadLagSecondOrderLocked", kFilter3, 1, 9, true, true, false, true,
                              "2.5", false, "On", "Lag Frequency", "Lead Frequency", true},
                      RuleRow{"LeadLagOffLocked", kFilter1, 0, 8, true, false, false, false, "2.5",
                              false, "Off", "Lag Frequency", "Lead Frequency", true}),
    [](const ::testing::TestParamInfo<RuleRow>& row) { return std::string(row.param.name); });

// --- Bindings ---------------------------------------------------------------------------------

struct BindingRow {
    const char* parameter;
    int number;
    double type;  // lead-lag types show the second frequency
    int editId;
    const char* typed;
    double stored;
};

class FilterBindingTest : public FiltersDlgTest,
                          public ::testing::WithParamInterface<BindingRow> {};

TEST_P(FilterBindingTest, TypedValueGoesToItsParameter) {
    const BindingRow& row = GetParam();
    SetFilter(row.number, 1, row.type);
    ui_->When(kFiltersTemplate, [&](ui::headless::DialogDriver& d) {
        EXPECT_TRUE(d.Type(row.editId, row.typed));
        d.Click(IDOK);
    });
    CFiltersDialog dialog(setup_.get(), false, nullptr);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ExpectScriptCompleted();
    EXPECT_DOUBLE_EQ(Base(row.parameter), row.stored);
}

INSTANTIATE_TEST_SUITE_P(Edits, FilterBindingTest,
                         ::testing::Values(BindingRow{"BQFilterQ1", 1, 2, 3489, "3.5", 3.5},
                                           BindingRow{"BQFilterQ2", 2, 2, 3497, "0.9", 0.9},
                                           BindingRow{"BQFilterQ3", 3, 2, 3523, "1.5", 1.5},
                                           BindingRow{"BQFilterF11", 1, 2, 3491, "250", 250},
                                           BindingRow{"BQFilterF12", 2, 2, 3499, "260", 260},
                                           BindingRow{"BQFilterF13", 3, 2, 3524, "270", 270},
                                           BindingRow{"BQFilterF21", 1, 8, 3504, "80", 80},
                                           BindingRow{"BQFilterF22", 2, 8, 3505, "90", 90},
                                           BindingRow{"BQFilterF23", 3, 9, 3506, "95", 95}));

// --- Lists ------------------------------------------------------------------------------------

TEST_F(FiltersDlgTest, ListsOfferTheDesignerTypesAndTheThreeLocations) {
    const std::vector<std::string> types = {
        "Low Pass 1st order", "Low Pass 2nd order", "Notch", "High Pass", "Band Pass",
        "Lead-lag 1st order", "Lead-lag 2nd order"};
    const std::vector<std::string> places = {"Position Controller Output",
                                             "Speed Controller Output", "Speed Feedback"};
    Run(false, [&](ui::headless::DialogDriver& d) {
        for (const FilterIds& f : {kFilter1, kFilter2, kFilter3}) {
            EXPECT_EQ(d.ItemTexts(f.typeList), types);
            EXPECT_EQ(d.ItemData(f.typeList), (std::vector<DWORD_PTR>{0, 1, 2, 3, 4, 8, 9}));
            EXPECT_EQ(d.ItemTexts(f.locationList), places);
            EXPECT_EQ(d.ItemData(f.locationList), (std::vector<DWORD_PTR>{0, 1, 2}));
        }
        EXPECT_EQ(d.SelectedText(kFilter2.typeList), "Low Pass 2nd order");
        EXPECT_EQ(d.SelectedText(kFilter3.typeList), "Lead-lag 1st order");
        EXPECT_EQ(d.SelectedText(kFilter1.locationList), "Speed Controller Output");
        EXPECT_EQ(d.SelectedText(kFilter2.locationList), "Speed Feedback");
    });
}

// --- What the user does -----------------------------------------------------------------------

TEST_F(FiltersDlgTest, ChoosingLeadLagRelabelsTheQRowAndShowsTheLagFrequency) {
    Force("BQFilterF21", 120.0);
    Run(false, [](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Select(kFilter1.typeList, "Lead-lag 1st order"));
        EXPECT_EQ(d.Text(kFilter1.qCaption), "Lag Frequency");
        EXPECT_EQ(d.Text(kFilter1.frequencyCaption), "Lead Frequency");
        EXPECT_TRUE(d.IsVisible(kFilter1.f2Edit));
        EXPECT_TRUE(d.IsVisible(kFilter1.f2Unit));
        EXPECT_FALSE(d.IsVisible(kFilter1.qEdit));
        EXPECT_EQ(d.Text(kFilter1.f2Edit), "120");
        ASSERT_TRUE(d.Select(kFilter1.typeList, "High Pass"));
        EXPECT_EQ(d.Text(kFilter1.qCaption), "Q");
        EXPECT_EQ(d.Text(kFilter1.frequencyCaption), "Frequency");
        EXPECT_FALSE(d.IsVisible(kFilter1.f2Edit));
        EXPECT_TRUE(d.IsVisible(kFilter1.qEdit));
    });
    EXPECT_EQ(Base("BQFilterType1"), 3.0);
}

TEST_F(FiltersDlgTest, FirstOrderLowPassBlanksTheQUntilAnotherTypeIsChosen) {
    Run(false, [](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Select(kFilter1.typeList, "Low Pass 1st order"));
        EXPECT_FALSE(d.IsEnabled(kFilter1.qEdit));
        EXPECT_FALSE(d.IsEnabled(kFilter1.qCaption));
        EXPECT_EQ(d.Text(kFilter1.qEdit), "");
        ASSERT_TRUE(d.Select(kFilter1.typeList, "Notch"));
        EXPECT_TRUE(d.IsEnabled(kFilter1.qEdit));
        EXPECT_EQ(d.Text(kFilter1.qEdit), "2");
    });
    EXPECT_EQ(Base("BQFilterQ1"), 2.0);
}

TEST_F(FiltersDlgTest, SwitchingAFilterOnEnablesItsControlsAtOnce) {
    Run(false, [](ui::headless::DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(kFilter3.typeList));
        ASSERT_TRUE(d.SetCheck(kFilter3.onOff, true));
        EXPECT_EQ(d.Text(kFilter3.onOff), "On");
        EXPECT_TRUE(d.IsEnabled(kFilter3.typeList));
        EXPECT_TRUE(d.IsEnabled(kFilter3.locationList));
        EXPECT_TRUE(d.IsEnabled(kFilter3.f2Edit));
        ASSERT_TRUE(d.Select(kFilter3.locationList, "Speed Feedback"));
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("BQFilter3"), 1.0);
    EXPECT_EQ(Base("BQFilterLocation3"), 2.0);
}

}  // namespace
