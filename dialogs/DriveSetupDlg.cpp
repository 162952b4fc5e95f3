#include "dialogs/DriveSetupDlg.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialogs/AdvancedDlg.h"
#include "dialogs/DriveInfoDlg.h"
#include "dialogs/ExternalReferenceDlg.h"
#include "dialogs/MotorSetupDlg.h"
#include "engine/AxisOptions.h"
#include "engine/Derivation.h"
#include "engine/ParameterLimits.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"

namespace {

using setupdlg::AsInteger;
using setupdlg::HoldsQuietly;
using setupdlg::NameIs;
using setupdlg::ReadQuietly;

// Controls.
constexpr int kAnalogueCaptionId = 3262;
constexpr int kDigitalReferenceCaptionId = 3318;
constexpr int kAxisIdComboId = 3136;
constexpr int kSourceRadioId = 3405;
constexpr int kSinkRadioId = 3406;
constexpr int kActiveHighCaptionId = 3403;
constexpr int kActiveLowCaptionId = 3404;
constexpr int kMotorSetupButtonId = 10019;
constexpr int kPositionErrorCheckId = 3230;
constexpr int kSpeedErrorCheckId = 3231;
constexpr int kStartModeGroupId = 3255;
constexpr int kAlignedStartRadioId = 1096;
constexpr int kMotionlessStartRadioId = 1097;
constexpr int kStartModeTuneId = 3263;
constexpr int kMotorOverTempCheckId = 3232;
constexpr int kSwlsCheckId = 3338;
constexpr int kCanBaudRateCheckId = 3377;
constexpr int kAxisIdCheckId = 3378;
constexpr int kSpeedFeedForwardEditId = 3393;
constexpr int kSpeedFeedForwardCaptionId = 3394;

// Commands.
constexpr UINT kDetectId = 3171;
constexpr UINT kTuneCurrentId = 3137;
constexpr UINT kTuneSpeedId = 3178;
constexpr UINT kTunePositionId = 3198;
constexpr UINT kTuneStartModeId = 3263;
constexpr UINT kExternalReferenceSetupId = 3208;
constexpr UINT kAdvancedId = 3158;
constexpr UINT kDriveInfoId = 3159;

// Zero-terminated control groups of the rules.
constexpr int kOverCurrentFields[] = {3234, 3214, 3215, 3235, 3216, 3217, 0};
constexpr int kI2tFields[] = {3240, 3226, 3227, 3241, 3228, 3229, 0};
constexpr int kPositionErrorFields[] = {3236, 3218, 3219, 3237, 3220, 3221, 0};
constexpr int kSpeedErrorFields[] = {3238, 3222, 3223, 3239, 3224, 3225, 0};
constexpr int kSpeedController[] = {3177, 3178, 3184, 3179, 3185, 3180, 3186, 3181, 3182, 0};
constexpr int kSpeedAccelerationFeedForward[] = {3187, 3188, 3183, 0};
constexpr int kPositionController[] = {3189, 3198, 3199, 3190, 3200, 3191, 3201,
                                       3192, 3202, 3193, 3203, 3194, 3195, 0};
constexpr int kPositionFeedForward[] = {3204, 3205, 3206, 3196, 3197, 0};
constexpr int kPositionSpeedFeedForward[] = {3205, 3196, 0};
constexpr int kPositionAccelerationFeedForward[] = {3204, 3206, 3197, 0};
constexpr int kLoadSpeedLimit[] = {1101, 1043, 1044, 0};
constexpr int kSpeedLoopFeedForwardVariant[] = {3187, 3183, 3393, 3188, 3394, 0};
constexpr int kPositionLoopFeedForwardVariant[] = {3204, 3197, 3196, 3206, 3205, 0};
constexpr int kCanBaudRate[] = {10023, 10021, 0};
constexpr int kAxisId[] = {3349, 3136, 0};
constexpr int kStartModeFields[] = {3256, 3259, 3257, 3260, 3258, 3261, 0};
constexpr int kBrakeResistorFields[] = {3246, 3244, 3245, 0};
constexpr int kEnablePolarityRow[] = {3248, 1047, 1046, 0};
constexpr int kSoftwareLimitSwitchGroup[] = {3276, 3338, 0};
constexpr int kSoftwareLimitSwitchFields[] = {3273, 3270, 3274, 3271, 3275, 3272, 0};
constexpr int kExternalReferenceFields[] = {3208, 3116, 0};
constexpr int kInputTypeRadios[] = {3406, 3405, 0};

// The axis-ID list: ids 1 to 255, then the id set by the drive's switches.
constexpr int kHighestAxisId = 255;
constexpr const char* kHardwareAxisId = "H/W";
// Items above this index are axis IDs a CANopen network does not accept (128 and up).
constexpr int kLastCanOpenAxisIdIndex = 126;
constexpr int kLastNumberedAxisIdIndex = kHighestAxisId - 1;

// The start current is given in per cent of the nominal current.
constexpr double kNominalStartCurrent_percent = 100.0;
// The aligned start holds the start current on phase B, then on phase A, each for time_AB.
constexpr double kAlignmentPhases = 2.0;

constexpr const char* kCaptionActiveHighToLogicSupply = "Active high (Connected to +Vlog)";
constexpr const char* kCaptionActiveLowOpen = "Active low (Open/No connection)";
constexpr const char* kCaptionActiveHighOpen = "Active high (Open/No connection)";
constexpr const char* kCaptionActiveLowToGround = "Active low (Connected to GND)";
constexpr const char* kCaptionIncrementalEncoder = "Incremental Encoder";
constexpr const char* kCaptionPulseAndDirection = "Pulse && Direction";

constexpr const char* kStartCurrentWarning =
    "You have set a start current bigger than the nominal current! The start current will be "
    "applied for %.2f s.\n\nThe motor must withstand this over current condition or it may be "
    "damaged.";
constexpr const char* kAxisIdWarning =
    "If your drive is set in CANopen mode, the axis ID values must be in the range 1-127. Any "
    "value over 127 will set the drive as non-configured and further CANopen communication will "
    "be disabled until a valid Axis ID will be set in the drive. Leave the drive with a "
    "non-configured axis ID only if you intend to set the Axis ID later via a CANopen master "
    "using CiA305 LSS protocol.";

// On when it holds anything but 0 (a value that is not a number counts as off).
bool IsNonZero(double value) {
    return std::isfinite(value) && value != 0.0;
}

// Room for the warning with any number of seconds.
constexpr std::size_t kMessageSize = 512;
constexpr int kDecimal = 10;

std::string StartCurrentWarning(double alignment_s) {
    char text[kMessageSize];
    std::snprintf(text, sizeof text, kStartCurrentWarning, alignment_s);
    return text;
}

// The leading decimal number of a text; 0 when it has none ("H/W").
int LeadingNumber(const std::string& text) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, kDecimal);
    return errno == 0 ? static_cast<int>(std::clamp(value, 0L, static_cast<long>(kHighestAxisId)))
                      : 0;
}

}  // namespace

CDriveSetupDlg::CDriveSetupDlg(CQel_Setup* setup, CWnd* parent)
    : CMySetupDlg(setup, kTemplateId, 1, setupdlg::GuidelineTexts(kTemplateId).Texts(), parent) {
    DeriveUserParameters(*setup);
    ComputeParameterLimits(*setup);
    if (HasSpeedForward(*setup)) {
        ForceSpeedForward(*setup);
    }

    AddParameterControls("Vdc", 3163, 3166);
    AddParameterControls("IlimPS", 3169, 3170);
    AddParameterControls("Kp_C_scl", 3173, 0);
    AddParameterControls("Ki_C_scl", 3176, 0);
    AddParameterControls("Kp_S_scl", 3179, 0);
    AddParameterControls("Ki_S_scl", 3180, 0);
    AddParameterControls("IPSatS", 3181, 3182);
    AddParameterControls("KFFA_scl", 3183, 0);
    AddParameterControls("KFFS_scl", 3393, 0);
    AddParameterControls("Kp_P_scl", 3190, 0);
    AddParameterControls("Ki_P_scl", 3191, 0);
    AddParameterControls("Kd_P_scl", 3192, 0);
    AddParameterControls("filter_D", 3193, 0);
    AddParameterControls("IPSatP", 3194, 3195);
    AddParameterControls("KFFS_scl", 3196, 0);
    AddParameterControls("KFFA_scl", 3197, 0);
    AddParameterControls("Limit_Speed", 1043, 1044);
    AddSwitchParameterControls("ControlMode", 1059, 1061);
    AddSwitchParameterControls("ExternalReference", 1063, 1064);
    AddCheckParameterControls("isAutoActivatedAfterPowerOn", 3116);
    AddSwitchParameterControls("isAnalogueReference", 3290, 3291);
    AddCheckParameterControls("isOverCurrent", 3213);
    AddParameterControls("Imax_Prot", 3214, 3215);
    AddParameterControls("time_Imax_Prot", 3216, 3217);
    AddCheckParameterControls("isPositionControlError", 3230);
    AddParameterControls("ERR_position", 3218, 3219);
    AddParameterControls("time_ERR_pos", 3220, 3221);
    AddCheckParameterControls("isSpeedControlError", 3231);
    AddParameterControls("ERR_speed", 3222, 3223);
    AddParameterControls("time_ERR_spd", 3224, 3225);
    AddCheckParameterControls("isMotorOverTemp", 3232);
    AddCheckParameterControls("isMotori2t", 3233);
    AddParameterControls("I_I2t_M", 3226, 3227);
    AddParameterControls("t_I2t_M", 3228, 3229);
    AddCheckParameterControls("isBrakeResistor", 3243);
    AddParameterControls("Vbrake", 3244, 3245);
    if (!HidesEnablePolarity(*setup)) {
        AddSwitchParameterControls("EnablePolarity", 1046, 1047);
    }
    AddSwitchParameterControls("LSPPolarity", 3251, 3252);
    AddSwitchParameterControls("LSNPolarity", 3253, 3254);
    if (HasInputsPolarityType(*setup)) {
        AddSwitchParameterControls("InputsPolarityType", 3405, 3406);
    }
    if (HoldsQuietly(*setup, "isSWLS")) {
        AddCheckParameterControls("isSWLS", 3338);
        AddParameterControls("Negative_SWLS", 3274, 3275);
        AddParameterControls("Positive_SWLS", 3271, 3272);
    }
    AddSwitchParameterControls("StartMode", 1096, 1097);
    AddParameterControls("StartCurrent", 3257, 3258);
    AddParameterControls("time_AB", 3260, 3261);
    if (HasCANSettings(*setup)) {
        AddCheckParameterControls("save_CAN_baudrate", 3377);
        AddCheckParameterControls("save_axis_id", 3378);
    }
    EnableCANSettings();
}

BOOL CDriveSetupDlg::OnInitDialog() {
    CMySetupDlg::OnInitDialog();
    SetButtonImage(kMotorSetupButtonId, "TO_MOTORSETUP");

    const CQel_Setup& setup = *GetSetup();
    EnableChild(kAnalogueCaptionId, HasAnalogueReferenceInput(setup), 0);
    FillAxisIdList();
    ShowDigitalReferenceCaption();
    SetUpInputType();
    UpdateData(FALSE);
    return TRUE;
}

void CDriveSetupDlg::FillAxisIdList() {
    for (int axisId = 1; axisId <= kHighestAxisId; ++axisId) {
        axisIdCombo_.AddString(std::to_string(axisId));
    }
    axisIdCombo_.AddString(kHardwareAxisId);

    const CQel_Setup& setup = *GetSetup();
    if (!HoldsQuietly(setup, "Axis_ID_list")) {
        return;
    }
    const int axisId = AsInteger(setup.GetParameterValueInBaseUnit("Axis_ID_list"));
    const std::string wanted = axisId == 0 ? std::string(kHardwareAxisId) : std::to_string(axisId);
    axisIdCombo_.SetCurSel(axisIdCombo_.FindStringExact(-1, wanted));
}

void CDriveSetupDlg::ShowDigitalReferenceCaption() {
    const bool encoder = IsNonZero(GetSetup()->GetParameterValueInBaseUnit("DigitalReferenceType"));
    SetChildText(kDigitalReferenceCaptionId,
                 encoder ? kCaptionIncrementalEncoder : kCaptionPulseAndDirection);
}

void CDriveSetupDlg::ShowInputTypeCaptions(bool connectedToLogicSupply) {
    SetChildText(kActiveHighCaptionId,
                 connectedToLogicSupply ? kCaptionActiveHighToLogicSupply : kCaptionActiveHighOpen);
    SetChildText(kActiveLowCaptionId,
                 connectedToLogicSupply ? kCaptionActiveLowOpen : kCaptionActiveLowToGround);
}

void CDriveSetupDlg::SetUpInputType() {
    const CQel_Setup& setup = *GetSetup();
    const int programmable = GetInputsTypeProgrammable(setup);
    const bool hasType = HasInputsPolarityType(setup);
    EnableChildren(kInputTypeRadios, hasType && programmable == 1, 0);

    // Sinking inputs are connected to the logic supply when active; sourcing ones to ground.
    const auto checkSinking = [this](bool sinking) {
        CheckDlgButton(kSinkRadioId, sinking ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(kSourceRadioId, sinking ? BST_UNCHECKED : BST_CHECKED);
        ShowInputTypeCaptions(sinking);
    };
    if (programmable == -1) {
        checkSinking(setup.GetDescription().find("ZQ") != std::string::npos);
    } else if (hasType) {
        ShowInputTypeCaptions(
            engine::IsOne(setup.GetParameterValueInBaseUnit("InputsPolarityType")));
    } else {
        const double asr = setup.GetParameterValueInBaseUnit("ASR");
        checkSinking(!engine::IsBitSet(asr, regfmt::kAsrInputsPolarityBit));
    }
}

void CDriveSetupDlg::DoDataExchange(CDataExchange* pDX) {
    CMySetupDlg::DoDataExchange(pDX);
    DDX_Control(pDX, kAxisIdComboId, axisIdCombo_);
    if (!pDX->m_bSaveAndValidate) {
        ApplyRules();
    }
}

void CDriveSetupDlg::ApplyRules() {
    const CQel_Setup& setup = *GetSetup();
    const auto value = [&setup](std::string_view name) {
        return setup.GetParameterValueInBaseUnit(name);
    };
    const int mode = AsInteger(value("ControlMode"));
    const int loops = AsInteger(value("PositionControlType"));
    const double fastLoop = ReadQuietly(setup, "PosSpd_in_FastLoop");
    const bool positionMode = mode == regfmt::kControlModePosition;
    const bool speedMode = mode == regfmt::kControlModeSpeed;
    const bool speedLoopClosed =
        speedMode || (positionMode && loops == regfmt::kPositionControlWithSpeedLoop);

    EnableChildren(kSpeedController, speedLoopClosed, 0);
    ShowChildren(kSpeedAccelerationFeedForward, speedMode);
    EnableChildren(kPositionController, positionMode, 0);
    ShowChildren(kPositionFeedForward, positionMode);
    EnableChildren(kPositionSpeedFeedForward, positionMode && speedLoopClosed, 0);
    EnableChildren(kPositionAccelerationFeedForward,
                   !(positionMode && !speedLoopClosed && engine::IsOne(fastLoop)), 0);
    ShowChildren(kLoadSpeedLimit, positionMode && speedLoopClosed);

    if (HasSpeedForward(setup)) {
        const auto showVariant = [this](const int* group, bool shown) {
            ShowChildren(group, shown);
            if (shown) {
                EnableChildren(group, TRUE, 0);
            }
        };
        const bool speedLoopVariant = fastLoop == 0.0 && speedMode;
        const bool positionLoopVariant = fastLoop == 0.0 && positionMode &&
                                         (loops == regfmt::kPositionControlWithoutSpeedLoop ||
                                          loops == regfmt::kPositionControlWithSpeedLoop);
        showVariant(kSpeedLoopFeedForwardVariant, speedLoopVariant);
        showVariant(kPositionLoopFeedForwardVariant, positionLoopVariant);
    } else {
        ShowChild(kSpeedFeedForwardEditId, 0);
        ShowChild(kSpeedFeedForwardCaptionId, 0);
    }

    EnableChildren(kOverCurrentFields, engine::IsOne(value("isOverCurrent")), 0);
    EnableChildren(kI2tFields, engine::IsOne(value("isMotori2t")), 0);

    EnableChild(kPositionErrorCheckId, positionMode, 0);
    EnableChildren(kPositionErrorFields, positionMode && IsNonZero(value("isPositionControlError")),
                   0);
    EnableChild(kSpeedErrorCheckId, speedMode, 0);
    EnableChildren(kSpeedErrorFields, speedMode && IsNonZero(value("isSpeedControlError")), 0);

    const bool endat = IsNonZero(value("isEnDatEncoder"));
    const bool angleController = HoldsQuietly(setup, "KPTHT");
    const double startMode = value("StartMode");
    EnableChild(kStartModeGroupId, !endat, 0);
    EnableChild(kAlignedStartRadioId, !endat, 0);
    EnableChildren(kStartModeFields, startMode == 0.0 && !endat, 0);
    EnableChild(kStartModeTuneId, engine::IsOne(startMode) && !endat && angleController, 0);
    EnableChild(kMotionlessStartRadioId, !endat && angleController, 0);

    int motorTemperatureDisabled = 0;
    {
        const QuietLookups quiet;
        motorTemperatureDisabled = setup.GetIntOption("DisableMotorTemperature");
    }
    EnableChild(kMotorOverTempCheckId,
                motorTemperatureDisabled == 0 && engine::IsOne(value("isMotorTemperatureSensor")),
                0);

    EnableChildren(kBrakeResistorFields, engine::IsOne(value("isBrakeResistor")), 0);
    ShowChildren(kEnablePolarityRow, !HidesEnablePolarity(setup));

    const bool softwareLimits = HoldsQuietly(setup, "isSWLS");
    EnableChildren(kSoftwareLimitSwitchGroup, softwareLimits, 0);
    EnableChildren(kSoftwareLimitSwitchFields, softwareLimits && engine::IsOne(value("isSWLS")), 0);

    EnableChildren(kExternalReferenceFields, engine::IsOne(value("ExternalReference")), 0);

    if (HasCANSettings(setup)) {
        EnableChildren(kCanBaudRate, engine::IsOne(value("save_CAN_baudrate")), 0);
        EnableChildren(kAxisId, engine::IsOne(value("save_axis_id")), 0);
    } else {
        ShowChild(kCanBaudRateCheckId, 0);
        ShowChild(kAxisIdCheckId, 0);
    }

    ShowDigitalReferenceCaption();
    RefreshAllParameters(0);
}

BOOL CDriveSetupDlg::OnCommand(UINT id, UINT notifyCode) {
    if (id == kAxisIdComboId && notifyCode == CBN_SELCHANGE) {
        WarnAboutAxisId();
        return TRUE;
    }
    if (notifyCode != BN_CLICKED) {
        return CMySetupDlg::OnCommand(id, notifyCode);
    }
    switch (id) {
        case kDetectId:
            OnDetectSupplyVoltage();
            return TRUE;
        case kTuneCurrentId:
            OnTuneCurrentController();
            return TRUE;
        case kTuneSpeedId:
            OnTuneSpeedController();
            return TRUE;
        case kTunePositionId:
            OnTunePositionController();
            return TRUE;
        case kTuneStartModeId:
            OnTuneStartMode();
            return TRUE;
        case kExternalReferenceSetupId:
            OnExternalReferenceSetup();
            return TRUE;
        case kAdvancedId:
            OnAdvanced();
            return TRUE;
        case kDriveInfoId:
            OnDriveInfo();
            return TRUE;
        case kMotorSetupButtonId:
            OnMotorSetup();
            return TRUE;
        case kHelpButtonId:
            ShowHelp(kHelpTopic);
            return TRUE;
        case kSwlsCheckId:
        case kCanBaudRateCheckId:
        case kAxisIdCheckId:
            UpdateData(FALSE);
            return TRUE;
        default:
            return CMySetupDlg::OnCommand(id, notifyCode);
    }
}

void CDriveSetupDlg::OnDetectSupplyVoltage() {
    OpenChild(DriveTestChild(DriveTest::VdcDetection), ChildSteps{});
}

void CDriveSetupDlg::OnTuneCurrentController() {
    OpenChild(DriveTestChild(DriveTest::CurrentController), ChildSteps{});
}

void CDriveSetupDlg::OnTuneSpeedController() {
    ChildSteps steps;
    steps.limitsBefore = true;
    OpenChild(DriveTestChild(DriveTest::SpeedController), steps);
}

void CDriveSetupDlg::OnTunePositionController() {
    OpenChild(DriveTestChild(DriveTest::PositionController), ChildSteps{});
}

void CDriveSetupDlg::OnTuneStartMode() {
    OpenChild(DriveTestChild(DriveTest::AngleController), ChildSteps{});
}

void CDriveSetupDlg::OnExternalReferenceSetup() {
    ChildSteps steps;
    steps.limitsBefore = true;
    OpenChild(
        [this] {
            CAnalogReferenceDlg child(GetSetup(), nullptr);
            return child.DoModal();
        },
        steps);
}

void CDriveSetupDlg::OnAdvanced() {
    ChildSteps steps;
    steps.beforeRecompute = [this] { ResetFeedForwardsAfterAdvanced(); };
    steps.refreshAll = false;
    OpenChild(
        [this] {
            CAdvancedDialog child(GetSetup(), nullptr);
            return child.DoModal();
        },
        steps);
}

void CDriveSetupDlg::OnDriveInfo() {
    ChildSteps steps;
    steps.updateData = false;
    OpenChild(
        [this] {
            CDriveInfo child(GetSetup(), nullptr);
            return child.DoModal();
        },
        steps);
}

void CDriveSetupDlg::OnMotorSetup() {
    RunMotorSetup(ChildSteps{});
}

void CDriveSetupDlg::RunMotorSetup(const ChildSteps& steps) {
    OpenChild(
        [this] {
            CMotorSetupDialog child(GetSetup(), nullptr);
            return child.DoModal();
        },
        steps);
}

void CDriveSetupDlg::ResetFeedForwardsAfterAdvanced() {
    CQel_Setup& setup = *GetSetup();
    const int mode = AsInteger(setup.GetParameterValueInBaseUnit("ControlMode"));
    const int loops = AsInteger(setup.GetParameterValueInBaseUnit("PositionControlType"));
    const double fastLoop = ReadQuietly(setup, "PosSpd_in_FastLoop");
    if (mode != regfmt::kControlModePosition || loops != regfmt::kPositionControlWithoutSpeedLoop) {
        return;
    }
    setup.SetParameterValueInBaseUnit("KFFS_scl", 0.0);
    if (engine::IsOne(fastLoop)) {
        setup.SetParameterValueInBaseUnit("KFFA_scl", 0.0);
    }
}

void CDriveSetupDlg::OnShowWindow(BOOL show, UINT status) {
    CMySetupDlg::OnShowWindow(show, status);
    CenterWindow();
    if (show) {
        SetTimer(kMotorSetupTimerId, kMotorSetupDelay_ms);
    }
}

void CDriveSetupDlg::OnTimer(UINT_PTR timerId) {
    KillTimer(kMotorSetupTimerId);
    if (timerId == kMotorSetupTimerId) {
        ChildSteps steps;
        steps.computeBefore = false;
        RunMotorSetup(steps);
    }
    CMySetupDlg::OnTimer(timerId);
}

void CDriveSetupDlg::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (NameIs(name, "ControlMode")) {
        if (HasSpeedForward(setup)) {
            ForceSpeedForward(setup);
        }
        if (AsInteger(setup.GetParameterValueInBaseUnit("ControlMode")) !=
            regfmt::kControlModePosition) {
            setup.SetParameterValueInBaseUnit("GEARMASTER", 1.0);
            setup.SetParameterValueInBaseUnit("GEARSLAVE", 1.0);
            setup.SetParameterValueInBaseUnit("isAnalogueReference", 1.0);
            RefreshAllParameters(0);
        }
        UpdateData(FALSE);
    } else if (NameIs(name, "isOverCurrent") || NameIs(name, "isMotori2t") ||
               NameIs(name, "isPositionControlError") || NameIs(name, "isSpeedControlError") ||
               NameIs(name, "StartMode") || NameIs(name, "isBrakeResistor")) {
        UpdateData(FALSE);
    } else if (NameIs(name, "ExternalReference")) {
        if (setup.GetParameterValueInBaseUnit("ExternalReference") == 0.0) {
            setup.SetParameterValueInBaseUnit("isAutoActivatedAfterPowerOn", 0.0);
            RefreshParameterControls("isAutoActivatedAfterPowerOn");
        }
    } else if (NameIs(name, "Negative_SWLS") || NameIs(name, "Positive_SWLS")) {
        PullSoftwareLimit(name);
    }
    CMySetupDlg::OnChangedParameterValue(name);
}

void CDriveSetupDlg::PullSoftwareLimit(std::string_view edited) {
    CQel_Setup& setup = *GetSetup();
    const double negative = setup.GetParameterValueInBaseUnit("Negative_SWLS");
    const double positive = setup.GetParameterValueInBaseUnit("Positive_SWLS");
    if (!(negative > positive)) {
        return;
    }
    if (NameIs(edited, "Negative_SWLS")) {
        setup.SetParameterValueInBaseUnit("Negative_SWLS", positive);
    } else {
        setup.SetParameterValueInBaseUnit("Positive_SWLS", negative);
    }
    RefreshParameterControls(edited);
}

void CDriveSetupDlg::OnRefreshParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (NameIs(name, "Vdc") || NameIs(name, "Limit_Speed")) {
        compute::SATP(setup);
        derive::Limit_Speed(setup);
        ComputeParameterLimits(setup);
        RefreshAllParameters(0);
    } else if (NameIs(name, "InputsPolarityType")) {
        for (const char* polarity : {"EnablePolarity", "LSNPolarity", "LSPPolarity"}) {
            const double was = setup.GetParameterValueInBaseUnit(polarity);
            setup.SetParameterValueInBaseUnit(polarity, was == 0.0 ? 1.0 : 0.0);
        }
        ShowInputTypeCaptions(
            engine::IsOne(setup.GetParameterValueInBaseUnit("InputsPolarityType")));
        RefreshAllParameters(0);
    } else if (NameIs(name, "StartCurrent")) {
        OnStartCurrentTakenOver();
    }
    CMySetupDlg::OnRefreshParameterValue(name);
}

void CDriveSetupDlg::OnStartCurrentTakenOver() {
    CQel_Setup& setup = *GetSetup();
    // The warning judges what the user set: the round trip through the start-voltage register
    // moves the value by a fraction of a register count (100 % may come back as 100.006 %).
    const double entered_percent = setup.GetParameterValueInBaseUnit("StartCurrent");
    compute::REFTST(setup);
    compute::RINCTST(setup);
    derive::StartCurrent(setup);
    RefreshParameterControls("StartCurrent");
    if (entered_percent > kNominalStartCurrent_percent) {
        const double alignment_s = kAlignmentPhases * setup.GetParameterValueInBaseUnit("time_AB");
        AfxMessageBox(StartCurrentWarning(alignment_s));
        SetFocus();
    }
}

void CDriveSetupDlg::WarnAboutAxisId() {
    const int index = axisIdCombo_.GetCurSel();
    if (index > kLastCanOpenAxisIdIndex && index <= kLastNumberedAxisIdIndex) {
        AfxMessageBox(kAxisIdWarning);
    }
}

void CDriveSetupDlg::StoreAxisId() {
    CQel_Setup& setup = *GetSetup();
    const int index = axisIdCombo_.GetCurSel();
    if (!HoldsQuietly(setup, "Axis_ID_list") || index == CB_ERR) {
        return;
    }
    const std::string chosen = axisIdCombo_.GetLBText(index);
    const int stored = AsInteger(setup.GetParameterValueInBaseUnit("Axis_ID_list"));
    if (chosen != std::to_string(stored)) {
        setup.SetParameterValueInBaseUnit("Axis_ID_list", LeadingNumber(chosen));
    }
}

void CDriveSetupDlg::OnOK() {
    // Edits still being typed are taken over first, so that the registers follow them; a refused
    // entry keeps the dialog open.
    if (!UpdateData(TRUE)) {
        return;
    }
    StoreAxisId();
    CQel_Setup& setup = *GetSetup();
    ComputeDriveRegisters(setup);
    SetFixedOptions(setup);
    EndDialog(IDOK);
}
