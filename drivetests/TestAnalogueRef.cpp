#include "drivetests/TestAnalogueRef.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "host/kernel/Comm.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Parameter.h"
#include "host/kernel/Setup.h"
#include "host/ui/Wnd.h"

namespace {

constexpr UINT kTemplateId = 104;
constexpr DWORD_PTR kHelpTopic = 0x40104;
constexpr int kVoltageEditId = 1010;
constexpr int kCommandEditId = 1011;
constexpr int kCommandLabelId = 1013;
constexpr int kVoltageBarId = 1014;
constexpr int kCommandBarId = 1015;
constexpr int kVoltageUnitId = 1016;
constexpr int kCommandUnitId = 1017;

constexpr const char* kProgram = "Analogue_Reference_Test";
constexpr const char* kSteps[] = {"Launching test", "Running test"};
constexpr std::uint16_t kRunningStep = 2;
constexpr int kShownDecimals = 2;

constexpr COLORREF kVoltageColour = 255;
constexpr COLORREF kCommandColour = 65280;

std::string Format2f(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string UnitOf(const CQel_Setup& setup, const char* name) {
    const CQel_Parameter* parameter = setup.FindParameter(name);
    return parameter != nullptr ? parameter->GetUnitName() : std::string();
}

double DisplayedValue(const CQel_Setup& setup, const char* name) {
    const CQel_Parameter* parameter = setup.FindParameter(name);
    return parameter != nullptr ? parameter->GetValue() : 0.0;
}

}  // namespace

CTestAnalogueRef::CTestAnalogueRef(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = 2;
    continuousRun_ = 1;
}

void CTestAnalogueRef::UpdateBar(CBarGraph& bar, double low, double high, double value) {
    bar.SetLimits(low, high);
    bar.SetCurrentValue(value);
    bar.SetDrawingReference(low <= 0.0 && 0.0 <= high ? 0.0 : low);
    bar.Repaint();
}

BOOL CTestAnalogueRef::OnInitDialog() {
    const CQel_Setup& setup = *GetSetup();
    // AnalogueInputsRange names the input's span in volts.
    const auto range_V = static_cast<int>(setup.GetParameterValueInBaseUnit("AnalogueInputsRange"));
    if (range_V == 20) {
        low_V_ = -10.0;
        high_V_ = 10.0;
    } else if (range_V == 5) {
        low_V_ = 0.0;
        high_V_ = 5.0;
    } else {
        low_V_ = 0.0;
        high_V_ = 3.3;
    }
    SetChildText(kVoltageUnitId, UnitOf(setup, "AnalogueInputsRange"));

    const char* lowName = nullptr;
    const char* highName = nullptr;
    switch (static_cast<int>(setup.GetParameterValueInBaseUnit("ControlMode"))) {
        case 0:
            lowName = "POS_min";
            highName = "POS_max";
            commandName_ = "Position command";
            break;
        case 1:
            lowName = "SPD_min";
            highName = "SPD_max";
            commandName_ = "Speed command";
            break;
        case 2:
            lowName = "CRT_min";
            highName = "CRT_max";
            commandName_ = "Current command";
            break;
        default:
            commandName_.clear();
            break;
    }
    if (lowName != nullptr) {
        commandLow_ = DisplayedValue(setup, lowName);
        commandHigh_ = DisplayedValue(setup, highName);
        SetChildText(kCommandUnitId, UnitOf(setup, highName));
    }

    voltageBar_.SubclassDlgItem(kVoltageBarId, this);
    commandBar_.SubclassDlgItem(kCommandBarId, this);
    SetChildText(kCommandLabelId, commandName_);
    UpdateBar(commandBar_, commandLow_, commandHigh_, commandLow_);
    UpdateBar(voltageBar_, low_V_, high_V_, 0.0);
    voltageBar_.SetBarColour(kVoltageColour);
    voltageBar_.SetValueFormat("%.2G");
    commandBar_.SetBarColour(kCommandColour);
    commandBar_.SetValueFormat("%.2f");
    SetChildText(kVoltageEditId, "");
    SetChildText(kCommandEditId, "");
    UpdateData(FALSE);
    return CMyTestDlg::OnInitDialog();
}

void CTestAnalogueRef::BeginTest() {
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    stopRequest_ = 0;
    SetChildText(kVoltageEditId, "");
    SetChildText(kCommandEditId, "");
    voltageBar_.SetCurrentValue(voltageBar_.GetDrawingReference());
    commandBar_.SetCurrentValue(commandBar_.GetDrawingReference());
    UpdateData(FALSE);
    voltageBar_.Repaint();
    commandBar_.Repaint();
    SetInfoText(kSteps[0]);
    if (!ExecuteCode(kProgram, nullptr, nullptr, nullptr, nullptr)) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestAnalogueRef::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (running_ && timerId == kTestTimerId) {
        Tick();
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestAnalogueRef::Tick() {
    if (currentStep_ != kRunningStep) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    if (stopRequest_) {
        // The program only converts the input; it is ended with the run rather than left on the
        // drive.
        CQel_Comm::StopProgram();
        TestSucceeded(1);
        stopRequest_ = 0;
        return;
    }
    if (!CheckMotionErrors(1, kShortCircuitMask)) {
        return;
    }
    double count = 0.0;
    if (!ReadDriveVariable("AD5", false, count)) {
        return;
    }
    const double voltage_V =
        RoundDecimalValue((high_V_ - low_V_) * count / kFullScaleCount + low_V_, kShownDecimals);
    SetChildText(kVoltageEditId, Format2f(voltage_V));
    UpdateBar(voltageBar_, low_V_, high_V_, voltage_V);
    if (!commandName_.empty()) {
        const double command = RoundDecimalValue(
            (commandHigh_ - commandLow_) * count / kFullScaleCount + commandLow_, kShownDecimals);
        SetChildText(kCommandEditId, Format2f(command));
        UpdateBar(commandBar_, commandLow_, commandHigh_, command);
    }
    PumpWaitingMessages();
    if (running_) {
        RearmTimer();
    }
}

BOOL CTestAnalogueRef::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
