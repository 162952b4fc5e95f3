#include "drivetests/DetectPolePairs.h"

#include <string>

#include "drivetests/ClosingQuestion.h"
#include "host/kernel/Comm.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Setup.h"
#include "host/kernel/Variable.h"
#include "host/ui/Backend.h"
#include "host/ui/Wnd.h"

namespace {

constexpr UINT kTemplateId = 289;
constexpr DWORD_PTR kHelpTopic = 0x4010A;
constexpr int kMoveButtonId = 1021;
constexpr int kCountEditId = 3126;

constexpr const char* kProgram = "Motor_Pole_Pairs_Detection_Test";
constexpr const char* kSteps[] = {
    "Launching the application for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching the application for test",
    "Waiting for user input",
    "Running test",
};
constexpr std::uint16_t kStepCount = 5;
// The steps whose ticks poll the drive: the positioning, the hold, the program's end.
constexpr std::uint16_t kPositioningStep = 2;
constexpr std::uint16_t kHoldStep = 4;
constexpr std::uint16_t kEndStep = 5;
// After Stop the program ends within a period or two: its end is looked for at once.
constexpr UINT kEndPollPeriod_ms = 1;

// The drive variable that carries the commands to the program and, at its end, the count.
constexpr const char* kCommand = "var_i2";
constexpr double kMoveCommand = 0.0;
constexpr double kEndCommand = 1.0;
// The test angle the program leaves at the end of a move: one unit past its holding angle, the
// quarter turn back (-16384 of 65536) whose q axis lies on phase A.
constexpr double kMoveEndMarker = -16383.0;

std::string FormatCount(double count) {
    return std::to_string(static_cast<int>(count));
}

}  // namespace

const char* const CDetectPolePairs::kMoveNotEnded =
    "The drive did not report the end of the move within 10 s. Check the connection to the drive "
    "and the motor's phase connections, then start the test again.";

CDetectPolePairs::CDetectPolePairs(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = kStepCount;
    // Here the flag says that Move was pressed in this run: Stop then ends the moves instead of
    // the run.
    continuousRun_ = 0;
    AddParameterControls("TestCurrent", kTestCurrentEditId, kTestCurrentUnitId);
    oldPolePairs_ = static_cast<int>(setup->GetParameterValueInBaseUnit("pp"));
}

BOOL CDetectPolePairs::OnInitDialog() {
    positioning_.SetFileName(GetOutPathName(kInitialPositioning));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    return CMyTestDlg::OnInitDialog();
}

void CDetectPolePairs::DoDataExchange(CDataExchange* pDX) {
    CMyTestDlg::DoDataExchange(pDX);
    moveShown_ = moveShown_ && running_ != 0;
    ShowChild(kMoveButtonId, moveShown_ ? 1 : 0);
    EnableChild(kMoveButtonId, moveEnabled_ ? 1 : 0, 0);
}

void CDetectPolePairs::BeginTest() {
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    // A run that failed during a move leaves these as they were; each run starts without moves.
    continuousRun_ = 0;
    moveShown_ = false;
    moveEnabled_ = true;
    SetInfoText(kSteps[0]);
    SetChildText(kCountEditId, "");
    current_ = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    if (!LaunchInitialPositioning(positioning_, current_)) {
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CDetectPolePairs::OnTimer(UINT_PTR timerId) {
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
        case kHoldStep:
            WaitForHold();
            break;
        case kEndStep:
            WaitForEnd();
            break;
        default:
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            break;
    }
    CMyTestDlg::OnTimer(timerId);
}

void CDetectPolePairs::AfterPositioning() {
    double reference = 0.0;
    double referenceIncrement = 0.0;
    if (!CheckInitialPositioning(positioning_) ||
        !ReadDriveVariable("REFTST_V", false, reference) ||
        !ReadDriveVariable("RINCTST_V", false, referenceIncrement)) {
        return;
    }
    SetInfoText(kSteps[2]);
    if (!SetProgramVariable(program_, "RefTest", reference) ||
        !SetProgramVariable(program_, "RIncTest", referenceIncrement) ||
        !Launch(kProgram, program_)) {
        return;
    }
    SetInfoText(kSteps[3]);
    WaitForHold();
}

void CDetectPolePairs::FailAfterBoardReset() {
    CQel_Comm::ResetActiveBoard();
    TestFailed(1);
}

void CDetectPolePairs::WaitForHold() {
    double started = 0.0;
    if (!GetUserVariableValue(program_, "STARTED", started, errorText_)) {
        FailAfterBoardReset();
        return;
    }
    if (started == 0.0) {
        if (CheckMotionErrors(1, kShortCircuitAndEnableMask)) {
            RearmTimer();
        }
        return;
    }
    int axisOn = 0;
    if (!GetAxisOn(axisOn)) {
        errorText_ = msc_pszErrInternal;
        FailAfterBoardReset();
        return;
    }
    if (!axisOn) {
        if (CheckMotionErrors(1, kShortCircuitAndEnableMask)) {
            RearmTimer();
        }
        return;
    }
    // The drive holds the rotor: the user marks the shaft and moves it; no tick until Stop.
    moveShown_ = true;
    UpdateData(FALSE);
}

void CDetectPolePairs::WaitForEnd() {
    switch (WaitForProgram(program_, kShortCircuitAndEnableMask)) {
        case ProgramState::Running:
            RearmTimer();
            return;
        case ProgramState::Failed:
            return;
        case ProgramState::Ended:
            break;
    }
    double count = 0.0;
    if (!ReadDriveVariable(kCommand, true, count)) {
        return;
    }
    if (count < 1.0) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    GetSetup()->SetParameterValueInBaseUnit("pp", count);
    SetChildText(kCountEditId, FormatCount(count));
    moveShown_ = false;
    continuousRun_ = 0;
    TestSucceeded(1);
    UpdateData(FALSE);
}

bool CDetectPolePairs::WriteCommand(double command) {
    CQel_Variable* variable = GetSetup()->FindVariable(kCommand, 1);
    if (variable == nullptr) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return false;
    }
    variable->SetValueInBaseUnit(command);
    if (!variable->WriteToChip()) {
        errorText_ = CQel_Comm::GetLastErrorText();
        TestFailed(1);
        return false;
    }
    return true;
}

bool CDetectPolePairs::ReadTestAngle(double& angle) {
    CQel_Variable* variable = GetSetup()->FindVariable("THTST", 1);
    if (variable == nullptr || !variable->ReadFromChip()) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return false;
    }
    angle = variable->GetValueInInternalUnit();
    return true;
}

void CDetectPolePairs::OnStartStop() {
    if (!running_ || !continuousRun_) {
        OnBtnStartStop();
        UpdateData(FALSE);
        return;
    }
    moveShown_ = false;
    continuousRun_ = 0;
    UpdateData(FALSE);
    if (!WriteCommand(kEndCommand)) {
        return;
    }
    SetInfoText(kSteps[4]);
    RearmTimer(kEndPollPeriod_ms);
}

void CDetectPolePairs::OnMove() {
    if (!WriteCommand(kMoveCommand)) {
        UpdateData(FALSE);
        return;
    }
    continuousRun_ = 1;
    double angle = 0.0;
    if (!ReadTestAngle(angle)) {
        UpdateData(FALSE);
        return;
    }
    moveEnabled_ = false;
    UpdateData(FALSE);
    const bool ended = WaitForMoveEnd(angle);
    moveEnabled_ = true;
    UpdateData(FALSE);
    double count = 0.0;
    if (ended && ReadProgramVariable(program_, "poles_pairs", count)) {
        SetChildText(kCountEditId, FormatCount(count));
    }
}

bool CDetectPolePairs::WaitForMoveEnd(double angle) {
    CWaitCursor wait;
    const ui::Backend& clock = ui::CurrentBackend();
    const std::uint64_t start_ms = clock.Now_ms();
    while (angle != kMoveEndMarker) {
        PumpWaitingMessages();
        if (!running_ || HasEnded()) {
            return false;
        }
        if (clock.Now_ms() - start_ms > kLongestMove_ms) {
            // A protection that switched the drive off explains the missing end best.
            if (CheckMotionErrors(1, kShortCircuitAndEnableMask)) {
                errorText_ = kMoveNotEnded;
                TestFailed(1);
            }
            return false;
        }
        if (!ReadTestAngle(angle)) {
            return false;
        }
    }
    return true;
}

BOOL CDetectPolePairs::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED) {
        switch (id) {
            case kStartStopId:
                OnStartStop();
                return TRUE;
            case kMoveButtonId:
                OnMove();
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

void CDetectPolePairs::OnCancel() {
    const int newPolePairs = static_cast<int>(GetSetup()->GetParameterValueInBaseUnit("pp"));
    ClosingQuestion question;
    if (result_ == 1 && newPolePairs != oldPolePairs_) {
        question.AddLine("Pole Pairs", std::to_string(oldPolePairs_), std::to_string(newPolePairs));
    }
    switch (question.Ask(*this)) {
        case ClosingQuestion::Answer::Yes:
            EndDialog(IDOK);
            return;
        case ClosingQuestion::Answer::No:
            GetSetup()->SetParameterValueInBaseUnit("pp", oldPolePairs_);
            EndDialog(IDCANCEL);
            return;
        case ClosingQuestion::Answer::Cancel:
            return;
        case ClosingQuestion::Answer::NotAsked:
            CMyTestDlg::OnCancel();
            return;
    }
}
