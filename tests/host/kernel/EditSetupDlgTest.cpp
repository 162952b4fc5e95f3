#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/EditSetupDlg.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/MotorDatabase.h"
#include "host/kernel/Setup.h"
#include "host/kernel/Units.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/TestFolder.h"

namespace {

using ui::headless::DialogDriver;
using Log = std::vector<std::string>;

constexpr int kTemplate = 910;
constexpr char kCaption[] = "Parameter Test";
constexpr int kCurrentEdit = 2000;
constexpr int kCurrentUnit = 2001;
constexpr int kCurrentEditTwo = 2002;
constexpr int kSpeedEdit = 2003;
constexpr int kSpeedUnit = 2004;
constexpr int kOwnEdit = 2005;
constexpr int kOwnUnit = 2006;
constexpr int kGainEdit = 2007;
constexpr int kCheck = 2010;
constexpr int kRadioFirst = 2020;
constexpr int kChoiceCombo = 2030;
constexpr int kActionButton = 2040;
constexpr int kNoteStatic = 2041;
constexpr int kSlider = 2050;
constexpr int kFineSpin = 2051;
constexpr int kSliderEdit = 2052;
constexpr int kCoarseSpin = 2053;

const char* const kGuidelines[] = {"Step 1.\tFirst.", "Step 2.", "Step 3.", nullptr};

CQel_Parameter* Add(CQel_Setup& setup, const char* name, const char* family, double value,
                    double min, double max, int precision,
                    qel::ValueType type = qel::ValueType::Real) {
    qel::ParameterDefinition definition;
    definition.name = name;
    definition.family = qel::FindUnitFamily(family);
    definition.value = value;
    definition.min = min;
    definition.max = max;
    definition.precision = precision;
    definition.type = type;
    return setup.AddParameter(definition);
}

std::unique_ptr<CQel_Setup> MakeSetup() {
    auto setup = std::make_unique<CQel_Setup>();
    constexpr auto kInteger = qel::ValueType::Integer;
    Add(*setup, "Imax", "current", 2.5, 0.0, 20.0, 3);
    Add(*setup, "Speed", "rotary_speed", 100.0, 0.0, 1000.0, 2);
    Add(*setup, "Kp", "number", 1.5, 0.0, 10.0, 4);
    Add(*setup, "isEnabled", "number", 1.0, 0.0, 1.0, 0, kInteger);
    Add(*setup, "Mode", "number", 2.0, 0.0, 2.0, 0, kInteger);
    Add(*setup, "Choice", "number", 7.0, 0.0, 12.0, 0, kInteger);
    Add(*setup, "In", "current", 3.0, 0.1, 50.0, 3);
    Add(*setup, "pp", "number", 4.0, 1.0, 50.0, 0, kInteger);
    Add(*setup, "R", "resistance", 1.2, 0.01, 100.0, 4);
    Add(*setup, "Axis_ID_list", "number", 5.0, 0.0, 255.0, 0, kInteger);
    Add(*setup, "Ki", "number", 8.0, 0.0, 10.0, 4);
    return setup;
}

// A dialog over the test template that binds one control of every kind and writes the kernel's
// notifications into a log.
class CTestSetupDlg : public CQel_EditSetupDlg {
  public:
    CTestSetupDlg(CQel_Setup* setup, int flag, Log& log)
        : CQel_EditSetupDlg(setup, kTemplate, flag, kGuidelines, nullptr),
          own_(setup, OwnDefinition()),
          log_(log) {
        AddParameterControls("Imax", kCurrentEdit, kCurrentUnit);
        AddParameterControls("Imax", kCurrentEditTwo, 0);
        AddParameterControls("Speed", kSpeedEdit, kSpeedUnit);
        AddUserParameterControls(&own_, kOwnEdit, kOwnUnit);
        AddParameterControls("Kp", kGainEdit, 0);
        AddCheckParameterControls("isEnabled", kCheck);
        AddSwitchParameterControls("Mode", kRadioFirst, kRadioFirst + 2);
        AddSwitchParameterControls("Choice", kChoiceCombo);
        AddSliderParameterControls("Ki", kSlider, kSliderEdit, 0, kFineSpin, kCoarseSpin);
        InitializeMotorEditor();
        EnableCANSettings();
    }

    BOOL OnInitDialog() override {
        CQel_EditSetupDlg::OnInitDialog();
        auto* combo = static_cast<CComboBox*>(GetDlgItem(kChoiceCombo));
        for (const auto& [text, data] : {std::pair{"five", 5}, {"seven", 7}, {"nine", 9}}) {
            combo->SetItemData(combo->AddString(text), static_cast<DWORD_PTR>(data));
        }
        RefreshParameterControls("Choice");
        return TRUE;
    }
    void OnChangedParameterValue(std::string_view name) override {
        log_.push_back("changed " + std::string(name));
        CQel_EditSetupDlg::OnChangedParameterValue(name);
    }
    void OnChangedParameterUnit(std::string_view name) override {
        log_.push_back("unit " + std::string(name));
        CQel_EditSetupDlg::OnChangedParameterUnit(name);
    }
    void OnRefreshParameterValue(std::string_view name) override {
        log_.push_back("refresh " + std::string(name));
        CQel_EditSetupDlg::OnRefreshParameterValue(name);
    }

  private:
    static qel::ParameterDefinition OwnDefinition() {
        qel::ParameterDefinition definition;
        definition.name = "EquivCounts";
        definition.family = qel::FindUnitFamily("count");
        definition.value = 65536.0;
        definition.min = 0.0;
        definition.max = 1e12;
        definition.precision = 9;
        return definition;
    }

    CQel_Parameter own_;
    Log& log_;
};

class EditSetupDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/resources");
        folder_ = TestFolder("brevan-edit-setup");
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        qel::SetMotorDatabaseFiles(folder_ / "system.json", folder_ / "user.json");
        qel::SetGUIDirectory("");
        qel::SetHelpFileOfGUI("");
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Runs the test dialog with the script given; returns DoModal's result.
    INT_PTR Run(const std::function<void(DialogDriver&)>& script, int flag = 1) {
        ui_->When(kCaption, script);
        CTestSetupDlg dialog(setup_.get(), flag, log_);
        return dialog.DoModal();
    }
    double Base(const char* name) { return setup_->GetParameterValueInBaseUnit(name); }
    void WriteFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path) << text;
    }
    std::vector<std::string> MessageTexts() {
        std::vector<std::string> texts;
        for (const auto& box : ui_.Backend().MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }
    void ExpectCleanRun() {
        EXPECT_TRUE(ui_->Failures().empty()) << ui_->Failures().front();
        EXPECT_TRUE(ui_->Problems().empty()) << ui_->Problems().front();
        EXPECT_EQ(ui_->PendingSteps(), 0U);
    }

    CollectedErrors errors_;
    ui::headless::Session ui_;
    std::unique_ptr<CQel_Setup> setup_ = MakeSetup();
    Log log_;
    std::filesystem::path folder_;
};

TEST_F(EditSetupDlgTest, ControlsShowTheSetupWhenTheDialogOpens) {
    Run([](DialogDriver& d) {
        EXPECT_EQ(d.Text(kCurrentEdit), "2.5");
        EXPECT_EQ(d.ItemTexts(kCurrentUnit), (std::vector<std::string>{"A", "mA", "IU"}));
        EXPECT_EQ(d.SelectedText(kCurrentUnit), "A");
        EXPECT_EQ(d.Text(kSpeedEdit), "100");
        EXPECT_EQ(d.Text(kOwnEdit), "65536");
        EXPECT_EQ(d.Text(kGainEdit), "1.5");
        EXPECT_TRUE(d.IsChecked(kCheck));
        EXPECT_TRUE(d.IsChecked(kRadioFirst + 2));
        EXPECT_FALSE(d.IsChecked(kRadioFirst));
        EXPECT_EQ(d.SelectedText(kChoiceCombo), "seven");
        d.Click(IDOK);
    });
    ExpectCleanRun();
    EXPECT_TRUE(log_.empty());
}

struct TypedCase {
    const char* name;
    int edit;
    const char* unit;  // picked first, nullptr to keep the base unit
    const char* typed;
    const char* parameter;
    double base;
    const char* shown;
};

class TypedValueTest : public EditSetupDlgTest, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(TypedValueTest, IsStoredInBaseUnitsShownEverywhereAndNotified) {
    const TypedCase& c = GetParam();
    Run([&c](DialogDriver& d) {
        if (c.unit != nullptr) {
            d.SelectUnit(c.edit == kSpeedEdit ? kSpeedUnit : kCurrentUnit, c.unit);
        }
        d.Type(c.edit, c.typed);
        EXPECT_EQ(d.Text(c.edit), c.shown);
        if (c.edit == kCurrentEdit) {
            EXPECT_EQ(d.Text(kCurrentEditTwo), c.shown);
        }
        d.Click(IDOK);
    });
    ExpectCleanRun();
    EXPECT_NEAR(Base(c.parameter), c.base, 1e-9);
    const std::string name = c.parameter;
    Log expected{"changed " + name, "refresh " + name};
    if (c.unit != nullptr) {
        expected.insert(expected.begin(), "unit " + name);
    }
    EXPECT_EQ(log_, expected);
    EXPECT_TRUE(MessageTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Entries, TypedValueTest,
    ::testing::Values(
        TypedCase{"BaseUnit", kCurrentEdit, nullptr, "3.75", "Imax", 3.75, "3.75"},
        TypedCase{"Milliamperes", kCurrentEdit, "mA", "1250", "Imax", 1.25, "1250"},
        TypedCase{"SecondEditOfTheSameParameter", kCurrentEditTwo, nullptr, "7", "Imax", 7.0, "7"},
        TypedCase{"BlanksAndPlusSign", kCurrentEdit, nullptr, " +4 ", "Imax", 4.0, "4"},
        TypedCase{"RangeEnd", kCurrentEdit, nullptr, "20", "Imax", 20.0, "20"},
        TypedCase{"PrecisionRoundsTheDisplay", kCurrentEdit, nullptr, "1.23456", "Imax", 1.23456,
                  "1.235"},
        TypedCase{"RevolutionsPerMinute", kSpeedEdit, "rpm", "600", "Speed", 62.83185307179586,
                  "600"},
        TypedCase{"Exponent", kGainEdit, nullptr, "2.5e-1", "Kp", 0.25, "0.25"}),
    [](const ::testing::TestParamInfo<TypedCase>& testCase) { return testCase.param.name; });

struct RefusedCase {
    const char* name;
    const char* unit;
    const char* typed;
    const char* message;
    const char* shownAgain;
};

class RefusedEntryTest : public EditSetupDlgTest,
                         public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedEntryTest, IsAnsweredWithTheAllowedRangeAndTheStoredValueComesBack) {
    const RefusedCase& c = GetParam();
    Run([&c](DialogDriver& d) {
        if (c.unit != nullptr) {
            d.SelectUnit(kCurrentUnit, c.unit);
        }
        d.Type(kCurrentEdit, c.typed);
        EXPECT_EQ(d.Text(kCurrentEdit), c.shownAgain);
        EXPECT_EQ(d.Text(kCurrentEditTwo), c.shownAgain);
        d.Click(IDOK);
    });
    ExpectCleanRun();
    EXPECT_EQ(Base("Imax"), 2.5);
    ASSERT_EQ(ui_->MessageBoxes().size(), 1U);
    EXPECT_EQ(ui_->MessageBoxes()[0].text, c.message);
    EXPECT_EQ(ui_->MessageBoxes()[0].caption, kCaption);
    EXPECT_EQ(ui_->MessageBoxes()[0].type, MB_OK | MB_ICONWARNING);
    for (const std::string& entry : log_) {
        EXPECT_EQ(entry.find("changed"), std::string::npos) << entry;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, RefusedEntryTest,
    ::testing::Values(
        RefusedCase{"AboveMaximum", nullptr, "25",
                    "The value 25 A is out of range.\nEnter a value of Imax between 0 and 20 A.",
                    "2.5"},
        RefusedCase{"BelowMinimum", nullptr, "-0.5",
                    "The value -0.5 A is out of range.\nEnter a value of Imax between 0 and 20 A.",
                    "2.5"},
        RefusedCase{"AboveMaximumInMilliamperes", "mA", "20000.5",
                    "The value 20000.5 mA is out of range.\nEnter a value of Imax between 0 and "
                    "20000 mA.",
                    "2500"},
        RefusedCase{"Letters", nullptr, "abc",
                    "\"abc\" is not a number.\nEnter a value of Imax between 0 and 20 A.", "2.5"},
        RefusedCase{"Empty", nullptr, "  ",
                    "\"\" is not a number.\nEnter a value of Imax between 0 and 20 A.", "2.5"},
        RefusedCase{"TwoPoints", nullptr, "2.5.1",
                    "\"2.5.1\" is not a number.\nEnter a value of Imax between 0 and 20 A.", "2.5"},
        RefusedCase{"TrailingUnit", nullptr, "3 A",
                    "\"3 A\" is not a number.\nEnter a value of Imax between 0 and 20 A.", "2.5"},
        RefusedCase{"BeyondDoubleRange", nullptr, "1e400",
                    "\"1e400\" is not a number.\nEnter a value of Imax between 0 and 20 A.", "2.5"},
        RefusedCase{"Infinity", nullptr, "inf",
                    "\"inf\" is not a number.\nEnter a value of Imax between 0 and 20 A.", "2.5"},
        RefusedCase{"NotANumber", nullptr, "nan",
                    "\"nan\" is not a number.\nEnter a value of Imax between 0 and 20 A.", "2.5"}),
    [](const ::testing::TestParamInfo<RefusedCase>& testCase) { return testCase.param.name; });

TEST_F(EditSetupDlgTest, RangeEndsTheDisplayPrecisionWouldHideAreShownInFull) {
    setup_->FindParameter("Kp")->SetMinInBaseUnit(0.00012);
    Run([](DialogDriver& d) {
        d.Type(kGainEdit, "0");
        d.Click(IDOK);
    });
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"The value 0 is out of range.\nEnter a value of Kp between "
                                        "0.00012 and 10."}));
}

TEST_F(EditSetupDlgTest, SameValueTypedDifferentlyIsRedisplayedWithoutNotification) {
    Run([](DialogDriver& d) {
        d.Type(kCurrentEdit, "2.500");
        EXPECT_EQ(d.Text(kCurrentEdit), "2.5");
        d.Click(IDOK);
    });
    EXPECT_TRUE(log_.empty());
}

TEST_F(EditSetupDlgTest, PickedUnitRedisplaysEveryControlOfTheParameter) {
    Run([](DialogDriver& d) {
        d.SelectUnit(kCurrentUnit, "mA");
        EXPECT_EQ(d.Text(kCurrentEdit), "2500");
        EXPECT_EQ(d.Text(kCurrentEditTwo), "2500");
        d.SelectUnit(kSpeedUnit, "rot/s");
        EXPECT_EQ(d.Text(kSpeedEdit), "15.92");
        d.Click(IDOK);
    });
    EXPECT_EQ(setup_->FindParameter("Imax")->GetUnitName(), "mA");
    EXPECT_EQ(log_, (Log{"unit Imax", "unit Speed"}));
    EXPECT_EQ(Base("Imax"), 2.5);
}

TEST_F(EditSetupDlgTest, RadioRunFollowsTheParameterBothWays) {
    Run([this](DialogDriver& d) {
        d.Click(kRadioFirst + 1);
        EXPECT_EQ(Base("Mode"), 1.0);
        setup_->SetParameterValueInBaseUnit("Mode", 0.0);
        auto& dialog = static_cast<CQel_EditSetupDlg&>(d.Dialog());
        dialog.RefreshParameterControls("mode");
        EXPECT_TRUE(d.IsChecked(kRadioFirst));
        EXPECT_FALSE(d.IsChecked(kRadioFirst + 1));
        EXPECT_FALSE(d.IsChecked(kRadioFirst + 2));
        d.Click(IDOK);
    });
    EXPECT_EQ(log_, (Log{"changed Mode", "refresh Mode"}));
}

TEST_F(EditSetupDlgTest, ListSelectsAndStoresByItemData) {
    Run([this](DialogDriver& d) {
        d.Select(kChoiceCombo, "nine");
        EXPECT_EQ(Base("Choice"), 9.0);
        auto& dialog = static_cast<CQel_EditSetupDlg&>(d.Dialog());
        setup_->SetParameterValueInBaseUnit("Choice", 5.0);
        dialog.RefreshAllParameters(0);
        EXPECT_EQ(d.SelectedText(kChoiceCombo), "five");
        setup_->SetParameterValueInBaseUnit("Choice", 3.0);
        dialog.RefreshAllParameters(0);
        EXPECT_EQ(d.SelectedData(kChoiceCombo), std::nullopt);
        d.Click(IDOK);
    });
    EXPECT_EQ(log_, (Log{"changed Choice", "refresh Choice"}));
}

TEST_F(EditSetupDlgTest, CheckBoxWritesOneAndZero) {
    Run([this](DialogDriver& d) {
        d.Click(kCheck);
        EXPECT_EQ(Base("isEnabled"), 0.0);
        d.Click(kCheck);
        EXPECT_EQ(Base("isEnabled"), 1.0);
        d.Click(IDOK);
    });
    EXPECT_EQ(log_, (Log{"changed isEnabled", "refresh isEnabled", "changed isEnabled",
                         "refresh isEnabled"}));
}

// Ki is 8 in [0, 10]: the slider runs from 4 (half of 8) to 10 (the maximum, below 12), in
// steps of 0.06.
struct SliderCase {
    const char* what;
    std::function<void(DialogDriver&)> act;
    double expected;
};

class SliderTest : public EditSetupDlgTest, public ::testing::WithParamInterface<SliderCase> {};

TEST_P(SliderTest, StepsTheValueWithinHalfToOneAndAHalfOfItsValueAndTheParameterRange) {
    double shown = 0.0;
    Run([&](DialogDriver& d) {
        EXPECT_EQ(d.Control(kSlider)->rangeMin, 0);
        EXPECT_EQ(d.Control(kSlider)->rangeMax, CQel_EditSetupDlg::kSliderPositions);
        GetParam().act(d);
        shown = std::stod(d.Control(kSliderEdit)->text);
        d.Click(IDOK);
    });
    EXPECT_NEAR(Base("Ki"), GetParam().expected, 1e-9);
    EXPECT_NEAR(shown, GetParam().expected, 1e-9);
    ASSERT_GE(log_.size(), 2U);
    EXPECT_EQ(Log(log_.end() - 2, log_.end()), Log({"changed Ki", "refresh Ki"}));
}

INSTANTIATE_TEST_SUITE_P(
    EditSetupDlg, SliderTest,
    ::testing::Values(SliderCase{"LowEnd", [](DialogDriver& d) { d.MoveSlider(kSlider, 0); }, 4.0},
                      SliderCase{"HighEndIsTheMaximum",
                                 [](DialogDriver& d) { d.MoveSlider(kSlider, 100); }, 10.0},
                      SliderCase{"Middle", [](DialogDriver& d) { d.MoveSlider(kSlider, 50); }, 7.0},
                      SliderCase{"FineSpinUp", [](DialogDriver& d) { d.Spin(kFineSpin, 1); }, 8.06},
                      SliderCase{"CoarseSpinDown", [](DialogDriver& d) { d.Spin(kCoarseSpin, -1); },
                                 7.4},
                      SliderCase{"SpinStopsAtTheEnd",
                                 [](DialogDriver& d) {
                                     d.MoveSlider(kSlider, 95);
                                     d.Spin(kCoarseSpin, 1);
                                 },
                                 10.0}),
    [](const ::testing::TestParamInfo<SliderCase>& testCase) {
        return std::string(testCase.param.what);
    });

TEST_F(EditSetupDlgTest, SliderFollowsATypedValueAndItsRangeStaysAsAtConstruction) {
    Run([](DialogDriver& d) {
        EXPECT_EQ(d.Control(kSlider)->position, 67);  // (8 - 4) / 0.06
        d.Type(kSliderEdit, "5.2");
        EXPECT_EQ(d.Control(kSlider)->position, 20);
        // Below the slider's range but inside the parameter's: taken, the thumb at its end.
        d.Type(kSliderEdit, "1");
        EXPECT_EQ(d.Control(kSlider)->position, 0);
        d.Spin(kFineSpin, 1);
        d.Click(IDOK);
    });
    // A spin step from outside the slider's range lands on its end.
    EXPECT_NEAR(Base("Ki"), 4.0, 1e-9);
}

TEST_F(EditSetupDlgTest, GuidelinesStepWithPreviousAndNext) {
    Run([](DialogDriver& d) {
        constexpr int kText = CQel_EditSetupDlg::kGuidelineTextId;
        constexpr int kPrevious = CQel_EditSetupDlg::kGuidelinePreviousId;
        constexpr int kNext = CQel_EditSetupDlg::kGuidelineNextId;
        EXPECT_EQ(d.Text(kText), "Step 1.\tFirst.");
        EXPECT_TRUE(d.IsReadOnly(kText));
        EXPECT_FALSE(d.IsEnabled(kPrevious));
        d.Click(kNext);
        d.Click(kNext);
        EXPECT_EQ(d.Text(kText), "Step 3.");
        EXPECT_FALSE(d.IsEnabled(kNext));
        EXPECT_TRUE(d.IsEnabled(kPrevious));
        d.Click(kPrevious);
        EXPECT_EQ(d.Text(kText), "Step 2.");
        EXPECT_TRUE(d.IsEnabled(kNext));
        d.Click(IDOK);
    });
    ExpectCleanRun();
}

TEST_F(EditSetupDlgTest, ChildHelpersEnableShowAndCaptionControls) {
    Run([](DialogDriver& d) {
        auto& dialog = static_cast<CQel_EditSetupDlg&>(d.Dialog());
        const int ids[] = {kActionButton, kNoteStatic, 0};
        dialog.EnableChildren(ids, 0, 0);
        EXPECT_FALSE(d.IsEnabled(kActionButton));
        EXPECT_FALSE(d.IsEnabled(kNoteStatic));
        dialog.ShowChildren(ids, 0);
        EXPECT_FALSE(d.IsVisible(kActionButton));
        dialog.ShowChild(kNoteStatic, 1);
        EXPECT_TRUE(d.IsVisible(kNoteStatic));
        dialog.SetChildText(kNoteStatic, "Changed");
        EXPECT_EQ(d.Text(kNoteStatic), "Changed");
        dialog.SetButtonImage(IDOK, "TO_MOTORSETUP");
        EXPECT_EQ(d.Bitmap(IDOK), "TO_MOTORSETUP");
        dialog.EnableChild(4242, 0, 0);
        d.Click(IDOK);
    });
    ExpectCleanRun();
}

TEST_F(EditSetupDlgTest, DisabledWithBlankingHidesTheValueUntilEnabledAgain) {
    const INT_PTR result = Run([this](DialogDriver& d) {
        auto& dialog = static_cast<CQel_EditSetupDlg&>(d.Dialog());
        dialog.EnableChild(kGainEdit, 0, 1);
        EXPECT_EQ(d.Text(kGainEdit), "");
        dialog.RefreshAllParameters(0);
        EXPECT_EQ(d.Text(kGainEdit), "");
        setup_->SetParameterValueInBaseUnit("Kp", 3.0);
        dialog.EnableChild(kGainEdit, 1, 0);
        EXPECT_EQ(d.Text(kGainEdit), "3");
        dialog.EnableChild(kGainEdit, 0, 1);
        d.Click(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(Base("Kp"), 3.0);
}

TEST_F(EditSetupDlgTest, RefreshShowsValuesChangedBehindTheDialog) {
    Run([this](DialogDriver& d) {
        setup_->SetParameterValueInBaseUnit("Imax", 7.0);
        setup_->SetParameterValueInBaseUnit("Speed", 5.0);
        static_cast<CQel_EditSetupDlg&>(d.Dialog()).RefreshParameterControls("IMAX");
        EXPECT_EQ(d.Text(kCurrentEdit), "7");
        EXPECT_EQ(d.Text(kCurrentEditTwo), "7");
        EXPECT_EQ(d.Text(kSpeedEdit), "100");
        d.Click(IDOK);
    });
}

TEST_F(EditSetupDlgTest, OkTakesOverTheEntryStillBeingTyped) {
    EXPECT_EQ(Run([](DialogDriver& d) {
                  d.EnterText(kCurrentEdit, "4");
                  d.PressKey(VK_RETURN);
              }),
              IDOK);
    EXPECT_EQ(Base("Imax"), 4.0);
    EXPECT_EQ(log_, (Log{"changed Imax", "refresh Imax"}));
}

TEST_F(EditSetupDlgTest, OkWithARefusedEntryKeepsTheDialogOpen) {
    bool openAfterReturn = false;
    EXPECT_EQ(Run([&openAfterReturn](DialogDriver& d) {
                  d.EnterText(kCurrentEdit, "40");
                  d.PressKey(VK_RETURN);
                  openAfterReturn = d.IsOpen();
                  EXPECT_EQ(d.Text(kCurrentEdit), "2.5");
                  d.Click(IDCANCEL);
              }),
              IDCANCEL);
    EXPECT_TRUE(openAfterReturn);
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"The value 40 A is out of range.\nEnter a value of Imax "
                                        "between 0 and 20 A."}));
}

struct CancelCase {
    int flag;
    double imaxAfterCancel;
};

class CancelTest : public EditSetupDlgTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, KeepsOrRestoresWhatWasTakenOverByTheFlag) {
    const INT_PTR result = Run(
        [](DialogDriver& d) {
            d.Type(kCurrentEdit, "9");
            d.Click(kRadioFirst);
            d.Click(IDCANCEL);
        },
        GetParam().flag);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Base("Imax"), GetParam().imaxAfterCancel);
    EXPECT_EQ(Base("Mode"), GetParam().flag == 0 ? 2.0 : 0.0);
}

INSTANTIATE_TEST_SUITE_P(Flags, CancelTest,
                         ::testing::Values(CancelCase{1, 9.0}, CancelCase{0, 2.5}));

TEST_F(EditSetupDlgTest, OwnParameterIsShownButNotTypedIntoWhenReadOnly) {
    Run([](DialogDriver& d) {
        EXPECT_FALSE(d.Type(kOwnEdit, "1"));
        EXPECT_EQ(d.Text(kOwnEdit), "65536");
        EXPECT_EQ(d.ItemTexts(kOwnUnit), (std::vector<std::string>{"counts", "IU"}));
        d.Click(IDOK);
    });
    ASSERT_EQ(ui_->Failures().size(), 1U);
    EXPECT_NE(ui_->Failures()[0].find("edit 2005 is read-only"), std::string::npos);
}

class MissingBindingDlg : public CQel_EditSetupDlg {
  public:
    explicit MissingBindingDlg(CQel_Setup* setup)
        : CQel_EditSetupDlg(setup, kTemplate, 1, nullptr, nullptr) {
        AddParameterControls("Absent", kGainEdit, 0);
        const int saved = g_bShowErrors;
        g_bShowErrors = 0;
        AddCheckParameterControls("QuietlyAbsent", kCheck);
        g_bShowErrors = saved;
        AddParameterControls("Kp", 3999, 0);
        // Controls of the wrong kind: a value in a check box, a unit list that is a static text,
        // a flag in an edit box, a choice in a button.
        AddParameterControls("Imax", kCheck, kNoteStatic);
        AddCheckParameterControls("isEnabled", kSpeedEdit);
        AddSwitchParameterControls("Choice", kActionButton);
    }
};

TEST_F(EditSetupDlgTest, MissingParameterIsReportedAndItsControlsStayUnbound) {
    ui_->When(kCaption, [](DialogDriver& d) {
        EXPECT_EQ(d.Text(kGainEdit), "");
        EXPECT_TRUE(d.Type(kGainEdit, "junk"));
        d.Click(IDOK);
    });
    MissingBindingDlg dialog(setup_.get());
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(errors_.Messages(),
              (std::vector<std::string>{"The parameter \"Absent\" is not in the setup."}));
    EXPECT_EQ(ui_->Problems(),
              (std::vector<std::string>{
                  "The dialog 910 binds \"Kp\" to control 3999, which its template lacks.",
                  "The dialog 910 binds \"Imax\" to control 2010, which is not an edit box.",
                  "The dialog 910 binds \"Imax\" to control 2041, which is not a unit list.",
                  "The dialog 910 binds \"isEnabled\" to control 2003, which is not a button.",
                  "The dialog 910 binds \"Choice\" to control 2040, which is not a drop-down "
                  "list."}));
    EXPECT_TRUE(MessageTexts().empty());
}

// --- the motor editor ---

constexpr const char* kSystemMotors = R"({"format": 1, "motors": [
    {"name": "BL-90", "values": {"In": 6.0, "pp": 5, "R": 0.4}},
    {"name": "BL-60", "values": {"In": 2.0, "pp": 3, "R": 2.5, "L": 0.001}}
]})";

constexpr int kDatabases = CQel_EditSetupDlg::kMotorDatabaseListId;
constexpr int kMotors = CQel_EditSetupDlg::kMotorListId;
constexpr int kSave = CQel_EditSetupDlg::kMotorSaveId;
constexpr int kDelete = CQel_EditSetupDlg::kMotorDeleteId;

TEST_F(EditSetupDlgTest, ChosenSystemMotorFillsTheMotorParametersAndNotifiesEach) {
    WriteFile(folder_ / "system.json", kSystemMotors);
    Run([](DialogDriver& d) {
        EXPECT_EQ(d.ItemTexts(kDatabases), (std::vector<std::string>{"SYSTEM", "USER"}));
        EXPECT_EQ(d.ItemTexts(kMotors), (std::vector<std::string>{"BL-60", "BL-90"}));
        d.Select(kMotors, "BL-60");
        EXPECT_FALSE(d.IsEnabled(kDelete));
        d.Click(IDOK);
    });
    ExpectCleanRun();
    EXPECT_EQ(Base("In"), 2.0);
    EXPECT_EQ(Base("pp"), 3.0);
    EXPECT_EQ(Base("R"), 2.5);
    EXPECT_EQ(log_, (Log{"changed In", "refresh In", "changed R", "refresh R", "changed pp",
                         "refresh pp"}));
}

TEST_F(EditSetupDlgTest, MotorValueOutsideTheSetupRangeIsLimitedAndTold) {
    WriteFile(folder_ / "system.json",
              R"({"format": 1, "motors": [{"name": "Huge", "values": {"In": 80, "pp": 2}}]})");
    Run([](DialogDriver& d) {
        d.Select(kMotors, "Huge");
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("In"), 50.0);
    EXPECT_EQ(Base("pp"), 2.0);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                  "Some values of the motor \"Huge\" lie outside the ranges of "
                                  "this setup and were limited: In."}));
}

TEST_F(EditSetupDlgTest, SavedMotorGoesIntoTheUserDatabaseUnderTheNameGiven) {
    ui_->When(kCaption, [](DialogDriver& d) { d.Click(kSave); });
    ui_->When("Save to User Database", [](DialogDriver& d) {
        EXPECT_EQ(d.Text(CQel_EditSetupDlg::kMotorNameEditId), "");
        d.Type(CQel_EditSetupDlg::kMotorNameEditId, "  Mine  ");
        d.Click(IDOK);
    });
    ui_->When(kCaption, [](DialogDriver& d) {
        EXPECT_EQ(d.SelectedText(kDatabases), "USER");
        EXPECT_EQ(d.SelectedText(kMotors), "Mine");
        EXPECT_TRUE(d.IsEnabled(kDelete));
        d.Click(IDOK);
    });
    CTestSetupDlg dialog(setup_.get(), 1, log_);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ExpectCleanRun();
    const qel::MotorDatabaseLoad user = qel::LoadMotorDatabase(qel::MotorDatabaseKind::User);
    ASSERT_EQ(user.motors.size(), 1U) << user.problem;
    EXPECT_EQ(user.motors[0].name, "Mine");
    EXPECT_EQ(user.motors[0].values,
              (std::map<std::string, double>{{"In", 3.0}, {"R", 1.2}, {"pp", 4.0}}));
}

TEST_F(EditSetupDlgTest, SavingUnderATakenNameAsksBeforeReplacing) {
    WriteFile(folder_ / "user.json",
              R"({"format": 1, "motors": [{"name": "Mine", "values": {"In": 9}}]})");
    ui_->ExpectMessageBox("already holds a motor named \"MINE\"", IDNO);
    ui_->When(kCaption, [](DialogDriver& d) {
        d.Click(kSave);
        d.Click(IDOK);
    });
    ui_->When("Save to User Database", [](DialogDriver& d) {
        d.Type(CQel_EditSetupDlg::kMotorNameEditId, "MINE");
        d.Click(IDOK);
    });
    CTestSetupDlg dialog(setup_.get(), 1, log_);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ExpectCleanRun();
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"The user database already holds a motor named \"MINE\". "
                                        "Replace it?"}));
    const qel::MotorDatabaseLoad user = qel::LoadMotorDatabase(qel::MotorDatabaseKind::User);
    ASSERT_EQ(user.motors.size(), 1U);
    EXPECT_EQ(user.motors[0].values.at("In"), 9.0);
}

TEST_F(EditSetupDlgTest, EmptyMotorNameIsRefused) {
    ui_->When(kCaption, [](DialogDriver& d) {
        d.Click(kSave);
        d.Click(IDOK);
    });
    ui_->When("Save to User Database", [](DialogDriver& d) { d.Click(IDOK); });
    CTestSetupDlg dialog(setup_.get(), 1, log_);
    dialog.DoModal();
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Enter a name for the motor."}));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "user.json"));
}

TEST_F(EditSetupDlgTest, DeleteAsksAndRemovesTheMotorFromTheUserDatabase) {
    WriteFile(folder_ / "user.json", R"({"format": 1, "motors": [
        {"name": "A", "values": {"In": 1}}, {"name": "B", "values": {"In": 2}}]})");
    ui_->ExpectMessageBox("Delete the motor \"A\"", IDYES);
    Run([](DialogDriver& d) {
        d.Select(kDatabases, "USER");
        d.Select(kMotors, "A");
        d.Click(kDelete);
        EXPECT_EQ(d.ItemTexts(kMotors), (std::vector<std::string>{"B"}));
        EXPECT_FALSE(d.IsEnabled(kDelete));
        d.Click(IDOK);
    });
    ExpectCleanRun();
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{"Delete the motor \"A\" from the user database?"}));
    EXPECT_EQ(qel::LoadMotorDatabase(qel::MotorDatabaseKind::User).motors.size(), 1U);
}

struct DatabaseFaultCase {
    const char* name;
    const char* json;
    const char* problem;
};

class MotorDatabaseFaultTest : public ::testing::TestWithParam<DatabaseFaultCase> {};

TEST_P(MotorDatabaseFaultTest, IsRefusedWholeWithItsReason) {
    const qel::MotorDatabaseLoad load = qel::ParseMotorDatabase(GetParam().json, "m.json");
    EXPECT_TRUE(load.motors.empty());
    EXPECT_EQ(load.problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MotorDatabaseFaultTest,
    ::testing::Values(
        DatabaseFaultCase{"NotJson", "{", "m.json is not a JSON object."},
        DatabaseFaultCase{"WrongFormat", R"({"format": 2, "motors": []})",
                          "m.json: \"format\" must be 1."},
        DatabaseFaultCase{"NoName", R"({"format": 1, "motors": [{"values": {}}]})",
                          "m.json: every motor needs a name."},
        DatabaseFaultCase{"Twice",
                          R"({"format": 1, "motors": [{"name": "a", "values": {}},
                                                       {"name": "A", "values": {}}]})",
                          "m.json: the motor \"A\" appears twice."},
        DatabaseFaultCase{"UnknownParameter",
                          R"({"format": 1, "motors": [{"name": "a", "values": {"Vdc": 4}}]})",
                          "m.json: \"Vdc\" of the motor \"a\" is not a motor parameter."},
        DatabaseFaultCase{"TextValue",
                          R"({"format": 1, "motors": [{"name": "a", "values": {"In": "4"}}]})",
                          "m.json: \"In\" of the motor \"a\" must be a number."}),
    [](const ::testing::TestParamInfo<DatabaseFaultCase>& testCase) {
        return testCase.param.name;
    });

TEST_F(EditSetupDlgTest, UnreadableUserDatabaseIsNeitherShownNorOverwritten) {
    WriteFile(folder_ / "user.json", "{broken");
    Run([](DialogDriver& d) {
        d.Select(kDatabases, "USER");
        d.Click(IDOK);
    });
    const std::string problem = (folder_ / "user.json").string() + " is not a JSON object.";
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{problem}));
    EXPECT_EQ(qel::SaveUserMotor({"X", {{"In", 1.0}}}),
              problem + " The motor was not saved, so that the file is kept as it is.");
    std::ifstream kept(folder_ / "user.json");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "{broken");
}

// --- CAN settings ---

TEST_F(EditSetupDlgTest, CanBitRateListShowsAndStoresTheSetupsRate) {
    Run([this](DialogDriver& d) {
        constexpr int kRates = CQel_EditSetupDlg::kCanBaudRateComboId;
        EXPECT_EQ(d.ItemTexts(kRates),
                  (std::vector<std::string>{"10 kbit/s", "20 kbit/s", "50 kbit/s", "125 kbit/s",
                                            "250 kbit/s", "500 kbit/s", "800 kbit/s", "1 Mbit/s"}));
        EXPECT_EQ(d.SelectedText(kRates), "500 kbit/s");
        EXPECT_EQ(setup_->FindOption(qel::kCanBaudRateOption), std::nullopt);
        d.Select(kRates, "1 Mbit/s");
        d.Click(CQel_EditSetupDlg::kCanSettingsButtonId);
        d.Click(IDOK);
    });
    EXPECT_EQ(setup_->GetOptionNoError(qel::kCanBaudRateOption), "1000000");
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{
                  "CANopen settings of this setup:\nBit rate: 1 Mbit/s\nAxis ID: 5"}));
}

// --- host services ---

struct BrakePortCase {
    int port;
    int inverted;
    int enable;
};

class BrakePortTest : public ::testing::TestWithParam<BrakePortCase> {};

TEST_P(BrakePortTest, PortFactsComeFromTheSetupsOutputs) {
    CQel_Setup setup;
    setup.SetIoPorts({{25, 0, false, false}, {27, 2, false, true}, {28, 3, true, true}});
    EXPECT_EQ(IsIOQel3PortInverted(&setup, GetParam().port), GetParam().inverted);
    EXPECT_EQ(IsBrakePortEnable(&setup, GetParam().port), GetParam().enable);
}

INSTANTIATE_TEST_SUITE_P(Ports, BrakePortTest,
                         ::testing::Values(BrakePortCase{0, 0, 0x10}, BrakePortCase{2, 0, 0x11},
                                           BrakePortCase{3, 1, 0x11}, BrakePortCase{7, 0, 0}));

TEST_F(EditSetupDlgTest, BrakeComboListsOnlyBrakeOutputsAndSelectsTheCurrentOne) {
    setup_->SetIoPorts({{28, 3, true, true}, {25, 0, false, false}, {27, 2, false, true}});
    EXPECT_EQ(GetNumberOfBrakeOutputs(setup_.get()), 2);
    Run([this](DialogDriver& d) {
        auto* combo = static_cast<CComboBox*>(d.Dialog().GetDlgItem(kChoiceCombo));
        FillIOBrakeCombo(setup_.get(), *combo, 3);
        EXPECT_EQ(d.ItemTexts(kChoiceCombo),
                  (std::vector<std::string>{"OUT2 (pin 27)", "OUT3 (pin 28)"}));
        EXPECT_EQ(d.ItemData(kChoiceCombo), (std::vector<DWORD_PTR>{2, 3}));
        EXPECT_EQ(d.SelectedText(kChoiceCombo), "OUT3 (pin 28)");
        FillIOBrakeCombo(setup_.get(), *combo, 0);
        EXPECT_EQ(d.SelectedData(kChoiceCombo), std::nullopt);
        d.Click(IDOK);
    });
}

TEST_F(EditSetupDlgTest, HelpOpensTheHostsFileOnlyWhenThereIsOne) {
    qel::ShowHelpTopic(*setup_, 0x40106);
    EXPECT_TRUE(ui_->HelpRequests().empty());
    qel::SetGUIDirectory("/opt/host");
    qel::SetHelpFileOfGUI("host.chm");
    qel::ShowHelpTopic(*setup_, 0x40106);
    setup_->SetOption("GUIHelpFile", "drive.chm");
    qel::ShowHelpTopic(*setup_, 0x40107);
    ASSERT_EQ(ui_->HelpRequests().size(), 2U);
    EXPECT_EQ(ui_->HelpRequests()[0].file, "/opt/host/host.chm");
    EXPECT_EQ(ui_->HelpRequests()[0].topic, 0x40106U);
    EXPECT_EQ(ui_->HelpRequests()[1].file, "/opt/host/drive.chm");
}

}  // namespace
