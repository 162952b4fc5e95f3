#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/MotorSetupDlg.h"
#include "engine/QuietProbes.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

constexpr int kTemplate = 108;

constexpr int kPolePairsEdit = 1165;
constexpr int kNominalCurrentEdit = 1159;
constexpr int kResistanceEdit = 1168;
constexpr int kInductanceEdit = 1170;
constexpr int kLinesEdit = 1179;
constexpr int kInterpolationList = 1197;
constexpr int kEquivalentCountsEdit = 3353;
constexpr int kEquivalentCountsUnit = 3354;
constexpr int kEnDatResolutionEdit = 1206;
constexpr int kSpiFrequencyEdit = 1199;
constexpr int kMotorTransmissionEdit = 1163;
constexpr int kLoadTransmissionEdit = 1174;
constexpr int kLoadTransmissionUnit = 1192;
constexpr int kRotaryToLinearRadio = 1194;
constexpr int kTransmissionWarning = 3408;
constexpr int kTemperatureCheck = 1183;
constexpr int kReverseCountingCheck = 3358;
constexpr int kEncoderFilterCheck = 3360;
constexpr int kEncoderFilterList = 3359;
constexpr int kBrakeGroup = 3379;
constexpr int kBrakeCheck = 3380;
constexpr int kBrakeOutputList = 3381;
constexpr int kBrakeCaption = 3385;
constexpr int kDatabaseList = 10010;

constexpr int kPhaseConnectionButton = 1175;
constexpr int kPolePairsButton = 1176;
constexpr int kResistanceInductanceButton = 1177;
constexpr int kEncoderConnectionsButton = 1187;
constexpr int kResolutionButton = 1189;
constexpr int kOffsetButton = 3345;

constexpr double kTwoPi = 6.283185307179586;

const std::vector<int> kInertiaFields = {1172, 1173, 3267};
const std::vector<int> kSensorTypeFields = {1184, 1185, 1186};
const std::vector<int> kEnDatFields = {1203, 1204, 3347, 1206, 1207, 3356, 1199, 1200, 3342, 3345};
const std::vector<int> kMultiTurnFields = {1208, 1198, 3357};
const std::vector<int> kBrakeFields = {3381, 3385, 3387, 3389, 3390, 3388, 3391, 3392};

const char* const kTransmissionWarningText =
    "When there is only a position sensor on the motor and the load moves in opposite direction "
    "(i.e. transmission is negative), the h/w limit switches connections need to be reversed. "
    "\n\nConnect positive limit switch sensor to drive's LSN input and negative limit switch "
    "sensor to drive's LSP input.";

class MotorSetupDlgTest : public DialogTest {
  protected:
    // Runs the dialog with one scripted step, then cancels it if the step left it open.
    INT_PTR Run(CMotorSetupDialog& dialog,
                const std::function<void(ui::headless::DialogDriver&)>& step) {
        ui_->When(kTemplate, [&](ui::headless::DialogDriver& d) {
            EXPECT_EQ(d.Caption(), "Brushless Motor Setup");
            step(d);
            if (d.IsOpen()) {
                d.Click(IDCANCEL);
            }
        });
        const INT_PTR result = dialog.DoModal();
        ExpectScriptCompleted();
        return result;
    }
    INT_PTR Run(const std::function<void(ui::headless::DialogDriver&)>& step) {
        CMotorSetupDialog dialog(setup_.get(), nullptr);
        return Run(dialog, step);
    }
    static void ExpectEnabled(ui::headless::DialogDriver& d, const std::vector<int>& ids,
                              bool enabled) {
        for (int id : ids) {
            EXPECT_EQ(d.IsEnabled(id), enabled) << "control " << id;
        }
    }
};

// --- Interpolation and equivalent counts ------------------------------------------------------

struct InterpolationRow {
    double lines;
    double polePairs;
    double fraction;
    // Expected:
    const char* firstItem;
    std::size_t items;
    const char* selected;
    double electricalFraction;
    const char* equivalentCounts;
};

class InterpolationListTest : public MotorSetupDlgTest,
                              public ::testing::WithParamInterface<InterpolationRow> {};

TEST_P(InterpolationListTest, ListsFactorsFromElectricalResolutionAndShowsEquivalentCounts) {
    const InterpolationRow& row = GetParam();
    Force("No_encoder_lines", row.lines);
    Force("pp", row.polePairs);
    Force("SINCOS_fract", row.fraction);
    Run([&](ui::headless::DialogDriver& d) {
        const std::vector<std::string> texts = d.ItemTexts(kInterpolationList);
        const std::vector<DWORD_PTR> data = d.ItemData(kInterpolationList);
        ASSERT_EQ(texts.size(), row.items);
        EXPECT_EQ(texts.front(), row.firstItem);
        EXPECT_EQ(texts.back(), "1024");
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i], std::to_string(1 << data[i])) << i;
        }
        EXPECT_EQ(d.SelectedText(kInterpolationList), row.selected);
        EXPECT_EQ(d.Text(kEquivalentCountsEdit), row.equivalentCounts);
        EXPECT_EQ(d.SelectedText(kEquivalentCountsUnit), "counts");
    });
    EXPECT_EQ(Base("ELRES_FRACT"), row.electricalFraction);
    EXPECT_EQ(Parameter("SINCOS_fract").GetMinInBaseUnit(), row.electricalFraction);
}

INSTANTIATE_TEST_SUITE_P(Encoders, InterpolationListTest,
                         ::testing::Values(InterpolationRow{1024, 3, 8, "1", 11, "256", 0,
                                                            "262144"},
                                           InterpolationRow{1024, 4, 6, "1", 11, "64", 0, "65536"},
                                           InterpolationRow{128, 4, 8, "8", 8, "256", 3, "32768"},
                                           InterpolationRow{64, 4, 6, "16", 7, "64", 4, "4096"},
                                           InterpolationRow{16, 4, 8, "64", 5, "256", 6, "4096"}));

TEST_F(MotorSetupDlgTest, TypedLineCountUpdatesCountsEnDatResolutionAndList) {
    Force("pp", 4);
    Force("SINCOS_fract", 8);
    Run([](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Type(kLinesEdit, "128"));
        EXPECT_EQ(d.Text(kEquivalentCountsEdit), "32768");
        EXPECT_EQ(d.Text(kEnDatResolutionEdit), "9");
        EXPECT_EQ(d.ItemTexts(kInterpolationList).front(), "8");
        EXPECT_EQ(d.SelectedText(kInterpolationList), "256");
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("No_encoder_lines"), 128.0);
    EXPECT_EQ(Base("ENDAT_RES"), 9.0);
    EXPECT_EQ(Base("ELRES_FRACT"), 3.0);
    const QuietLookups quiet;
    EXPECT_EQ(setup_->FindParameter("EquivCountsPerRev"), nullptr);
}

TEST_F(MotorSetupDlgTest, ChosenInterpolationFactorStoresItsExponent) {
    Force("No_encoder_lines", 1024);
    Run([](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Select(kInterpolationList, "64"));
        EXPECT_EQ(d.Text(kEquivalentCountsEdit), "65536");
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("SINCOS_fract"), 6.0);
}

TEST_F(MotorSetupDlgTest, WithoutInterpolationParameterTheEquivalentCountIsNotShown) {
    Remove("SINCOS_fract");
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Text(kEquivalentCountsEdit), "");
        EXPECT_TRUE(d.ItemTexts(kInterpolationList).empty());
    });
    ASSERT_FALSE(errors_.Messages().empty());
    EXPECT_NE(errors_.Messages().front().find("SINCOS_fract"), std::string::npos);
}

// --- EnDat clock ------------------------------------------------------------------------------

struct SpiRow {
    const char* typed_kHz;
    double stored_Hz;
    const char* shown;
};

class SpiFrequencyTest : public MotorSetupDlgTest, public ::testing::WithParamInterface<SpiRow> {};

TEST_P(SpiFrequencyTest, FrequencyMovesToTheNearestEnDatClock) {
    const SpiRow& row = GetParam();
    Force("isEnDatEncoder", 1);
    Run([&](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Type(kSpiFrequencyEdit, row.typed_kHz));
        EXPECT_EQ(d.Text(kSpiFrequencyEdit), row.shown);
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("SPI_freq"), row.stored_Hz);
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, SpiFrequencyTest,
    ::testing::Values(SpiRow{"100", 100000, "100"}, SpiRow{"500", 500000, "500"},
                      SpiRow{"150", 100000, "100"}, SpiRow{"174", 100000, "100"},
                      SpiRow{"175", 250000, "250"}, SpiRow{"200", 250000, "250"},
                      SpiRow{"260", 250000, "250"}, SpiRow{"600", 500000, "500"},
                      SpiRow{"625", 750000, "750"}, SpiRow{"1874", 1750000, "1750"},
                      SpiRow{"1875", 2000000, "2000"}));

// --- Transmission -----------------------------------------------------------------------------

struct WarningRow {
    const char* name;
    const char* negativeAllowedOption;  // null: option absent
    double motor_rad;
    double load_rad;
    bool shown;
};

class TransmissionWarningTest : public MotorSetupDlgTest,
                                public ::testing::WithParamInterface<WarningRow> {};

TEST_P(TransmissionWarningTest, WarningButtonShowsForNegativeTransmission) {
    const WarningRow& row = GetParam();
    if (row.negativeAllowedOption == nullptr) {
        setup_->ClearOption("hasNegTransmission");
    } else {
        setup_->SetOption("hasNegTransmission", row.negativeAllowedOption);
    }
    Force("Motor_transmission", row.motor_rad);
    Force("Load_transmission", row.load_rad);
    Run([&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.IsVisible(kTransmissionWarning), row.shown);
        EXPECT_EQ(d.Bitmap(kTransmissionWarning), "WARN_SWITCH_HW_LS");
    });
    EXPECT_TRUE(errors_.Messages().empty()) << errors_.Messages().front();
}

INSTANTIATE_TEST_SUITE_P(
    Signs, TransmissionWarningTest,
    ::testing::Values(WarningRow{"NegativeLoad", "0", kTwoPi, -kTwoPi, true},
                      WarningRow{"NegativeMotor", "0", -1.0, 3.0, true},
                      WarningRow{"Positive", "0", kTwoPi, kTwoPi, false},
                      WarningRow{"BothNegative", "0", -kTwoPi, -kTwoPi, false},
                      WarningRow{"NegativeAllowed", "1", kTwoPi, -kTwoPi, false},
                      WarningRow{"OptionAbsent", nullptr, -kTwoPi, kTwoPi, true}),
    [](const ::testing::TestParamInfo<WarningRow>& row) { return std::string(row.param.name); });

TEST_F(MotorSetupDlgTest, TypingNegativeLoadShowsWarningThatExplainsTheLimitSwitchWiring) {
    setup_->SetOption("hasNegTransmission", "0");
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(kTransmissionWarning));
        ASSERT_TRUE(d.Type(kLoadTransmissionEdit, "-1"));
        ASSERT_TRUE(d.IsVisible(kTransmissionWarning));
        ASSERT_TRUE(d.Click(kTransmissionWarning));
        EXPECT_TRUE(d.IsOpen());
    });
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{kTransmissionWarningText});
    EXPECT_EQ(ui_->MessageBoxes()[0].type & MB_TYPEMASK, MB_OK);
    EXPECT_DOUBLE_EQ(Base("Load_transmission"), -kTwoPi);
}

struct ZeroRow {
    const char* parameter;
    int edit;
};

class ZeroTransmissionTest : public MotorSetupDlgTest,
                             public ::testing::WithParamInterface<ZeroRow> {};

TEST_P(ZeroTransmissionTest, ZeroBecomesOneMotorRevolution) {
    const ZeroRow& row = GetParam();
    Force(row.parameter, 2.0 * kTwoPi);
    Run([&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Text(row.edit), "2");
        ASSERT_TRUE(d.Type(row.edit, "0"));
        EXPECT_EQ(d.Text(row.edit), "1");
        d.Click(IDOK);
    });
    EXPECT_DOUBLE_EQ(Base(row.parameter), kTwoPi);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Sides, ZeroTransmissionTest,
                         ::testing::Values(ZeroRow{"Motor_transmission", kMotorTransmissionEdit},
                                           ZeroRow{"Load_transmission", kLoadTransmissionEdit}));

TEST_F(MotorSetupDlgTest, RotaryToLinearMovesTheLoadSideToLinearUnits) {
    Force("TransmissionType", 0);
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.SelectedText(kLoadTransmissionUnit), "rot");
        ASSERT_TRUE(d.Click(kRotaryToLinearRadio));
        EXPECT_EQ(d.SelectedText(kLoadTransmissionUnit), "mm");
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("TransmissionType"), 1.0);
    EXPECT_EQ(Parameter("Load_transmission").GetUnitName(), "mm");
}

// --- Enabling rules and the handlers that re-apply them ---------------------------------------

struct ToggleRow {
    const char* name;
    std::vector<std::pair<const char*, double>> before;
    int click;
    std::vector<int> controls;
    bool enabledBefore;
    const char* parameter;
    double stored;
};

class MotorSetupToggleTest : public MotorSetupDlgTest,
                             public ::testing::WithParamInterface<ToggleRow> {};

TEST_P(MotorSetupToggleTest, ClickReappliesTheEnablingRule) {
    const ToggleRow& row = GetParam();
    for (const auto& [name, value] : row.before) {
        Force(name, value);
    }
    Run([&](ui::headless::DialogDriver& d) {
        ExpectEnabled(d, row.controls, row.enabledBefore);
        ASSERT_TRUE(d.Click(row.click));
        ExpectEnabled(d, row.controls, !row.enabledBefore);
        d.Click(IDOK);
    });
    EXPECT_EQ(Base(row.parameter), row.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MotorSetupToggleTest,
    ::testing::Values(
        ToggleRow{"InertiaUnknown",
                  {{"isMotorInertiaUnknown", 0}},
                  1178,
                  kInertiaFields,
                  true,
                  "isMotorInertiaUnknown",
                  1},
        ToggleRow{"NoTemperatureSensor",
                  {{"isMotorTemperatureSensor", 1}},
                  kTemperatureCheck,
                  kSensorTypeFields,
                  true,
                  "isMotorTemperatureSensor",
                  0},
        ToggleRow{
            "EnDatOn", {{"isEnDatEncoder", 0}}, 3355, kEnDatFields, false, "isEnDatEncoder", 1},
        ToggleRow{"MultiTurn",
                  {{"isEnDatEncoder", 1}, {"isMultiTurn", 0}},
                  1204,
                  kMultiTurnFields,
                  false,
                  "isMultiTurn",
                  1},
        ToggleRow{"EnDatOffDisablesMultiTurn",
                  {{"isEnDatEncoder", 1}, {"isMultiTurn", 1}},
                  3355,
                  kMultiTurnFields,
                  true,
                  "isEnDatEncoder",
                  0},
        ToggleRow{
            "BrakeOff", {{"isMotorBrake", 1}}, kBrakeCheck, kBrakeFields, true, "isMotorBrake", 0},
        ToggleRow{"EncoderFilterOn",
                  {{"isFilterEnc", 0}},
                  kEncoderFilterCheck,
                  {kEncoderFilterList},
                  false,
                  "isFilterEnc",
                  1}),
    [](const ::testing::TestParamInfo<ToggleRow>& row) { return std::string(row.param.name); });

// --- Brake ------------------------------------------------------------------------------------

TEST_F(MotorSetupDlgTest, BrakeCaptionTellsHowTheChosenOutputAppliesTheBrake) {
    Force("MotorBrake_output", 2);
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_TRUE(d.IsEnabled(kBrakeGroup));
        EXPECT_TRUE(d.IsEnabled(kBrakeCheck));
        EXPECT_EQ(d.ItemData(kBrakeOutputList), (std::vector<DWORD_PTR>{2, 3}));
        EXPECT_EQ(d.SelectedData(kBrakeOutputList), DWORD_PTR{2});
        EXPECT_EQ(d.Text(kBrakeCaption),
                  "Motor brake is applied when PNP (source) output is connected to +Vlog.");
        ASSERT_TRUE(d.SelectData(kBrakeOutputList, 3));
        EXPECT_EQ(d.Text(kBrakeCaption),
                  "Motor brake is applied when NPN (sink) output is connected to GND.");
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("MotorBrake_output"), 3.0);
}

TEST_F(MotorSetupDlgTest, DriveWithoutBrakeOutputsDisablesTheBrakeChoice) {
    std::vector<qel::IoPort> ports = setup_->GetIoPorts();
    for (qel::IoPort& port : ports) {
        port.brake = false;
    }
    setup_->SetIoPorts(ports);
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(kBrakeGroup));
        EXPECT_FALSE(d.IsEnabled(kBrakeCheck));
        EXPECT_TRUE(d.ItemTexts(kBrakeOutputList).empty());
    });
}

TEST_F(MotorSetupDlgTest, SetupWithoutBrakeRegisterLeavesTheBrakeUnbound) {
    Remove("BRAKECFG");
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(kBrakeCheck));
        EXPECT_FALSE(d.IsChecked(kBrakeCheck));
        ExpectEnabled(d, kBrakeFields, false);
        EXPECT_EQ(d.Text(3389), "");
        EXPECT_EQ(d.Text(kBrakeCaption),
                  "Motor brake is applied when PNP (source) output is connected to +Vlog.");
    });
    EXPECT_TRUE(errors_.Messages().empty()) << errors_.Messages().front();
}

// --- Encoder filter and counting direction ----------------------------------------------------

TEST_F(MotorSetupDlgTest, EncoderFilterListOffersBandwidthFractions) {
    Force("isFilterEnc", 1);
    Force("FilterEncValue", 2);
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.ItemTexts(kEncoderFilterList),
                  (std::vector<std::string>{"1/3", "1/6", "1/12", "1/18", "1/24", "1/30", "1/36",
                                            "1/42", "1/48", "1/54", "1/60", "1/66", "1/72"}));
        EXPECT_EQ(d.ItemData(kEncoderFilterList),
                  (std::vector<DWORD_PTR>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        EXPECT_EQ(d.SelectedText(kEncoderFilterList), "1/12");
        ExpectEnabled(d, {kEncoderFilterCheck, kEncoderFilterList, 3270, 3272}, true);
        ASSERT_TRUE(d.Select(kEncoderFilterList, "1/24"));
        d.Click(IDOK);
    });
    EXPECT_EQ(Base("FilterEncValue"), 4.0);
}

struct OptionalRow {
    const char* name;
    const char* removed;
    std::vector<int> controls;
};

class OptionalFeatureTest : public MotorSetupDlgTest,
                            public ::testing::WithParamInterface<OptionalRow> {};

TEST_P(OptionalFeatureTest, MissingFeatureDisablesItsControlsWithoutReport) {
    const OptionalRow& row = GetParam();
    Run([&](ui::headless::DialogDriver& d) { ExpectEnabled(d, row.controls, true); });
    errors_.Clear();
    Remove(row.removed);
    Run([&](ui::headless::DialogDriver& d) { ExpectEnabled(d, row.controls, false); });
    EXPECT_TRUE(errors_.Messages().empty()) << errors_.Messages().front();
}

INSTANTIATE_TEST_SUITE_P(
    Features, OptionalFeatureTest,
    ::testing::Values(
        OptionalRow{"EncoderFilter", "isFilterEnc", {kEncoderFilterCheck, 3270, 3272}},
        OptionalRow{"ReverseCounting", "ReverseCounting", {kReverseCountingCheck}}),
    [](const ::testing::TestParamInfo<OptionalRow>& row) { return std::string(row.param.name); });

// --- OK ---------------------------------------------------------------------------------------

struct CloseRow {
    const char* name;
    bool clearSensor;
    bool closeByCommand;
    double overTemperature;
};

class MotorSetupCloseTest : public MotorSetupDlgTest,
                            public ::testing::WithParamInterface<CloseRow> {};

TEST_P(MotorSetupCloseTest, OkWithoutTemperatureSensorClearsOverTemperatureProtection) {
    const CloseRow& row = GetParam();
    Force("isMotorTemperatureSensor", 1);
    Force("isMotorOverTemp", 1);
    const INT_PTR result = Run([&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Bitmap(IDOK), "TO_DRIVESETUP");
        if (row.clearSensor) {
            ASSERT_TRUE(d.SetCheck(kTemperatureCheck, false));
        }
        if (row.closeByCommand) {
            d.Dialog().DispatchCommand(10018, BN_CLICKED);
        } else {
            d.Click(IDOK);
        }
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(Base("isMotorOverTemp"), row.overTemperature);
}

INSTANTIATE_TEST_SUITE_P(Closes, MotorSetupCloseTest,
                         ::testing::Values(CloseRow{"SensorKept", false, false, 1},
                                           CloseRow{"SensorCleared", true, false, 0},
                                           CloseRow{"SensorClearedClosedByCommand", true, true, 0}),
                         [](const ::testing::TestParamInfo<CloseRow>& row) {
                             return std::string(row.param.name);
                         });

// --- Window contents the kernel and the resources provide ------------------------------------

TEST_F(MotorSetupDlgTest, MotorDatabaseControlsBelongToTheKernelEditor) {
    Run([](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.ItemTexts(kDatabaseList), (std::vector<std::string>{"SYSTEM", "USER"}));
        EXPECT_EQ(d.Bitmap(3386), "3059");
    });
}

// --- Tests opened from the dialog -------------------------------------------------------------

// A test button and the template of the test dialog it opens (0 while it opens none).
struct TestButton {
    int button;
    int testTemplate;
};

class TestButtonStepsTest : public MotorSetupDlgTest,
                            public ::testing::WithParamInterface<TestButton> {};

TEST_P(TestButtonStepsTest, RegistersFollowTheParametersBeforeATestOpens) {
    const TestButton row = GetParam();
    Force("isEnDatEncoder", 1);  // the offset detection belongs to the EnDat interface
    const double gain = Base("KPI");
    Force("KPI", gain / 2.0);
    ui_->When(kTemplate, [&](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Click(row.button));
        EXPECT_TRUE(d.IsOpen());
        d.Click(IDCANCEL);
    });
    if (row.testTemplate != 0) {
        ui_->When(row.testTemplate, [&](ui::headless::DialogDriver& d) {
            EXPECT_EQ(Base("KPI"), gain);
            d.Click(IDCANCEL);
        });
    }
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    dialog.DoModal();
    ExpectScriptCompleted();
    EXPECT_EQ(Base("KPI"), gain);
    EXPECT_TRUE(ui_->MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Buttons, TestButtonStepsTest,
                         ::testing::Values(TestButton{kPhaseConnectionButton, 288},
                                           TestButton{kPolePairsButton, 289},
                                           TestButton{kResistanceInductanceButton, 290},
                                           TestButton{kEncoderConnectionsButton, 291},
                                           TestButton{kResolutionButton, 292},
                                           TestButton{kOffsetButton, 3058}));

TEST_F(MotorSetupDlgTest, TheResolutionTestsCountingDirectionOutlivesItsCancel) {
    constexpr int kResolutionTemplate = 292;
    constexpr int kTestsReverseCountingCheck = 3357;
    Force("ReverseCounting", 0);
    ui_->When(kTemplate, [&](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Click(kResolutionButton));
        EXPECT_TRUE(d.IsChecked(kReverseCountingCheck));
        d.Click(IDCANCEL);
    });
    ui_->When(kResolutionTemplate, [&](ui::headless::DialogDriver& d) {
        d.SetCheck(kTestsReverseCountingCheck, true);
        d.Click(IDCANCEL);
    });
    CMotorSetupDialog dialog(setup_.get(), nullptr);
    dialog.DoModal();
    ExpectScriptCompleted();
    EXPECT_EQ(Base("ReverseCounting"), 1.0);
}

// A Motor Setup dialog whose tests are scripted stand-ins.
class ScriptedMotorSetupDlg : public CMotorSetupDialog {
  public:
    using Test = std::function<INT_PTR()>;
    using DirectionTest = std::function<INT_PTR(int& direction)>;

    explicit ScriptedMotorSetupDlg(CQel_Setup* setup) : CMotorSetupDialog(setup, nullptr) {}

    Test phaseConnection, polePairs, resistanceInductance, encoderConnections, offset;
    DirectionTest resolution;

  protected:
    ChildRunner PhaseConnectionTest() override { return phaseConnection; }
    ChildRunner PolePairsTest() override { return polePairs; }
    ChildRunner ResistanceInductanceTest() override { return resistanceInductance; }
    ChildRunner EncoderConnectionsTest() override { return encoderConnections; }
    ChildRunner OffsetTest() override { return offset; }
    ChildRunner ResolutionTest(int& detectedDirection) override {
        return [this, &detectedDirection] { return resolution(detectedDirection); };
    }
};

struct RedisplayRow {
    const char* name;
    int button;
    INT_PTR result;
    const char* shownCurrent;
};

class TestRedisplayTest : public MotorSetupDlgTest,
                          public ::testing::WithParamInterface<RedisplayRow> {};

TEST_P(TestRedisplayTest, AcceptedTestRedisplaysEveryControl) {
    const RedisplayRow& row = GetParam();
    Force("isEnDatEncoder", 1);  // the offset detection belongs to the EnDat interface
    ScriptedMotorSetupDlg dialog(setup_.get());
    const ScriptedMotorSetupDlg::Test test = [&] {
        setup_->SetParameterValueInBaseUnit("In", 4.25);
        return row.result;
    };
    dialog.phaseConnection = test;
    dialog.encoderConnections = test;
    dialog.offset = test;
    Run(dialog, [&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Text(kNominalCurrentEdit), "3.5");
        ASSERT_TRUE(d.Click(row.button));
        EXPECT_EQ(d.Text(kNominalCurrentEdit), row.shownCurrent);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Tests, TestRedisplayTest,
    ::testing::Values(
        RedisplayRow{"PhaseConnectionOk", kPhaseConnectionButton, IDOK, "4.25"},
        RedisplayRow{"PhaseConnectionCancel", kPhaseConnectionButton, IDCANCEL, "3.5"},
        RedisplayRow{"EncoderConnectionsOk", kEncoderConnectionsButton, IDOK, "4.25"},
        RedisplayRow{"EncoderConnectionsCancel", kEncoderConnectionsButton, IDCANCEL, "3.5"},
        RedisplayRow{"OffsetOk", kOffsetButton, IDOK, "4.25"},
        RedisplayRow{"OffsetCancel", kOffsetButton, IDCANCEL, "3.5"}),
    [](const ::testing::TestParamInfo<RedisplayRow>& row) { return std::string(row.param.name); });

class PolePairsTestResultTest : public MotorSetupDlgTest,
                                public ::testing::WithParamInterface<INT_PTR> {};

TEST_P(PolePairsTestResultTest, AcceptedPolePairsRebuildTheInterpolationList) {
    const bool accepted = GetParam() == IDOK;
    Force("No_encoder_lines", 128);
    Force("pp", 3);
    ScriptedMotorSetupDlg dialog(setup_.get());
    dialog.polePairs = [this] {
        setup_->SetParameterValueInBaseUnit("pp", 4);
        return GetParam();
    };
    Run(dialog, [&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.ItemTexts(kInterpolationList).front(), "4");
        ASSERT_TRUE(d.Click(kPolePairsButton));
        EXPECT_EQ(d.Text(kPolePairsEdit), accepted ? "4" : "3");
        EXPECT_EQ(d.ItemTexts(kInterpolationList).front(), accepted ? "8" : "4");
    });
}

INSTANTIATE_TEST_SUITE_P(Results, PolePairsTestResultTest, ::testing::Values(IDOK, IDCANCEL));

class ResistanceInductanceResultTest : public MotorSetupDlgTest,
                                       public ::testing::WithParamInterface<INT_PTR> {};

TEST_P(ResistanceInductanceResultTest, AcceptedIdentificationShowsResistanceAndInductance) {
    const bool accepted = GetParam() == IDOK;
    ScriptedMotorSetupDlg dialog(setup_.get());
    dialog.resistanceInductance = [this] {
        setup_->SetParameterValueInBaseUnit("R", 2.5);
        setup_->SetParameterValueInBaseUnit("L", 0.005);
        return GetParam();
    };
    Run(dialog, [&](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Click(kResistanceInductanceButton));
        EXPECT_EQ(d.Text(kResistanceEdit), accepted ? "2.5" : "1.2");
        EXPECT_EQ(d.Text(kInductanceEdit), accepted ? "5" : "2.4");
    });
}

INSTANTIATE_TEST_SUITE_P(Results, ResistanceInductanceResultTest,
                         ::testing::Values(IDOK, IDCANCEL));

struct ResolutionRow {
    const char* name;
    INT_PTR result;
    int direction;
    // Expected:
    const char* shownLines;
    double reverseCounting;
};

class ResolutionTestResultTest : public MotorSetupDlgTest,
                                 public ::testing::WithParamInterface<ResolutionRow> {};

TEST_P(ResolutionTestResultTest, ResolutionOnOkAndDirectionEvenOnCancel) {
    const ResolutionRow& row = GetParam();
    Force("ReverseCounting", 0);
    ScriptedMotorSetupDlg dialog(setup_.get());
    dialog.resolution = [&](int& direction) {
        if (row.result == IDOK) {
            setup_->SetParameterValueInBaseUnit("No_encoder_lines", 2048);
        }
        direction = row.direction;
        return row.result;
    };
    Run(dialog, [&](ui::headless::DialogDriver& d) {
        ASSERT_TRUE(d.Click(kResolutionButton));
        EXPECT_EQ(d.Text(kLinesEdit), row.shownLines);
        EXPECT_EQ(d.IsChecked(kReverseCountingCheck), row.reverseCounting == 1.0);
    });
    EXPECT_EQ(Base("ReverseCounting"), row.reverseCounting);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ResolutionTestResultTest,
    ::testing::Values(ResolutionRow{"Ok", IDOK, 1, "2048", 0},
                      ResolutionRow{"CancelWithDirection", IDCANCEL, 1, "1024", 1},
                      ResolutionRow{"CancelWithoutDirection", IDCANCEL,
                                    CMotorSetupDialog::kNoDirectionDetected, "1024", 0}),
    [](const ::testing::TestParamInfo<ResolutionRow>& row) { return std::string(row.param.name); });

// --- Help -------------------------------------------------------------------------------------

TEST_F(MotorSetupDlgTest, HelpOpensTheTopicOfMotorSetup) {
    qel::SetGUIDirectory("/opt/host/");
    qel::SetHelpFileOfGUI("host.chm");
    Run([](ui::headless::DialogDriver& d) { ASSERT_TRUE(d.Click(CMySetupDlg::kHelpButtonId)); });
    ASSERT_EQ(ui_->HelpRequests().size(), 1U);
    EXPECT_EQ(ui_->HelpRequests()[0].file, "/opt/host/host.chm");
    EXPECT_EQ(ui_->HelpRequests()[0].topic, 0x40107U);
}

}  // namespace
