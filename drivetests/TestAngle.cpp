#include "drivetests/TestAngle.h"

#include <cstdio>
#include <string>
#include <vector>

#include "engine/RegisterComputation.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"
#include "host/kernel/Units.h"
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
constexpr int kKpFineSpinId = 1336;
constexpr int kKpSliderId = 1337;
constexpr int kKpCoarseSpinId = 1338;
constexpr int kKiEditId = 1340;
constexpr int kKiFineSpinId = 1341;
constexpr int kKiSliderId = 1342;
constexpr int kKiCoarseSpinId = 1343;
constexpr int kGraphId = 1361;
constexpr int kSavePlotsId = 1372;
constexpr int kProcedureId = 1377;
constexpr int kPictureId = 1123;
constexpr int kPointsEditId = 3357;
constexpr int kPeriodEditId = 3359;
constexpr const char* kPicture = "3354";
constexpr const char* kSavedName = "AngleControllerTuning.svg";

const std::vector<int> kParametersPageIds = {10014, 10015, 1376, 1377, 1301, 1123, 3361, 3362,
                                             3363,  3364,  3365, 3366, 3367, 3368, 3369};
const std::vector<int> kTestPageIds = {10000, 1333, 1334, 1335, 1336, 1337, 1338, 1339,  1340,
                                       1341,  1342, 1343, 1361, 1372, 1374, 1375, 10001, 10002,
                                       10004, 3355, 3356, 3357, 3358, 3359, 3360};
// The gain controls, which a run leaves alone: they change only between runs.
const int kGainControlIds[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343, 0};

constexpr const char* kProgram = "Angle_Controller_Tuning_Test";
constexpr const char* kSteps[] = {"Launching the application for test", "Running test",
                                  "Uploading results"};
constexpr std::uint16_t kStepCount = 3;

// The logger's settings when the setup does not name them: 2000 points (of 10 to 5000), one
// every second current-loop period (of 1 to 200; log type 2).
constexpr int kDefaultPoints = 2000;
constexpr int kFewestPoints = 10;
constexpr int kMostPoints = 5000;
constexpr int kDefaultPeriod = 2;
constexpr int kLongestPeriod = 200;
constexpr int kCurrentLoopLog = 2;
// The help topic a failure to stabilise points to.
constexpr DWORD_PTR kTuningHelpTopic = 262415;
constexpr const char* kOfferHelp = "\n\nOpen the help on tuning the electric angle controller?";

// The program's verdicts in "test_flag"; 1.2345e100 marks a program that could not judge.
constexpr double kNoValue = 1.2345e100;
constexpr double kOverCurrentFlag = -1.0;
constexpr double kNotStabilizedFlag = -2.0;
constexpr double kLowCurrentFlag = -3.0;

qel::ParameterDefinition LoggerSetting(const char* name, int value, int minimum, int maximum) {
    qel::ParameterDefinition definition;
    definition.name = name;
    definition.family = qel::FindUnitFamily("number");
    definition.type = qel::ValueType::Integer;
    definition.value = value;
    definition.min = minimum;
    definition.max = maximum;
    definition.precision = 0;
    return definition;
}

bool SetupHas(const CQel_Setup& setup, const char* name) {
    return setup.FindParameter(name) != nullptr;
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

const char* const CTestAngle::kProcedureWithStartPosition =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and tune the angle "
    "controller\r\n3. Press the \"Start\" button\r\n4. Wait until the test ends and displays "
    "the results\r\n5. The test is successful it at the end of the Stabilize time, the "
    "Electric_Angle graph is smooth and reaches final values with a tolerance of +/- 1820 (10 "
    "electrical degrees)\r\n6. If needed, change the controller parameters until you get "
    "results that satisfy point 5 above";
const char* const CTestAngle::kProcedure =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and tune the angle "
    "controller\r\n3. Press the \"Start\" button\r\n4. Wait until the test ends and displays "
    "the results\r\n5. If needed, change the controller parameters until you get satisfactory "
    "results.";

CTestAngle::CTestAngle(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent),
      curves_(setup, {"Motor_Current", "Electric_Angle"}, {{1, RGB16(1)}, {2, RGB16(4)}}),
      ownPoints_(setup, LoggerSetting("AquisitionsNo", kDefaultPoints, kFewestPoints, kMostPoints)),
      ownPeriod_(setup, LoggerSetting("SamplingRate", kDefaultPeriod, 1, kLongestPeriod)) {
    stepCount_ = kStepCount;
    SetPages(kParametersPageIds, kTestPageIds);
    AddParameterControls("MAX_CURRENT", kCurrentEditId, kCurrentUnitId);
    AddParameterControls("REF_INC", kIncrementEditId, kIncrementUnitId);
    AddParameterControls("TIME_LIMIT", kTimeEditId, kTimeUnitId);
    AddSliderParameterControls("Kp_T_scl", kKpSliderId, kKpEditId, 0, kKpFineSpinId,
                               kKpCoarseSpinId);
    AddSliderParameterControls("Ki_T_scl", kKiSliderId, kKiEditId, 0, kKiFineSpinId,
                               kKiCoarseSpinId);
    for (auto [parameter, editId] :
         {std::pair{&ownPoints_, kPointsEditId}, std::pair{&ownPeriod_, kPeriodEditId}}) {
        if (SetupHas(*setup, parameter->GetName().c_str())) {
            AddParameterControls(parameter->GetName(), editId, 0);
        } else {
            AddUserParameterControls(parameter, editId, 0);
        }
    }
}

CQel_Parameter& CTestAngle::PointsParameter() {
    CQel_Parameter* inSetup = GetSetup()->FindParameter("AquisitionsNo");
    return inSetup != nullptr ? *inSetup : ownPoints_;
}

CQel_Parameter& CTestAngle::PeriodParameter() {
    CQel_Parameter* inSetup = GetSetup()->FindParameter("SamplingRate");
    return inSetup != nullptr ? *inSetup : ownPeriod_;
}

BOOL CTestAngle::OnInitDialog() {
    const BOOL result = CMyTestDlg::OnInitDialog();
    RefreshAllParameters(0);
    if (auto* picture = dynamic_cast<CStatic*>(GetDlgItem(kPictureId))) {
        if (const std::optional<ui::Bitmap> bitmap = ui::LoadBitmapResource(kPicture)) {
            picture->SetBitmap(*bitmap);
        }
    }
    SetChildText(kProcedureId,
                 SetupHas(*GetSetup(), "START_POS") ? kProcedureWithStartPosition : kProcedure);
    InsertPages();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    ApplyLoggerSettings();
    curves_.Attach(kGraphId, this);
    UpdateData(FALSE);
    return result;
}

void CTestAngle::DoDataExchange(CDataExchange* pDX) {
    CMyTestDlg::DoDataExchange(pDX);
    if (pDX->m_bSaveAndValidate || GetWindowState() == nullptr) {
        return;
    }
    EnableChild(IDOK, running_ ? 0 : 1, 0);
    EnableChildren(kGainControlIds, running_ ? 0 : 1, 0);
    ShowChild(kGraphId, GetPage() == kTestPage ? 1 : 0);
}

bool CTestAngle::ApplyLoggerSettings() {
    return curves_.Apply(static_cast<int>(PointsParameter().GetValueInInternalUnit()),
                         kCurrentLoopLog,
                         static_cast<int>(PeriodParameter().GetValueInInternalUnit()));
}

void CTestAngle::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (qel::EqualsIgnoringCase(name, "Kp_T_scl")) {
        compute::SFTKPTHT(setup);
        compute::KPTHT(setup);
    } else if (qel::EqualsIgnoringCase(name, "Ki_T_scl")) {
        compute::SFTKITHT(setup);
        compute::KITHT(setup);
    }
    CMyTestDlg::OnChangedParameterValue(name);
}

void CTestAngle::OnRefreshParameterValue(std::string_view name) {
    if (running_) {
        if (qel::EqualsIgnoringCase(name, "Kp_T_scl")) {
            WriteRegistersToDrive({"SFTKPTHT", "KPTHT"});
        } else if (qel::EqualsIgnoringCase(name, "Ki_T_scl")) {
            WriteRegistersToDrive({"SFTKITHT", "KITHT"});
        }
    }
    CMyTestDlg::OnRefreshParameterValue(name);
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
    detailsWithHelp_ = false;
    UpdateData(FALSE);
    SetInfoText(kSteps[0]);
    // The run tries the gains the dialog shows, which may have been changed since the last one.
    if (!SendRegisters({"SFTKPTHT", "KPTHT", "SFTKITHT", "KITHT"})) {
        return;
    }
    if (!ApplyLoggerSettings()) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    if (!SetProgramVariable(program_, "In1", current) ||
        !SetProgramVariable(program_, "ReferenceIncrement", increment) ||
        !SetProgramVariable(program_, "TimeLimit", timeLimit) ||
        !Launch(kProgram, program_, &curves_.Logger())) {
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
    if (!running_) {
        UpdateData(FALSE);
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestAngle::AfterRun() {
    if (!Upload(curves_.Logger())) {
        return;
    }
    curves_.Graph().Invalidate();
    SetInfoText(kSteps[2]);
    UploadAndJudge();
}

void CTestAngle::UploadAndJudge() {
    if (!curves_.Draw([this] { return running_ != 0; })) {
        // Stopped during the upload: the run ends without a verdict.
        return;
    }
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
        detailsWithHelp_ = true;
    } else if (flag == kLowCurrentFlag) {
        errorText_ = kLowCurrent;
    } else {
        TestSucceeded(1);
        return;
    }
    TestFailed(1);
}

void CTestAngle::ShowDetailsWithHelp() {
    const int answer =
        MessageBox(errorText_ + kOfferHelp, GetWindowText(), MB_YESNO | MB_ICONERROR);
    if (answer == IDYES) {
        ShowHelp(kTuningHelpTopic);
    }
}

BOOL CTestAngle::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED) {
        switch (id) {
            case kHelpButtonId:
                ShowHelp(kHelpTopic);
                return TRUE;
            case kDetailsId:
                if (detailsWithHelp_) {
                    ShowDetailsWithHelp();
                    return TRUE;
                }
                break;
            case kSavePlotsId:
                if (!running_) {
                    curves_.Graph().SaveGraph({}, kSavedName);
                }
                return TRUE;
            default:
                break;
        }
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
