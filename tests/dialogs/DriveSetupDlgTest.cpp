#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/DriveSetupDlg.h"
#include "engine/Derivation.h"
#include "engine/ParameterLimits.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

using ui::headless::DialogDriver;

const std::string kAxisIdWarning =
    "If your drive is set in CANopen mode, the axis ID values must be in the range 1-127. Any "
    "value over 127 will set the drive as non-configured and further CANopen communication will "
    "be disabled until a valid Axis ID will be set in the drive. Leave the drive with a "
    "non-configured axis ID only if you intend to set the Axis ID later via a CANopen master "
    "using CiA305 LSS protocol.";

std::string StartCurrentWarning(const char* seconds) {
    return std::string(
               "You have set a start current bigger than the nominal current! The start "
               "current will be applied for ") +
           seconds +
           " s.\n\nThe motor must withstand this over current condition or it may be damaged.";
}

constexpr const char* kHighToVlog = "Active high (Connected to +Vlog)";
constexpr const char* kLowOpen = "Active low (Open/No connection)";
constexpr const char* kHighOpen = "Active high (Open/No connection)";
constexpr const char* kLowToGround = "Active low (Connected to GND)";

// A direct change of the setup before the dialog is constructed.
using SetupChange = std::function<void(CQel_Setup&)>;

void SetRegisterBit(CQel_Setup& setup, const char* name, int bit, bool set) {
    CQel_Parameter& parameter = *setup.FindParameter(name);
    parameter.SetValueInBaseUnit(engine::WithBit(parameter.GetValueInBaseUnit(), bit, set));
}

class DriveSetupDlgTest : public DialogTest {
  protected:
    // Runs the dialog with one step, taken as soon as it is shown (before Motor Setup comes up).
    int Run(const ui::headless::DialogAction& action) {
        ui_->When(CDriveSetupDlg::kTemplateId, action);
        CDriveSetupDlg dialog(setup_.get(), nullptr);
        return static_cast<int>(dialog.DoModal());
    }
    // The user values (with their registers), then a direct change of the setup.
    void PrepareAxis(const Values& user, const SetupChange& prepare) {
        ShapeAxis(user);
        if (prepare) {
            prepare(*setup_);
        }
    }
};

TEST_F(DriveSetupDlgTest, ConstructionDerivesParametersAndLimits) {
    Force("SFTKPI", 0);
    Force("KPI", 16384);
    CQel_Setup expected(*setup_);
    DeriveUserParameters(expected);
    ComputeParameterLimits(expected);
    Parameter("PB_C").SetMaxInBaseUnit(1e9);
    CDriveSetupDlg dialog(setup_.get(), nullptr);
    EXPECT_DOUBLE_EQ(Base("Kp_C_scl"), 16384.0 / 32767.0);
    EXPECT_EQ(Parameter("PB_C").GetMaxInBaseUnit(),
              expected.FindParameter("PB_C")->GetMaxInBaseUnit());
}

struct SpeedForwardRow {
    const char* name;
    int mode;
    int loops;
    bool held;
    bool forced;
};

class SpeedForwardTest : public DriveSetupDlgTest,
                         public ::testing::WithParamInterface<SpeedForwardRow> {};

TEST_P(SpeedForwardTest, ConstructionForcesSpeedFeedForwardOutsidePositionSpeedLoop) {
    const SpeedForwardRow row = GetParam();
    if (!row.held) {
        Remove("SpeedForward");
    }
    PrepareAxis({{"ControlMode", row.mode}, {"PositionControlType", row.loops}},
                [&](CQel_Setup& s) {
                    if (row.held) {
                        s.SetParameterValueInBaseUnit("SpeedForward", 0);
                    }
                    SetRegisterBit(s, "ACR", regfmt::kAcrSpeedForwardBit, false);
                });
    errors_.Clear();
    CDriveSetupDlg dialog(setup_.get(), nullptr);
    if (row.held) {
        EXPECT_EQ(Base("SpeedForward"), row.forced ? 1.0 : 0.0);
    }
    EXPECT_EQ(engine::IsBitSet(Base("ACR"), regfmt::kAcrSpeedForwardBit), row.forced);
    EXPECT_TRUE(errors_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, SpeedForwardTest,
                         ::testing::Values(SpeedForwardRow{"Speed", 1, 1, true, true},
                                           SpeedForwardRow{"Torque", 2, 1, true, true},
                                           SpeedForwardRow{"PositionCurrent", 0, 0, true, true},
                                           SpeedForwardRow{"PositionSpeed", 0, 1, true, false},
                                           SpeedForwardRow{"NotHeld", 1, 1, false, false}),
                         RowName());

TEST_F(DriveSetupDlgTest, ShownWithAxisIdsGuidelinesAndBitmap) {
    Run([&](DialogDriver& d) {
        const std::vector<std::string> ids = d.ItemTexts(3136);
        ASSERT_EQ(ids.size(), 256U);
        EXPECT_EQ(ids[0] + ids[126] + ids[254] + ids[255], "1127255H/W");
        EXPECT_EQ(d.Bitmap(10019), "TO_MOTORSETUP");
        EXPECT_EQ(d.Text(10007).rfind("Step 1.\tIn the <<External reference>> group box", 0), 0U);
        for (int step = 2; step <= 9; ++step) {
            d.Click(10006);
            EXPECT_EQ(d.Text(10007).rfind("Step " + std::to_string(step) + ".", 0), 0U);
        }
        EXPECT_EQ(d.Text(10007).substr(0, 48), "Step 9. Select the start method to be used. For ");
        EXPECT_FALSE(d.IsEnabled(10006));
        d.Click(IDCANCEL);
    });
    ExpectScriptCompleted();
}

// --- Control states when the dialog is shown ----------------------------------------------------

struct StateRow {
    const char* name;
    Values user{};
    SetupChange prepare{};
    std::vector<Look> looks{};
};

class StateTest : public DriveSetupDlgTest, public ::testing::WithParamInterface<StateRow> {};

TEST_P(StateTest, ControlsFollowSetup) {
    const StateRow& row = GetParam();
    PrepareAxis(row.user, row.prepare);
    Run([&](DialogDriver& d) {
        ExpectLooks(d, row.looks);
        d.Click(IDCANCEL);
    });
    ExpectScriptCompleted();
}

SetupChange Without(std::vector<const char*> names) {
    return [names](CQel_Setup& s) {
        for (const char* name : names) {
            s.RemoveParameter(name);
        }
    };
}
SetupChange WithOption(const char* name, const char* text) {
    return [=](CQel_Setup& s) { s.SetOption(name, text); };
}
// The input type: its option (null: none), the drive's description and the ASR type bit.
SetupChange InputType(const char* programmable, const char* description, bool holdsType,
                      bool asrSourcing) {
    return [=](CQel_Setup& s) {
        if (programmable == nullptr) {
            s.ClearOption("IsInputsTypeProgrammable");
        } else {
            s.SetOption("IsInputsTypeProgrammable", programmable);
        }
        s.SetDescription(description);
        if (!holdsType) {
            s.RemoveParameter("InputsPolarityType");
            SetRegisterBit(s, "ASR", regfmt::kAsrInputsPolarityBit, asrSourcing);
        }
    };
}
std::vector<Look> InputLooks(bool source, bool sink, bool enabled, const char* high,
                             const char* low) {
    return {Checked(3405, source),  Checked(3406, sink), Enabled(3405, enabled),
            Enabled(3406, enabled), Text(3403, high),    Text(3404, low)};
}
// Speed controller, speed acceleration feed-forward, position controller, position speed and
// acceleration feed-forwards (shown, enabled), load speed limit, speed-loop speed feed-forward,
// the two control-error check boxes.
std::vector<Look> Loops(bool speedController, bool speedAcceleration, bool positionController,
                        bool positionSpeedShown, bool positionSpeedEnabled,
                        bool positionAccelerationShown, bool positionAccelerationEnabled,
                        bool loadLimit, bool speedLoopSpeed, bool positionError, bool speedError) {
    return {Enabled(3179, speedController),
            Shown(3183, speedAcceleration),
            Enabled(3190, positionController),
            Shown(3196, positionSpeedShown),
            Enabled(3196, positionSpeedEnabled),
            Shown(3197, positionAccelerationShown),
            Enabled(3197, positionAccelerationEnabled),
            Shown(1043, loadLimit),
            Shown(3393, speedLoopSpeed),
            Enabled(3230, positionError),
            Enabled(3231, speedError)};
}
// Start-mode group, its two radios, current and time fields, tune button.
std::vector<Look> Start(bool group, bool aligned, bool motionless, bool fields, bool tune) {
    return {Enabled(3255, group),  Enabled(1096, aligned), Enabled(1097, motionless),
            Enabled(3257, fields), Enabled(3260, fields),  Enabled(3263, tune)};
}
Values Mode(int mode, int loops, int fastLoop) {
    return {
        {"ControlMode", mode}, {"PositionControlType", loops}, {"PosSpd_in_FastLoop", fastLoop}};
}
const SetupChange kNoPlacement = Without({"SpeedForward"});

INSTANTIATE_TEST_SUITE_P(
    Rules, StateTest,
    ::testing::Values(
        StateRow{"Torque",
                 Mode(2, 1, 0),
                 {},
                 Loops(false, false, false, false, false, false, true, false, false, false, false)},
        StateRow{"Speed",
                 Mode(1, 1, 0),
                 {},
                 Loops(true, true, false, false, false, false, true, false, true, false, true)},
        StateRow{"SpeedFastLoop",
                 Mode(1, 1, 1),
                 {},
                 Loops(true, false, false, false, false, false, true, false, false, false, true)},
        StateRow{"SpeedNoPlacement", Mode(1, 1, 0), kNoPlacement,
                 Loops(true, true, false, false, false, false, true, false, false, false, true)},
        StateRow{"PositionSpeedLoop",
                 Mode(0, 1, 0),
                 {},
                 Loops(true, false, true, true, true, true, true, true, false, true, false)},
        StateRow{"PositionFastLoop",
                 Mode(0, 0, 1),
                 {},
                 Loops(false, false, true, false, false, false, false, false, false, true, false)},
        StateRow{"PositionSlowLoop",
                 Mode(0, 0, 0),
                 {},
                 Loops(false, false, true, true, true, true, true, false, false, true, false)},
        StateRow{"PositionFastLoopNoPlacement", Mode(0, 0, 1), kNoPlacement,
                 Loops(false, false, true, true, false, true, false, false, false, true, false)},
        StateRow{"PositionSlowLoopNoPlacement", Mode(0, 0, 0), kNoPlacement,
                 Loops(false, false, true, true, false, true, true, false, false, true, false)},
        StateRow{"AlignedStart", {{"StartMode", 0}}, {}, Start(true, true, true, true, false)},
        StateRow{"MotionlessStart", {{"StartMode", 1}}, {}, Start(true, true, true, false, true)},
        StateRow{"MotionlessNoAngleController",
                 {{"StartMode", 1}},
                 Without({"KPTHT"}),
                 Start(true, true, false, false, false)},
        StateRow{"EnDatAligned",
                 {{"isEnDatEncoder", 1}, {"StartMode", 0}},
                 {},
                 Start(false, false, false, false, false)},
        StateRow{"EnDatMotionless",
                 {{"isEnDatEncoder", 1}, {"StartMode", 1}},
                 {},
                 Start(false, false, false, false, false)},
        StateRow{"MotorTemperature", {{"isMotorTemperatureSensor", 1}}, {}, {Enabled(3232)}},
        StateRow{"MotorTemperatureDisabled",
                 {{"isMotorTemperatureSensor", 1}},
                 WithOption("DisableMotorTemperature", "1"),
                 {Enabled(3232, false)}},
        StateRow{"NoMotorTemperatureSensor",
                 {{"isMotorTemperatureSensor", 0}},
                 {},
                 {Enabled(3232, false)}},
        StateRow{"EnablePolarityHidden",
                 {},
                 WithOption("hideEnablePolarity", "1"),
                 {Shown(3248, false), Shown(1046, false), Shown(1047, false)}},
        StateRow{"EnablePolarityShown",
                 {},
                 WithOption("hideEnablePolarity", "0"),
                 {Shown(3248), Shown(1046), Shown(1047)}},
        StateRow{"SoftwareLimitsOn",
                 {{"isSWLS", 1}},
                 {},
                 {Enabled(3276), Enabled(3338), Enabled(3274), Enabled(3271)}},
        StateRow{"SoftwareLimitsOff",
                 {{"isSWLS", 0}},
                 {},
                 {Enabled(3338), Enabled(3274, false), Enabled(3273, false), Enabled(3272, false)}},
        StateRow{"NoSoftwareLimits",
                 {},
                 Without({"isSWLS"}),
                 {Enabled(3276, false), Enabled(3338, false), Enabled(3274, false)}},
        StateRow{"CanSettingsSaved",
                 {},
                 {},
                 {Enabled(10021), Enabled(10023), Enabled(3136), Enabled(3349), Shown(3377)}},
        StateRow{"CanBaudRateNotSaved",
                 {{"save_CAN_baudrate", 0}},
                 {},
                 {Enabled(10021, false), Enabled(10023, false), Enabled(3136)}},
        StateRow{"AxisIdNotSaved",
                 {{"save_axis_id", 0}},
                 {},
                 {Enabled(3136, false), Enabled(3349, false), Enabled(10021)}},
        StateRow{"NoCanSettings",
                 {},
                 Without({"save_axis_id"}),
                 {Shown(3377, false), Shown(3378, false)}},
        StateRow{
            "ExternalReference", {{"ExternalReference", 1}}, {}, {Enabled(3208), Enabled(3116)}},
        StateRow{"NoExternalReference",
                 {{"ExternalReference", 0}},
                 {},
                 {Enabled(3208, false), Enabled(3116, false)}},
        StateRow{"AnalogueInput", {}, {}, {Enabled(3262)}},
        StateRow{"NoAnalogueParameter", {}, Without({"CADIN"}), {Enabled(3262, false)}},
        StateRow{"NoAnalogueVariable",
                 {},
                 [](CQel_Setup& s) { s.RemoveVariable("CADIN"); },
                 {Enabled(3262, false)}},
        StateRow{
            "EncoderReference",
            {},
            [](CQel_Setup&
                   s) { SetRegisterBit(s, "ACR", regfmt::kAcrDigitalReferenceTypeBit, false); },
            {Text(3318, "Incremental Encoder")}},
        StateRow{"PulseDirectionReference",
                 {},
                 [](CQel_Setup&
                        s) { SetRegisterBit(s, "ACR", regfmt::kAcrDigitalReferenceTypeBit, true); },
                 {Text(3318, "Pulse && Direction")}},
        StateRow{"AxisId1", {{"Axis_ID_list", 1}}, {}, {Selected(3136, "1")}},
        StateRow{"AxisId128", {{"Axis_ID_list", 128}}, {}, {Selected(3136, "128")}},
        StateRow{"AxisId255", {{"Axis_ID_list", 255}}, {}, {Selected(3136, "255")}},
        StateRow{"AxisIdHardware", {{"Axis_ID_list", 0}}, {}, {Selected(3136, "H/W")}},
        StateRow{"UnknownTypeZQDrive",
                 {},
                 InputType(nullptr, "BRV-4816 ZQ", false, false),
                 InputLooks(false, true, false, kHighToVlog, kLowOpen)},
        StateRow{"UnknownTypeDrive",
                 {},
                 InputType(nullptr, "BRV-4816", false, false),
                 InputLooks(true, false, false, kHighOpen, kLowToGround)},
        StateRow{"ProgrammableSink",
                 {{"InputsPolarityType", 1}},
                 InputType("1", "", true, false),
                 InputLooks(false, true, true, kHighToVlog, kLowOpen)},
        StateRow{"ProgrammableSource",
                 {{"InputsPolarityType", 0}},
                 InputType("1", "", true, false),
                 InputLooks(true, false, true, kHighOpen, kLowToGround)},
        StateRow{"FixedSink",
                 {{"InputsPolarityType", 1}},
                 InputType("0", "", true, false),
                 InputLooks(false, true, false, kHighToVlog, kLowOpen)},
        StateRow{"RegisterSourcing",
                 {},
                 InputType("0", "", false, true),
                 InputLooks(true, false, false, kHighOpen, kLowToGround)},
        StateRow{"RegisterSinking",
                 {},
                 InputType("0", "", false, false),
                 InputLooks(false, true, false, kHighToVlog, kLowOpen)}),
    RowName());

// --- Handlers ---------------------------------------------------------------------------------

struct ActionRow {
    const char* name;
    Values user{};
    std::function<void(DialogDriver&, CQel_Setup&)> act{};
    Values expected{};
    std::vector<Look> looks{};
    std::vector<std::string> messages{};
};

class ActionTest : public DriveSetupDlgTest, public ::testing::WithParamInterface<ActionRow> {};

TEST_P(ActionTest, HandlerUpdatesSetupAndControls) {
    const ActionRow& row = GetParam();
    PrepareAxis(row.user, [](CQel_Setup& s) {
        s.SetParameterValueInBaseUnit("GEARMASTER", 3);
        s.SetParameterValueInBaseUnit("GEARSLAVE", 2);
    });
    Run([&](DialogDriver& d) {
        row.act(d, *setup_);
        ExpectValues(row.expected);
        ExpectLooks(d, row.looks);
        if (d.IsOpen()) {
            d.Click(IDCANCEL);
        }
    });
    EXPECT_EQ(MessageTexts(), row.messages);
    ExpectScriptCompleted();
}

std::function<void(DialogDriver&, CQel_Setup&)> Click(int id) {
    return [id](DialogDriver& d, CQel_Setup&) { d.Click(id); };
}
std::function<void(DialogDriver&, CQel_Setup&)> Type(
    std::vector<std::pair<int, const char*>> typed) {
    return [typed](DialogDriver& d, CQel_Setup&) {
        for (const auto& [id, text] : typed) {
            d.Type(id, text);
        }
    };
}
std::function<void(DialogDriver&, CQel_Setup&)> ChooseAxisId(const char* text) {
    return [text](DialogDriver& d, CQel_Setup&) {
        d.Select(3136, text);
        EXPECT_EQ(d.SelectedText(3136), text);
        d.Click(IDOK);
    };
}
std::function<void(DialogDriver&, CQel_Setup&)> ChangeMode(int radio) {
    return [radio](DialogDriver& d, CQel_Setup& s) {
        s.SetParameterValueInBaseUnit("SpeedForward", 0);
        d.Click(radio);
    };
}
// Software limits in revolutions, typed positive, negative, then the last into its edit.
Values Limits(double negative_rot, double positive_rot) {
    constexpr double kRadiansPerTurn = 6.283185307179586;
    return {{"Negative_SWLS", negative_rot * kRadiansPerTurn},
            {"Positive_SWLS", positive_rot * kRadiansPerTurn}};
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, ActionTest,
    ::testing::Values(
        ActionRow{"PositionToTorque",
                  {{"ControlMode", 0}, {"isAnalogueReference", 0}},
                  ChangeMode(1061),
                  {{"ControlMode", 2},
                   {"GEARMASTER", 1},
                   {"GEARSLAVE", 1},
                   {"isAnalogueReference", 1},
                   {"SpeedForward", 1}},
                  {Checked(3291), Enabled(3190, false), Enabled(3179, false)}},
        ActionRow{
            "PositionToSpeed",
            {{"ControlMode", 0}, {"isAnalogueReference", 0}},
            ChangeMode(1060),
            {{"GEARMASTER", 1}, {"GEARSLAVE", 1}, {"isAnalogueReference", 1}, {"SpeedForward", 1}},
            {Enabled(3190, false), Enabled(3179), Enabled(3231)}},
        ActionRow{
            "SpeedToPosition",
            {{"ControlMode", 1}, {"PositionControlType", 1}, {"isAnalogueReference", 0}},
            ChangeMode(1059),
            {{"GEARMASTER", 3}, {"GEARSLAVE", 2}, {"isAnalogueReference", 0}, {"SpeedForward", 0}},
            {Checked(3290), Enabled(3190), Enabled(3230)}},
        ActionRow{"OverCurrentOff",
                  {},
                  Click(3213),
                  {{"isOverCurrent", 0}},
                  {Enabled(3214, false), Enabled(3234, false), Enabled(3217, false)}},
        ActionRow{"I2tOff",
                  {},
                  Click(3233),
                  {{"isMotori2t", 0}},
                  {Enabled(3226, false), Enabled(3229, false)}},
        ActionRow{"PositionErrorOff",
                  {},
                  Click(3230),
                  {{"isPositionControlError", 0}},
                  {Enabled(3218, false), Enabled(3221, false)}},
        ActionRow{"SpeedErrorOff",
                  {{"ControlMode", 1}},
                  Click(3231),
                  {{"isSpeedControlError", 0}},
                  {Enabled(3222, false), Enabled(3225, false)}},
        ActionRow{"SpeedErrorOn",
                  {{"ControlMode", 1}, {"isSpeedControlError", 0}},
                  Click(3231),
                  {{"isSpeedControlError", 1}},
                  {Enabled(3222), Enabled(3238)}},
        ActionRow{"BrakeResistorOff",
                  {},
                  Click(3243),
                  {{"isBrakeResistor", 0}},
                  {Enabled(3244, false), Enabled(3246, false)}},
        ActionRow{"SoftwareLimitsOff",
                  {},
                  Click(3338),
                  {{"isSWLS", 0}},
                  {Enabled(3274, false), Enabled(3272, false)}},
        ActionRow{"CanBaudRateNotSaved",
                  {},
                  Click(3377),
                  {{"save_CAN_baudrate", 0}},
                  {Enabled(10021, false)}},
        ActionRow{"AxisIdNotSaved", {}, Click(3378), {{"save_axis_id", 0}}, {Enabled(3136, false)}},
        ActionRow{"MotionlessStart",
                  {},
                  Click(1097),
                  {{"StartMode", 1}},
                  {Enabled(3257, false), Enabled(3260, false), Enabled(3263)}},
        ActionRow{"NoExternalReference",
                  {{"ExternalReference", 1}, {"isAutoActivatedAfterPowerOn", 1}},
                  Click(1063),
                  {{"ExternalReference", 0}, {"isAutoActivatedAfterPowerOn", 0}},
                  {Checked(3116, false)}},
        ActionRow{"NegativeAbovePositive",
                  {},
                  Type({{3271, "10"}, {3274, "-10"}, {3274, "20"}}),
                  Limits(10, 10),
                  {Text(3274, "10")}},
        ActionRow{"PositiveBelowNegative",
                  {},
                  Type({{3271, "10"}, {3274, "-5"}, {3271, "-8"}}),
                  Limits(-5, -5),
                  {Text(3271, "-5")}},
        ActionRow{"NegativeBelowPositive",
                  {},
                  Type({{3271, "10"}, {3274, "-10"}, {3274, "5"}}),
                  Limits(5, 10)},
        ActionRow{"PositiveAboveNegative",
                  {},
                  Type({{3271, "10"}, {3274, "-10"}, {3271, "-2"}}),
                  Limits(-10, -2)},
        ActionRow{"SourceToSink",
                  {{"InputsPolarityType", 0},
                   {"EnablePolarity", 1},
                   {"LSNPolarity", 0},
                   {"LSPPolarity", 1}},
                  Click(3406),
                  {{"InputsPolarityType", 1},
                   {"EnablePolarity", 0},
                   {"LSNPolarity", 1},
                   {"LSPPolarity", 0}},
                  {Checked(1046), Checked(3254), Checked(3251), Text(3403, kHighToVlog),
                   Text(3404, kLowOpen)}},
        ActionRow{"SinkToSource",
                  {{"InputsPolarityType", 1},
                   {"EnablePolarity", 0},
                   {"LSNPolarity", 1},
                   {"LSPPolarity", 1}},
                  Click(3405),
                  {{"InputsPolarityType", 0},
                   {"EnablePolarity", 1},
                   {"LSNPolarity", 0},
                   {"LSPPolarity", 0}},
                  {Checked(1047), Checked(3253), Checked(3251), Text(3403, kHighOpen),
                   Text(3404, kLowToGround)}},
        ActionRow{"StartCurrentNominal", {}, Type({{3257, "100"}})},
        ActionRow{"StartCurrentBelow", {}, Type({{3257, "60"}})},
        ActionRow{"StartCurrentAbove",
                  {},
                  Type({{3257, "100.5"}}),
                  {},
                  {},
                  {StartCurrentWarning("1.00")}},
        ActionRow{"StartCurrentLongAlignment",
                  {{"time_AB", 0.75}},
                  Type({{3257, "150"}}),
                  {},
                  {},
                  {StartCurrentWarning("1.50")}},
        ActionRow{"AxisId2", {}, ChooseAxisId("2"), {{"Axis_ID_list", 2}}},
        ActionRow{"AxisId127", {}, ChooseAxisId("127"), {{"Axis_ID_list", 127}}},
        ActionRow{
            "AxisId128", {}, ChooseAxisId("128"), {{"Axis_ID_list", 128}}, {}, {kAxisIdWarning}},
        ActionRow{
            "AxisId255", {}, ChooseAxisId("255"), {{"Axis_ID_list", 255}}, {}, {kAxisIdWarning}},
        ActionRow{"AxisIdHardware", {}, ChooseAxisId("H/W"), {{"Axis_ID_list", 0}}}),
    RowName());

TEST_F(DriveSetupDlgTest, StartCurrentRecomputesStartVoltageAtOnce) {
    Run([&](DialogDriver& d) {
        d.Type(3257, "80");
        CQel_Setup expected(*setup_);
        compute::REFTST(expected);
        compute::RINCTST(expected);
        EXPECT_EQ(Base("REFTST"), expected.FindParameter("REFTST")->GetValueInBaseUnit());
        EXPECT_EQ(Base("RINCTST"), expected.FindParameter("RINCTST")->GetValueInBaseUnit());
        EXPECT_NEAR(Base("StartCurrent"), 80.0, 0.01);
        d.Click(IDCANCEL);
    });
}

struct SaturationRow {
    const char* name;
    int editId;
    const char* typed;
};

class SaturationTest : public DriveSetupDlgTest,
                       public ::testing::WithParamInterface<SaturationRow> {};

TEST_P(SaturationTest, PositionOutputSaturationAndLimitsFollowAtOnce) {
    const SaturationRow row = GetParam();
    Run([&](DialogDriver& d) {
        Force("SATP", 0);
        Parameter("PB_C").SetMaxInBaseUnit(1e9);
        d.Type(row.editId, row.typed);
        CQel_Setup expected(*setup_);
        compute::SATP(expected);
        derive::Limit_Speed(expected);
        ComputeParameterLimits(expected);
        EXPECT_NE(Base("SATP"), 0.0);
        EXPECT_EQ(Base("SATP"), expected.FindParameter("SATP")->GetValueInBaseUnit());
        EXPECT_EQ(Base("Limit_Speed"), expected.FindParameter("Limit_Speed")->GetValueInBaseUnit());
        EXPECT_EQ(Parameter("PB_C").GetMaxInBaseUnit(),
                  expected.FindParameter("PB_C")->GetMaxInBaseUnit());
        d.Click(IDCANCEL);
    });
}

INSTANTIATE_TEST_SUITE_P(Rows, SaturationTest,
                         ::testing::Values(SaturationRow{"SupplyVoltage", 3163, "36"},
                                           SaturationRow{"LoadSpeedLimit", 1043, "250"}),
                         RowName());

struct CloseRow {
    const char* name;
    bool stillTyping;
    int button;
};

class CloseTest : public DriveSetupDlgTest, public ::testing::WithParamInterface<CloseRow> {};

TEST_P(CloseTest, OkMakesRegistersAndOptionsFollowCancelDoesNot) {
    const CloseRow row = GetParam();
    const double registerBefore = Base("IMAXPROT");
    setup_->ClearOption("IsClosedSpeed");
    const int result = Run([&](DialogDriver& d) {
        row.stillTyping ? d.EnterText(3214, "5") : d.Type(3214, "5");
        d.Click(row.button);
    });
    EXPECT_EQ(result, row.button);
    EXPECT_EQ(Base("Imax_Prot"), 5.0);
    CQel_Setup expected(*setup_);
    compute::IMAXPROT(expected);
    ASSERT_NE(expected.FindParameter("IMAXPROT")->GetValueInBaseUnit(), registerBefore);
    const bool ok = row.button == IDOK;
    EXPECT_EQ(Base("IMAXPROT"),
              ok ? expected.FindParameter("IMAXPROT")->GetValueInBaseUnit() : registerBefore);
    EXPECT_EQ(setup_->FindOption("IsClosedSpeed"),
              ok ? std::optional<std::string>("1") : std::nullopt);
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(Rows, CloseTest,
                         ::testing::Values(CloseRow{"Ok", false, IDOK},
                                           CloseRow{"OkWhileTyping", true, IDOK},
                                           CloseRow{"Cancel", false, IDCANCEL}),
                         RowName());

// --- Children and tests -------------------------------------------------------------------------

struct ButtonRow {
    const char* name;
    int buttonId;
    int childTemplate;  // 0: a drive test, which opens nothing yet
    bool limitsBefore;
};

class ButtonTest : public DriveSetupDlgTest, public ::testing::WithParamInterface<ButtonRow> {};

TEST_P(ButtonTest, RegistersAndDerivationRunBeforeChild) {
    const ButtonRow row = GetParam();
    ShapeAxis({{"ExternalReference", 1}, {"StartMode", 1}});
    CQel_Setup reference(*setup_);
    DeriveUserParameters(reference);
    ComputeParameterLimits(reference);
    double kpiSeen = 0.0;
    double maxSeen = 0.0;
    const auto look = [&] {
        kpiSeen = Base("KPI");
        maxSeen = Parameter("PB_C").GetMaxInBaseUnit();
    };
    ui_->When(CDriveSetupDlg::kTemplateId, [&](DialogDriver& d) {
        Force("Kp_C_scl", 12.0);
        Parameter("PB_C").SetMaxInBaseUnit(1e9);
        d.Click(row.buttonId);
        if (row.childTemplate == 0) {
            look();
        }
        d.Click(IDCANCEL);
    });
    if (row.childTemplate != 0) {
        ui_->When(row.childTemplate, [&](DialogDriver& d) {
            look();
            d.Click(IDCANCEL);
        });
    }
    CDriveSetupDlg dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_EQ(kpiSeen, HeldMantissa(12.0));
    EXPECT_EQ(maxSeen,
              row.limitsBefore ? reference.FindParameter("PB_C")->GetMaxInBaseUnit() : 1e9);
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(Rows, ButtonTest,
                         ::testing::Values(ButtonRow{"DetectSupply", 3171, 105, false},
                                           ButtonRow{"TuneCurrent", 3137, 101, false},
                                           ButtonRow{"TuneSpeed", 3178, 102, true},
                                           ButtonRow{"TunePosition", 3198, 103, false},
                                           ButtonRow{"TuneStartMode", 3263, 3057, false},
                                           ButtonRow{"ExternalReference", 3208, 111, true},
                                           ButtonRow{"Advanced", 3158, 110, false},
                                           ButtonRow{"DriveInfo", 3159, 3018, false},
                                           ButtonRow{"MotorSetup", 10019, 108, false}),
                         RowName());

struct FeedForwardRow {
    const char* name;
    Values loops;
    int advancedButton;
    double speedFeedForward;
    double accelerationFeedForward;
};

class FeedForwardResetTest : public DriveSetupDlgTest,
                             public ::testing::WithParamInterface<FeedForwardRow> {};

TEST_P(FeedForwardResetTest, AdvancedOkClearsFeedForwardsWithoutSpeedLoop) {
    const FeedForwardRow& row = GetParam();
    ShapeAxis(row.loops);
    ShapeAxis({{"KFFS_scl", 0.75}, {"KFFA_scl", 0.5}});
    ui_->When(CDriveSetupDlg::kTemplateId, [&](DialogDriver& d) {
        d.Click(3158);
        d.Click(IDCANCEL);
    });
    ui_->When(110, [&](DialogDriver& d) { d.Click(row.advancedButton); });
    CDriveSetupDlg dialog(setup_.get(), nullptr);
    dialog.DoModal();
    EXPECT_NEAR(Base("KFFS_scl"), row.speedFeedForward, 1e-4);
    EXPECT_NEAR(Base("KFFA_scl"), row.accelerationFeedForward, 1e-4);
    EXPECT_TRUE(MessageTexts().empty());
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FeedForwardResetTest,
    ::testing::Values(FeedForwardRow{"PositionFastLoop", Mode(0, 0, 1), IDOK, 0, 0},
                      FeedForwardRow{"PositionSlowLoop", Mode(0, 0, 0), IDOK, 0, 0.5},
                      FeedForwardRow{"PositionSpeedLoop", Mode(0, 1, 0), IDOK, 0.75, 0.5},
                      FeedForwardRow{"Speed", Mode(1, 1, 0), IDOK, 0.75, 0.5},
                      FeedForwardRow{"Cancelled", Mode(0, 0, 1), IDCANCEL, 0.75, 0.5}),
    RowName());

struct MotorSetupRow {
    const char* name;
    int button;
    bool registersFollow;
};

class MotorSetupTimerTest : public DriveSetupDlgTest,
                            public ::testing::WithParamInterface<MotorSetupRow> {};

TEST_P(MotorSetupTimerTest, MotorSetupOpensBySelfAfterShowing) {
    const MotorSetupRow row = GetParam();
    CDriveSetupDlg dialog(setup_.get(), nullptr);
    const double kpi = Base("KPI");
    Force("Kp_C_scl", 12.0);
    std::uint64_t openedAt_ms = 0;
    double kpiSeen = 0.0;
    ui_->When(108, [&](DialogDriver& d) {
        openedAt_ms = ui_->Now_ms();
        kpiSeen = Base("KPI");
        d.Click(row.button);
    });
    ui_->When(CDriveSetupDlg::kTemplateId, [&](DialogDriver& d) { d.Click(IDCANCEL); });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(openedAt_ms, CDriveSetupDlg::kMotorSetupDelay_ms);
    EXPECT_EQ(kpiSeen, kpi);
    EXPECT_EQ(Base("KPI"), row.registersFollow ? HeldMantissa(Base("Kp_C_scl")) : kpi);
    ExpectScriptCompleted();
}

INSTANTIATE_TEST_SUITE_P(Rows, MotorSetupTimerTest,
                         ::testing::Values(MotorSetupRow{"Ok", IDOK, true},
                                           MotorSetupRow{"Cancel", IDCANCEL, false}),
                         RowName());

}  // namespace
