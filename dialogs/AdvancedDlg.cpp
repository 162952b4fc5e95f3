#include "dialogs/AdvancedDlg.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "engine/AxisOptions.h"
#include "engine/Derivation.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/RegisterFormats.h"
#include "engine/StepSupport.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Units.h"

namespace {

using setupdlg::AsInteger;
using setupdlg::HoldsQuietly;
using setupdlg::NameIs;

// Controls.
constexpr int kPictureId = 3280;
constexpr int kMarkerFastId = 1148;
constexpr int kMarkerSlowId = 1149;
constexpr int kFastLoopPeriodEditId = 1141;
constexpr int kSlowLoopPeriodEditId = 1144;
constexpr int kFastDividerCaptionId = 1131;
constexpr int kFastPeriodCaptionId = 1140;
constexpr int kSlowDividerCaptionId = 1134;
constexpr int kSlowPeriodCaptionId = 1143;
constexpr int kOnlyPositionAndCurrentId = 3344;
constexpr int kPositionSpeedAndCurrentId = 3345;
constexpr int kSpeedLoopForwardId = 3374;
constexpr int kFastLoopRadioId = 1147;
constexpr int kControlSchemeRadios[] = {3344, 3345, 0};
constexpr int kFeedForwardPlacement[] = {3376, 3375, 0};
constexpr int kFreezeControlGroup[] = {3395, 3396, 3397, 3398, 3399, 3400, 3401, 3402, 0};
constexpr int kFreezeControlFields[] = {3397, 3398, 3399, 3400, 3401, 3402, 0};
constexpr int kSlowLoopChoice[] = {1146, 3347, 0};
constexpr int kLoopPlacement[] = {1146, 1147, 3347, 0};
constexpr int kSpeedEstimator[] = {3355, 3340, 0};

// The control-scheme pictures, in the order of CAdvancedDialog::Scheme.
constexpr std::array<int, 4> kSchemeBitmapIds = {3016, 3017, 3060, 3061};

constexpr const char* kFastLoopTooShort =
    "The minimum value for Fast loop sampling period is %f ms!\nAdjust the PWM frequency and/or "
    "the X loop sampling frequency divider until this condition is fulfilled!";
constexpr const char* kSlowLoopTooShort =
    "The minimum value for Slow loop sampling period is %f ms!\nAdjust the PWM frequency and/or "
    "the X loop sampling frequency divider until this condition is fulfilled!";
constexpr double kMilliseconds_per_s = 1000.0;

// The PWM counter counts up and down: one PWM period is 2 x PWMPER clock cycles.
constexpr double kPwmCountingDirections = 2.0;

// Room for either message with any period.
constexpr std::size_t kMessageSize = 512;

std::string FormatMilliseconds(const char* format, double period_s) {
    char text[kMessageSize];
    std::snprintf(text, sizeof text, format, period_s * kMilliseconds_per_s);
    return text;
}

// The divider that gives the sampling period nearest to the wanted one at the current PWM period.
double NearestDivider(const CQel_Setup& setup, double wantedPeriod_s) {
    const double clock_Hz = setup.GetParameterValueInBaseUnit("DSP_freq");
    const double pwmCounts = setup.GetParameterValueInBaseUnit("PWMPER");
    const double pwmPeriod_s = kPwmCountingDirections * pwmCounts / clock_Hz;
    return std::floor(wantedPeriod_s / pwmPeriod_s + 0.5);
}

// How a drive value counted per slow-loop sample changes when the period is multiplied by 1 / r.
struct RescaledFamily {
    const qel::UnitFamily* family;
    bool textToo;  // also parameters that do not hold a plain number
    int powerOfR;  // the new value is v x r^powerOfR
};

}  // namespace

CAdvancedDialog::CAdvancedDialog(CQel_Setup* setup, CWnd* parent)
    : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent) {
    AddSwitchParameterControls("PositionControlType", 3344, 3345);
    {
        const QuietLookups quiet;
        AddSwitchParameterControls("PosSpd_in_FastLoop", 1146, 1147);
    }
    if (HasSpeedEstimator(*setup)) {
        AddCheckParameterControls("isSpeedEstimator", 3340);
    }
    AddParameterControls("CLPER", 1132, 0);
    AddParameterControls("SLPER", 1135, 0);
    AddParameterControls("PWM_freq", 1129, 1130);
    AddParameterControls("Ts_C", kFastLoopPeriodEditId, 1142);
    AddParameterControls("Ts_S", kSlowLoopPeriodEditId, 1145);
    AddParameterControls("PWMperiod", 1138, 1139);
    if (HasSpeedForward(*setup)) {
        AddSwitchParameterControls("SpeedForward", 3374, 3375);
    }
    if (HasFreezeControl(*setup)) {
        AddCheckParameterControls("isFreezeControl", 3396);
        AddParameterControls("FreezeControl_errband", 3399, 3400);
        AddParameterControls("FreezeControl_time", 3401, 3402);
    }
}

BOOL CAdvancedDialog::OnInitDialog() {
    CMySetupDlg::OnInitDialog();
    const CQel_Setup& setup = *GetSetup();
    const qel::GuiModule module = GetGuiModule(&setup);
    for (std::size_t i = 0; i < kSchemeBitmapIds.size(); ++i) {
        schemeBitmaps_[i] = module.LoadBitmap(kSchemeBitmapIds[i]).value_or(ui::Bitmap{});
    }

    const int mode = AsInteger(setup.GetParameterValueInBaseUnit("ControlMode"));
    ShowChildren(kControlSchemeRadios, mode == regfmt::kControlModePosition);
    EnableFeedForwardPlacement();
    EnableChildren(kFreezeControlGroup,
                   HasFreezeControl(setup) && mode == regfmt::kControlModePosition, 0);
    if (HoldsQuietly(setup, "PosSpd_in_FastLoop")) {
        EnableChildren(kSlowLoopChoice, mode < regfmt::kControlModeTorque, 0);
        EnableChild(kFastLoopRadioId, 0, 0);
    } else {
        ShowChildren(kLoopPlacement, 0);
    }
    EnableChildren(kSpeedEstimator, HasSpeedEstimator(setup), 0);

    lastRescalePeriod_s_ = setup.GetParameterValueInBaseUnit("Ts_S");
    wantedSlowPeriod_s_ = lastRescalePeriod_s_;
    wantedFastPeriod_s_ = setup.GetParameterValueInBaseUnit("Ts_C");

    ShowChild(kMarkerFastId, 0);
    ShowChild(kMarkerSlowId, 0);
    UpdateData(FALSE);
    return TRUE;
}

void CAdvancedDialog::EnableFeedForwardPlacement() {
    const CQel_Setup& setup = *GetSetup();
    const int mode = AsInteger(setup.GetParameterValueInBaseUnit("ControlMode"));
    const double loops = setup.GetParameterValueInBaseUnit("PositionControlType");
    const bool placeable = HasSpeedForward(setup) && mode != regfmt::kControlModeTorque;
    EnableChildren(kFeedForwardPlacement, placeable, 0);
    EnableChild(kSpeedLoopForwardId,
                placeable && mode == regfmt::kControlModePosition &&
                    engine::WholePart(loops) == regfmt::kPositionControlWithSpeedLoop,
                0);
}

void CAdvancedDialog::DoDataExchange(CDataExchange* pDX) {
    CMySetupDlg::DoDataExchange(pDX);
    DDX_Control(pDX, kPictureId, picture_);
    if (!pDX->m_bSaveAndValidate) {
        ApplyRules();
    }
}

void CAdvancedDialog::ApplyRules() {
    const CQel_Setup& setup = *GetSetup();
    const int mode = AsInteger(setup.GetParameterValueInBaseUnit("ControlMode"));
    const double loops = setup.GetParameterValueInBaseUnit("PositionControlType");

    Scheme scheme = Scheme::Torque;
    if (mode == regfmt::kControlModePosition) {
        scheme = engine::WholePart(loops) == regfmt::kPositionControlWithSpeedLoop
                     ? Scheme::PositionSpeedCurrent
                     : Scheme::PositionCurrent;
    } else if (mode == regfmt::kControlModeSpeed) {
        scheme = Scheme::Speed;
    }
    picture_.SetBitmap(schemeBitmaps_[static_cast<std::size_t>(scheme)]);

    EnableFeedForwardPlacement();
    EnableChildren(kFreezeControlFields,
                   HasFreezeControl(setup) &&
                       engine::IsOne(setup.GetParameterValueInBaseUnit("isFreezeControl")) &&
                       mode == regfmt::kControlModePosition,
                   0);
}

BOOL CAdvancedDialog::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode == BN_CLICKED) {
        if (id == kOnlyPositionAndCurrentId || id == kPositionSpeedAndCurrentId) {
            UpdateData(FALSE);
            return TRUE;
        }
        if (id == kHelpButtonId) {
            ShowHelp(kHelpTopic);
            return TRUE;
        }
    }
    return CMySetupDlg::OnCommand(id, notifyCode);
}

COLORREF CAdvancedDialog::OnCtlColor(int controlId, COLORREF defaultColour) {
    const COLORREF colour = CMySetupDlg::OnCtlColor(controlId, defaultColour);
    switch (controlId) {
        case kFastDividerCaptionId:
        case kFastPeriodCaptionId:
            return fastLoopColour_;
        case kSlowDividerCaptionId:
        case kSlowPeriodCaptionId:
            return slowLoopColour_;
        case kMarkerFastId:
        case kMarkerSlowId:
            return kRed;
        default:
            return colour;
    }
}

void CAdvancedDialog::OnChangedParameterValue(std::string_view name) {
    if (!NameIs(name, "PWM_freq")) {
        return;
    }
    CQel_Setup& setup = *GetSetup();
    compute::PWMPER(setup);
    compute::SATPWM(setup);
    derive::PWMperiod(setup);
    setup.SetParameterValueInBaseUnit("CLPER", NearestDivider(setup, wantedFastPeriod_s_));
    setup.SetParameterValueInBaseUnit("SLPER", NearestDivider(setup, wantedSlowPeriod_s_));
    derive::Ts_S(setup);
    derive::Ts_C(setup);
    for (const char* shown : {"CLPER", "SLPER", "Ts_S", "Ts_C", "PWMperiod"}) {
        RefreshParameterControls(shown);
    }
    UpdateData(FALSE);
}

void CAdvancedDialog::OnRefreshParameterValue(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    const double fastDivider = setup.GetParameterValueInBaseUnit("CLPER");
    if (fastDivider > setup.GetParameterValueInBaseUnit("SLPER")) {
        setup.SetParameterValueInBaseUnit("SLPER", fastDivider);
    }
    derive::Ts_S(setup);
    derive::Ts_C(setup);
    compute::PWMPER(setup);
    compute::SATPWM(setup);
    derive::PWMperiod(setup);
    if (HasSpeedForward(setup)) {
        ForceSpeedForward(setup);
    }

    const bool slowDivider = NameIs(name, "SLPER");
    const bool fastDividerChanged = NameIs(name, "CLPER");
    if (slowDivider || NameIs(name, "PWM_freq")) {
        const double current_s = setup.GetParameterValueInBaseUnit("Ts_S");
        if (lastRescalePeriod_s_ > 0.0 && lastRescalePeriod_s_ != current_s) {
            RescaleToSlowLoopPeriod(setup, lastRescalePeriod_s_, current_s);
            lastRescalePeriod_s_ = current_s;
        }
        ComputeDriveRegisters(setup);
        DeriveUserParameters(setup);
    }
    if (fastDividerChanged) {
        FlagPeriod(setup.GetParameterValueInBaseUnit("Ts_C"), GetMinCurrentLoopPeriod(setup),
                   fastLoopColour_, kMarkerFastId);
        wantedFastPeriod_s_ = setup.GetParameterValueInBaseUnit("Ts_C");
    }
    if (slowDivider) {
        FlagPeriod(setup.GetParameterValueInBaseUnit("Ts_S"), GetMinSpeedLoopPeriod(setup),
                   slowLoopColour_, kMarkerSlowId);
        wantedSlowPeriod_s_ = setup.GetParameterValueInBaseUnit("Ts_S");
    }
    RefreshAllParameters(0);
    UpdateData(FALSE);
}

void CAdvancedDialog::FlagPeriod(double period_s, double minimum_s, COLORREF& colour,
                                 int markerId) {
    if (!(minimum_s > 0.0)) {
        return;
    }
    const bool tooShort = period_s < minimum_s;
    colour = tooShort ? kRed : kBlack;
    ShowChild(markerId, tooShort);
    Invalidate();
}

void CAdvancedDialog::RescaleToSlowLoopPeriod(CQel_Setup& setup, double previous_s,
                                              double current_s) {
    const double r = previous_s / current_s;
    const double wantedDriveI2t_s = setup.GetParameterValueInBaseUnit("t_I2t_D") * r;
    const double wantedMotorI2t_s = setup.GetParameterValueInBaseUnit("t_I2t_M") * r;

    const RescaledFamily families[] = {
        {qel::FindFamilyOfUnit("s"), false, 1},      {qel::FindFamilyOfUnit("rad/s"), false, -1},
        {qel::FindFamilyOfUnit("m/s"), false, -1},   {qel::FindFamilyOfUnit("rad/s^2"), true, -2},
        {qel::FindFamilyOfUnit("m/s^2"), false, -2}, {qel::FindFamilyOfUnit("A/s"), false, -1},
    };
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        CQel_Parameter& parameter = setup.GetParameterAt(i);
        // Only values the drive counts in its own units move; a physical value (a motor's time
        // constant, a bandwidth) does not depend on the loop period.
        if (parameter.GetKind() != qel::ValueKind::Scaled) {
            continue;
        }
        const bool plain = parameter.GetValueType() != qel::ValueType::Text;
        for (const RescaledFamily& rescaled : families) {
            if (&parameter.GetUnitFamily() != rescaled.family || !(plain || rescaled.textToo)) {
                continue;
            }
            const double value =
                parameter.GetValueInInternalUnit() * std::pow(r, rescaled.powerOfR);
            parameter.SetValueInInternalUnit(value);
            if (parameter.GetValueInInternalUnit() != value) {
                ComputeDriveRegisters(setup);
                DeriveUserParameters(setup);
                parameter.SetValueInInternalUnit(value);
            }
            break;
        }
    }

    // An I2t protection whose time could not follow keeps its current-squared-time product.
    const auto keepProduct = [&setup](const char* current, const char* time, double wanted_s) {
        const double time_s = setup.GetParameterValueInBaseUnit(time);
        if (time_s != wanted_s) {
            setup.SetParameterValueInBaseUnit(
                current, setup.GetParameterValueInBaseUnit(current) * std::sqrt(wanted_s / time_s));
        }
    };
    keepProduct("I_I2t_D", "t_I2t_D", wantedDriveI2t_s);
    keepProduct("I_I2t_M", "t_I2t_M", wantedMotorI2t_s);
}

void CAdvancedDialog::OnOK() {
    // Edits still being typed are taken over first: the check is on what OK would keep.
    if (!UpdateData(TRUE)) {
        return;
    }
    const CQel_Setup& setup = *GetSetup();
    const double fastMinimum_s = GetMinCurrentLoopPeriod(setup);
    const double slowMinimum_s = GetMinSpeedLoopPeriod(setup);
    bool refused = false;
    if (fastMinimum_s > 0.0 && fastMinimum_s > setup.GetParameterValueInBaseUnit("Ts_C")) {
        AfxMessageBox(FormatMilliseconds(kFastLoopTooShort, fastMinimum_s));
        refused = true;
    }
    if (slowMinimum_s > 0.0 && slowMinimum_s > setup.GetParameterValueInBaseUnit("Ts_S")) {
        AfxMessageBox(FormatMilliseconds(kSlowLoopTooShort, slowMinimum_s));
        refused = true;
    }
    if (!refused) {
        EndDialog(IDOK);
    }
}
