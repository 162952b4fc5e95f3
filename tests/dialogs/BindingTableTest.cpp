// Every binding of the seven setup dialogs, against the dialog's template and by a change of its
// control on the reference axis (tests/support/BindingTable.h).

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "dialogs/AdvancedDlg.h"
#include "dialogs/DriveInfoDlg.h"
#include "dialogs/DriveSetupDlg.h"
#include "dialogs/ExternalReferenceDlg.h"
#include "dialogs/FiltersDlg.h"
#include "dialogs/MotorInertiaDlg.h"
#include "dialogs/MotorSetupDlg.h"
#include "tests/support/BindingTable.h"

namespace {

using binding_table::DialogRules;

// The controller gains the setup dialogs re-quantise through their mantissa and shift registers
// (CMySetupDlg::OnChangedParameterValue): the held gain is within a register step of the typed one.
constexpr double kGainStep = 1e-3;
constexpr const char* kGainReason = "re-quantised through its mantissa and shift registers";
// A value the dialog derives again from the register it computed from it moves by the register's
// rounding.
constexpr double kRegisterStep = 1e-3;

// Each dialog made on the setup the way its parent makes it, with what its own code handles.
const std::vector<DialogRules>& SetupDialogRules() {
    static const std::vector<DialogRules> dialogs = {
        {106,
         "drive-setup",
         [](CQel_Setup& s) { return std::make_unique<CDriveSetupDlg>(&s, nullptr); },
         {
             {CQel_EditSetupDlg::kCanBaudRateComboId, "the kernel's CAN settings fill and read it"},
             {3136, "the axis ID list, filled and read by the dialog (FillAxisIdList)"},
         },
         {
             {"ControlMode", "SpeedForward", "ForceSpeedForward follows the control mode"},
             {"ControlMode", "isAnalogueReference", "modes other than position force analogue"},
             {"ControlMode", "GEARMASTER", "modes other than position reset the gear ratio"},
             {"ControlMode", "GEARSLAVE", "modes other than position reset the gear ratio"},
             {"ExternalReference", "isAutoActivatedAfterPowerOn",
              "no external reference clears the automatic activation"},
             {"Negative_SWLS", "Positive_SWLS", "PullSoftwareLimit keeps negative <= positive"},
             {"Positive_SWLS", "Negative_SWLS", "PullSoftwareLimit keeps negative <= positive"},
             {"InputsPolarityType", "EnablePolarity", "a new input type inverts every polarity"},
             {"InputsPolarityType", "LSNPolarity", "a new input type inverts every polarity"},
             {"InputsPolarityType", "LSPPolarity", "a new input type inverts every polarity"},
             {"Vdc", "Limit_Speed", "derive::Limit_Speed after the speed saturation (SATP)"},
         },
         {
             {"speed mode, speed error protection on, speed loop in the slow loop",
              {{"ControlMode", 1}, {"isSpeedControlError", 1}, {"PosSpd_in_FastLoop", 0}},
              {}},
             {"external reference on", {{"ExternalReference", 1}}, {}},
         },
         {
             {3290, "digital/analogue reference: shown here, chosen in External Reference"},
         },
         {
             {"Kp_C_scl", kGainStep, kGainReason},
             {"Ki_C_scl", kGainStep, kGainReason},
             {"Kp_S_scl", kGainStep, kGainReason},
             {"Ki_S_scl", kGainStep, kGainReason},
             {"Kp_P_scl", kGainStep, kGainReason},
             {"Ki_P_scl", kGainStep, kGainReason},
             {"Kd_P_scl", kGainStep, kGainReason},
             {"KFFA_scl", kGainStep, kGainReason},
             {"KFFS_scl", kGainStep, kGainReason},
             {"Limit_Speed", kRegisterStep, "derived again from SATP (OnRefreshParameterValue)"},
             {"StartCurrent", kRegisterStep, "derived again from REFTST (OnStartCurrentTakenOver)"},
         }},
        {108,
         "motor-setup",
         [](CQel_Setup& s) { return std::make_unique<CMotorSetupDialog>(&s, nullptr); },
         {
             {CQel_EditSetupDlg::kMotorDatabaseListId, "the kernel's motor database editor"},
             {CQel_EditSetupDlg::kMotorListId, "the kernel's motor database editor"},
         },
         {
             {"TransmissionType", "*",
              "SetUnitTypesByTransmission switches load-side parameters between rotary and "
              "linear units",
              true},
             {"In", "MAX_CURRENT", "CMySetupDlg bounds the angle test's current by In"},
             {"No_encoder_lines", "ENDAT_RES", "compute::ENDAT_RES follows the encoder lines"},
             {"SINCOS_fract", "ENDAT_RES", "compute::ENDAT_RES follows the interpolation"},
         },
         {
             {"EnDat encoder, multi-turn, encoder filter on",
              {{"isEnDatEncoder", 1}, {"isMultiTurn", 1}, {"isFilterEnc", 1}},
              {}},
         },
         {
             {3353, "equivalent counts per revolution, computed from the encoder"},
             {1206, "the EnDat resolution, computed by compute::ENDAT_RES"},
         },
         {},
         {
             {"SPI_freq", 1250000.0, "SnapSpiFrequency keeps multiples of the 250 kHz clock step"},
         }},
        {110,
         "advanced",
         [](CQel_Setup& s) { return std::make_unique<CAdvancedDialog>(&s, nullptr); },
         {},
         {
             {"PWM_freq", "PWMperiod", "derive::PWMperiod"},
             {"PWM_freq", "CLPER", "the divider nearest the wanted fast-loop period"},
             {"PWM_freq", "SLPER", "the divider nearest the wanted slow-loop period"},
             {"PWM_freq", "Ts_C", "derive::Ts_C"},
             {"PWM_freq", "Ts_S", "derive::Ts_S"},
             {"CLPER", "Ts_C", "derive::Ts_C (OnRefreshParameterValue)"},
             {"CLPER", "SLPER", "the slow divider is raised to the fast one"},
             {"SLPER", "Ts_S", "derive::Ts_S (OnRefreshParameterValue)"},
             {"PositionControlType", "SpeedForward", "ForceSpeedForward"},
             {"PosSpd_in_FastLoop", "SpeedForward", "ForceSpeedForward"},
             {"PWM_freq", "*",
              "OnRefreshParameterValue recomputes the registers and derives the parameters again",
              false, kRegisterStep},
             {"SLPER", "*",
              "RescaleToSlowLoopPeriod, then the registers and parameters computed again", false,
              kRegisterStep},
         },
         {
             {"speed and position loops in the fast loop", {{"PosSpd_in_FastLoop", 1}}, {}},
         },
         {
             {1138, "the PWM period, derived from the PWM frequency"},
             {1141, "the fast-loop period, derived from the divider"},
             {1144, "the slow-loop period, derived from the divider"},
         },
         {
             {"PWM_freq", kRegisterStep, "derived again from the PWM period register"},
         }},
        {111,
         "external-reference-setup",
         [](CQel_Setup& s) { return std::make_unique<CAnalogReferenceDlg>(&s, nullptr); },
         {},
         {
             {"DeadBand_Range", "DeadBand_Point", "limits::DeadBand_Range"},
             {"DeadBand_Point", "DeadBand_Range", "limits::DeadBand_Range"},
             {"POS_max", "POS_min", "OnChangedParameterUnit: the lower end takes its unit", true},
             {"SPD_max", "SPD_min", "OnChangedParameterUnit: the lower end takes its unit", true},
             {"CRT_max", "CRT_min", "OnChangedParameterUnit: the lower end takes its unit", true},
             {"DeadBand_Point", "DeadBand_Range",
              "OnChangedParameterUnit: the range takes its unit", true},
         },
         {
             {"analogue reference, limited, filtered",
              {{"isAnalogueReference", 1}, {"isLimitMaximum", 1}, {"UseFilter", 1}},
              {}},
             {"digital reference, limited",
              {{"isAnalogueReference", 0}, {"isLimitMaximum", 1}},
              {}},
             {"speed mode, analogue reference, limited, filtered",
              {{"ControlMode", 1},
               {"isAnalogueReference", 1},
               {"isLimitMaximum", 1},
               {"UseFilter", 1}},
              {}},
             {"torque mode, analogue reference, filtered",
              {{"ControlMode", 2}, {"isAnalogueReference", 1}, {"UseFilter", 1}},
              {}},
         }},
        {295,
         "filters",
         [](CQel_Setup& s) { return std::make_unique<CFiltersDialog>(&s, false, nullptr); },
         {},
         {},
         {
             {"every filter on, second-order low pass",
              {{"BQFilter1", 1},
               {"BQFilter2", 1},
               {"BQFilter3", 1},
               {"BQFilterType1", 1},
               {"BQFilterType2", 1},
               {"BQFilterType3", 1}},
              {}},
             {"every filter on, lead-lag",
              {{"BQFilter1", 1},
               {"BQFilter2", 1},
               {"BQFilter3", 1},
               {"BQFilterType1", 9},
               {"BQFilterType2", 9},
               {"BQFilterType3", 9}},
              {}},
         }},
        {3018,
         "drive-info",
         [](CQel_Setup& s) { return std::make_unique<CDriveInfo>(&s, nullptr); },
         {
             {3275, "the drive's description, read into the setup's identity"},
             {3276, "the EEPROM size, read into the setup's identity"},
             {3277, "the product ID, read into the setup's identity"},
             {3278, "the firmware ID, read into the setup's identity"},
             {3114, "the user application ID, read into the setup's identity"},
         },
         {
             {"isDriveTemperatureSensor", "isDriveOverTemp",
              "KeepTemperatureProtectionConsistent: no sensor, no over-temperature protection"},
             {"isDriveOverTemp", "isDriveTemperatureSensor", "KeepTemperatureProtectionConsistent"},
             {"InPS", "MAX_CURRENT", "CMySetupDlg bounds the angle test's current by InPS"},
         },
         {
             {"every protection and the temperature sensor on",
              {{"isDriveTemperatureSensor", 1},
               {"isDriveOverTemp", 1},
               {"isOverVoltage", 1},
               {"isUnderVoltage", 1},
               {"isDriveI2t", 1}},
              {}},
         },
         {},
         {},
         {},
         // The drive's data edits are enabled by the service key chord.
         [](ui::headless::DialogDriver& d) {
             d.PressKey(CDriveInfo::kServiceKey, ui::Modifiers{true, true, true});
         }},
        {3056,
         "motor-inertia",
         [](CQel_Setup& s) { return std::make_unique<CInertiaQuestion>(&s, nullptr); },
         {
             {3333, "the answer to the question, kept by the dialog (choice_)"},
             {3334, "the answer to the question, kept by the dialog (choice_)"},
         },
         {}},
    };
    return dialogs;
}

class SetupDialogBindingTest : public ::testing::TestWithParam<DialogRules> {};

TEST_P(SetupDialogBindingTest, BindingsMatchTheTemplate) {
    binding_table::CheckBindingsAgainstTemplate(GetParam());
}

INSTANTIATE_TEST_SUITE_P(SetupDialogs, SetupDialogBindingTest,
                         ::testing::ValuesIn(SetupDialogRules()), binding_table::DialogName{});

class SetupDialogBindingRowTest : public ::testing::TestWithParam<binding_table::BindingRow> {};

TEST_P(SetupDialogBindingRowTest, ChangesOnlyItsOwnParameter) {
    binding_table::RunBindingRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(SetupDialogs, SetupDialogBindingRowTest,
                         ::testing::ValuesIn(binding_table::BindingRows(SetupDialogRules())),
                         binding_table::RowName{});

}  // namespace
