#include "drivetests/TestCurrent.h"

#include <cmath>
#include <optional>
#include <vector>

#include "engine/Derivation.h"
#include "engine/GainDesign.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/Comm.h"
#include "host/kernel/Setup.h"
#include "host/ui/Wnd.h"

namespace {

constexpr UINT kTemplateId = 101;
constexpr DWORD_PTR kHelpTopic = 0x40108;

constexpr int kStepCurrentEditId = 1120;
constexpr int kStepCurrentUnitId = 1121;
constexpr int kProtectionEditId = 1303;
constexpr int kProtectionUnitId = 1304;
constexpr int kUseFilterId = 3142;
constexpr int kFilterEditId = 3140;
constexpr int kFilterUnitId = 3141;
constexpr int kFilterLabelId = 3139;
constexpr int kCompensateId = 3147;
constexpr int kOffsetEditId = 3145;
constexpr int kOffsetUnitId = 3144;
constexpr int kOffsetLabelId = 3146;
constexpr int kKpEditId = 1335;
constexpr int kKpFineSpinId = 1336;
constexpr int kKpSliderId = 1337;
constexpr int kKpCoarseSpinId = 1338;
constexpr int kKiEditId = 1340;
constexpr int kKiFineSpinId = 1341;
constexpr int kKiSliderId = 1342;
constexpr int kKiCoarseSpinId = 1343;
constexpr int kPassbandEditId = 3155;
constexpr int kPassbandUnitId = 3151;
constexpr int kPassbandSliderId = 3152;
constexpr int kPassbandFineSpinId = 3153;
constexpr int kPassbandCoarseSpinId = 3154;
constexpr int kTuneId = 3149;
constexpr int kSavePlotsId = 1372;
constexpr int kGraphId = 1361;
constexpr int kPictureId = 1123;
constexpr int kProcedureId = 1377;
constexpr const char* kPicture = "3015";
constexpr const char* kSavedName = "CurrentTuning.svg";

const std::vector<int> kParametersPageIds = {1120, 1121, 1303,  1304,  1301, 1123,
                                             1376, 1377, 10014, 10015, 1119, 1122};
const std::vector<int> kTestPageIds = {
    10000, 1339,  1340,  1342, 1343,  1341, 1334, 1335, 1337, 1338, 1336, 1361, 1372,
    1375,  10002, 10004, 1374, 10001, 1333, 3138, 3142, 3139, 3140, 3141, 3143, 3147,
    3146,  3145,  3144,  3148, 3149,  3150, 3155, 3151, 3152, 3153, 3154};
// The gain controls, which a run leaves alone: during a run the gains change through Tune.
const int kGainControlIds[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343, 0};
const int kFilterControlIds[] = {kFilterEditId, kFilterUnitId, kFilterLabelId, 0};
const int kOffsetControlIds[] = {kOffsetEditId, kOffsetUnitId, kOffsetLabelId, 0};

constexpr const char* kPositioningProgram = "Initial_Positioning_Test";
constexpr const char* kProgram = "Current_Controller_Tuning_Test";
constexpr const char* kSteps[] = {
    "Launching the application for preliminary test", "Waiting preliminary test to be finished",
    "Launching the application for test", "Running test", "Uploading results"};
constexpr std::uint16_t kStepCount = 5;
constexpr int kPositioningStep = 2;
constexpr int kTestStep = 4;

// The registers a run takes from the dialog.
constexpr std::initializer_list<const char*> kRunRegisters = {"SFTKPI", "KPI",     "SFTKII",
                                                              "KII",    "FILTERQ", "FFL"};

// The logger: 100 points, one every current-loop period (log type 2).
constexpr int kLoggedPoints = 100;
constexpr int kCurrentLoopLog = 2;
constexpr int kEveryPeriod = 1;

// The program's mark of a value it could not produce.
constexpr double kNoValue = 1.2345e100;

// The program's 16-bit inputs take the internal value truncated to a whole number, with sign.
double SixteenBits(double internalValue) {
    return static_cast<std::int16_t>(static_cast<std::int32_t>(std::trunc(internalValue)));
}

}  // namespace

const char* const CTestCurrent::kProtectionBelowTestCurrent =
    "Over current protection must be greater or equal to Test current.";
const char* const CTestCurrent::kCurrentProtectionTriggered =
    "Test failed!\nCurrent protection triggered during test!";
const char* const CTestCurrent::kProcedure =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and press the \"Tune\" "
    "button\r\n3. Set the desired passband and tune the controller\r\n4. Press the \"Start\" "
    "button\r\n5. Wait until the test ends and displays the results\r\n6. If needed, change the "
    "controller parameters during the test, until you get satisfactory results";

CTestCurrent::CTestCurrent(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent),
      curves_(setup, {"Current_Reference", "Motor_Current", "Voltage_Reference"},
              {{1, RGB16(2)}, {3, RGB16(8)}, {2, RGB16(5)}}) {
    stepCount_ = kStepCount;
    SetPages(kParametersPageIds, kTestPageIds);
    AddParameterControls("TestCurrent", kStepCurrentEditId, kStepCurrentUnitId);
    AddParameterControls("TestProtectionCurrent", kProtectionEditId, kProtectionUnitId);
    AddCheckParameterControls("isUseFilterOnCrtCtrlOutput", kUseFilterId);
    AddParameterControls("FilterOnCurrentControllerOutput", kFilterEditId, kFilterUnitId);
    AddCheckParameterControls("isCompensateGravitationalLoads", kCompensateId);
    AddParameterControls("OffsetCurrent", kOffsetEditId, kOffsetUnitId);
    AddSliderParameterControls("Kp_C_scl", kKpSliderId, kKpEditId, 0, kKpFineSpinId,
                               kKpCoarseSpinId);
    AddSliderParameterControls("Ki_C_scl", kKiSliderId, kKiEditId, 0, kKiFineSpinId,
                               kKiCoarseSpinId);
    AddSliderParameterControls("PB_C", kPassbandSliderId, kPassbandEditId, kPassbandUnitId,
                               kPassbandFineSpinId, kPassbandCoarseSpinId);
}

BOOL CTestCurrent::OnInitDialog() {
    const BOOL result = CMyTestDlg::OnInitDialog();
    RefreshAllParameters(0);
    if (auto* picture = dynamic_cast<CStatic*>(GetDlgItem(kPictureId))) {
        if (const std::optional<ui::Bitmap> bitmap = ui::LoadBitmapResource(kPicture)) {
            picture->SetBitmap(*bitmap);
        }
    }
    SetChildText(kProcedureId, kProcedure);
    InsertPages();
    positioning_.SetFileName(GetOutPathName(kPositioningProgram));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    curves_.Apply(kLoggedPoints, kCurrentLoopLog, kEveryPeriod);
    curves_.Attach(kGraphId, this);
    UpdateData(FALSE);
    return result;
}

void CTestCurrent::DoDataExchange(CDataExchange* pDX) {
    CMyTestDlg::DoDataExchange(pDX);
    if (pDX->m_bSaveAndValidate || GetWindowState() == nullptr) {
        return;
    }
    const CQel_Setup& setup = *GetSetup();
    const bool testPage = GetPage() == kTestPage;
    const auto switchedOn = [&setup](const char* name) {
        return setup.FindParameter(name) != nullptr &&
               setup.GetParameterValueInInternalUnit(name) != 0.0;
    };
    EnableChild(IDOK, running_ ? 0 : 1, 0);
    EnableChildren(kGainControlIds, running_ ? 0 : 1, 0);
    ShowChild(kGraphId, testPage ? 1 : 0);
    ShowChildren(kFilterControlIds, testPage && switchedOn("isUseFilterOnCrtCtrlOutput") ? 1 : 0);
    ShowChildren(kOffsetControlIds,
                 testPage && switchedOn("isCompensateGravitationalLoads") ? 1 : 0);
}

bool CTestCurrent::MayShowTestPage() {
    const CQel_Setup& setup = *GetSetup();
    if (setup.GetParameterValueInBaseUnit("TestCurrent") >
        setup.GetParameterValueInBaseUnit("TestProtectionCurrent")) {
        MessageBox(kProtectionBelowTestCurrent, GetWindowText(), MB_OK);
        return false;
    }
    return true;
}

void CTestCurrent::OnOK() {
    CMyTestDlg::OnOK();
    CQel_Setup& setup = *GetSetup();
    setup.SetParameterValueInBaseUnit("Imax_Prot",
                                      setup.GetParameterValueInBaseUnit("TestProtectionCurrent"));
}

void CTestCurrent::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (qel::EqualsIgnoringCase(name, "Kp_C_scl")) {
        compute::SFTKPI(setup);
        compute::KPI(setup);
    } else if (qel::EqualsIgnoringCase(name, "Ki_C_scl")) {
        compute::SFTKII(setup);
        compute::KII(setup);
    } else if (qel::EqualsIgnoringCase(name, "OffsetCurrent")) {
        compute::FFL(setup);
    } else if (qel::EqualsIgnoringCase(name, "FilterOnCurrentControllerOutput")) {
        compute::FILTERQ(setup);
    }
    CMyTestDlg::OnChangedParameterValue(name);
}

void CTestCurrent::OnRefreshParameterValue(std::string_view name) {
    if (running_) {
        if (qel::EqualsIgnoringCase(name, "Kp_C_scl")) {
            WriteRegistersToDrive({"SFTKPI", "KPI"});
        } else if (qel::EqualsIgnoringCase(name, "Ki_C_scl")) {
            WriteRegistersToDrive({"SFTKII", "KII"});
        }
    }
    CMyTestDlg::OnRefreshParameterValue(name);
}

void CTestCurrent::RecomputeFilterAndOffset() {
    CQel_Setup& setup = *GetSetup();
    compute::FILTERQ(setup);
    compute::FFL(setup);
    derive::OffsetCurrent(setup);
}

void CTestCurrent::Tune() {
    CQel_Setup& setup = *GetSetup();
    DesignCurrentController(setup);
    compute::SFTKPI(setup);
    compute::KPI(setup);
    compute::SFTKII(setup);
    compute::KII(setup);
    // The gains shown are the ones the registers hold.
    derive::Ki_C_scl(setup);
    derive::Kp_C_scl(setup);
    if (running_) {
        WriteRegistersToDrive({"SFTKPI", "KPI", "SFTKII", "KII"});
    }
    RefreshAllParameters(0);
}

void CTestCurrent::BeginTest() {
    CQel_Setup& setup = *GetSetup();
    RefreshAllParameters(0);
    RecomputeFilterAndOffset();
    current_ =
        static_cast<std::int32_t>(std::trunc(setup.GetParameterValueInInternalUnit("TestCurrent")));
    running_ = 1;
    result_ = -1;
    currentStep_ = 0;
    UpdateData(FALSE);
    SetInfoText(kSteps[0]);
    // The run tries the gains and filter the dialog shows, which may differ from the drive's
    // since they were tuned between runs.
    if (!SendRegisters(kRunRegisters)) {
        return;
    }
    if (!LaunchInitialPositioning(positioning_, current_)) {
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestCurrent::OnTimer(UINT_PTR timerId) {
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
        case kTestStep:
            if (ProgramHasEnded(program_, kShortCircuitAndEnableMask)) {
                AfterTest();
            }
            break;
        default:
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            break;
    }
    if (!running_) {
        UpdateData(FALSE);
    }
    CMyTestDlg::OnTimer(timerId);
}

void CTestCurrent::AfterPositioning() {
    if (!CheckInitialPositioning(positioning_) ||
        !ReadDriveVariable("REFTST_V", false, reference_) ||
        !ReadDriveVariable("RINCTST_V", false, referenceIncrement_)) {
        return;
    }
    SetInfoText(kSteps[2]);
    LaunchTest();
}

void CTestCurrent::LaunchTest() {
    const CQel_Setup& setup = *GetSetup();
    if (!SetProgramVariable(program_, "RefTest", reference_) ||
        !SetProgramVariable(program_, "RIncTest", referenceIncrement_) ||
        !SetProgramVariable(program_, "In1",
                            SixteenBits(setup.GetParameterValueInInternalUnit("TestCurrent"))) ||
        !SetProgramVariable(
            program_, "Imax_Prot_Test",
            SixteenBits(setup.GetParameterValueInInternalUnit("TestProtectionCurrent"))) ||
        !Launch(kProgram, program_, &curves_.Logger())) {
        return;
    }
    SetInfoText(kSteps[3]);
    RearmTimer();
}

void CTestCurrent::AfterTest() {
    double flag = 0.0;
    if (!ReadProgramVariable(program_, "test_flag", flag)) {
        return;
    }
    if (flag == kNoValue || flag <= 0.0) {
        errorText_ = flag == kNoValue ? msc_pszErrInternal : kCurrentProtectionTriggered;
        TestFailed(1);
        return;
    }
    if (!Upload(curves_.Logger())) {
        return;
    }
    curves_.Graph().Invalidate();
    SetInfoText(kSteps[4]);
    if (curves_.Draw([this] { return running_ != 0; })) {
        TestSucceeded(1);
    }
}

BOOL CTestCurrent::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED) {
        switch (id) {
            case kHelpButtonId:
                ShowHelp(kHelpTopic);
                return TRUE;
            case kTuneId:
                Tune();
                return TRUE;
            case kSavePlotsId:
                if (!running_) {
                    curves_.Graph().SaveGraph({}, kSavedName);
                }
                return TRUE;
            case kUseFilterId:
            case kCompensateId: {
                const BOOL handled = CMyTestDlg::OnCommand(id, notifyCode);
                RecomputeFilterAndOffset();
                UpdateData(FALSE);
                RefreshAllParameters(0);
                return handled;
            }
            default:
                break;
        }
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
