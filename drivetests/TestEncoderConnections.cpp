#include "drivetests/TestEncoderConnections.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "host/kernel/Comm.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"
#include "host/kernel/Variable.h"
#include "host/ui/Wnd.h"

namespace {

constexpr UINT kTemplateId = 291;
constexpr DWORD_PTR kHelpTopic = 0x4010D;
constexpr int kCounterEditId = 3131;
constexpr int kEncoderDiagramId = 1024;
constexpr int kPhaseDiagramId = 1025;

constexpr const char* kProgram = "Encoder_Connection_Test";
constexpr const char* kSteps[] = {
    "Launching code for test",
    "Running test",
    "Test finished",
};
constexpr std::uint16_t kStepCount = 3;
constexpr std::uint16_t kRunningStep = 2;
constexpr UINT kTickPeriod_ms = 20;

// An encoder counts four edges per line.
constexpr int kCountsPerLine = 4;
// A counter within this many counts of zero may be noise on a standing shaft, not pulses.
constexpr int kNoiseCounts = 2;
// The interpolation keeps at most 31 fractional bits.
constexpr int kFractionBitsMask = 31;
// What the program reads as its end.
constexpr double kEndCommand = 1.0;

}  // namespace

const char* const CTestEncoderConnections::kNoPulses =
    "No encoder pulses have been detected.\r\nCheck the encoder connection and power supply.";
const char* const CTestEncoderConnections::kNoLines =
    "The encoder has no lines per revolution set. Set the encoder's lines before the test.";

CTestEncoderConnections::CTestEncoderConnections(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = kStepCount;
    continuousRun_ = 1;
    lines_ = static_cast<int>(setup->GetParameterValueInBaseUnit("No_encoder_lines"));
}

BOOL CTestEncoderConnections::OnInitDialog() {
    const BOOL result = CMyTestDlg::OnInitDialog();
    encoder_.SubclassDlgItem(kEncoderDiagramId, this);
    phases_.SubclassDlgItem(kPhaseDiagramId, this);
    encoder_.EnableDiagram(TRUE);
    phases_.EnableDiagram(FALSE);
    SetChildText(kCounterEditId, "");
    return result;
}

void CTestEncoderConnections::OnOK() {}

void CTestEncoderConnections::BeginTest() {
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    pulsesSeen_ = 0;
    counter_ = 0;
    position_ = 0;
    encoder_.SetTheta(0.0);
    SetChildText(kCounterEditId, "");
    SetInfoText(kSteps[0]);
    // Without lines there is no turn to place the counter in; nothing is started.
    if (lines_ < 1) {
        errorText_ = kNoLines;
        TestFailed(1);
        return;
    }
    if (!ExecuteCode(kProgram, nullptr, nullptr, nullptr, nullptr)) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    SetInfoText(kSteps[1]);
    Rearm();
}

void CTestEncoderConnections::Rearm() {
    if (SetTimer(kTestTimerId, kTickPeriod_ms) == 0) {
        errorText_ = GetLastErrorText();
        TestFailed(1);
        EndProgram();
    }
}

void CTestEncoderConnections::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    if (currentStep_ == kRunningStep) {
        ShowPosition();
    } else {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        EndProgram();
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestEncoderConnections::ShowPosition() {
    previousPosition_ = position_;
    if (!CheckMotionErrors(1, kShortCircuitMask)) {
        EndProgram();
        return;
    }
    CQel_Variable* counter = GetSetup()->FindVariable("APOS", 1);
    if (counter == nullptr || !counter->ReadFromChip()) {
        errorText_ = counter == nullptr ? msc_pszErrInternal : CQel_Comm::GetLastErrorText();
        TestFailed(1);
        EndProgram();
        return;
    }
    const auto counted = static_cast<std::int64_t>(counter->GetValueInInternalUnit());
    position_ = static_cast<int>(PositiveModulo(counted, kCountsPerLine * lines_));
    // The counter shown is the one of the tick before, as the drive's display lags by a tick.
    SetChildText(kCounterEditId, std::to_string(counter_));
    counter_ = static_cast<int>(counted);
    if (position_ != previousPosition_) {
        if (counted > kNoiseCounts || counted < -kNoiseCounts) {
            pulsesSeen_ = 1;
        }
        const int fractionBits =
            static_cast<int>(GetSetup()->GetParameterValueInBaseUnit("SINCOS_fract")) &
            kFractionBitsMask;
        encoder_.SetTheta(static_cast<double>(counted) * std::numbers::pi /
                          (std::ldexp(1.0, fractionBits) * lines_) * 0.5);
    }
    Rearm();
}

bool CTestEncoderConnections::EndProgram() {
    CQel_Variable* command = GetSetup()->FindVariable("var_i2", 1);
    if (command == nullptr) {
        endError_ = msc_pszErrInternal;
        return false;
    }
    command->SetValueInBaseUnit(kEndCommand);
    if (!command->WriteToChip()) {
        endError_ = CQel_Comm::GetLastErrorText();
        return false;
    }
    return true;
}

void CTestEncoderConnections::OnStartStop() {
    if (!running_) {
        OnBtnStartStop();
        return;
    }
    KillTimer(kTestTimerId);
    if (!pulsesSeen_) {
        errorText_ = kNoPulses;
        TestFailed(1);
        // The program runs until told otherwise, also after a failed run.
        EndProgram();
        return;
    }
    SetInfoText(kSteps[2]);
    TestSucceeded(1);
    if (!EndProgram()) {
        errorText_ = endError_;
        TestFailed(1);
    }
}

BOOL CTestEncoderConnections::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED) {
        switch (id) {
            case kStartStopId:
                OnStartStop();
                return TRUE;
            case kHelpButtonId:
                ShowHelp(kHelpTopic);
                return TRUE;
            default:
                break;
        }
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
