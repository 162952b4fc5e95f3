#include "drivetests/TestEncoderOffset.h"

#include <string>

#include "engine/RegisterComputation.h"
#include "host/kernel/Comm.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 3058;
constexpr DWORD_PTR kHelpTopic = 0x40110;
constexpr int kAlignTimeEditId = 3358;
constexpr int kAlignTimeUnitId = 1018;
constexpr int kOffsetEditId = 3131;

constexpr const char* kProgram = "Encoder_Offset_Zero_And_A_Detection_Test";
constexpr const char* kSteps[] = {
    "Launching code for the preliminary test",
    "Running test",
    "Launching code for the encoder offset test",
    "Reading results",
};
constexpr std::uint16_t kStepCount = 4;
constexpr std::uint16_t kPositioningStep = 2;
constexpr std::uint16_t kResultStep = 4;

// The program aligns the rotor twice, each within "time_AB", before the drive has anything to
// report; half a second more covers its start and the encoder's serial exchange.
constexpr double kAlignmentsToWait = 2.0;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kStartAndExchange_ms = 500.0;

// The encoder errors of the offset's exchange: alarm read and reset, offset read and write.
constexpr std::uint16_t kEncoderExchangeErrors = 0x0F00;

// What the positioning leaves in "In1" when it failed inside the drive.
constexpr double kProgramFailed = 1.2345e100;

// The offset comes as a signed high word and an unsigned low word.
constexpr std::int64_t kWord = 65536;
constexpr std::int64_t kLowWordMask = 0xFFFF;

}  // namespace

CTestEncoderOffset::CTestEncoderOffset(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = kStepCount;
    AddParameterControls("TestCurrent", kTestCurrentEditId, kTestCurrentUnitId);
    AddParameterControls("time_AB", kAlignTimeEditId, kAlignTimeUnitId);
}

std::int32_t CTestEncoderOffset::AssembleOffset(double lowWord, double highWord) {
    const auto low = static_cast<std::int64_t>(lowWord);
    const auto high = static_cast<std::int64_t>(highWord);
    return static_cast<std::int32_t>(high * kWord + (low & kLowWordMask));
}

BOOL CTestEncoderOffset::OnInitDialog() {
    positioning_.SetFileName(GetOutPathName(kInitialPositioning));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    return CMyTestDlg::OnInitDialog();
}

void CTestEncoderOffset::BeginTest() {
    SetChildText(kOffsetEditId, "");
    current_ = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    // Stop ends the run at once: the test never concludes by itself after a Stop.
    continuousRun_ = 0;
    SetInfoText(kSteps[0]);
    Reset();
    ComputeDriveRegisters(*GetSetup());
    if (!LaunchInitialPositioning(positioning_, current_)) {
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestEncoderOffset::FailAfterBoardReset() {
    CQel_Comm::ResetActiveBoard();
    TestFailed(1);
}

void CTestEncoderOffset::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    switch (currentStep_) {
        case kPositioningStep:
            WaitForPositioning();
            break;
        case kResultStep:
            ReadOffset();
            break;
        default:
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            break;
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestEncoderOffset::WaitForPositioning() {
    double started = 0.0;
    if (!GetUserVariableValue(positioning_, "STARTED", started, errorText_)) {
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
    if (axisOn) {
        RearmTimer();
        return;
    }
    if (!CheckMotionErrors(1, kShortCircuitAndEnableMask)) {
        return;
    }
    double current = 0.0;
    if (!GetUserVariableValue(positioning_, "In1", current, errorText_)) {
        FailAfterBoardReset();
        return;
    }
    if (current == kProgramFailed || current <= 0.0) {
        errorText_ = current == kProgramFailed ? msc_pszErrInternal : msc_pszErrInZero;
        FailAfterBoardReset();
        return;
    }
    LaunchOffsetRun();
}

void CTestEncoderOffset::LaunchOffsetRun() {
    double reference = 0.0;
    double referenceIncrement = 0.0;
    if (!ReadDriveVariable("REFTST_V", false, reference) ||
        !ReadDriveVariable("RINCTST_V", false, referenceIncrement)) {
        return;
    }
    SetInfoText(kSteps[2]);
    if (!SetProgramVariable(program_, "RefTest", reference) ||
        !SetProgramVariable(program_, "RIncTest", referenceIncrement)) {
        return;
    }
    CQel_Comm::ResetActiveBoard();
    if (!ExecuteCode(kProgram, &program_, nullptr, nullptr, nullptr)) {
        errorText_ = msc_pszErrInternal;
        FailAfterBoardReset();
        return;
    }
    SetInfoText(kSteps[3]);
    const double alignment_s = GetSetup()->GetParameterValueInBaseUnit("time_AB");
    const auto firstCheck_ms = static_cast<UINT>(
        alignment_s * kAlignmentsToWait * kMillisecondsPerSecond + kStartAndExchange_ms);
    if (SetTimer(kTestTimerId, firstCheck_ms) == 0) {
        errorText_ = GetLastErrorText();
        FailAfterBoardReset();
    }
}

void CTestEncoderOffset::ReadOffset() {
    int initialised = 0;
    if (!GetEndInit(initialised)) {
        errorText_ = msc_pszErrInternal;
        FailAfterBoardReset();
        return;
    }
    if (!initialised) {
        RearmTimer();
        return;
    }
    // The words hold the offset only once the program has stored it: "time_AB" sizes the first
    // look, the program's end decides.
    switch (WaitForProgram(program_, kShortCircuitAndEnableMask)) {
        case ProgramState::Running:
            RearmTimer();
            return;
        case ProgramState::Failed:
            return;
        case ProgramState::Ended:
            break;
    }
    if (!CheckEncoderErrors(1, kEncoderExchangeErrors)) {
        return;
    }
    double lowWord = 0.0;
    double highWord = 0.0;
    if (!ReadDriveVariable("ENDAT_DATA1", false, lowWord) ||
        !ReadDriveVariable("ENDAT_DATA2", false, highWord)) {
        return;
    }
    SetChildText(kOffsetEditId, std::to_string(AssembleOffset(lowWord, highWord)));
    CQel_Comm::ResetActiveBoard();
    TestSucceeded(1);
}

BOOL CTestEncoderOffset::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
