#include "drivetests/TestPhaseConnections.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/BaseScales.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 288;
constexpr DWORD_PTR kHelpTopic = 0x4010B;
constexpr int kPhaseAEditId = 1020;
constexpr int kPhaseABarId = 1021;
constexpr int kPhaseBEditId = 1022;
constexpr int kPhaseBBarId = 1023;

constexpr const char* kProgram = "Motor_Phase_Connection_Test";
constexpr const char* kSteps[] = {
    "Launching the application for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching the application for test",
    "Running test",
    "Finished test",
};
constexpr std::uint16_t kStepCount = 5;
constexpr std::uint16_t kPositioningStep = 2;
constexpr std::uint16_t kLaunchStep = 3;
constexpr std::uint16_t kEvaluationStep = 4;

// The bars reach half as far again as the test current on either side, so a sound phase A and
// a phase B of minus half of it both lie well inside.
constexpr double kBarReach = 1.5;
// Phase B carries the return of phase A shared with phase C: minus half of A when the phases are
// balanced. The bounds leave room for unbalanced windings and the current's ripple.
constexpr double kLowestRatio = 1.5;
constexpr double kHighestRatio = 2.5;
constexpr double kLowestShareOfTest = 0.6;
constexpr double kHighestShareOfTest = 1.4;
constexpr int kShownDecimals = 2;

std::string FormatCurrent(double current_A) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3G", current_A);
    return text;
}

}  // namespace

const char* const CTestPhaseConnections::kFailureMessage =
    "Possible causes of failure:\n\t- one of the motor phases is disconnected\n\t- the motor "
    "phases are unbalanced (they do not have the same resistance)\n\t- the test current isn't high "
    "enough.\nPlease check the motor phase connections to the drive and repeat the test. If the "
    "test fails and the connections are OK, increase the test current value.";

CTestPhaseConnections::CTestPhaseConnections(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = kStepCount;
    AddParameterControls("TestCurrent", kTestCurrentEditId, kTestCurrentUnitId);
    current_ = static_cast<int>(setup->GetParameterValueInInternalUnit("TestCurrent"));
}

bool CTestPhaseConnections::IsSoundConnection(double phaseA_A, double phaseB_A, double test_A) {
    if (phaseB_A == 0.0) {
        return false;
    }
    const double ratio = std::abs(phaseA_A / phaseB_A);
    return ratio > kLowestRatio && ratio < kHighestRatio &&
           phaseA_A > kLowestShareOfTest * test_A && phaseA_A < kHighestShareOfTest * test_A &&
           phaseA_A > 0.0 && phaseB_A < 0.0;
}

void CTestPhaseConnections::SetUpBars() {
    const double scale = ComputeCurrentScale(*GetSetup());
    const double test_A = scale > 0.0 ? current_ / scale : 0.0;
    for (CBarGraph* bar : {&phaseABar_, &phaseBBar_}) {
        if (std::isfinite(test_A) && test_A > 0.0) {
            bar->SetLimits(-kBarReach * test_A, kBarReach * test_A);
        }
        bar->SetDrawingReference(0.0);
    }
    ShowCurrents();
}

void CTestPhaseConnections::ShowCurrents() {
    phaseABar_.SetCurrentValue(phaseA_A_);
    phaseBBar_.SetCurrentValue(phaseB_A_);
    phaseABar_.Repaint();
    phaseBBar_.Repaint();
}

BOOL CTestPhaseConnections::OnInitDialog() {
    phaseABar_.SubclassDlgItem(kPhaseABarId, this);
    phaseBBar_.SubclassDlgItem(kPhaseBBarId, this);
    SetUpBars();
    positioning_.SetFileName(GetOutPathName(kInitialPositioning));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    return CMyTestDlg::OnInitDialog();
}

void CTestPhaseConnections::DoDataExchange(CDataExchange* pDX) {
    CMyTestDlg::DoDataExchange(pDX);
    if (!pDX->m_bSaveAndValidate) {
        phaseABar_.SetCurrentValue(phaseA_A_);
        phaseBBar_.SetCurrentValue(phaseB_A_);
    }
}

void CTestPhaseConnections::OnChangedParameterValue(std::string_view name) {
    if (name == "TestCurrent") {
        current_ = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    }
    CMyTestDlg::OnChangedParameterValue(name);
}

void CTestPhaseConnections::BeginTest() {
    phaseA_A_ = 0.0;
    phaseB_A_ = 0.0;
    SetChildText(kPhaseAEditId, "");
    SetChildText(kPhaseBEditId, "");
    SetUpBars();
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    SetInfoText(kSteps[0]);
    if (!LaunchInitialPositioning(positioning_, current_)) {
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestPhaseConnections::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    switch (currentStep_) {
        case kPositioningStep:
            if (ProgramHasEnded(positioning_, kShortCircuitAndEnableMask)) {
                AfterPositioning();
            }
            break;
        case kLaunchStep:
            if (SetProgramVariable(program_, "RefTest", reference_) &&
                SetProgramVariable(program_, "RIncTest", referenceIncrement_) &&
                Launch(kProgram, program_)) {
                SetInfoText(kSteps[3]);
                RearmTimer();
            }
            break;
        case kEvaluationStep:
            if (ProgramHasEnded(program_, kShortCircuitAndEnableMask)) {
                Evaluate();
            }
            break;
        default:
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            break;
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestPhaseConnections::AfterPositioning() {
    if (!CheckInitialPositioning(positioning_) ||
        !ReadDriveVariable("REFTST_V", false, reference_) ||
        !ReadDriveVariable("RINCTST_V", false, referenceIncrement_)) {
        return;
    }
    SetInfoText(kSteps[2]);
    RearmTimer();
}

void CTestPhaseConnections::Evaluate() {
    double phaseA = 0.0;
    double phaseB = 0.0;
    if (!ReadDriveVariable("var_i1", false, phaseA) ||
        !ReadDriveVariable("var_i2", false, phaseB)) {
        return;
    }
    // A setup without a current range gives no scale: the currents would read as zero or
    // non-finite amperes and pass or fail on that alone.
    const double scale = ComputeCurrentScale(*GetSetup());
    if (!std::isfinite(scale) || !(scale > 0.0)) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    const double test_A = current_ / scale;
    phaseA_A_ = RoundDecimalValue(phaseA / scale, kShownDecimals);
    phaseB_A_ = RoundDecimalValue(phaseB / scale, kShownDecimals);
    SetChildText(kPhaseAEditId, FormatCurrent(phaseA_A_));
    SetChildText(kPhaseBEditId, FormatCurrent(phaseB_A_));
    if (!IsSoundConnection(phaseA_A_, phaseB_A_, test_A)) {
        errorText_ = kFailureMessage;
        TestFailed(1);
        return;
    }
    ShowCurrents();
    TestSucceeded(1);
}

BOOL CTestPhaseConnections::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
