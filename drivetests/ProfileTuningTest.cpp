#include "drivetests/ProfileTuningTest.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "dialogs/FiltersDlg.h"
#include "dialogs/MotorInertiaDlg.h"
#include "drivetests/ScopeSetup.h"
#include "drivetests/TotalInertiaTest.h"
#include "engine/BaseScales.h"
#include "engine/Derivation.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/Comm.h"
#include "host/kernel/KernelFunctions.h"
#include "host/kernel/Setup.h"
#include "host/kernel/Variable.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/Menu.h"
#include "host/ui/Wnd.h"

namespace {

// Controls both tests have.
constexpr int kLimitEditId = 3284;
constexpr int kLimitUnitId = 3283;
constexpr int kStartCurrentEditId = 3287;
constexpr int kStartCurrentUnitId = 3286;
constexpr int kProtectionEditId = 3281;
constexpr int kProtectionUnitId = 3279;
constexpr int kInertiaEditId = 3270;
constexpr int kInertiaUnitId = 3288;
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
constexpr int kDataLoggerId = 1368;
constexpr int kOnlinePlotId = 1369;
constexpr int kFiltersId = 3510;
constexpr int kSavePlotsId = 1372;
constexpr int kGraphId = 1361;
constexpr int kScopeId = 1362;
constexpr int kTuneId = 1390;
constexpr int kPauseButtonId = 10016;
constexpr int kContinueButtonId = 10017;

const int kStartCurrentIds[] = {3285, 3287, 3286, 0};
const int kInertiaRatioIds[] = {1384, 1385, 1386, 1387, 1388, 0};
const int kReferenceTypeIds[] = {1323, 3528, 3529, 3530, 0};

constexpr const char* kPositioningProgram = "Initial_Positioning_Test";
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

// Every motion error; every one but the missing Hall sensor.
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

// The pictures of the three reference profiles.
constexpr const char* kPositivePicture = "314";
constexpr const char* kNegativePicture = "3063";
constexpr const char* kBidirectionalPicture = "3062";

// The on-line plot: the scope's menu (resource 101, its first sub-menu) and its commands.
constexpr UINT kScopeMenuId = 101;
constexpr UINT kEditScopeId = 10062;
constexpr UINT kDefaultScopeId = 10063;
constexpr UINT kAutoscaleId = 10064;
constexpr UINT kLoadScopeId = 10065;
constexpr UINT kSaveScopeId = 10066;
constexpr UINT kSavePlotsMenuId = 10067;
constexpr UINT kSavePictureId = 10068;
constexpr UINT kExportDataId = 10069;
// The oscilloscope's two channels: the reference and the response.
constexpr int kOscilloscopeChannels = 2;
// The oscilloscope shows the profile from a fifth of its amplitude below to a fifth above.
constexpr double kOscilloscopeHeadroom = 0.2;
// The reference's scale: the amplitude fills four divisions, half the screen.
constexpr double kReferenceDivisions = 4.0;
// The currents' scale: the current limit fills three divisions above two below the centre.
constexpr double kCurrentDivisions = 3.0;
constexpr double kRaisedCentreDivisions = 2.0;
// The position test's speeds: twice the profile's peak speed fills a division.
constexpr double kSpeedShare = 0.5;
// The palette colours of the four channels.
constexpr int kChannelColours[] = {2, 5, 8, 9};
// A scope frame: three 16-bit header words (data words, axis, code), then the data.
constexpr int kFrameHeaderBytes = 6;
constexpr int kFrameCodeOffset = 4;

std::uint16_t Word(const std::uint8_t* data, int offset) {
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

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

const char* const CProfileTuningTest::kProtectionBelowLimit =
    "Over current protection must be greater than Drive current limit. Recommended value for "
    "Drive current limit is maximum 90% of Over current protection.";
const char* const CProfileTuningTest::kInertiaBelowMotor =
    "You have chosen a value for the total inertia that is lower than the value of the motor "
    "inertia.\nThe application will assume the motor inertia is unknown.";
const char* const CProfileTuningTest::kStartCurrentAboveNominal =
    "You have set a start current bigger than the nominal current! The start current will be "
    "applied for %.2f s.\n\nThe motor must withstand this over current condition or it may be "
    "damaged.";
const char* const CProfileTuningTest::kCurrentProtectionTriggered =
    "Test failed!\nCurrent protection triggered during test!";
const char* const CProfileTuningTest::kRunningUntilStop =
    "Test running. Press \"Stop\" to end the test";

CProfileTuningTest::CProfileTuningTest(CQel_Setup* setup, const Description& description,
                                       std::vector<std::string> loggedVariables, CWnd* parent)
    : CMyTestDlg(setup, description.templateId, 1, parent),
      description_(description),
      variables_(std::move(loggedVariables)),
      // The reference and the response on the left axis, the other two on the right.
      curves_(setup, variables_, {{1, RGB16(2)}, {3, RGB16(8)}, {2, RGB16(5)}, {4, RGB16(9)}}),
      scopeGraph_(4, 0) {
    SnapAmplitude();
    SetPages(description_.parametersPage, description_.testPage);
    AddParameterControls("TestLimitCurrent", kLimitEditId, kLimitUnitId);
    AddParameterControls("TestStartCurrent", kStartCurrentEditId, kStartCurrentUnitId);
    AddParameterControls("TestProtectionCurrent", kProtectionEditId, kProtectionUnitId);
    AddParameterControls("Jt", kInertiaEditId, kInertiaUnitId);
    AddParameterControls(description_.amplitude, description_.amplitudeEditId,
                         description_.amplitudeUnitId);
    AddParameterControls(description_.hold, kHoldEditId, kHoldUnitId);
    AddParameterControls(description_.pause, kPauseEditId, kPauseUnitId);
    AddParameterControls(description_.rise, kRiseEditId, kRiseUnitId);
    AddParameterControls(description_.back, kReturnEditId, kReturnUnitId);
    AddSwitchParameterControls(description_.onlinePlot, kDataLoggerId, kOnlinePlotId);
    AddCheckParameterControls(description_.multiCycle, kMultiCycleId);
    // The reference type is offered only by drives that know one.
    if (SetupHas("SpeedTestReferenceType")) {
        AddSwitchParameterControls(description_.referenceType, kPositiveTypeId,
                                   kBidirectionalTypeId);
    }
    for (const SliderBinding& slider : description_.sliders) {
        AddSliderParameterControls(slider.name, slider.slider, slider.edit, slider.unit,
                                   slider.fineSpin, slider.coarseSpin);
    }
    stepCount_ = OnlinePlot() ? kOnlineStepCount : kLoggedStepCount;
    const std::optional<std::string> hasScope = setup->FindOption("hasOscilloscope");
    if (hasScope && std::atoi(hasScope->c_str()) != 0) {
        scope_ = std::make_unique<CQel_ScopeLogger>(setup);
        scopeDialogs_[TestIndex()] = this;
        previousHandler_ = CQel_Comm::RegisterReceiveUnsolicitedMsgHandler(
            TestIndex() == 0 ? &ReceiveUnsolicited<0> : &ReceiveUnsolicited<1>);
    }
}

CProfileTuningTest::~CProfileTuningTest() {
    if (scope_) {
        if (scopeDialogs_[TestIndex()] == this) {
            scopeDialogs_[TestIndex()] = nullptr;
        }
        CQel_Comm::RegisterReceiveUnsolicitedMsgHandler(previousHandler_);
    }
}

CProfileTuningTest* CProfileTuningTest::scopeDialogs_[2] = {nullptr, nullptr};

int CProfileTuningTest::TestIndex() const {
    return description_.loop == profile::Loop::Speed ? 0 : 1;
}

bool CProfileTuningTest::SetupHas(const char* name) const {
    return HasParameters(*GetSetup(), {name});
}

bool CProfileTuningTest::OnlinePlot() const {
    return GetSetup()->GetParameterValueInInternalUnit(description_.onlinePlot) != 0.0;
}

bool CProfileTuningTest::MultipleCycles() const {
    return GetSetup()->GetParameterValueInInternalUnit(description_.multiCycle) != 0.0;
}

void CProfileTuningTest::SnapAmplitude() {
    CQel_Setup& setup = *GetSetup();
    const double scale = description_.amplitudeScale(setup);
    if (scale == 0.0 || !SetupHas(description_.amplitude)) {
        return;
    }
    const double units = setup.GetParameterValueInBaseUnit(description_.amplitude) * scale;
    double whole = RoundToNearest(units);
    if (whole == 0.0) {
        whole = units >= 0.0 ? 1.0 : -1.0;
    }
    setup.SetParameterValueInBaseUnit(description_.amplitude, whole / scale);
}

BOOL CProfileTuningTest::OnInitDialog() {
    const BOOL result = CMyTestDlg::OnInitDialog();
    CQel_Setup& setup = *GetSetup();
    curves_.Apply(kLoggedPoints, kSpeedLoopLog, kEveryPeriod);
    curves_.Attach(kGraphId, this);
    ShowBitmap(GetDlgItem(kLimitsPictureId), description_.limitsPicture);
    ShowProfilePicture();
    positioning_.SetFileName(GetOutPathName(kPositioningProgram));
    positioning_.ReadCoff();
    program_.SetFileName(GetOutPathName(ProgramName()));
    program_.ReadCoff();
    SetButtonImage(kPauseButtonId, "PAUSE_");
    SetButtonImage(kContinueButtonId, "CONTINUE_");
    SetChildText(kProcedureId, description_.procedure);
    SetChildText(description_.referenceValueId, "");
    SetChildText(description_.responseValueId, "");
    InsertPages();
    InitOnlinePlot();
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

void CProfileTuningTest::ShowProfilePicture() {
    const profile::Direction direction =
        SetupHas("SpeedTestReferenceType")
            ? profile::DirectionOf(
                  GetSetup()->GetParameterValueInInternalUnit(description_.referenceType))
            : profile::Direction::Positive;
    const char* picture = direction == profile::Direction::Negative        ? kNegativePicture
                          : direction == profile::Direction::Bidirectional ? kBidirectionalPicture
                                                                           : kPositivePicture;
    ShowBitmap(GetDlgItem(kProfilePictureId), picture);
}

void CProfileTuningTest::DoDataExchange(CDataExchange* pDX) {
    CMyTestDlg::DoDataExchange(pDX);
    if (pDX->m_bSaveAndValidate || GetWindowState() == nullptr) {
        return;
    }
    const CQel_Setup& setup = *GetSetup();
    const bool running = running_ != 0;
    const bool online = OnlinePlot();
    const bool testPage = GetPage() == kTestPage;
    const bool scope = scope_ != nullptr;
    EnableChild(IDOK, running ? 0 : 1, 0);
    EnableChild(kDataLoggerId, running ? 0 : 1, 0);
    EnableChild(description_.identifyId, running ? 0 : 1, 0);
    EnableChild(kOnlinePlotId, !running && (MultipleCycles() || scope) ? 1 : 0, 0);
    if (scope) {
        ShowChild(kPauseButtonId, 0);
        ShowChild(kContinueButtonId, 0);
    } else if (!(running && online)) {
        EnableChild(kPauseButtonId, 0, 0);
        EnableChild(kContinueButtonId, 0, 0);
    }
    EnableChildren(description_.liveTuningIds, !running || online ? 1 : 0, 0);
    EnableChild(kSavePlotsId, testPage && !(online && !scope) ? 1 : 0, 0);
    ShowChild(kGraphId, testPage && !online ? 1 : 0);
    ShowChild(kScopeId, testPage && online ? 1 : 0);
    ShowChildren(kStartCurrentIds,
                 !testPage && setup.GetParameterValueInInternalUnit("StartMode") == 0.0 ? 1 : 0);
    EnableChildren(kInertiaRatioIds,
                   setup.GetParameterValueInInternalUnit("isMotorInertiaUnknown") == 0.0 ? 1 : 0,
                   0);
    ShowChild(kFiltersId, testPage ? 1 : 0);
    ShowChildren(kReferenceTypeIds, !testPage && SetupHas("SpeedTestReferenceType") ? 1 : 0);
    ShowChild(kDetailsId, testPage && result_ != -1 && !errorText_.empty() ? 1 : 0);
    UpdateOwnControls(testPage);
}

bool CProfileTuningTest::MayShowTestPage() {
    const CQel_Setup& setup = *GetSetup();
    if (setup.GetParameterValueInBaseUnit("TestLimitCurrent") >
        setup.GetParameterValueInBaseUnit("TestProtectionCurrent")) {
        MessageBox(kProtectionBelowLimit, GetWindowText(), MB_OK);
        return false;
    }
    positioningDone_ = false;
    return true;
}

void CProfileTuningTest::OnOK() {
    CMyTestDlg::OnOK();
    CQel_Setup& setup = *GetSetup();
    const auto copy = [&setup](const char* target, const char* source) {
        setup.SetParameterValueInBaseUnit(target, setup.GetParameterValueInBaseUnit(source));
    };
    copy("Imax_Prot", "TestProtectionCurrent");
    copy("IlimPS", "TestLimitCurrent");
    copy("StartCurrent", "TestStartCurrent");
    if (customised_ && scope_) {
        scope_->SaveSettingsToSetupOption(description_.scopeOption);
    } else {
        setup.ClearOption(description_.scopeOption);
    }
}

void CProfileTuningTest::UpdateInertiaRatio() {
    CQel_Setup& setup = *GetSetup();
    const double motor = setup.GetParameterValueInBaseUnit("Jm");
    setup.SetParameterValueInBaseUnit("Jload_over_J",
                                      (setup.GetParameterValueInBaseUnit("Jt") - motor) / motor);
    RefreshParameterControls("Jload_over_J");
}

void CProfileTuningTest::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    const bool inertiaKnown = setup.GetParameterValueInInternalUnit("isMotorInertiaUnknown") == 0.0;
    const auto is = [name](const char* candidate) {
        return qel::EqualsIgnoringCase(name, candidate);
    };
    for (const GainRegisters& gain : description_.gains) {
        if (is(gain.gain) && (inertiaKnown || !gain.needsKnownInertia)) {
            for (const RegisterStep& step : gain.registers) {
                step.compute(setup);
            }
        }
    }
    if (is(description_.multiCycle) && !MultipleCycles()) {
        // Reading the drive between cycles needs the cycles: the on-line plot goes off with them.
        setup.SetParameterValueInInternalUnit(description_.onlinePlot, 0.0);
        RefreshAllParameters(0);
    } else if (is("Jt") && inertiaKnown) {
        UpdateInertiaRatio();
    } else if (is("Jload_over_J") && inertiaKnown) {
        setup.SetParameterValueInBaseUnit(
            "Jt", (setup.GetParameterValueInBaseUnit("Jload_over_J") + 1.0) *
                      setup.GetParameterValueInBaseUnit("Jm"));
        RefreshParameterControls("Jt");
    } else if (is(description_.amplitude)) {
        SnapAmplitude();
    }
    if (scope_) {
        const bool speeds = ThirdChannelsAreSpeeds();
        if (is(description_.amplitude)) {
            RescaleReferenceChannels();
            if (speeds) {
                RescaleSpeedChannels();
            }
            ResetTimebase();
        } else if (is(description_.rise) || is(description_.back)) {
            if (speeds) {
                RescaleSpeedChannels();
            }
            ResetTimebase();
        } else if (is(description_.multiCycle) || is(description_.hold) || is(description_.pause)) {
            ResetTimebase();
        } else if (is("TestLimitCurrent") && !speeds) {
            RescaleCurrentChannels();
        }
    }
    CMyTestDlg::OnChangedParameterValue(name);
}

void CProfileTuningTest::OnRefreshParameterValue(std::string_view name) {
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
    } else if (is(description_.referenceType)) {
        ShowProfilePicture();
        ResetTimebase();
    }
    if (running_) {
        for (const GainRegisters& gain : description_.gains) {
            if (is(gain.gain)) {
                for (const RegisterStep& step : gain.registers) {
                    if (!SetupHas(step.name) || !WriteRegistersToDrive({step.name})) {
                        break;
                    }
                }
            }
        }
    }
    CMyTestDlg::OnRefreshParameterValue(name);
}

void CProfileTuningTest::Tune() {
    DesignGains();
    if (running_) {
        for (const char* registerName : TunedRegisters()) {
            if (!WriteRegistersToDrive({registerName})) {
                break;
            }
        }
    }
    RefreshAllParameters(0);
}

void CProfileTuningTest::Identify() {
    CTotalInertiaTest identification(GetSetup(), this);
    if (identification.DoModal() == IDOK) {
        OnChangedParameterValue("Jt");
        RefreshAllParameters(0);
    }
}

void CProfileTuningTest::OpenFilters() {
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

void CProfileTuningTest::BeginTest() {
    CQel_Setup& setup = *GetSetup();
    stopRequest_ = 0;
    running_ = 1;
    continuousRun_ = 0;
    positioningRan_ = false;
    stepCount_ = OnlinePlot() ? kOnlineStepCount : kLoggedStepCount;
    const bool lastSucceeded = result_ == 1;
    result_ = -1;
    UpdateData(FALSE);
    // The run tries the gains the dialog shows, which may have been changed since the last one.
    for (const GainRegisters& gain : description_.gains) {
        for (const RegisterStep& step : gain.registers) {
            if (SetupHas(step.name) && !SendRegisters({step.name})) {
                return;
            }
        }
    }
    if (setup.GetParameterValueInInternalUnit("StartMode") != 0.0 ||
        (positioningDone_ && lastSucceeded)) {
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

void CProfileTuningTest::OnTimer(UINT_PTR timerId) {
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
            if (OnlinePlot() && scope_) {
                RunWithScope();
            } else if (OnlinePlot()) {
                RunWithReads();
            } else if (MultipleCycles()) {
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

void CProfileTuningTest::AfterPositioning() {
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

void CProfileTuningTest::LaunchTest() {
    CQel_Setup& setup = *GetSetup();
    const double reference =
        positioningRan_ ? reference_ : setup.GetParameterValueInInternalUnit("REFTST");
    const double increment =
        positioningRan_ ? referenceIncrement_ : setup.GetParameterValueInInternalUnit("RINCTST");
    if (!SetProgramVariable(program_, "RefTest", SixteenBits(reference)) ||
        !SetProgramVariable(program_, "RIncTest", SixteenBits(increment)) || !PrepareLaunch()) {
        return;
    }
    const profile::Input input{static_cast<std::int32_t>(RoundToNearestInteger(
                                   setup.GetParameterValueInBaseUnit(description_.amplitude) *
                                   description_.amplitudeScale(setup))),
                               setup.GetParameterValueInBaseUnit(description_.rise),
                               setup.GetParameterValueInBaseUnit(description_.hold),
                               setup.GetParameterValueInBaseUnit(description_.back),
                               setup.GetParameterValueInBaseUnit(description_.pause),
                               ComputeSpeedLoopPeriod(setup),
                               SetupHas("SpeedTestReferenceType")
                                   ? profile::DirectionOf(setup.GetParameterValueInInternalUnit(
                                         description_.referenceType))
                                   : profile::Direction::Positive,
                               description_.loop};
    if (!SendProfile(program_, profile::Compute(input))) {
        return;
    }
    const bool cycles = MultipleCycles();
    continuousRun_ = cycles ? 1 : 0;
    if (!SetProgramVariable(program_, "MultiC", cycles ? 1.0 : 0.0) ||
        !SetProgramVariable(program_, "Imax_Prot_Test",
                            setup.GetParameterValueInInternalUnit("TestProtectionCurrent"))) {
        return;
    }
    CQel_Logger* logger = nullptr;
    if (OnlinePlot()) {
        logger = PrepareOnlineLaunch(input.amplitude);
    } else {
        curves_.Apply(kLoggedPoints, kSpeedLoopLog, kEveryPeriod);
        logger = &curves_.Logger();
    }
    if (SetupHas("ABSTART_MINMOVE")) {
        compute::ABSTART_MINMOVE(setup);
    }
    if (ExecuteCode(ProgramName(), &program_, logger, nullptr, nullptr) == 0) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    SetInfoText(cycles ? kRunningUntilStop : kSteps[kLaunchStep]);
    stopRequest_ = 0;
    // With the scope, frames come at the drive's pace: poll them at once.
    RearmTimer(OnlinePlot() && scope_ ? kPromptTick_ms : kTickPeriod_ms);
    if (OnlinePlot() && scope_) {
        scopeGraph_.Invalidate();
        scopeGraph_.RefreshGraph();
    } else if (OnlinePlot()) {
        oscilloscope_.Invalidate();
    }
}

void CProfileTuningTest::WaitForSingleRun() {
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

void CProfileTuningTest::WaitForCycles() {
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

bool CProfileTuningTest::TestFlagGood(bool failNow) {
    double flag = 0.0;
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

void CProfileTuningTest::UploadAndConclude() {
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
        positioningDone_ = true;
        UpdateData(FALSE);
    }
}

BOOL CProfileTuningTest::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == 0 && id >= kEditScopeId && id <= kExportDataId) {
        OnScopeMenu(id);
        return TRUE;
    }
    if (notifyCode == BN_CLICKED) {
        if (id == static_cast<UINT>(kStartStopId)) {
            OnStartStop();
            return TRUE;
        }
        if (id == static_cast<UINT>(kPauseButtonId) || id == static_cast<UINT>(kContinueButtonId)) {
            paused_ = id == static_cast<UINT>(kPauseButtonId);
            EnableChild(kPauseButtonId, paused_ ? 0 : 1, 0);
            EnableChild(kContinueButtonId, paused_ ? 1 : 0, 0);
            return TRUE;
        }
        if (id == static_cast<UINT>(description_.identifyId)) {
            Identify();
            return TRUE;
        }
        switch (id) {
            case kHelpButtonId:
                ShowHelp(description_.helpTopic);
                return TRUE;
            case kTuneId:
                Tune();
                return TRUE;
            case kFiltersId:
                OpenFilters();
                return TRUE;
            case kSavePlotsId:
                OnScopeMenu(kSavePlotsMenuId);
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

// --- the on-line plot ---

template <int kTest>
int CProfileTuningTest::ReceiveUnsolicited(int byteCount, const std::uint8_t* data) {
    CProfileTuningTest* dialog = scopeDialogs_[kTest];
    if (dialog == nullptr) {
        return qel::kScopeFrameCode;
    }
    return dialog->TakeScopeFrame(byteCount, data);
}

int CProfileTuningTest::TakeScopeFrame(int byteCount, const std::uint8_t* data) {
    if (data == nullptr || byteCount < kFrameHeaderBytes ||
        Word(data, kFrameCodeOffset) != qel::kScopeFrameCode) {
        return qel::kScopeFrameCode;
    }
    const int dataBytes = 2 * Word(data, 0);
    if (kFrameHeaderBytes + dataBytes > byteCount) {
        return -1;
    }
    const int taken = scope_->OnFrameReceive(dataBytes, data + kFrameHeaderBytes);
    if (taken <= 0) {
        return taken;
    }
    frameReceived_ = true;
    int first = 0;
    int count = 0;
    scope_->GetPointsToBeDrawn(first, count);
    const int points = std::max(1, scope_->GetPointsNo());
    for (int k = 0, index = first; k < count; ++k) {
        scopeGraph_.UpdatePoint(index);
        index = (index + 1) % points;
        if (index == 0) {
            scopeGraph_.UpdateWindow();
        }
    }
    return 0;
}

void CProfileTuningTest::InitOnlinePlot() {
    if (!scope_) {
        oscilloscope_.SubclassDlgItem(kScopeId, this);
        return;
    }
    SetChildText(kOnlinePlotId, "Scope");
    customised_ = scope_->LoadSettingsFromSetupOption(description_.scopeOption) != 0;
    if (!customised_) {
        ApplyScopeDefaults();
    }
    BindScopeGraph();
}

void CProfileTuningTest::BindScopeGraph() {
    if (scopeGraph_.GetDlgCtrlID() != kScopeId) {
        scopeGraph_.SubclassDlgItem(kScopeId, this);
    }
    scopeGraph_.SetDocument(scope_->GetGraphDocument(), scope_->GetGraphFilter(0));
    scopeGraph_.RefreshGraph();
}

void CProfileTuningTest::ApplyScopeDefaults() {
    for (const std::string& variable : variables_) {
        scope_->AddVariable(variable, 1);
    }
    for (int item = 1; item <= static_cast<int>(variables_.size()); ++item) {
        scope_->AddCurve(0, 0, item, RGB16(kChannelColours[item - 1]));
    }
    ResetTimebase();
    RescaleReferenceChannels();
    if (ThirdChannelsAreSpeeds()) {
        RescaleSpeedChannels();
    } else {
        RescaleCurrentChannels();
    }
}

void CProfileTuningTest::ResetTimebase() {
    if (!scope_ || customised_) {
        return;
    }
    const CQel_Setup& setup = *GetSetup();
    const scope_setup::ProfileTimes times{setup.GetParameterValueInBaseUnit(description_.rise),
                                          setup.GetParameterValueInBaseUnit(description_.hold),
                                          setup.GetParameterValueInBaseUnit(description_.back),
                                          setup.GetParameterValueInBaseUnit(description_.pause)};
    const bool hasAmplitude = SetupHas(description_.amplitude);
    const double amplitude =
        hasAmplitude ? setup.GetParameterValueInBaseUnit(description_.amplitude) : 0.0;
    const profile::Direction direction =
        SetupHas("SpeedTestReferenceType")
            ? profile::DirectionOf(
                  setup.GetParameterValueInInternalUnit(description_.referenceType))
            : profile::Direction::Positive;
    const scope_setup::Acquisition acquisition =
        scope_setup::ForProfile(times, hasAmplitude ? &amplitude : nullptr, direction,
                                MultipleCycles(), description_.loop, variables_.front());
    scope_->ChangeSettings(acquisition.duration_s, acquisition.mode, acquisition.slope,
                           acquisition.variable, acquisition.level, acquisition.preTrigger_percent);
    scope_->LocateItems();
}

void CProfileTuningTest::Rescale(const char* parameter, double magnitude, bool centred,
                                 const std::string& first, const std::string& second) {
    const CQel_Parameter* unitOf = GetSetup()->FindParameter(parameter);
    if (unitOf == nullptr) {
        return;
    }
    const double scale = scope_setup::OneTwoFiveScale(magnitude);
    const double centre = centred ? 0.0 : kRaisedCentreDivisions * scale;
    for (const std::string& variable : {first, second}) {
        scope_->RescaleVariable(variable, unitOf->GetUnitName(), scale, centre);
    }
}

void CProfileTuningTest::RescaleReferenceChannels() {
    if (!scope_ || customised_) {
        return;
    }
    const CQel_Parameter* amplitude = GetSetup()->FindParameter(description_.amplitude);
    if (amplitude == nullptr) {
        return;
    }
    const double shown = amplitude->GetValue();
    const double scale = scope_setup::OneTwoFiveScale(std::fabs(shown / kReferenceDivisions));
    // A downward profile is drawn in the lower half.
    const double centre = shown >= 0.0 ? 0.0 : -kReferenceDivisions * scale;
    for (const std::string& variable : {variables_[0], variables_[1]}) {
        scope_->RescaleVariable(variable, amplitude->GetUnitName(), scale, centre);
    }
}

void CProfileTuningTest::RescaleCurrentChannels() {
    if (!scope_ || customised_) {
        return;
    }
    const CQel_Parameter* limit = GetSetup()->FindParameter("TestLimitCurrent");
    if (limit != nullptr) {
        Rescale("TestLimitCurrent", limit->GetValue() / kCurrentDivisions, false,
                "Current_Reference", "Motor_Current");
    }
}

void CProfileTuningTest::RescaleSpeedChannels() {
    if (!scope_ || customised_) {
        return;
    }
    CQel_Setup& setup = *GetSetup();
    CQel_Parameter* speed = setup.FindParameter("TestSpeed");
    if (speed == nullptr) {
        return;
    }
    // The profile's peak speed, read in the test speed's display unit.
    const double kept = speed->GetValueInInternalUnit();
    speed->SetValueInBaseUnit(setup.GetParameterValueInBaseUnit(description_.amplitude) /
                              std::min(setup.GetParameterValueInBaseUnit(description_.rise),
                                       setup.GetParameterValueInBaseUnit(description_.back)));
    const double peak = speed->GetValue();
    speed->SetValueInInternalUnit(kept);
    Rescale("TestSpeed", std::fabs(peak * kSpeedShare), false, "Speed_Reference", "Load_Speed");
}

void CProfileTuningTest::OnChangedParameterUnit(std::string_view name) {
    if (scope_) {
        if (qel::EqualsIgnoringCase(name, description_.amplitude)) {
            RescaleReferenceChannels();
        } else if (qel::EqualsIgnoringCase(name, "TestLimitCurrent") && !ThirdChannelsAreSpeeds()) {
            RescaleCurrentChannels();
        }
    }
    CMyTestDlg::OnChangedParameterUnit(name);
}

CQel_Logger* CProfileTuningTest::PrepareOnlineLaunch(std::int32_t amplitude) {
    paused_ = false;
    if (scope_) {
        return scope_.get();
    }
    oscilloscope_.Initialize("", kOscilloscopeChannels, 0);
    const double a = amplitude;
    for (int channel = 0; channel < kOscilloscopeChannels; ++channel) {
        CQel_OscilloscopeChannel* shown = oscilloscope_.GetChannel(channel);
        shown->displayMaximum =
            a >= 0.0 ? (1.0 + kOscilloscopeHeadroom) * a : -kOscilloscopeHeadroom * a;
        shown->displayMinimum =
            a >= 0.0 ? -kOscilloscopeHeadroom * a : (1.0 + kOscilloscopeHeadroom) * a;
        shown->colour = RGB16(kChannelColours[channel]);
    }
    EnableChild(kPauseButtonId, 1, 0);
    EnableChild(kContinueButtonId, 0, 0);
    return nullptr;
}

void CProfileTuningTest::RunWithReads() {
    if (stopRequest_) {
        // The cycles go on until the drive is told to stop.
        CQel_Comm::StopProgram();
        ConcludeOnline();
        return;
    }
    if (!paused_) {
        CQel_Variable* reference = GetSetup()->FindVariable(variables_[0], 1);
        CQel_Variable* response = GetSetup()->FindVariable(variables_[1], 1);
        if (reference == nullptr || response == nullptr) {
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            return;
        }
        response->ChangeUnit(reference->GetUnitName());
        if (!reference->ReadFromChip() || !response->ReadFromChip()) {
            errorText_ = msc_pszErrInternal;
            TestFailed(1);
            return;
        }
        oscilloscope_.GetChannel(0)->lastValue = reference->GetValueInInternalUnit();
        oscilloscope_.GetChannel(1)->lastValue = response->GetValueInInternalUnit();
        oscilloscope_.UpdateLastPoint();
        for (auto [variable, id] : {std::pair{reference, description_.referenceValueId},
                                    std::pair{response, description_.responseValueId}}) {
            const std::string unit = variable->ShowsInternalUnits()
                                         ? std::string(qel::kInternalUnitName)
                                         : variable->GetUnitName();
            SetChildText(id, variable->PrintValue() + " " + unit);
        }
    }
    if (!CheckMotionErrors(1, kRunMotionErrors) || !TestFlagGood(true)) {
        return;
    }
    RearmTimer();
}

void CProfileTuningTest::ConcludeOnline() {
    stopRequest_ = 0;
    continuousRun_ = 0;
    TestSucceeded(1);
    positioningDone_ = true;
    UpdateData(FALSE);
}

void CProfileTuningTest::RunWithScope() {
    if (stopRequest_) {
        scope_->EndUploadData();
        return;
    }
    frameReceived_ = false;
    if (scope_->DoGracefulStop()) {
        // The acquisition is complete: the run ends as the user's Stop would end it, then
        // passes when the drive reported nothing wrong.
        OnBtnStartStop();
        stopRequest_ = 0;
        continuousRun_ = 0;
        if (CheckMotionErrors(1, kRunMotionErrors) && TestFlagGood(true)) {
            TestSucceeded(1);
        }
        scope_->EndUploadData();
        UpdateData(FALSE);
        return;
    }
    CQel_Comm::CheckForUnrequestedMessages();
    if (!scope_->IsUploading()) {
        errorText_ = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    if (!frameReceived_ && (!CheckMotionErrors(1, kRunMotionErrors) || !TestFlagGood(true))) {
        return;
    }
    RearmTimer(kPromptTick_ms);
}

void CProfileTuningTest::OnStartStop() {
    if (running_ && OnlinePlot() && scope_ && scope_->IsUploading()) {
        scope_->EndUploadData();
        if (scope_->IsUploading()) {
            return;
        }
        continuousRun_ = 0;
        stopRequest_ = 1;
    }
    OnBtnStartStop();
}

void CProfileTuningTest::OnContextMenu(CWnd* pWnd, CPoint point) {
    if (pWnd == nullptr || pWnd->GetDlgCtrlID() != kScopeId || !scope_ || running_) {
        CMyTestDlg::OnContextMenu(pWnd, point);
        return;
    }
    CMenu menu;
    if (!menu.LoadMenu(kScopeMenuId) || menu.GetSubMenu(0) == nullptr) {
        return;
    }
    const UINT chosen = static_cast<UINT>(menu.GetSubMenu(0)->TrackPopupMenu(
        TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, this));
    if (chosen != 0) {
        OnScopeMenu(chosen);
    }
}

LRESULT CProfileTuningTest::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != ui::kGraphScaleRequest) {
        return CMyTestDlg::WindowProc(message, wParam, lParam);
    }
    const auto channel = static_cast<int>(LOWORD(static_cast<std::uintptr_t>(lParam)));
    const auto step = static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lParam)));
    if (scope_ && static_cast<int>(wParam) == kScopeId &&
        scope_->ChangeChannelScale(channel, step) != 0) {
        customised_ = true;
        scopeGraph_.Invalidate();
        scopeGraph_.RefreshGraph();
    }
    return 0;
}

void CProfileTuningTest::OnScopeMenu(UINT id) {
    if (running_) {
        return;
    }
    const bool scopeShown = OnlinePlot() && scope_;
    const std::string base = description_.scopeFileName;
    switch (id) {
        case kSavePlotsMenuId:
            if (scopeShown) {
                scope_->SaveGraph(base + ".svg");
            } else if (!OnlinePlot()) {
                curves_.Graph().SaveGraph({}, base + ".svg");
            }
            return;
        case kSavePictureId:
            (scopeShown ? scopeGraph_ : curves_.Graph()).CreateWMF(base + ".svg");
            return;
        case kExportDataId:
            (scopeShown ? scopeGraph_ : curves_.Graph()).ExportToASCII(base + ".csv");
            return;
        default:
            break;
    }
    if (!scope_) {
        return;
    }
    std::filesystem::path file;
    switch (id) {
        case kEditScopeId:
        case kAutoscaleId:
            if ((id == kEditScopeId ? scope_->Edit(this) : scope_->Autoscale()) != 0) {
                customised_ = true;
                scopeGraph_.Invalidate();
                scopeGraph_.RefreshGraph();
            }
            break;
        case kDefaultScopeId:
            if (customised_) {
                customised_ = false;
                scope_->SetDefaultValues();
                ApplyScopeDefaults();
                BindScopeGraph();
            }
            break;
        case kLoadScopeId:
            if (DoPromptScopeLoggerFileName(1, base + ".json", file) && scope_->Load(file)) {
                customised_ = true;
                BindScopeGraph();
            }
            break;
        case kSaveScopeId:
            if (DoPromptScopeLoggerFileName(0, base + ".json", file)) {
                scope_->Save(file);
            }
            break;
        default:
            break;
    }
}
