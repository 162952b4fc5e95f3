#include "drivetests/TestRL.h"

#include <cmath>
#include <numbers>

#include "drivetests/ClosingQuestion.h"
#include "drivetests/LoggedMean.h"
#include "engine/BaseScales.h"
#include "engine/PhaseConnection.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 290;
constexpr DWORD_PTR kHelpTopic = 0x4010C;
constexpr int kREditId = 1002;
constexpr int kLEditId = 1003;
constexpr int kRUnitId = 3128;
constexpr int kLUnitId = 3129;

constexpr const char* kResistanceProgram = "Ident_R_or_Rs";
constexpr const char* kInductanceProgram = "Ident_L_or_Tau_el";
constexpr const char* kSteps[] = {
    "Launching code for preliminary test (1)",
    "Waiting preliminary test to be finished (1)",
    "Launching code for R test (1)",
    "Waiting R test to be finished (1)",
    "Launching code for preliminary test (2)",
    "Waiting preliminary test to be finished (2)",
    "Launching code for R test (2)",
    "Waiting R test to be finished (2)",
    "Launching code for L test",
    "Waiting L test to be finished",
};
constexpr std::uint16_t kStepCount = 10;

// The logger holds 400 points of each run; log type 1 samples at the speed loop, 2 at the
// current loop, every period.
constexpr int kLogPoints = 400;
constexpr int kSpeedLoopLog = 1;
constexpr int kCurrentLoopLog = 2;
constexpr int kEveryPeriod = 1;

// The inductance run turns its voltage vector by TINCTST per current-loop period, in 1/65535 of
// a turn.
constexpr double kAngleCountsPerTurn = 65535.0;

constexpr const char* kNoResistance =
    "The two resistance runs drew the same mean current, so the resistance cannot be computed. "
    "Check the motor's phase connections and raise the test current.";
constexpr const char* kNoInductance =
    "The inductance run logged no usable current, so the inductance cannot be computed. Check the "
    "motor's phase connections and the test current.";

}  // namespace

CTestRL::CTestRL(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent), logger_(setup) {
    stepCount_ = kStepCount;
    AddParameterControls("R", kREditId, kRUnitId);
    AddParameterControls("L", kLEditId, kLUnitId);
    AddParameterControls("TestCurrent", kTestCurrentEditId, kTestCurrentUnitId);
}

CTestRL::~CTestRL() {
    RestoreVdc();
}

void CTestRL::RestoreVdc() {
    if (vdcCaptured_) {
        GetSetup()->SetParameterValueInBaseUnit("Vdc", oldVdc_V_);
    }
}

BOOL CTestRL::OnInitDialog() {
    CQel_Setup& setup = *GetSetup();
    oldVdc_V_ = setup.GetParameterValueInBaseUnit("Vdc");
    vdcCaptured_ = true;
    oldR_Ohm_ = setup.GetParameterValueInBaseUnit("R");
    oldL_H_ = setup.GetParameterValueInBaseUnit("L");
    positioning_.SetFileName(GetOutPathName(kInitialPositioning));
    positioning_.ReadCoff();
    resistanceProgram_.SetFileName(GetOutPathName(kResistanceProgram));
    resistanceProgram_.ReadCoff();
    inductanceProgram_.SetFileName(GetOutPathName(kInductanceProgram));
    inductanceProgram_.ReadCoff();
    const BOOL result = CMyTestDlg::OnInitDialog();
    for (int id : {kREditId, kLEditId, kRUnitId, kLUnitId}) {
        SetChildText(id, "");
    }
    return result;
}

void CTestRL::BeginTest() {
    for (int id : {kREditId, kLEditId, kRUnitId, kLUnitId}) {
        SetChildText(id, "");
    }
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    current_ = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    SetInfoText(kSteps[0]);
    if (!LaunchInitialPositioning(positioning_, current_)) {
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestRL::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    switch (currentStep_) {
        case 2:
            if (ProgramHasEnded(positioning_, kShortCircuitAndEnableMask)) {
                AfterFirstPositioning();
            }
            break;
        case 4:
            if (ProgramHasEnded(resistanceProgram_, kShortCircuitAndEnableMask)) {
                AfterFirstResistanceRun();
            }
            break;
        case 6:
            if (ProgramHasEnded(positioning_, kShortCircuitAndEnableMask)) {
                AfterSecondPositioning();
            }
            break;
        case 8:
            if (ProgramHasEnded(resistanceProgram_, kShortCircuitAndEnableMask)) {
                AfterSecondResistanceRun();
            }
            break;
        case 10:
            if (ProgramHasEnded(inductanceProgram_, kShortCircuitAndEnableMask)) {
                AfterInductanceRun();
            }
            break;
        default:
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            break;
    }
    CMyTestDlg::OnTimer(timerId);
}

bool CTestRL::LaunchResistanceRun(int current, int logType) {
    if (!SetProgramVariable(resistanceProgram_, "RefTest", reference_) ||
        !SetProgramVariable(resistanceProgram_, "RIncTest", referenceIncrement_) ||
        !SetProgramVariable(resistanceProgram_, "In1", current)) {
        return false;
    }
    logger_.ChangeSettings(kLogPoints, logType, kEveryPeriod);
    logger_.AddVariable("IQ", 0);
    return Launch(kResistanceProgram, resistanceProgram_, &logger_);
}

void CTestRL::AfterFirstPositioning() {
    if (!CheckInitialPositioning(positioning_) ||
        !ReadDriveVariable("REFTST_V", false, reference_) ||
        !ReadDriveVariable("RINCTST_V", false, referenceIncrement_)) {
        return;
    }
    SetInfoText(kSteps[2]);
    if (!LaunchResistanceRun(current_, kSpeedLoopLog)) {
        return;
    }
    SetInfoText(kSteps[3]);
    RearmTimer();
}

void CTestRL::AfterFirstResistanceRun() {
    if (!ReadDriveVariable("var_i1", true, u1_) || !Upload(logger_)) {
        return;
    }
    LoggedMean current;
    double point[2] = {};
    while (logger_.ReadPoint(point)) {
        current.Add(point[1]);
    }
    if (!current.IsEmpty()) {
        i1_ = current.Value();
    }
    SetInfoText(kSteps[4]);
    if (!LaunchInitialPositioning(positioning_, current_ / 2)) {
        return;
    }
    SetInfoText(kSteps[5]);
    RearmTimer();
}

void CTestRL::AfterSecondPositioning() {
    if (!CheckInitialPositioning(positioning_) ||
        !ReadDriveVariable("REFTST_V", true, reference_) ||
        !ReadDriveVariable("RINCTST_V", true, referenceIncrement_)) {
        return;
    }
    SetInfoText(kSteps[6]);
    logger_.Reset();
    if (!LaunchResistanceRun(current_ / 2, kCurrentLoopLog)) {
        return;
    }
    SetInfoText(kSteps[7]);
    RearmTimer();
}

void CTestRL::AfterSecondResistanceRun() {
    CQel_Setup& setup = *GetSetup();
    double busCounts = 0.0;
    if (!ReadDriveVariable("var_i1", true, u2_) || !ReadDriveVariable("var_u2", true, busCounts) ||
        !Upload(logger_)) {
        return;
    }
    LoggedMean current;
    double point[2] = {};
    while (logger_.ReadPoint(point)) {
        current.Add(point[1]);
    }
    i2_ = current.IsEmpty() ? u2_ : current.Value();
    // The bus the runs were made at: the converter's reading over its full scale.
    setup.SetParameterValueInBaseUnit("Vdc", setup.GetParameterValueInBaseUnit("VdcMaxMeasurable") *
                                                 busCounts /
                                                 static_cast<double>(Compute_ADCMaxValue(setup)));
    const double countsPerAmpere = ComputeCurrentScale(setup);
    const double countsPerVolt = ComputeMotorVoltageScale(setup);
    r_Ohm_ = (u1_ - u2_) / (i1_ - i2_) / countsPerVolt * countsPerAmpere;
    if (!std::isfinite(r_Ohm_)) {
        errorText_ = kNoResistance;
        TestFailed(1);
        return;
    }
    SetInfoText(kSteps[8]);
    logger_.Reset();
    if (!SetProgramVariable(inductanceProgram_, "In1", current_)) {
        return;
    }
    logger_.ChangeSettings(kLogPoints, kCurrentLoopLog, kEveryPeriod);
    logger_.AddVariable("IQ", 0);
    logger_.AddVariable("ID", 0);
    if (!Launch(kInductanceProgram, inductanceProgram_, &logger_)) {
        return;
    }
    SetInfoText(kSteps[9]);
    RearmTimer();
}

void CTestRL::AfterInductanceRun() {
    CQel_Setup& setup = *GetSetup();
    double voltage = 0.0;
    double increment = 0.0;
    if (!ReadDriveVariable("var_i1", false, voltage) ||
        !ReadDriveVariable("TINCTST", false, increment) || !Upload(logger_)) {
        return;
    }
    LoggedMean direct;
    LoggedMean squared;
    double point[3] = {};
    while (logger_.ReadPoint(point)) {
        const double iq = point[1];
        const double id = point[2];
        direct.Add(id);
        squared.Add(id * id + iq * iq);
    }
    const double meanDirect = direct.IsEmpty() ? increment : direct.Value();
    const double meanSquare = squared.IsEmpty() ? increment : squared.Value();
    const double frequency_rad_s = increment * 2.0 * std::numbers::pi /
                                   (ComputeCurrentLoopPeriod(setup) * kAngleCountsPerTurn);
    double l_H = meanDirect * voltage / (frequency_rad_s * meanSquare) *
                 ComputeCurrentScale(setup) / ComputeMotorVoltageScale(setup);
    if (!std::isfinite(l_H)) {
        errorText_ = kNoInductance;
        TestFailed(1);
        return;
    }
    const double connection = setup.GetParameterValueInBaseUnit("MotorPhaseConnectionType");
    const double r_Ohm = engine::TerminalValue(r_Ohm_, connection);
    l_H = engine::TerminalValue(l_H, connection);
    CQel_Parameter* inductance = setup.FindParameter("L");
    CQel_Parameter* resistance = setup.FindParameter("R");
    if (inductance == nullptr || resistance == nullptr) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    inductance->SetValueInBaseUnit(l_H);
    newL_H_ = inductance->GetValueInBaseUnit();
    resistance->SetValueInBaseUnit(r_Ohm);
    newR_Ohm_ = resistance->GetValueInBaseUnit();
    RefreshParameterControls("R");
    RefreshParameterControls("L");
    TestSucceeded(1);
}

BOOL CTestRL::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}

void CTestRL::OnCancel() {
    RestoreVdc();
    ClosingQuestion question;
    if (result_ == 1) {
        if (oldR_Ohm_ != newR_Ohm_) {
            question.AddLine("Phase resistance", FormatLowerG(oldR_Ohm_), FormatLowerG(newR_Ohm_));
        }
        if (oldL_H_ != newL_H_) {
            question.AddLine("Phase inductance", FormatLowerG(oldL_H_), FormatLowerG(newL_H_));
        }
    }
    switch (question.Ask(*this)) {
        case ClosingQuestion::Answer::Yes:
            EndDialog(IDOK);
            return;
        case ClosingQuestion::Answer::No:
            EndDialog(IDCANCEL);
            return;
        case ClosingQuestion::Answer::Cancel:
            return;
        case ClosingQuestion::Answer::NotAsked:
            CMyTestDlg::OnCancel();
            return;
    }
}
