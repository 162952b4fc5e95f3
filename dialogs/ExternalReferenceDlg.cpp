#include "dialogs/ExternalReferenceDlg.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "engine/Derivation.h"
#include "engine/ParameterLimits.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Setup.h"

using setupdlg::AsInteger;

namespace {

constexpr UINT kTemplateId = 111;
constexpr DWORD_PTR kHelpTopic = 0x40101;

constexpr int kTestButtonId = 1000;
constexpr int kPictureId = 1014;
constexpr int kMaximumCaptionId = 1007;
constexpr int kMinimumCaptionId = 1009;
constexpr int kLimitCheckId = 3116;
constexpr int kSpeedLimitEditId = 3302;
constexpr int kSpeedLimitUnitId = 3136;
constexpr int kAccelerationLimitEditId = 3304;
constexpr int kAccelerationLimitUnitId = 3137;
constexpr int kDigitalRadioId = 3289;
constexpr int kAnalogueRadioId = 3290;
constexpr int kInputLowCaptionId = 3328;
constexpr int kInputHighCaptionId = 3327;

constexpr int kFilterRow[] = {1002, 1003, 1004, 0};
constexpr int kAnalogueFields[] = {1007, 1009, 1006, 1008, 1015, 1016, 1011, 1010, 1013,
                                   1012, 1004, 1001, 1002, 1003, 1000, 3328, 3327, 0};
constexpr int kDigitalFields[] = {3291, 3292, 3294, 3297, 3295, 3298, 3299, 3296, 3300, 0};

// The drawing of the reference chain in each control mode (the module's bitmaps).
constexpr int kPositionChainBitmap = 3003;
constexpr int kSpeedChainBitmap = 3044;
constexpr int kTorqueChainBitmap = 3002;

// The analogue input's span, named by AnalogueInputsRange in volts: a +/-10 V input, a 0 to 5 V
// input, and the 0 to 3.3 V input of every other value.
constexpr int kBipolarInputRange_V = 20;
constexpr int kFiveVoltInputRange_V = 5;

constexpr const char* kLimitSpeedCaption = "Limit maximum speed at";
constexpr const char* kLimitAccelerationCaption = "Limit maximum acceleration at";

// A parameter whose unit follows another's, for it has no unit combo of its own.
struct UnitPartner {
    std::string_view leader;
    std::string_view follower;
};
constexpr std::array<UnitPartner, 4> kUnitPartners = {{
    {"POS_max", "POS_min"},
    {"SPD_max", "SPD_min"},
    {"CRT_max", "CRT_min"},
    {"DeadBand_Point", "DeadBand_Range"},
}};

// The two ends of a reference span, whose limits each bound the other.
struct SpanEnds {
    std::string_view lower;
    std::string_view upper;
    bool (*lowerLimits)(CQel_Setup&);
    bool (*upperLimits)(CQel_Setup&);
};
constexpr std::array<SpanEnds, 3> kSpans = {{
    {"POS_min", "POS_max", limits::POS_min, limits::POS_max},
    {"SPD_min", "SPD_max", limits::SPD_min, limits::SPD_max},
    {"CRT_min", "CRT_max", limits::CRT_min, limits::CRT_max},
}};

bool IsName(std::string_view name, std::string_view wanted) {
    return qel::EqualsIgnoringCase(name, wanted);
}

// Gives the follower the leader's display unit (moving it to the leader's unit family if need
// be, as after a change between rotary and linear units).
void TakeUnitOf(CQel_Setup& setup, std::string_view follower, std::string_view leader) {
    const CQel_Parameter* from = setup.FindParameter(leader);
    CQel_Parameter* to = setup.FindParameter(follower);
    if (from == nullptr || to == nullptr) {
        return;
    }
    const std::string unit = from->GetUnitName();
    if (!to->ChangeUnit(unit)) {
        to->ChangeUnitType(unit);
    }
}

}  // namespace

CAnalogReferenceDlg::CAnalogReferenceDlg(CQel_Setup* setup, CWnd* parent)
    : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent),
      controlMode_(AsInteger(setup->GetParameterValueInBaseUnit("ControlMode"))),
      analogueInput_(HasAnalogueReferenceInput(*setup)) {
    const int mode = controlMode_;
    const bool analogue = analogueInput_;
    if (mode == regfmt::kControlModePosition && analogue) {
        AddParameterControls("POS_max", 1006, 1015);
        AddParameterControls("POS_min", 1008, 0);
        TakeUnitOf(*setup, "POS_min", "POS_max");
    }
    if (mode == regfmt::kControlModePosition) {
        AddCheckParameterControls("isLimitMaximum", kLimitCheckId);
        AddParameterControls("ErefMaxSpeed", kSpeedLimitEditId, kSpeedLimitUnitId);
        AddParameterControls("ErefMaxAcceleration", kAccelerationLimitEditId,
                             kAccelerationLimitUnitId);
    }
    if (mode == regfmt::kControlModeSpeed && analogue) {
        AddParameterControls("SPD_max", 1006, 1015);
        AddParameterControls("SPD_min", 1008, 0);
        TakeUnitOf(*setup, "SPD_min", "SPD_max");
    }
    if (mode == regfmt::kControlModeSpeed) {
        AddCheckParameterControls("isLimitMaximum", kLimitCheckId);
        AddParameterControls("ErefMaxAcceleration", kSpeedLimitEditId, kSpeedLimitUnitId);
    }
    if (mode == regfmt::kControlModeTorque && analogue) {
        AddParameterControls("CRT_max", 1006, 1015);
        AddParameterControls("CRT_min", 1008, 0);
        TakeUnitOf(*setup, "CRT_min", "CRT_max");
    }
    if (analogue) {
        AddParameterControls("DeadBand_Point", 1010, 1016);
        AddParameterControls("DeadBand_Range", 1012, 0);
        TakeUnitOf(*setup, "DeadBand_Range", "DeadBand_Point");
    }
    AddSwitchParameterControls("isAnalogueReference", kDigitalRadioId, kAnalogueRadioId);
    AddSwitchParameterControls("DigitalReferenceType", 3291, 3292);
    AddParameterControls("GEARMASTER", 3296, 0);
    AddParameterControls("GEARSLAVE", 3295, 0);
    if (analogue) {
        AddCheckParameterControls("UseFilter", 1001);
        AddParameterControls("filter", 1003, 1004);
    }
}

BOOL CAnalogReferenceDlg::OnInitDialog() {
    CMySetupDlg::OnInitDialog();
    CQel_Setup& setup = *GetSetup();

    const int inputRange_V = AsInteger(setup.GetParameterValueInBaseUnit("AnalogueInputsRange"));
    if (inputRange_V == kBipolarInputRange_V) {
        SetChildText(kInputLowCaptionId, "-10");
        SetChildText(kInputHighCaptionId, "10");
    } else if (inputRange_V == kFiveVoltInputRange_V) {
        SetChildText(kInputLowCaptionId, "0");
        SetChildText(kInputHighCaptionId, "5");
    } else {
        SetChildText(kInputLowCaptionId, "0");
        SetChildText(kInputHighCaptionId, "3.3");
    }

    int chainBitmap = 0;
    if (controlMode_ == regfmt::kControlModePosition) {
        SetChildText(kMaximumCaptionId, "Maximum Position");
        SetChildText(kMinimumCaptionId, "Minimum Position");
        SetLimitCaption();
        chainBitmap = kPositionChainBitmap;
    } else if (controlMode_ == regfmt::kControlModeSpeed) {
        SetChildText(kMaximumCaptionId, "Maximum Speed");
        SetChildText(kMinimumCaptionId, "Minimum Speed");
        SetChildText(kLimitCheckId, kLimitAccelerationCaption);
        chainBitmap = kSpeedChainBitmap;
    } else if (controlMode_ == regfmt::kControlModeTorque) {
        SetChildText(kMaximumCaptionId, "Maximum Current");
        SetChildText(kMinimumCaptionId, "Minimum Current");
        chainBitmap = kTorqueChainBitmap;
        ShowChild(kLimitCheckId, 0);
        ShowChild(kSpeedLimitEditId, 0);
        ShowChild(kSpeedLimitUnitId, 0);
    }
    if (chainBitmap != 0) {
        if (const std::optional<ui::Bitmap> bitmap = GetGuiModule(&setup).LoadBitmap(chainBitmap)) {
            picture_.SetBitmap(*bitmap);
        }
    }

    EnableChild(kInputLowCaptionId, 0, 0);
    EnableChild(kInputHighCaptionId, 0, 0);
    EnableChild(kAnalogueRadioId, analogueInput_ ? 1 : 0, 0);
    UpdateData(FALSE);
    return TRUE;
}

void CAnalogReferenceDlg::DoDataExchange(CDataExchange* pDX) {
    CMySetupDlg::DoDataExchange(pDX);
    DDX_Control(pDX, kPictureId, picture_);
    if (pDX->m_bSaveAndValidate) {
        return;
    }
    const CQel_Setup& setup = *GetSetup();
    const bool analogueReference =
        engine::IsOne(setup.GetParameterValueInBaseUnit("isAnalogueReference"));
    const int filterOn =
        analogueInput_ ? AsInteger(setup.GetParameterValueInBaseUnit("UseFilter")) : 0;
    const bool limitable = controlMode_ < regfmt::kControlModeTorque;
    const bool limitMaximum =
        limitable && engine::IsOne(setup.GetParameterValueInBaseUnit("isLimitMaximum"));

    ShowFilterRow(filterOn != 0);
    const bool accelerationLimit = !analogueReference && limitMaximum;
    ShowChild(kAccelerationLimitEditId, accelerationLimit ? 1 : 0);
    ShowChild(kAccelerationLimitUnitId, accelerationLimit ? 1 : 0);
    const bool speedLimit = analogueReference && limitMaximum;
    ShowChild(kSpeedLimitEditId, speedLimit ? 1 : 0);
    ShowChild(kSpeedLimitUnitId, speedLimit ? 1 : 0);
    EnableChildren(kAnalogueFields, analogueReference ? 1 : 0, 0);
    EnableChildren(kDigitalFields,
                   !analogueReference && controlMode_ == regfmt::kControlModePosition ? 1 : 0, 0);

    int digitalDisabled = 0;
    {
        const QuietLookups quiet;
        digitalDisabled = setup.GetIntOption("DisableExternalDigitalReference");
    }
    EnableChild(kDigitalRadioId,
                controlMode_ == regfmt::kControlModePosition && digitalDisabled == 0 ? 1 : 0, 0);
}

BOOL CAnalogReferenceDlg::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode != BN_CLICKED) {
        return CMySetupDlg::OnCommand(id, notifyCode);
    }
    switch (static_cast<int>(id)) {
        case kTestButtonId:
            OnTest();
            return TRUE;
        case kLimitCheckId:
        case kDigitalRadioId:
        case kAnalogueRadioId:
            UpdateData(FALSE);
            return TRUE;
        case kHelpButtonId:
            ShowHelp(kHelpTopic);
            return TRUE;
        default:
            return CMySetupDlg::OnCommand(id, notifyCode);
    }
}

CMySetupDlg::ChildRunner CAnalogReferenceDlg::AnalogueReferenceTest() {
    return DriveTestChild(DriveTest::AnalogueReference);
}

void CAnalogReferenceDlg::OnTest() {
    CQel_Setup& setup = *GetSetup();
    ComputeDriveRegisters(setup);
    DeriveUserParameters(setup);
    if (const ChildRunner runTest = AnalogueReferenceTest()) {
        runTest();
    }
    ComputeDriveRegisters(setup);
    DeriveUserParameters(setup);
}

void CAnalogReferenceDlg::ShowFilterRow(bool show) {
    ShowChildren(kFilterRow, show ? 1 : 0);
}

void CAnalogReferenceDlg::SetLimitCaption() {
    const bool analogueReference =
        engine::IsOne(GetSetup()->GetParameterValueInBaseUnit("isAnalogueReference"));
    SetChildText(kLimitCheckId, analogueReference && controlMode_ == regfmt::kControlModePosition
                                    ? kLimitSpeedCaption
                                    : kLimitAccelerationCaption);
}

void CAnalogReferenceDlg::OnChangedParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (IsName(name, "UseFilter")) {
        ShowFilterRow(AsInteger(setup.GetParameterValueInBaseUnit("UseFilter")) != 0);
    } else if (IsName(name, "isAnalogueReference")) {
        SetLimitCaption();
        UpdateData(FALSE);
    } else if (IsName(name, "DeadBand_Range")) {
        limits::DeadBand_Range(setup);
        RefreshParameterControls("DeadBand_Point");
    } else if (IsName(name, "DeadBand_Point")) {
        limits::DeadBand_Range(setup);
        RefreshParameterControls("DeadBand_Range");
    }
    CMySetupDlg::OnChangedParameterValue(name);
}

void CAnalogReferenceDlg::OnChangedParameterUnit(std::string_view name) {
    for (const UnitPartner& partner : kUnitPartners) {
        if (IsName(name, partner.leader)) {
            TakeUnitOf(*GetSetup(), partner.follower, partner.leader);
            RefreshParameterControls(partner.follower);
        }
    }
    CMySetupDlg::OnChangedParameterUnit(name);
}

void CAnalogReferenceDlg::OnRefreshParameterValue(std::string_view name) {
    for (const SpanEnds& span : kSpans) {
        if (IsName(name, span.lower) || IsName(name, span.upper)) {
            span.lowerLimits(*GetSetup());
            span.upperLimits(*GetSetup());
            RefreshAllParameters(0);
        }
    }
    CMySetupDlg::OnRefreshParameterValue(name);
}
