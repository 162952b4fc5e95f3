#include "drivetests/TestVdcDetection.h"

#include <cstdio>
#include <string>

#include "drivetests/ClosingQuestion.h"
#include "engine/BaseScales.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 105;
constexpr DWORD_PTR kHelpTopic = 0x40105;
constexpr int kVdcEditId = 1012;
constexpr int kVdcUnitId = 1013;
constexpr const char* kProgram = "VDC_Detection_Test";
constexpr const char* kSteps[] = {"Launching test", "Running test"};

// The step the run waits in for the program's end.
constexpr std::uint16_t kWaitStep = 2;

}  // namespace

CTestVdcDetection::CTestVdcDetection(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = 2;
    AddParameterControls("Vdc", kVdcEditId, kVdcUnitId);
    oldVdc_V_ = setup->GetParameterValueInBaseUnit("Vdc");
}

BOOL CTestVdcDetection::OnInitDialog() {
    const BOOL result = CMyTestDlg::OnInitDialog();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    return result;
}

void CTestVdcDetection::BeginTest() {
    SetChildText(kVdcEditId, "");
    SetChildText(kVdcUnitId, "");
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    SetInfoText(kSteps[0]);
    if (!ExecuteCode(kProgram, &program_, nullptr, nullptr, nullptr)) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestVdcDetection::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    if (currentStep_ == kWaitStep) {
        WaitForTheMeasurement();
    } else {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestVdcDetection::WaitForTheMeasurement() {
    switch (WaitForProgram(program_, kShortCircuitMask)) {
        case ProgramState::Failed:
            return;
        case ProgramState::Running:
            RearmTimer();
            return;
        case ProgramState::Ended:
            break;
    }
    double bus = 0.0;
    if (!ReadDriveVariable("var_u2", true, bus)) {
        return;
    }
    GetSetup()->SetParameterValueInBaseUnit("Vdc", bus / ComputeDCBusVoltageScale(*GetSetup()));
    RefreshParameterControls("Vdc");
    TestSucceeded(1);
}

BOOL CTestVdcDetection::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}

void CTestVdcDetection::OnCancel() {
    ClosingQuestion question;
    if (result_ == 1) {
        question.AddIfDiffers("Power supply", FormatG(oldVdc_V_),
                              FormatG(GetSetup()->GetParameterValueInBaseUnit("Vdc")));
    }
    switch (question.Ask(*this)) {
        case ClosingQuestion::Answer::Yes:
            EndDialog(IDOK);
            return;
        case ClosingQuestion::Answer::Cancel:
            return;
        case ClosingQuestion::Answer::No:
        case ClosingQuestion::Answer::NotAsked:
            CMyTestDlg::OnCancel();
            return;
    }
}
