#include "dialogs/DriveInfoDlg.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/RegisterComputation.h"
#include "engine/StepSupport.h"

namespace {

// Identification edits.
constexpr int kDriveNameId = 3275;
constexpr int kE2romSizeId = 3276;
constexpr int kProductId = 3277;
constexpr int kFirmwareId = 3278;
constexpr int kApplicationId = 3114;

// Protection and sensor check boxes.
constexpr UINT kTemperatureSensorCheckId = 3097;
constexpr UINT kOverVoltageCheckId = 3103;
constexpr UINT kUnderVoltageCheckId = 3105;
constexpr UINT kI2tCheckId = 3107;
constexpr UINT kOverTemperatureCheckId = 3325;

// Zero-terminated control groups of the rules.
constexpr int kDriveData[] = {3087, 3089, 3092, 3094, 1159, 1161, 3097, 1179, 1163,
                              3103, 3105, 3107, 3276, 3275, 3277, 3278, 0};
constexpr int kSensorEdits[] = {1165, 1167, 3325, 0};
constexpr int kSensorLabels[] = {1166, 1168, 3098, 3101, 0};
constexpr int kOverVoltageLabels[] = {1170, 3104, 0};
constexpr int kUnderVoltageLabels[] = {1172, 3106, 0};
constexpr int kI2tEdits[] = {1173, 1175, 0};
constexpr int kI2tLabels[] = {1174, 3108, 1176, 3109, 0};
constexpr int kOverTemperatureLabels[] = {1178, 3326, 0};
constexpr int kAlwaysEnabled[] = {3088, 3090, 3093, 3095, 1160, 1162, 1164, 1180, 3114, 0};
constexpr int kOverVoltageEditId = 1169;
constexpr int kUnderVoltageEditId = 1171;
constexpr int kOverTemperatureEditId = 1177;

// The EEPROM size is shown in Kwords: words shifted right by 10, kept to the 6 bits the field
// holds (at most 63 Kwords).
constexpr int kWordsPerKwordShift = 10;
constexpr int kKwordsMask = 0x3F;

constexpr int kDecimal = 10;

constexpr const char* kFirmwareIdRefused = "Error setting the firmware ID!";

// The leading decimal number of the text, within the Kwords the size can hold; 0 when none.
std::uint16_t WordsFromKwordsText(const std::string& text) {
    errno = 0;
    const long kwords = std::strtol(text.c_str(), nullptr, kDecimal);
    const long kept = errno == 0 ? std::clamp(kwords, 0L, static_cast<long>(kKwordsMask)) : 0L;
    return static_cast<std::uint16_t>(kept << kWordsPerKwordShift);
}

}  // namespace

CDriveInfo::CDriveInfo(CQel_Setup* setup, CWnd* parent)
    : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent) {
    AddParameterControls("VMOT_min", 3087, 3088);
    AddParameterControls("VMOT_max", 3089, 3090);
    AddParameterControls("VLOG_min", 3092, 3093);
    AddParameterControls("VLOG_max", 3094, 3095);
    AddParameterControls("InPS", 1159, 1160);
    AddParameterControls("ImaxPS", 1161, 1162);
    AddParameterControls("VdcMaxMeasurable", 1163, 1164);
    AddCheckParameterControls("isDriveTemperatureSensor", 3097);
    AddParameterControls("DriveTempSensorGain", 1165, 1166);
    AddParameterControls("DriveTempOutputAt0oC", 1167, 1168);
    AddParameterControls("Temp_2", 1177, 1178);
    AddCheckParameterControls("isDriveOverTemp", 3325);
    AddCheckParameterControls("isOverVoltage", 3103);
    AddParameterControls("UMAX_PROT", 1169, 1170);
    AddCheckParameterControls("isUnderVoltage", 3105);
    AddParameterControls("UMIN_PROT", 1171, 1172);
    AddCheckParameterControls("isDriveI2t", 3107);
    AddParameterControls("I_I2t_D", 1173, 1174);
    AddParameterControls("t_I2t_D", 1175, 1176);
    AddParameterControls("AnalogueInputsRange", 1179, 1180);
}

BOOL CDriveInfo::PreTranslateMessage(MSG* message) {
    const bool keyDown = message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN;
    const auto held = [](UINT key) { return GetKeyState(static_cast<int>(key)) < 0; };
    if (keyDown && message->wParam == kServiceKey && held(VK_CONTROL) && held(VK_MENU) &&
        held(VK_SHIFT)) {
        editMode_ = !editMode_;
        UpdateData(FALSE);
    }
    return CMySetupDlg::PreTranslateMessage(message);
}

BOOL CDriveInfo::OnInitDialog() {
    CMySetupDlg::OnInitDialog();
    const CQel_Setup& setup = *GetSetup();
    SetDlgItemText(kDriveNameId, setup.GetDescription());
    SetDlgItemText(kProductId, setup.GetProductID());
    SetDlgItemText(kE2romSizeId,
                   std::to_string((setup.GetE2ROMSize() >> kWordsPerKwordShift) & kKwordsMask));
    SetDlgItemText(kFirmwareId, setup.GetFirmwareID());
    SetDlgItemText(kApplicationId, setup.GetUserAppID());
    if (auto* applicationId = static_cast<CEdit*>(GetDlgItem(kApplicationId))) {
        applicationId->SetLimitText(static_cast<UINT>(qel::kMaxUserApplicationIdLength));
    }
    UpdateData(FALSE);
    return TRUE;
}

void CDriveInfo::DoDataExchange(CDataExchange* pDX) {
    CMySetupDlg::DoDataExchange(pDX);
    if (!pDX->m_bSaveAndValidate) {
        ApplyRules();
    }
}

void CDriveInfo::ApplyRules() {
    const CQel_Setup& setup = *GetSetup();
    const auto on = [&setup](const char* flag) {
        return engine::IsOne(setup.GetParameterValueInBaseUnit(flag));
    };
    const bool sensor = on("isDriveTemperatureSensor");
    const bool overVoltage = on("isOverVoltage");
    const bool underVoltage = on("isUnderVoltage");
    const bool i2t = on("isDriveI2t");
    const bool overTemperature = on("isDriveOverTemp");

    EnableChildren(kDriveData, editMode_, 0);

    EnableChildren(kSensorEdits, editMode_ && sensor, 0);
    EnableChild(kOverVoltageEditId, editMode_ && overVoltage, 0);
    EnableChild(kUnderVoltageEditId, editMode_ && underVoltage, 0);
    EnableChildren(kI2tEdits, editMode_ && i2t, 0);
    EnableChild(kOverTemperatureEditId, editMode_ && overTemperature, 0);

    EnableChildren(kSensorLabels, sensor, 0);
    EnableChildren(kOverVoltageLabels, overVoltage, 0);
    EnableChildren(kUnderVoltageLabels, underVoltage, 0);
    EnableChildren(kI2tLabels, i2t, 0);
    EnableChildren(kOverTemperatureLabels, overTemperature, 0);

    EnableChildren(kAlwaysEnabled, TRUE, 0);
}

BOOL CDriveInfo::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED &&
        (id == kTemperatureSensorCheckId || id == kOverVoltageCheckId ||
         id == kUnderVoltageCheckId || id == kI2tCheckId || id == kOverTemperatureCheckId)) {
        KeepTemperatureProtectionConsistent();
        UpdateData(FALSE);
        return TRUE;
    }
    return CMySetupDlg::OnCommand(id, notifyCode);
}

void CDriveInfo::KeepTemperatureProtectionConsistent() {
    CQel_Setup& setup = *GetSetup();
    if (setup.GetParameterValueInBaseUnit("isDriveTemperatureSensor") == 0.0 &&
        engine::IsOne(setup.GetParameterValueInBaseUnit("isDriveOverTemp"))) {
        setup.SetParameterValueInBaseUnit("isDriveOverTemp", 0.0);
        RefreshParameterControls("isDriveOverTemp");
    }
}

void CDriveInfo::OnOK() {
    // Edits still being typed are taken over first; a refused entry keeps the dialog open.
    if (!UpdateData(TRUE)) {
        return;
    }
    CQel_Setup& setup = *GetSetup();
    setup.SetE2ROMSize(WordsFromKwordsText(GetDlgItemText(kE2romSizeId)));
    setup.SetUserAppID(GetDlgItemText(kApplicationId));
    setup.SetProductID(GetDlgItemText(kProductId));
    setup.SetDescription(GetDlgItemText(kDriveNameId));
    if (setup.SetFirmwareID(GetDlgItemText(kFirmwareId)) == 0) {
        AfxMessageBox(kFirmwareIdRefused);
    }
    ComputeDriveRegisters(setup);
    EndDialog(IDOK);
}
