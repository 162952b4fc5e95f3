#include "drivetests/TotalInertiaTest.h"

#include <cmath>

#include "drivetests/ClosingQuestion.h"
#include "engine/BaseScales.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 3041;
constexpr DWORD_PTR kHelpTopic = 0x40111;
constexpr int kMaxSpeedEditId = 3267;
constexpr int kMaxSpeedUnitId = 3268;
constexpr int kInertiaEditId = 3263;
constexpr int kInertiaUnitId = 3264;
constexpr int kProtectionEditId = 3265;
constexpr int kProtectionUnitId = 3266;

constexpr const char* kProgram = "Total_Inertia_Identification_Test";
constexpr const char* kSteps[] = {
    "Launching code for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching code for J test",
    "Waiting J test to be finished",
};
constexpr std::uint16_t kStepCount = 4;
constexpr std::uint16_t kPositioningStep = 2;
constexpr std::uint16_t kInertiaStep = 4;
// The run accelerates the rotor: every motion error the drive raises ends it as a failure.
constexpr std::uint16_t kEveryMotionError = 0xFFFF;

// The codes "delta_time" carries when the run measured no acceleration.
constexpr double kBackwardCode = -1.0;
constexpr double kNoMotionCode = -2.0;

}  // namespace

const char* const CTotalInertiaTest::kNegativeSpeed =
    "When a POSITIVE torque level is applied to the motor, the measured speed is NEGATIVE.\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are reversed;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the test <<Detect number of lines>> to verify the encoder counting direction;\n"
    "\t\tCheck if the motor nominal current was correctly set";
const char* const CTotalInertiaTest::kNegativeSpeedCode =
    "When a POSITIVE torque level is applied to the motor, the measured speed is NEGATIVE.\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are reversed;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the test <<Detect number of lines>> to verify the encoder counting direction;\n"
    "\t\tCheck if the motor nominal current was correctly set.";
const char* const CTotalInertiaTest::kZeroSpeed =
    "When trying to apply POSITIVE torque to the motor, the measured speed is ZERO, or the "
    "reference torque cannot be reached!\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are missing;\n"
    "\t\tThe DC voltage level is not high enough;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the encoder <<Test connections>> to verify presence of the encoder signals\n"
    "\t\tCheck if the motor nominal current was correctly set.\n"
    "\t\tTry to decrease the test current.";
const char* const CTotalInertiaTest::kSpeedNotReached =
    "The motor does not reach the programmed speed level!\n"
    "You may have a problem with the encoder or the initial positioning is not performed "
    "correctly. Check the encoder and motor connections. If these are OK, try to increase the "
    "test current.";
const char* const CTotalInertiaTest::kNoSpeedIncrease =
    "The J test measured no increase of the motor speed, so the total inertia cannot be "
    "computed. Check the encoder connections and the current controller tuning, then start the "
    "test again.";
const char* const CTotalInertiaTest::kProtectionBelowTestCurrent =
    "I protection must be greater or equal to Test current.";

CTotalInertiaTest::CTotalInertiaTest(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent) {
    stepCount_ = kStepCount;
    AddParameterControls("TestMaxSpeed", kMaxSpeedEditId, kMaxSpeedUnitId);
    AddParameterControls("Jt", kInertiaEditId, kInertiaUnitId);
    AddParameterControls("TestCurrent", kTestCurrentEditId, kTestCurrentUnitId);
    AddParameterControls("TestProtectionCurrent", kProtectionEditId, kProtectionUnitId);
}

void CTotalInertiaTest::ClearResult() {
    SetChildText(kInertiaEditId, "");
    SetChildText(kInertiaUnitId, "");
}

BOOL CTotalInertiaTest::OnInitDialog() {
    CMyTestDlg::OnInitDialog();
    ClearResult();
    positioning_.SetFileName(GetOutPathName(kInitialPositioning));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    oldInertia_kgm2_ = GetSetup()->GetParameterValueInBaseUnit("Jt");
    newInertia_kgm2_ = oldInertia_kgm2_;
    return FALSE;
}

void CTotalInertiaTest::OnStartStop() {
    const CQel_Setup& setup = *GetSetup();
    if (!running_ && setup.GetParameterValueInBaseUnit("TestCurrent") >
                         setup.GetParameterValueInBaseUnit("TestProtectionCurrent")) {
        MessageBox(kProtectionBelowTestCurrent, {}, MB_OK);
        return;
    }
    OnBtnStartStop();
}

void CTotalInertiaTest::BeginTest() {
    RefreshAllParameters(0);
    ClearResult();
    current_ = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    SetInfoText(kSteps[0]);
    if (!LaunchInitialPositioning(positioning_, current_)) {
        return;
    }
    RearmTimer();
    if (running_) {
        SetInfoText(kSteps[1]);
    }
}

void CTotalInertiaTest::Fail(const char* text) {
    errorText_ = text;
    TestFailed(1);
}

void CTotalInertiaTest::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    if (currentStep_ == kPositioningStep) {
        if (ProgramHasEnded(positioning_, kShortCircuitAndEnableMask)) {
            AfterPositioning();
        }
    } else if (currentStep_ == kInertiaStep) {
        if (ProgramHasEnded(program_, kEveryMotionError)) {
            AfterInertiaRun();
        }
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTotalInertiaTest::AfterPositioning() {
    CQel_Setup& setup = *GetSetup();
    double reference = 0.0;
    double referenceIncrement = 0.0;
    if (!CheckInitialPositioning(positioning_) ||
        !ReadDriveVariable("REFTST_V", false, reference) ||
        !ReadDriveVariable("RINCTST_V", false, referenceIncrement)) {
        return;
    }
    SetInfoText(kSteps[2]);
    const double speedLimit = std::trunc(setup.GetParameterValueInInternalUnit("TestMaxSpeed"));
    const double protection =
        std::trunc(setup.GetParameterValueInInternalUnit("TestProtectionCurrent"));
    if (!SetProgramVariable(program_, "RefTest", reference) ||
        !SetProgramVariable(program_, "RIncTest", referenceIncrement) ||
        !SetProgramVariable(program_, "In1", current_) ||
        !SetProgramVariable(program_, "LimitSpeedMax", speedLimit) ||
        !SetProgramVariable(program_, "Imax_Prot_Test", protection) ||
        !Launch(kProgram, program_)) {
        return;
    }
    SetInfoText(kSteps[3]);
    RearmTimer();
}

void CTotalInertiaTest::AfterInertiaRun() {
    CQel_Setup& setup = *GetSetup();
    double verdict = 0.0;
    double periods = 0.0;
    double speedChange = 0.0;
    if (!ReadProgramVariable(program_, "test_flag", verdict) ||
        !ReadProgramVariable(program_, "delta_time", periods) ||
        !ReadProgramVariable(program_, "delta_speed", speedChange)) {
        return;
    }
    if (verdict <= 0.0) {
        Fail(kNegativeSpeed);
        return;
    }
    if (periods <= 0.0) {
        Fail(periods == kBackwardCode   ? kNegativeSpeedCode
             : periods == kNoMotionCode ? kZeroSpeed
                                        : kSpeedNotReached);
        return;
    }
    // A forward run whose speed did not grow leaves no acceleration to divide the torque by.
    if (speedChange <= 0.0) {
        Fail(kNoSpeedIncrease);
        return;
    }
    const double torque_Nm =
        setup.GetParameterValueInBaseUnit("K") * current_ / ComputeCurrentScale(setup);
    const double acceleration_rad_s2 =
        speedChange / ComputeMotorSpeedScale(setup) / (periods * ComputeSpeedLoopPeriod(setup));
    const double inertia_kgm2 = torque_Nm / acceleration_rad_s2;
    CQel_Parameter* inertia = setup.FindParameter("Jt");
    if (inertia == nullptr || !std::isfinite(inertia_kgm2)) {
        Fail(msc_pszErrInternal);
        return;
    }
    inertia->SetValueInBaseUnit(inertia_kgm2);
    newInertia_kgm2_ = inertia->GetValueInBaseUnit();
    RefreshAllParameters(0);
    TestSucceeded(1);
}

BOOL CTotalInertiaTest::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kStartStopId) {
        OnStartStop();
        return TRUE;
    }
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}

void CTotalInertiaTest::OnOK() {
    CMyTestDlg::OnOK();
    GetSetup()->SetParameterValueInBaseUnit(
        "Imax_Prot", GetSetup()->GetParameterValueInBaseUnit("TestProtectionCurrent"));
}

void CTotalInertiaTest::OnCancel() {
    ClosingQuestion question;
    if (result_ == 1) {
        question.AddIfDiffers("Total inertia", FormatLowerG(oldInertia_kgm2_),
                              FormatLowerG(newInertia_kgm2_));
    }
    switch (question.Ask(*this)) {
        case ClosingQuestion::Answer::Yes:
            EndDialog(IDOK);
            return;
        case ClosingQuestion::Answer::No:
            GetSetup()->SetParameterValueInBaseUnit("Jt", oldInertia_kgm2_);
            EndDialog(IDCANCEL);
            return;
        case ClosingQuestion::Answer::Cancel:
            return;
        case ClosingQuestion::Answer::NotAsked:
            CMyTestDlg::OnCancel();
            return;
    }
}
