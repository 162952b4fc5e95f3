#include "drivetests/TestSpeedTuning.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "dialogs/FiltersDlg.h"
#include "dialogs/MotorInertiaDlg.h"
#include "drivetests/TestProfile.h"
#include "drivetests/TotalInertiaTest.h"
#include "engine/BaseScales.h"
#include "engine/Derivation.h"
#include "engine/GainDesign.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/Comm.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/Wnd.h"

namespace {

constexpr UINT kTemplateId = 102;
constexpr DWORD_PTR kHelpTopic = 0x40102;

// Test parameters page.
constexpr int kLimitEditId = 3284;
constexpr int kLimitUnitId = 3283;
constexpr int kStartCurrentEditId = 3287;
constexpr int kStartCurrentUnitId = 3286;
constexpr int kProtectionEditId = 3281;
constexpr int kProtectionUnitId = 3279;
constexpr int kSpeedEditId = 1320;
constexpr int kSpeedUnitId = 1321;
constexpr int kHoldEditId = 1314;
constexpr int kHoldUnitId = 1315;
constexpr int kPauseEditId = 1317;
constexpr int kPauseUnitId = 1318;
constexpr int kRiseEditId = 1327;
constexpr int kRiseUnitId = 1328;
constexpr int kReturnEditId = 1330;
constexpr int kReturnUnitId = 1331;
constexpr int kMultiCycleId = 1332;
constexpr int kPositiveTypeId = 3528;
constexpr int kBidirectionalTypeId = 3530;
constexpr int kLimitsPictureId = 1305;
constexpr int kProfilePictureId = 1322;
constexpr int kProcedureId = 1377;
// Test page.
constexpr int kDataLoggerId = 1368;
constexpr int kOnlinePlotId = 1369;
constexpr int kFiltersId = 3510;
constexpr int kSavePlotsId = 1372;
constexpr int kGraphId = 1361;
constexpr int kScopeId = 1362;
constexpr int kInertiaEditId = 3270;
constexpr int kInertiaUnitId = 3288;
constexpr int kIdentifyId = 3271;
constexpr int kTuneId = 1390;
constexpr int kReferenceValueId = 1364;
constexpr int kLoadSpeedValueId = 1366;
constexpr int kPauseButtonId = 10016;
constexpr int kContinueButtonId = 10017;

struct SliderBinding {
    const char* name;
    int slider;
    int edit;
    int unit;
    int fineSpin;
    int coarseSpin;
};
constexpr SliderBinding kSliders[] = {
    {"Kp_S_scl", 1337, 1335, 0, 1336, 1338},     {"Ki_S_scl", 1342, 1340, 0, 1341, 1343},
    {"IPSatS", 1348, 1345, 1346, 1347, 1349},    {"KFFS_scl", 1354, 1352, 0, 1353, 1355},
    {"KFFA_scl", 1359, 1357, 0, 1358, 1360},     {"PB_S", 1382, 1379, 1380, 1381, 1383},
    {"Jload_over_J", 1387, 1385, 0, 1386, 1388},
};

const std::vector<int> kParametersPageIds = {
    10014, 10015, 1301, 3278, 3282, 3284, 3283, 3285, 3287, 3286, 3280, 3281, 3279,
    1305,  1323,  3528, 3529, 3530, 1312, 1319, 1320, 1321, 1326, 1327, 1328, 1313,
    1314,  1315,  1329, 1330, 1331, 1316, 1317, 1318, 1332, 1322, 1376, 1377};
const std::vector<int> kTestPageIds = {
    1368, 1369, 3510, 1372, 1361, 1362,  1333,  1334, 1335,  1336, 1337,  1338,  1339,
    1340, 1341, 1342, 1343, 1344, 1345,  1346,  1347, 1348,  1349, 1350,  1351,  1352,
    1353, 1354, 1355, 1356, 1357, 1358,  1359,  1360, 1389,  1378, 1379,  1380,  1381,
    1382, 1383, 1384, 1385, 1386, 1387,  1388,  3269, 3270,  3288, 3271,  1390,  3331,
    1363, 1364, 3332, 1365, 1366, 10016, 10017, 1374, 10001, 1375, 10004, 10002, 10000};
// The controls a run leaves alone unless the plot is on-line.
const int kLiveTuningIds[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343, 1345,
                              1346, 1347, 1348, 1349, 1357, 1358, 1359, 1360, 0};
const int kStartCurrentIds[] = {3285, 3287, 3286, 0};
const int kInertiaRatioIds[] = {1384, 1385, 1386, 1387, 1388, 0};
const int kFeedForwardIds[] = {1350, 1351, 1352, 1353, 1354, 1355, 1356, 1357, 1358, 1359, 1360, 0};
const int kSpeedFeedForwardIds[] = {1351, 1352, 1353, 1354, 1355, 0};
const int kReferenceTypeIds[] = {1323, 3528, 3529, 3530, 0};
const int kLiveValueIds[] = {1363, 1364, 1365, 1366, 3331, 3332, 0};

constexpr const char* kPositioningProgram = "Initial_Positioning_Test";
constexpr const char* kProgram = "Speed_Controller_Tuning_Test";
constexpr const char* kSteps[] = {
    "Launching the application for preliminary test", "Waiting preliminary test to be finished",
    "Launching the application for test", "Running test", "Uploading results"};
constexpr std::uint16_t kLoggedStepCount = 5;
constexpr std::uint16_t kOnlineStepCount = 4;
constexpr int kPositioningStep = 2;
constexpr int kLaunchStep = 3;
constexpr int kRunStep = 4;
constexpr int kUploadStep = 5;
// The step after a stop was asked for comes at once.
constexpr UINT kPromptTick_ms = 1;

// Every motion error, every one but the missing Hall sensor, the short circuit with the ENABLE
// input.
constexpr std::uint16_t kAllMotionErrors = 0xFFFF;
constexpr std::uint16_t kRunMotionErrors = 0xFFDF;

// The logger: 2000 points, one every speed-loop period (log type 1).
constexpr int kLoggedPoints = 2000;
constexpr int kSpeedLoopLog = 1;
constexpr int kEveryPeriod = 1;

// The start current is given in percent of the nominal current.
constexpr double kNominalPercent = 100.0;

// The program's mark of a value it could not produce.
constexpr double kNoValue = 1.2345e100;

// The pictures of the current limits and of the three reference profiles.
constexpr const char* kLimitsPicture = "308";
constexpr const char* kPositivePicture = "314";
constexpr const char* kNegativePicture = "3063";
constexpr const char* kBidirectionalPicture = "3062";

// A 16-bit input of the program: the value in single precision, rounded, with sign.
double SixteenBits(double internalValue) {
    const auto rounded = RoundToNearestInteger(static_cast<float>(internalValue));
    return static_cast<std::int16_t>(rounded);
}

void ShowBitmap(CWnd* picture, const char* name) {
    if (auto* stat = dynamic_cast<CStatic*>(picture)) {
        if (const std::optional<ui::Bitmap> bitmap = ui::LoadBitmapResource(name)) {
            stat->SetBitmap(*bitmap);
        }
    }
}

}  // namespace

const char* const CTestSpeedTuning::kProtectionBelowLimit =
    "Over current protection must be greater than Drive current limit. Recommended value for "
    "Drive current limit is maximum 90% of Over current protection.";
const char* const CTestSpeedTuning::kInertiaBelowMotor =
    "You have chosen a value for the total inertia that is lower than the value of the motor "
    "inertia.\nThe application will assume the motor inertia is unknown.";
const char* const CTestSpeedTuning::kStartCurrentAboveNominal =
    "You have set a start current bigger than the nominal current! The start current will be "
    "applied for %.2f s.\n\nThe motor must withstand this over current condition or it may be "
    "damaged.";
const char* const CTestSpeedTuning::kCurrentProtectionTriggered =
    "Test failed!\nCurrent protection triggered during test!";
const char* const CTestSpeedTuning::kRunningUntilStop =
    "Test running. Press \"Stop\" to end the test";
const char* const CTestSpeedTuning::kProcedure =
    "1. Check/setup the test current limits and speed profile below\r\n2. Go to the \"Test\" tab "
    "and press the \"Tune\" button\r\n3. Check/identify the total inertia, then set the desired "
    "passband and tune the controller\r\n4. Press the \"Start\" button\r\n5. Wait until the test "
    "begins and displays the results\r\n6. If needed, change the controller parameters during the "
    "test, until you get satisfactory results";

CTestSpeedTuning::CTestSpeedTuning(CQel_Setup* setup, CWnd* parent)
    : CMyTestDlg(setup, kTemplateId, 1, parent),
      curves_(setup, {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"},
              {{1, RGB16(2)}, {3, RGB16(8)}, {2, RGB16(5)}, {4, RGB16(9)}}) {
    SnapTestSpeed();
    SetPages(kParametersPageIds, kTestPageIds);
    AddParameterControls("TestLimitCurrent", kLimitEditId, kLimitUnitId);
    AddParameterControls("TestStartCurrent", kStartCurrentEditId, kStartCurrentUnitId);
    AddParameterControls("TestProtectionCurrent", kProtectionEditId, kProtectionUnitId);
    AddParameterControls("Jt", kInertiaEditId, kInertiaUnitId);
    AddParameterControls("TestSpeed", kSpeedEditId, kSpeedUnitId);
    AddParameterControls("TPS", kHoldEditId, kHoldUnitId);
    AddParameterControls("TNS", kPauseEditId, kPauseUnitId);
    AddParameterControls("TaPS", kRiseEditId, kRiseUnitId);
    AddParameterControls("TaNS", kReturnEditId, kReturnUnitId);
    AddSwitchParameterControls("OnlinePlotS", kDataLoggerId, kOnlinePlotId);
    AddCheckParameterControls("MultiCycleS", kMultiCycleId);
    if (SetupHas("SpeedTestReferenceType")) {
        AddSwitchParameterControls("SpeedTestReferenceType", kPositiveTypeId, kBidirectionalTypeId);
    }
    for (const SliderBinding& slider : kSliders) {
        AddSliderParameterControls(slider.name, slider.slider, slider.edit, slider.unit,
                                   slider.fineSpin, slider.coarseSpin);
    }
    stepCount_ = OnlinePlot() ? kOnlineStepCount : kLoggedStepCount;
}

bool CTestSpeedTuning::SetupHas(const char* name) const {
    return HasParameters(*GetSetup(), {name});
}

bool CTestSpeedTuning::OnlinePlot() const {
    return GetSetup()->GetParameterValueInInternalUnit("OnlinePlotS") != 0.0;
}

bool CTestSpeedTuning::MultipleCycles() const {
    return GetSetup()->GetParameterValueInInternalUnit("MultiCycleS") != 0.0;
}

void CTestSpeedTuning::SnapTestSpeed() {
    CQel_Setup& setup = *GetSetup();
    const double scale = ComputeSpeedScale(setup);
    if (scale == 0.0 || !SetupHas("TestSpeed")) {
        return;
    }
    const double units = setup.GetParameterValueInBaseUnit("TestSpeed") * scale;
    double whole = RoundToNearest(units);
    if (whole == 0.0) {
        whole = units >= 0.0 ? 1.0 : -1.0;
    }
    setup.SetParameterValueInBaseUnit("TestSpeed", whole / scale);
}

BOOL CTestSpeedTuning::OnInitDialog() {
    const BOOL result = CMyTestDlg::OnInitDialog();
    CQel_Setup& setup = *GetSetup();
    curves_.Apply(kLoggedPoints, kSpeedLoopLog, kEveryPeriod);
    curves_.Attach(kGraphId, this);
    ShowBitmap(GetDlgItem(kLimitsPictureId), kLimitsPicture);
    ShowProfilePicture();
    positioning_.SetFileName(GetOutPathName(kPositioningProgram));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(kProgram));
    program_.ReadCoff();
    SetButtonImage(kPauseButtonId, "PAUSE_");
    SetButtonImage(kContinueButtonId, "CONTINUE_");
    SetChildText(kProcedureId, kProcedure);
    SetChildText(kReferenceValueId, "");
    SetChildText(kLoadSpeedValueId, "");
    InsertPages();
    const double motor = setup.GetParameterValueInBaseUnit("Jm");
    const double total = setup.GetParameterValueInBaseUnit("Jt");
    if (total < motor && setup.GetParameterValueInInternalUnit("isMotorInertiaUnknown") == 0.0) {
        CInertiaQuestion question(&setup, this);
        question.DoModal();
    }
    setup.SetParameterValueInBaseUnit("Jload_over_J", (total - motor) / motor);
    RefreshAllParameters(0);
    EnableChild(kFiltersId, SetupHas("IQREF_BQ_INI") ? 1 : 0, 0);
    UpdateData(FALSE);
    return result;
}

void CTestSpeedTuning::ShowProfilePicture() {
    const profile::Direction direction =
        SetupHas("SpeedTestReferenceType")
            ? profile::DirectionOf(
                  GetSetup()->GetParameterValueInInternalUnit("SpeedTestReferenceType"))
            : profile::Direction::Positive;
    const char* picture = direction == profile::Direction::Negative        ? kNegativePicture
                          : direction == profile::Direction::Bidirectional ? kBidirectionalPicture
                                                                           : kPositivePicture;
    ShowBitmap(GetDlgItem(kProfilePictureId), picture);
}

void CTestSpeedTuning::DoDataExchange(CDataExchange* pDX) {
    CMyTestDlg::DoDataExchange(pDX);
    if (pDX->m_bSaveAndValidate || GetWindowState() == nullptr) {
        return;
    }
    const CQel_Setup& setup = *GetSetup();
    const bool running = running_ != 0;
    const bool online = OnlinePlot();
    const bool testPage = GetPage() == kTestPage;
    const bool scope = false;
    EnableChild(IDOK, running ? 0 : 1, 0);
    EnableChild(kDataLoggerId, running ? 0 : 1, 0);
    EnableChild(kIdentifyId, running ? 0 : 1, 0);
    EnableChild(kOnlinePlotId, !running && (MultipleCycles() || scope) ? 1 : 0, 0);
    EnableChild(kPauseButtonId, 0, 0);
    EnableChild(kContinueButtonId, 0, 0);
    EnableChildren(kLiveTuningIds, !running || online ? 1 : 0, 0);
    EnableChild(kSavePlotsId, testPage && !(online && !scope) ? 1 : 0, 0);
    ShowChild(kGraphId, testPage && !online ? 1 : 0);
    ShowChild(kScopeId, testPage && online ? 1 : 0);
    ShowChildren(kLiveValueIds, testPage && running && online && !scope ? 1 : 0);
    ShowChildren(kStartCurrentIds,
                 !testPage && setup.GetParameterValueInInternalUnit("StartMode") == 0.0 ? 1 : 0);
    EnableChildren(kInertiaRatioIds,
                   setup.GetParameterValueInInternalUnit("isMotorInertiaUnknown") == 0.0 ? 1 : 0,
                   0);
    if (SetupHas("SpeedForward")) {
        QuietLookups quiet;
        const bool feedForward = setup.GetParameterValueInInternalUnit("ControlMode") == 1.0 &&
                                 setup.GetParameterValueInInternalUnit("PosSpd_in_FastLoop") == 0.0;
        EnableChildren(kFeedForwardIds, feedForward ? 1 : 0, 0);
    } else {
        ShowChildren(kFeedForwardIds, testPage ? 1 : 0);
        if (testPage) {
            EnableChildren(kSpeedFeedForwardIds, 0, 0);
        }
    }
    ShowChild(kFiltersId, testPage ? 1 : 0);
    ShowChildren(kReferenceTypeIds, !testPage && SetupHas("SpeedTestReferenceType") ? 1 : 0);
    ShowChild(kDetailsId, testPage && result_ != -1 && !errorText_.empty() ? 1 : 0);
}

bool CTestSpeedTuning::MayShowTestPage() {
    const CQel_Setup& setup = *GetSetup();
    if (setup.GetParameterValueInBaseUnit("TestLimitCurrent") >
        setup.GetParameterValueInBaseUnit("TestProtectionCurrent")) {
        MessageBox(kProtectionBelowLimit, GetWindowText(), MB_OK);
        return false;
    }
    positioningDone_ = false;
    return true;
}

void CTestSpeedTuning::OnOK() {
    CMyTestDlg::OnOK();
    CQel_Setup& setup = *GetSetup();
    const auto copy = [&setup](const char* target, const char* source) {
        setup.SetParameterValueInBaseUnit(target, setup.GetParameterValueInBaseUnit(source));
    };
    copy("Imax_Prot", "TestProtectionCurrent");
    copy("IlimPS", "TestLimitCurrent");
    copy("StartCurrent", "TestStartCurrent");
}

void CTestSpeedTuning::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    const bool inertiaKnown = setup.GetParameterValueInInternalUnit("isMotorInertiaUnknown") == 0.0;
    const auto is = [name](const char* candidate) {
        return qel::EqualsIgnoringCase(name, candidate);
    };
    if (is("MultiCycleS") && !MultipleCycles()) {
        // Reading the drive between cycles needs the cycles: the on-line plot goes off with them.
        setup.SetParameterValueInInternalUnit("OnlinePlotS", 0.0);
        RefreshAllParameters(0);
    } else if (is("Kp_S_scl")) {
        compute::SFTKPS(setup);
        compute::KPS(setup);
    } else if (is("Ki_S_scl")) {
        compute::SFTKIS(setup);
        compute::KIS(setup);
    } else if (is("IPSatS")) {
        compute::IMAXS(setup);
    } else if (is("KFFS_scl")) {
        compute::SFTSFFW(setup);
        compute::KFFS(setup);
        compute::KFFA(setup);
    } else if (is("KFFA_scl") && inertiaKnown) {
        compute::SFTAFFW(setup);
        compute::SFTKFF(setup);
        compute::KFFA(setup);
    } else if (is("Jt") && inertiaKnown) {
        const double motor = setup.GetParameterValueInBaseUnit("Jm");
        setup.SetParameterValueInBaseUnit(
            "Jload_over_J", (setup.GetParameterValueInBaseUnit("Jt") - motor) / motor);
        RefreshParameterControls("Jload_over_J");
    } else if (is("Jload_over_J") && inertiaKnown) {
        setup.SetParameterValueInBaseUnit(
            "Jt", (setup.GetParameterValueInBaseUnit("Jload_over_J") + 1.0) *
                      setup.GetParameterValueInBaseUnit("Jm"));
        RefreshParameterControls("Jt");
    } else if (is("TestSpeed")) {
        SnapTestSpeed();
    }
    CMyTestDlg::OnChangedParameterValue(name);
}

void CTestSpeedTuning::OnRefreshParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    const auto is = [name](const char* candidate) {
        return qel::EqualsIgnoringCase(name, candidate);
    };
    if (is("Jt") &&
        setup.GetParameterValueInBaseUnit("Jm") > setup.GetParameterValueInBaseUnit("Jt") &&
        setup.GetParameterValueInInternalUnit("isMotorInertiaUnknown") == 0.0) {
        MessageBox(kInertiaBelowMotor, GetWindowText(), MB_OK | MB_ICONWARNING);
        setup.SetParameterValueInInternalUnit("isMotorInertiaUnknown", 1.0);
    } else if (is("TestStartCurrent") &&
               setup.GetParameterValueInBaseUnit("TestStartCurrent") > kNominalPercent) {
        char text[512];
        std::snprintf(text, sizeof text, kStartCurrentAboveNominal,
                      2.0 * setup.GetParameterValueInBaseUnit("time_AB"));
        MessageBox(text, GetWindowText(), MB_OK | MB_ICONWARNING);
        SetFocus();
    } else if (is("SpeedTestReferenceType")) {
        ShowProfilePicture();
    }
    if (running_) {
        if (is("Kp_S_scl")) {
            WriteRegistersToDrive({"SFTKPS", "KPS"});
        } else if (is("Ki_S_scl")) {
            WriteRegistersToDrive({"SFTKIS", "KIS"});
        } else if (is("IPSatS")) {
            WriteRegistersToDrive({"IMAXS"});
        } else if (is("KFFS_scl")) {
            WriteRegistersToDrive({"SFTSFFW", "KFFS", "KFFA"});
        } else if (is("KFFA_scl")) {
            WriteRegistersToDrive({"SFTAFFW", "SFTKFF", "KFFA"});
        }
    }
    CMyTestDlg::OnRefreshParameterValue(name);
}

void CTestSpeedTuning::Tune() {
    CQel_Setup& setup = *GetSetup();
    DesignSpeedController(setup);
    compute::SFTKPS(setup);
    compute::KPS(setup);
    compute::SFTKIS(setup);
    compute::KIS(setup);
    // The gains shown are the ones the registers hold.
    derive::Ki_S_scl(setup);
    derive::Kp_S_scl(setup);
    if (running_) {
        WriteRegistersToDrive({"SFTKPS", "KPS", "SFTKIS", "KIS"});
    }
    RefreshAllParameters(0);
}

void CTestSpeedTuning::Identify() {
    CTotalInertiaTest identification(GetSetup(), this);
    if (identification.DoModal() == IDOK) {
        OnChangedParameterValue("Jt");
        RefreshAllParameters(0);
    }
}

void CTestSpeedTuning::OpenFilters() {
    CQel_Setup& setup = *GetSetup();
    if (!SetupHas("IQREF_BQ_INI")) {
        return;
    }
    ComputeDriveRegisters(setup);
    DeriveUserParameters(setup);
    CFiltersDialog filters(&setup, running_ != 0, this);
    if (filters.DoModal() == IDOK) {
        ComputeDriveRegisters(setup);
        DeriveUserParameters(setup);
        if (running_) {
            WriteRegistersToDrive({"IQREF_BQ_INI"});
        }
        UpdateData(FALSE);
    }
}

void CTestSpeedTuning::BeginTest() {
    CQel_Setup& setup = *GetSetup();
    stopRequest_ = 0;
    running_ = 1;
    continuousRun_ = 0;
    positioningRan_ = false;
    stepCount_ = OnlinePlot() ? kOnlineStepCount : kLoggedStepCount;
    result_ = -1;
    UpdateData(FALSE);
    // The run tries the gains the dialog shows, which may have been changed since the last one.
    if (!SendRegisters({"SFTKPS", "KPS", "SFTKIS", "KIS", "IMAXS"})) {
        return;
    }
    if (setup.GetParameterValueInInternalUnit("StartMode") != 0.0 ||
        (positioningDone_ && result_ == 1)) {
        currentStep_ = kPositioningStep;
        SetInfoText(kSteps[kPositioningStep]);
        RearmTimer();
        return;
    }
    positioningDone_ = false;
    currentStep_ = 0;
    positioningRan_ = true;
    SetInfoText(kSteps[0]);
    const double scale = ComputeCurrentScale(setup);
    const double current = setup.GetParameterValueInBaseUnit("TestStartCurrent") / kNominalPercent *
                           std::min(setup.GetParameterValueInBaseUnit("In") * scale,
                                    setup.GetParameterValueInBaseUnit("InPS") * scale);
    if (SetupHas("ABSTART_MINMOVE")) {
        setup.SetParameterValueInInternalUnit("ABSTART_MINMOVE", 0.0);
    }
    if (!LaunchInitialPositioning(positioning_, static_cast<int>(std::trunc(current)))) {
        return;
    }
    SetInfoText(kSteps[1]);
    RearmTimer();
}

void CTestSpeedTuning::OnTimer(UINT_PTR timerId) {
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
            LaunchTest();
            break;
        case kRunStep:
            if (MultipleCycles()) {
                WaitForCycles();
            } else {
                WaitForSingleRun();
            }
            break;
        case kUploadStep:
            UploadAndConclude();
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

void CTestSpeedTuning::AfterPositioning() {
    double current = 0.0;
    if (!ReadProgramVariable(positioning_, "In1", current)) {
        return;
    }
    if (current == kNoValue) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    if (!ReadDriveVariable("REFTST_V", false, reference_) ||
        !ReadDriveVariable("RINCTST_V", false, referenceIncrement_)) {
        return;
    }
    if (current <= 0.0) {
        errorText_ = msc_pszErrInZero;
        TestFailed(1);
        return;
    }
    SetInfoText(kSteps[kPositioningStep]);
    LaunchTest();
}

void CTestSpeedTuning::LaunchTest() {
    CQel_Setup& setup = *GetSetup();
    const double reference =
        positioningRan_ ? reference_ : setup.GetParameterValueInInternalUnit("REFTST");
    const double increment =
        positioningRan_ ? referenceIncrement_ : setup.GetParameterValueInInternalUnit("RINCTST");
    if (!SetProgramVariable(program_, "RefTest", SixteenBits(reference)) ||
        !SetProgramVariable(program_, "RIncTest", SixteenBits(increment)) ||
        !SetProgramVariable(program_, "IlimPS_Test",
                            setup.GetParameterValueInInternalUnit("TestLimitCurrent")) ||
        !SetProgramVariable(program_, "Imax_Prot_Test",
                            setup.GetParameterValueInInternalUnit("TestProtectionCurrent"))) {
        return;
    }
    const double speedScale = ComputeSpeedScale(setup);
    const profile::Input input{
        static_cast<std::int32_t>(
            RoundToNearestInteger(setup.GetParameterValueInBaseUnit("TestSpeed") * speedScale)),
        setup.GetParameterValueInBaseUnit("TaPS"),
        setup.GetParameterValueInBaseUnit("TPS"),
        setup.GetParameterValueInBaseUnit("TaNS"),
        setup.GetParameterValueInBaseUnit("TNS"),
        ComputeSpeedLoopPeriod(setup),
        SetupHas("SpeedTestReferenceType")
            ? profile::DirectionOf(setup.GetParameterValueInInternalUnit("SpeedTestReferenceType"))
            : profile::Direction::Positive,
        profile::Loop::Speed};
    if (!SendProfile(program_, profile::Compute(input))) {
        return;
    }
    const bool cycles = MultipleCycles();
    continuousRun_ = cycles ? 1 : 0;
    if (!SetProgramVariable(program_, "MultiC", cycles ? 1.0 : 0.0)) {
        return;
    }
    curves_.Apply(kLoggedPoints, kSpeedLoopLog, kEveryPeriod);
    if (SetupHas("ABSTART_MINMOVE")) {
        compute::ABSTART_MINMOVE(setup);
    }
    if (!Launch(kProgram, program_, &curves_.Logger())) {
        return;
    }
    SetInfoText(cycles ? kRunningUntilStop : kSteps[kLaunchStep]);
    stopRequest_ = 0;
    RearmTimer();
}

void CTestSpeedTuning::WaitForSingleRun() {
    double started = 0.0;
    if (!GetUserVariableValue(program_, "STARTED", started, errorText_)) {
        TestFailed(1);
        return;
    }
    if (started == 0.0) {
        if (CheckMotionErrors(1, kAllMotionErrors)) {
            RearmTimer();
        }
        return;
    }
    int axisOn = 0;
    if (!GetAxisOn(axisOn)) {
        TestFailed(1);
        return;
    }
    if (!axisOn) {
        SetInfoText(kSteps[kRunStep]);
    }
    RearmTimer();
}

void CTestSpeedTuning::WaitForCycles() {
    if (!stopRequest_) {
        if (TestFlagGood(false) && CheckMotionErrors(0, kRunMotionErrors)) {
            RearmTimer();
            return;
        }
        stopRequest_ = 1;
    }
    // The cycles go on until the drive is told to stop; the logger holds the first ones.
    CQel_Comm::StopProgram();
    UpdateData(FALSE);
    SetInfoText(kSteps[kRunStep]);
    RearmTimer(kPromptTick_ms);
}

bool CTestSpeedTuning::TestFlagGood(bool failNow) {
    double flag = 0.0;
    std::string unread;
    if (!GetUserVariableValue(program_, "test_flag", flag, errorText_)) {
        if (failNow) {
            TestFailed(1);
        }
        return false;
    }
    if (flag == kNoValue || flag <= 0.0) {
        errorText_ = flag == kNoValue ? msc_pszErrInternal : kCurrentProtectionTriggered;
        if (failNow) {
            TestFailed(1);
        }
        return false;
    }
    return true;
}

void CTestSpeedTuning::UploadAndConclude() {
    if (TestFlagGood(false) && CheckMotionErrors(0, kRunMotionErrors)) {
        continuousRun_ = 0;
    } else {
        continuousRun_ = 1;
        stopRequest_ = 0;
    }
    if (!Upload(curves_.Logger())) {
        return;
    }
    curves_.Graph().Invalidate();
    const bool complete = curves_.Draw(
        [this] { return running_ != 0 && !(continuousRun_ != 0 && stopRequest_ != 0); });
    if (!complete && !running_) {
        return;
    }
    if (CheckMotionErrors(1, kRunMotionErrors) && TestFlagGood(true)) {
        TestSucceeded(1);
        UpdateData(FALSE);
    }
}

BOOL CTestSpeedTuning::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED) {
        switch (id) {
            case kHelpButtonId:
                ShowHelp(kHelpTopic);
                return TRUE;
            case kTuneId:
                Tune();
                return TRUE;
            case kIdentifyId:
                Identify();
                return TRUE;
            case kFiltersId:
                OpenFilters();
                return TRUE;
            case kSavePlotsId:
                if (!running_) {
                    curves_.Graph().SaveGraph({}, "SpeedTuning.svg");
                }
                return TRUE;
            case kDataLoggerId:
            case kOnlinePlotId: {
                const BOOL handled = CMyTestDlg::OnCommand(id, notifyCode);
                UpdateData(TRUE);
                UpdateData(FALSE);
                return handled;
            }
            default:
                break;
        }
    }
    return CMyTestDlg::OnCommand(id, notifyCode);
}
