#include "drivetests/TestAngle.h"

#include <cstdio>
#include <string>

#include "engine/RegisterComputation.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"
#include "host/ui/Wnd.h"

namespace {

constexpr UINT kTemplateId = 3057;
constexpr DWORD_PTR kHelpTopic = 0x4010F;
constexpr int kCurrentEditId = 3362;
constexpr int kCurrentUnitId = 3363;
constexpr int kIncrementEditId = 3365;
constexpr int kIncrementUnitId = 3366;
constexpr int kTimeEditId = 3368;
constexpr int kTimeUnitId = 3369;
constexpr int kKpEditId = 1335;
constexpr int kKiEditId = 1340;
constexpr int kGraphId = 1361;

constexpr const char* kProgram = "Angle_Controller_Tuning_Test";
constexpr const char* kSteps[] = {"Launching the application for test", "Running test",
                                  "Uploading results"};
constexpr std::uint16_t kStepCount = 3;

// The logger's settings when the setup does not name them: 2000 points, one every second
// current-loop period (log type 2).
constexpr int kDefaultPoints = 2000;
constexpr int kDefaultPeriod = 2;
constexpr int kCurrentLoopLog = 2;

// The program's verdicts in "test_flag"; 1.2345e100 marks a program that could not judge.
constexpr double kNoValue = 1.2345e100;
constexpr double kOverCurrentFlag = -1.0;
constexpr double kNotStabilizedFlag = -2.0;
constexpr double kLowCurrentFlag = -3.0;

int SettingOr(const CQel_Setup& setup, const char* name, int fallback) {
    return setup.FindParameter(name) != nullptr
               ? static_cast<int>(setup.GetParameterValueInInternalUnit(name))
               : fallback;
}

}  // namespace

const char* const CTestAngle::kOverCurrent =
    "Test failed!\nCurrent protection triggered during test!";
const char* const CTestAngle::kNotStabilized =
    "Test failed!\nAngle not stabilized.\nIf the Electric_Angle graph is a flat line, please "
    "increase Kp and/or Ki parameters.\n\nIf the Electric_Angle graph oscillates too much, please "
    "decrease Kp and/or Ki parameters.\n\nIf the Electric_Angle graph does not oscillate, but it "
    "does not stabilize to a value between\n-18204 and -14564 (that means -16384 with a tolerance "
    "of +/- 1820, equivalent to\n+/- 10 electrical degrees), you have to fine tune the Kp and/or "
    "Ki parameters until it does.";
const char* const CTestAngle::kNotStabilizedAt =
    "Test failed!\n\nIf the Test current doesn\x92t decreases to zero, increase/decrease Kp and/or "
    "Ki parameters.\nIf the Test current decreases to zero but the Electric_Angle graph does not "
    "stabilize to a value close to %s with a tolerance of +/- 1820 (equivalent to +/- 10 "
    "electrical degrees), you have to fine tune the Kp and/or Ki parameters until it does.\nSee "
    "Electric Angle Controller Tuning Help for details";
const char* const CTestAngle::kLowCurrent =
    "Test failed!\nTest current may not be enough. Please increase test current.";

CTestAngle::CTestAngle(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent), logger_(setup), graph_(2, 0) {
    stepCount_ = kStepCount;
    AddParameterControls("MAX_CURRENT", kCurrentEditId, kCurrentUnitId);
    AddParameterControls("REF_INC", kIncrementEditId, kIncrementUnitId);
    AddParameterControls("TIME_LIMIT", kTimeEditId, kTimeUnitId);
    AddParameterControls("Kp_T_scl", kKpEditId, 0);
    AddParameterControls("Ki_T_scl", kKiEditId, 0);
}

BOOL CTestAngle::OnInitDialog() {
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    const BOOL result = CMyTestDlg::OnInitDialog();
    RefreshAllParameters(0);
    document_.AddCurve(CXYCurve("Motor_Current", "", RGB16(1)));
    document_.AddCurve(CXYCurve("Electric_Angle", "", RGB16(4)));
    ApplyLoggerSettings();
    graph_.SubclassDlgItem(kGraphId, this);
    graph_.SetDocument(&document_, &shown_);
    graph_.RefreshGraph();
    return result;
}

void CTestAngle::ApplyLoggerSettings() {
    const CQel_Setup& setup = *GetSetup();
    logger_.Reset();
    logger_.ChangeSettings(SettingOr(setup, "AquisitionsNo", kDefaultPoints), kCurrentLoopLog,
                           SettingOr(setup, "SamplingRate", kDefaultPeriod));
    logger_.AddVariable("Motor_Current", 1);
    logger_.AddVariable("Electric_Angle", 1);
    logger_.CorrectPointsNo();
}

void CTestAngle::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (name == "Kp_T_scl") {
        compute::SFTKPTHT(setup);
        compute::KPTHT(setup);
    } else if (name == "Ki_T_scl") {
        compute::SFTKITHT(setup);
        compute::KITHT(setup);
    }
    CMyTestDlg::OnChangedParameterValue(name);
}

void CTestAngle::BeginTest() {
    CQel_Setup& setup = *GetSetup();
    RefreshAllParameters(0);
    const double current = setup.GetParameterValueInInternalUnit("MAX_CURRENT");
    const double increment = setup.GetParameterValueInInternalUnit("REF_INC");
    const double timeLimit = setup.GetParameterValueInInternalUnit("TIME_LIMIT");
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    SetInfoText(kSteps[0]);
    ApplyLoggerSettings();
    for (int curve : {kCurrentCurve, kAngleCurve}) {
        document_.GetAt(curve)->RemoveAllPoints();
    }
    graph_.RefreshGraph();
    if (!SetProgramVariable(program_, "In1", current) ||
        !SetProgramVariable(program_, "ReferenceIncrement", increment) ||
        !SetProgramVariable(program_, "TimeLimit", timeLimit) ||
        !Launch(kProgram, program_, &logger_)) {
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestAngle::OnTimer(UINT_PTR timerId) {
    KillTimer(kTestTimerId);
    if (!running_ || timerId != kTestTimerId) {
        CMyTestDlg::OnTimer(timerId);
        return;
    }
    if (currentStep_ == 2) {
        if (ProgramHasEnded(program_, kShortCircuitAndEnableMask)) {
            AfterRun();
        }
    } else {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestAngle::AfterRun() {
    if (!Upload(logger_)) {
        return;
    }
    graph_.Invalidate();
    SetInfoText(kSteps[2]);
    UploadAndJudge();
}

void CTestAngle::UploadAndJudge() {
    graph_.DoZoomOut();
    CXYCurve& current = *document_.GetAt(kCurrentCurve);
    CXYCurve& angle = *document_.GetAt(kAngleCurve);
    double point[3] = {};
    while (logger_.ReadPoint(point)) {
        current.AddPoint(point[0], point[1]);
        angle.AddPoint(point[0], point[2]);
        graph_.UpdateLastPoint();
        PumpWaitingMessages();
        if (!running_) {
            // Stopped during the upload: the run ends without a verdict.
            graph_.DoZoomOut();
            return;
        }
    }
    graph_.DoZoomOut();
    double flag = 0.0;
    if (!ReadProgramVariable(program_, "test_flag", flag)) {
        return;
    }
    if (flag == kNoValue) {
        errorText_ = msc_pszErrInternal;
    } else if (flag == kOverCurrentFlag) {
        errorText_ = kOverCurrent;
    } else if (flag == kNotStabilizedFlag) {
        double goal = 0.0;
        std::string unread;
        if (GetUserVariableValue(program_, "theta_1", goal, unread) && goal != kNoValue) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", static_cast<int>(goal));
            char message[1024];
            std::snprintf(message, sizeof message, kNotStabilizedAt, text);
            errorText_ = message;
        } else {
            errorText_ = kNotStabilized;
        }
    } else if (flag == kLowCurrentFlag) {
        errorText_ = kLowCurrent;
    } else {
        TestSucceeded(1);
        return;
    }
    TestFailed(1);
}

BOOL CTestAngle::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED && id == kHelpButtonId) {
        ShowHelp(kHelpTopic);
        return TRUE;
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
