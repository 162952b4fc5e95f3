#include "drivetests/DetectEncoderResolution.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <string>

#include "drivetests/ClosingQuestion.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Resolution.h"
#include "host/kernel/Setup.h"
#include "host/ui/Wnd.h"

namespace {

constexpr UINT kTemplateId = 292;
constexpr DWORD_PTR kHelpTopic = 0x4010E;
constexpr int kTestCurrentEditId = 1005;
constexpr int kTestCurrentUnitId = 1017;
constexpr int kPolePairsEditId = 3126;
constexpr int kReverseCountingCheckId = 3357;
constexpr int kEstimatedLinesEditId = 1021;
constexpr int kCounterEditId = 3131;
constexpr int kEncoderDiagramId = 1024;
constexpr int kPhaseDiagramId = 1025;

constexpr const char* kProgram = "Encoder_Resolution_And_Direction_Test";
constexpr const char* kSteps[] = {
    "Launching code for the preliminary test",
    "Running preliminary test",
    "Launching code for the encoder resolution and direction test",
    "Waiting for the test to complete",
    "Processing test results",
    "Test finished",
};
constexpr std::uint16_t kStepCount = 6;
constexpr std::uint16_t kPositioningStep = 2;
constexpr std::uint16_t kRunningStep = 4;
constexpr std::uint16_t kEvaluationStep = 5;
constexpr UINT kTickPeriod_ms = 20;
// The diagrams follow the turning shaft more closely than the other waits poll.
constexpr UINT kLiveTickPeriod_ms = 10;

// An encoder counts four edges per line.
constexpr int kCountsPerLine = 4;
// The drive's electrical angle counts 65536 per electrical turn with its zero a quarter turn
// before the phase A axis.
constexpr double kAngleUnitsPerTurn = 65536.0;
constexpr double kAngleZeroOffset = 16384.0;
// The drive keeps at most 31 fractional bits of electrical resolution.
constexpr int kFractionBitsMask = 31;

bool HasParameter(const CQel_Setup& setup, std::string_view name) {
    return setup.FindParameter(name) != nullptr;
}

// The standard resolution nearest to the lines a travel of one turn counted.
int NearestResolution(int count) {
    return CResolution::GetResolution(CResolution::FindBestResolution(count / kCountsPerLine));
}

}  // namespace

const char* const CDetectEncoderResolution::kShaftNotTurning =
    "Check if during test the motor shaft is turning. If YES, check the encoder connections and "
    "power supply, otherwise, check the motor phases connection, if these are OK, try also to "
    "increase the test current.";
const char* const CDetectEncoderResolution::kWrongDirection =
    "Check if during test the motor shaft is turning. If YES, the encoder connections or, motor "
    "phases are wrongly connected. Switch any two of the motor phase connections to the drive, or "
    "the A and B encoder channels, otherwise, check the motor phases connection, if these are OK, "
    "try also to increase the test current.";

CDetectEncoderResolution::CDetectEncoderResolution(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = kStepCount;
    AddParameterControls("TestCurrent", kTestCurrentEditId, kTestCurrentUnitId);
    AddParameterControls("pp", kPolePairsEditId, 0);
    if (HasParameter(*setup, "ReverseCounting")) {
        AddCheckParameterControls("ReverseCounting", kReverseCountingCheckId);
    }
    lines_ = static_cast<int>(setup->GetParameterValueInBaseUnit("No_encoder_lines"));
}

BOOL CDetectEncoderResolution::OnInitDialog() {
    encoder_.SubclassDlgItem(kEncoderDiagramId, this);
    phases_.SubclassDlgItem(kPhaseDiagramId, this);
    encoder_.EnableDiagram(TRUE);
    phases_.EnableDiagram(TRUE);
    positioning_.SetFileName(GetOutPathName(kInitialPositioning));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    EnableChild(kReverseCountingCheckId, HasParameter(*GetSetup(), "ReverseCounting") ? 1 : 0, 0);
    return CMyTestDlg::OnInitDialog();
}

void CDetectEncoderResolution::OnChangedParameterValue(std::string_view name) {
    CMyTestDlg::OnChangedParameterValue(name);
    if (qel::EqualsIgnoringCase(name, "ReverseCounting") &&
        HasParameter(*GetSetup(), "ReverseCounting")) {
        direction_ =
            static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("ReverseCounting"));
    }
}

void CDetectEncoderResolution::BeginTest() {
    SetChildText(kEstimatedLinesEditId, "");
    SetChildText(kCounterEditId, "");
    encoder_.SetTheta(0.0);
    current_ = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    SetInfoText(kSteps[0]);
    // The drive counts the way the setup says, which the user may have changed since the last run.
    if (HasParameter(*GetSetup(), "COUNTINGDIR") && !SendRegisters({"COUNTINGDIR"})) {
        return;
    }
    if (!LaunchInitialPositioning(positioning_, current_)) {
        return;
    }
    SetInfoText(kSteps[1]);
    Rearm(kTickPeriod_ms);
}

void CDetectEncoderResolution::Rearm(UINT period_ms) {
    if (SetTimer(kTestTimerId, period_ms) == 0) {
        errorText_ = GetLastErrorText();
        TestFailed(1);
    }
}

void CDetectEncoderResolution::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    CQel_Setup& setup = *GetSetup();
    // The drive counts in the direction the check box shows, also when it changes during a run.
    if (HasParameter(setup, "ReverseCounting")) {
        const bool reverse =
            static_cast<int>(setup.GetParameterValueInBaseUnit("ReverseCounting")) == 1;
        const double direction = reverse ? 1.0 : 0.0;
        if (setup.GetParameterValueInBaseUnit("COUNTINGDIR") != direction) {
            setup.SetParameterValueInBaseUnit("COUNTINGDIR", direction);
            WriteRegistersToDrive({"COUNTINGDIR"});
        }
    }
    switch (currentStep_) {
        case kPositioningStep:
            switch (WaitForProgram(positioning_, kShortCircuitAndEnableMask)) {
                case ProgramState::Running:
                    Rearm(kTickPeriod_ms);
                    break;
                case ProgramState::Ended:
                    AfterPositioning();
                    break;
                case ProgramState::Failed:
                    break;
            }
            break;
        case kRunningStep:
            ShowProgress();
            break;
        case kEvaluationStep:
            Evaluate();
            break;
        default:
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            break;
    }
    CMyTestDlg::OnTimer(timerId);
}

void CDetectEncoderResolution::AfterPositioning() {
    double reference = 0.0;
    if (!CheckInitialPositioning(positioning_) ||
        !ReadDriveVariable("REFTST_V", false, reference)) {
        return;
    }
    SetInfoText(kSteps[2]);
    // The program turns the field by whole electrical turns, one per pole pair: it gets the
    // count, the nearest whole number to a pole-pair value a derivation left a hair below it.
    const double polePairs = std::round(GetSetup()->GetParameterValueInBaseUnit("pp"));
    if (!SetProgramVariable(program_, "RefTest", reference) ||
        !SetProgramVariable(program_, "PolesPairs", polePairs) || !Launch(kProgram, program_)) {
        return;
    }
    SetInfoText(kSteps[3]);
    Rearm(kTickPeriod_ms);
}

bool CDetectEncoderResolution::ReadCount(bool baseUnit, double& count) {
    if (!ReadDriveVariable("var_lf_long", baseUnit, count)) {
        return false;
    }
    if (HasParameter(*GetSetup(), "ELRES_FRACT")) {
        double fraction = 0.0;
        if (!ReadDriveVariable("ELRES_FRACT", true, fraction)) {
            return false;
        }
        const int bits = static_cast<int>(fraction) & kFractionBitsMask;
        count /= std::ldexp(1.0, bits);
    }
    return true;
}

void CDetectEncoderResolution::ShowProgress() {
    double started = 0.0;
    if (!GetUserVariableValue(program_, "STARTED", started, errorText_)) {
        TestFailed(1);
        return;
    }
    if (started == 0.0) {
        if (CheckMotionErrors(1, kShortCircuitAndEnableMask)) {
            Rearm(kTickPeriod_ms);
        }
        return;
    }
    int axisOn = 0;
    if (!GetAxisOn(axisOn)) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    if (!axisOn) {
        if (CheckMotionErrors(1, kShortCircuitAndEnableMask)) {
            SetInfoText(kSteps[4]);
            Rearm(kTickPeriod_ms);
        }
        return;
    }
    double counted = 0.0;
    if (!ReadCount(true, counted)) {
        return;
    }
    const int count = static_cast<int>(counted);
    estimatedLines_ = NearestResolution(count);
    // Without a line count there is no turn to place the count in: the encoder diagram then
    // keeps its angle rather than divide by zero.
    if (lines_ >= 1) {
        encoder_.SetTheta(count * std::numbers::pi / lines_ * 0.5);
    }
    SetChildText(kCounterEditId, std::to_string(count));
    double electricalAngle = 0.0;
    if (!ReadDriveVariable("THTST", false, electricalAngle)) {
        return;
    }
    phases_.SetTheta((electricalAngle + kAngleZeroOffset) * 2.0 * std::numbers::pi /
                     kAngleUnitsPerTurn);
    Rearm(kLiveTickPeriod_ms);
}

void CDetectEncoderResolution::Evaluate() {
    SetInfoText(kSteps[5]);
    double travel = 0.0;
    if (!ReadCount(false, travel)) {
        return;
    }
    // A travel shorter than the smallest standard resolution, either way, means the counter
    // barely moved: the shaft did not turn or the encoder is not counting. A longer travel
    // backwards means the encoder counts against the field.
    const int count = static_cast<int>(travel);
    if (std::abs(count) < CResolution::GetResolution(0)) {
        errorText_ = kShaftNotTurning;
        TestFailed(1);
    } else if (count < 0) {
        errorText_ = kWrongDirection;
        TestFailed(1);
    } else {
        // The settled count is the better measure than the last one seen while turning.
        estimatedLines_ = NearestResolution(count);
        SetChildText(kEstimatedLinesEditId, std::to_string(estimatedLines_));
        TestSucceeded(1);
    }
}

BOOL CDetectEncoderResolution::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}

void CDetectEncoderResolution::OnCancel() {
    const std::string oldLines = std::to_string(lines_);
    const std::string newLines = std::to_string(estimatedLines_);
    ClosingQuestion question;
    if (result_ == 1 && oldLines != newLines) {
        question.AddLine("Encoder resolution", oldLines, newLines);
    }
    switch (question.Ask(*this)) {
        case ClosingQuestion::Answer::Yes:
            GetSetup()->SetParameterValueInBaseUnit("No_encoder_lines", estimatedLines_);
            EndDialog(IDOK);
            return;
        case ClosingQuestion::Answer::No:
            EndDialog(IDOK);
            return;
        case ClosingQuestion::Answer::Cancel:
            return;
        case ClosingQuestion::Answer::NotAsked:
            CMyTestDlg::OnCancel();
            return;
    }
}
