#include "dialogs/MotorSetupDlg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>

#include "engine/AxisOptions.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterComputation.h"
#include "engine/StepSupport.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/Setup.h"

using setupdlg::AsInteger;

namespace {

constexpr UINT kTemplateId = 108;
constexpr DWORD_PTR kHelpTopic = 0x40107;

// Buttons.
constexpr int kPhaseConnectionTestId = 1175;
constexpr int kPolePairsTestId = 1176;
constexpr int kResistanceInductanceTestId = 1177;
constexpr int kEncoderConnectionsTestId = 1187;
constexpr int kResolutionTestId = 1189;
constexpr int kOffsetTestId = 3345;
constexpr int kTransmissionWarningId = 3408;
// A second command that closes the dialog as OK does.
constexpr int kCloseCommandId = 10018;

// Controls.
constexpr int kInterpolationListId = 1197;
constexpr int kEquivalentCountsEditId = 3353;
constexpr int kEquivalentCountsUnitId = 3354;
constexpr int kReverseCountingCheckId = 3358;
constexpr int kEncoderFilterListId = 3359;
constexpr int kEncoderFilterCheckId = 3360;
constexpr int kBrakeGroupBoxId = 3379;
constexpr int kBrakeCheckId = 3380;
constexpr int kBrakeOutputListId = 3381;
constexpr int kBrakeCaptionId = 3385;
constexpr int kPictureId = 3386;
constexpr int kPictureBitmap = 3059;

constexpr int kInertiaFields[] = {1172, 1173, 3267, 0};
constexpr int kSensorTypeFields[] = {1184, 1185, 1186, 0};
constexpr int kEnDatFields[] = {1203, 1204, 3347, 1206, 1207, 3356, 1199, 1200, 3342, 3345, 0};
constexpr int kMultiTurnFields[] = {1208, 1198, 3357, 0};
constexpr int kBrakeFields[] = {3381, 3385, 3387, 3389, 3390, 3388, 3391, 3392, 0};
constexpr int kEncoderFilterCaptions[] = {3270, 3272, 0};

// The encoder input filter's bandwidths, as fractions of the maximum; item data 0 to 12.
constexpr std::array<const char*, 13> kEncoderFilterBandwidths = {
    "1/3",  "1/6",  "1/12", "1/18", "1/24", "1/30", "1/36",
    "1/42", "1/48", "1/54", "1/60", "1/66", "1/72"};

// Interpolation exponents beyond this would not fit the list's "%d" texts; a setup that allows
// more (or negative ones) is held to this span.
constexpr int kLargestInterpolationExponent = 30;

// The EnDat clock: 100 kHz, or a multiple of 250 kHz.
constexpr double kSpiClockStep_Hz = 250000.0;
constexpr double kSpiSlowClock_Hz = 100000.0;
// Below this, a frequency is nearer to the slow clock than to the first multiple.
constexpr double kSpiSlowClockBound_Hz = 175000.0;

// One motor revolution in the transmission's base unit (rad).
constexpr double kOneRevolution_rad = 6.283185307179586;

constexpr const char* kBrakeAppliedCaption = "Motor brake is applied when ";
constexpr const char* kBrakeSinkCaption = "NPN (sink) output is connected to GND.";
constexpr const char* kBrakeSourceCaption = "PNP (source) output is connected to +Vlog.";

constexpr const char* kTransmissionWarning =
    "When there is only a position sensor on the motor and the load moves in opposite direction "
    "(i.e. transmission is negative), the h/w limit switches connections need to be reversed. "
    "\n\nConnect positive limit switch sensor to drive's LSN input and negative limit switch "
    "sensor to drive's LSP input.";

bool IsName(std::string_view name, std::string_view wanted) {
    return qel::EqualsIgnoringCase(name, wanted);
}

bool IsAnyOf(std::string_view name, std::initializer_list<std::string_view> wanted) {
    return std::any_of(wanted.begin(), wanted.end(),
                       [name](std::string_view candidate) { return IsName(name, candidate); });
}

bool HasEncoderParameters(const CQel_Setup& setup) {
    return HasParameters(setup, {"No_encoder_lines", "SINCOS_fract"});
}

}  // namespace

CMotorSetupDialog::CMotorSetupDialog(CQel_Setup* setup, CWnd* parent)
    : CMySetupDlg(setup, kTemplateId, 1, setupdlg::GuidelineTexts(kTemplateId).Texts(), parent) {
    if (HasEncoderParameters(*setup)) {
        equivalentCounts_ = std::make_unique<CQel_Parameter>(
            setup, setup->FindParameter("No_encoder_lines")->GetDefinition());
        equivalentCounts_->ChangeName("EquivCountsPerRev");
        equivalentCounts_->ChangeUnit("counts");
        equivalentCounts_->ChangePrecision(9);
        UpdateEquivalentCounts();
    }

    AddParameterControls("In", 1159, 1160);
    AddParameterControls("ImaxM", 1161, 1162);
    AddParameterControls("pp", 1165, 0);
    AddParameterControls("K", 1166, 1167);
    AddParameterControls("R", 1168, 1169);
    AddParameterControls("L", 1170, 1171);
    AddParameterControls("Jm", 1172, 1173);
    AddCheckParameterControls("isMotorInertiaUnknown", 1178);
    AddSwitchParameterControls("MotorPhaseConnectionType", 1195, 1196);
    AddParameterControls("No_encoder_lines", 1179, 1180);
    AddSwitchParameterControls("SINCOS_fract", kInterpolationListId);
    if (equivalentCounts_) {
        AddUserParameterControls(equivalentCounts_.get(), kEquivalentCountsEditId,
                                 kEquivalentCountsUnitId);
    }
    AddCheckParameterControls("isMotorTemperatureSensor", 1183);
    AddSwitchParameterControls("Motor_TempSensor_Type", 1185, 1186);
    AddCheckParameterControls("isEnDatEncoder", 3355);
    AddSwitchParameterControls("isMultiTurn", 1203, 1204);
    AddParameterControls("ENDAT_RES", 1206, 1207);
    AddParameterControls("No_Bits_Turns", 1208, 1198);
    AddParameterControls("SPI_freq", 1199, 1200);
    AddCheckParameterControls("isReverseCounting", 3342);
    if (HasReverseCounting(*setup)) {
        AddCheckParameterControls("ReverseCounting", kReverseCountingCheckId);
    }
    AddSwitchParameterControls("TransmissionType", 1193, 1194);
    AddParameterControls("Motor_transmission", 1163, 1164);
    AddParameterControls("Load_transmission", 1174, 1192);
    if (HasMotorBrake(*setup)) {
        AddCheckParameterControls("isMotorBrake", kBrakeCheckId);
        AddSwitchParameterControls("MotorBrake_output", kBrakeOutputListId);
        AddParameterControls("MotorBrake_releasetime", 3389, 3390);
        AddParameterControls("MotorBrake_applytime", 3391, 3392);
    }
    if (HasEncoderFilter(*setup)) {
        AddSwitchParameterControls("FilterEncValue", kEncoderFilterListId);
        AddCheckParameterControls("isFilterEnc", kEncoderFilterCheckId);
    }
    InitializeMotorEditor();
}

BOOL CMotorSetupDialog::OnInitDialog() {
    CMySetupDlg::OnInitDialog();
    CQel_Setup& setup = *GetSetup();
    SetButtonImage(IDOK, "TO_DRIVESETUP");
    SetButtonImage(kTransmissionWarningId, "WARN_SWITCH_HW_LS");
    ShowChild(kTransmissionWarningId, 0);

    const bool encoderFilter = HasEncoderFilter(setup);
    EnableChild(kEncoderFilterCheckId, encoderFilter ? 1 : 0, 0);
    EnableChildren(kEncoderFilterCaptions, encoderFilter ? 1 : 0, 0);
    EnableChild(kEncoderFilterListId, 0, 0);
    if (encoderFilter) {
        EnableEncoderFilterList();
        if (auto* list = dynamic_cast<CComboBox*>(GetDlgItem(kEncoderFilterListId))) {
            list->ResetContent();
            for (std::size_t i = 0; i < kEncoderFilterBandwidths.size(); ++i) {
                list->SetItemData(list->AddString(kEncoderFilterBandwidths[i]), i);
            }
        }
        RefreshParameterControls("FilterEncValue");
    }

    FillInterpolationList();
    EnableChild(kReverseCountingCheckId, HasReverseCounting(setup) ? 1 : 0, 0);

    const bool brake = HasMotorBrake(setup) && GetNumberOfBrakeOutputs(&setup) > 0;
    EnableChild(kBrakeGroupBoxId, brake ? 1 : 0, 0);
    EnableChild(kBrakeCheckId, brake ? 1 : 0, 0);
    EnableChildren(kBrakeFields, brake ? 1 : 0, 0);
    if (auto* list = dynamic_cast<CComboBox*>(GetDlgItem(kBrakeOutputListId))) {
        const int currentPort =
            brake ? AsInteger(setup.GetParameterValueInInternalUnit("MotorBrake_output")) : 0;
        FillIOBrakeCombo(&setup, *list, currentPort);
    }
    RefreshParameterControls("MotorBrake_output");

    if (const std::optional<ui::Bitmap> bitmap = GetGuiModule(&setup).LoadBitmap(kPictureBitmap)) {
        picture_.SetBitmap(*bitmap);
    }
    UpdateData(FALSE);
    return TRUE;
}

void CMotorSetupDialog::DoDataExchange(CDataExchange* pDX) {
    CMySetupDlg::DoDataExchange(pDX);
    DDX_Control(pDX, kPictureId, picture_);
    if (pDX->m_bSaveAndValidate) {
        return;
    }
    const CQel_Setup& setup = *GetSetup();
    const auto value = [&setup](std::string_view name) {
        return setup.GetParameterValueInBaseUnit(name);
    };

    EnableChildren(kInertiaFields, AsInteger(value("isMotorInertiaUnknown")) == 0 ? 1 : 0, 0);
    EnableChildren(kSensorTypeFields, engine::IsOne(value("isMotorTemperatureSensor")) ? 1 : 0, 0);
    const bool endat = AsInteger(value("isEnDatEncoder")) != 0;
    EnableChildren(kEnDatFields, endat ? 1 : 0, 0);
    EnableChildren(kMultiTurnFields, endat && engine::IsOne(value("isMultiTurn")) ? 1 : 0, 0);

    if (HasMotorBrake(setup)) {
        EnableChildren(kBrakeFields, engine::IsOne(value("isMotorBrake")) ? 1 : 0, 0);
        const int port = AsInteger(setup.GetParameterValueInInternalUnit("MotorBrake_output"));
        const bool sinkStage =
            (IsBrakePortEnable(&setup, port) & qel::kOutputStageMask) == qel::kOutputStageSink;
        const bool appliedWhenGrounded = IsIOQel3PortInverted(&setup, port) == (sinkStage ? 1 : 0);
        SetChildText(kBrakeCaptionId,
                     std::string(kBrakeAppliedCaption) +
                         (appliedWhenGrounded ? kBrakeSinkCaption : kBrakeSourceCaption));
    }

    if (!AllowsNegativeTransmission(setup)) {
        const bool negative = value("Motor_transmission") / value("Load_transmission") < 0.0;
        ShowChild(kTransmissionWarningId, negative ? 1 : 0);
    }
}

BOOL CMotorSetupDialog::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode != BN_CLICKED) {
        return CMySetupDlg::OnCommand(id, notifyCode);
    }
    switch (static_cast<int>(id)) {
        case kPhaseConnectionTestId:
            OpenChild(PhaseConnectionTest(), ChildSteps{});
            return TRUE;
        case kPolePairsTestId:
            OnPolePairs();
            return TRUE;
        case kResistanceInductanceTestId:
            OnResistanceInductance();
            return TRUE;
        case kEncoderConnectionsTestId:
            OpenChild(EncoderConnectionsTest(), ChildSteps{});
            return TRUE;
        case kResolutionTestId:
            OnResolution();
            return TRUE;
        case kOffsetTestId:
            OpenChild(OffsetTest(), ChildSteps{});
            return TRUE;
        case kTransmissionWarningId:
            OnTransmissionWarning();
            return TRUE;
        case kBrakeCheckId:
            UpdateData(FALSE);
            return TRUE;
        case kHelpButtonId:
            ShowHelp(kHelpTopic);
            return TRUE;
        case kCloseCommandId:
            OnOK();
            return TRUE;
        default:
            return CMySetupDlg::OnCommand(id, notifyCode);
    }
}

CMySetupDlg::ChildRunner CMotorSetupDialog::PhaseConnectionTest() {
    return DriveTestChild(DriveTest::PhaseConnections);
}

CMySetupDlg::ChildRunner CMotorSetupDialog::PolePairsTest() {
    return DriveTestChild(DriveTest::PolePairs);
}

CMySetupDlg::ChildRunner CMotorSetupDialog::ResistanceInductanceTest() {
    return DriveTestChild(DriveTest::ResistanceInductance);
}

CMySetupDlg::ChildRunner CMotorSetupDialog::EncoderConnectionsTest() {
    return DriveTestChild(DriveTest::EncoderConnections);
}

CMySetupDlg::ChildRunner CMotorSetupDialog::ResolutionTest(int& detectedDirection) {
    const ResolutionTestRunner& runner = FindResolutionTest();
    if (!runner) {
        return {};
    }
    return [this, &runner, &detectedDirection] { return runner(GetSetup(), detectedDirection); };
}

CMySetupDlg::ChildRunner CMotorSetupDialog::OffsetTest() {
    return DriveTestChild(DriveTest::EncoderOffset);
}

namespace {

// After these tests the dialog redisplays only what they identified.
CMySetupDlg::ChildSteps WithNamedRefreshes() {
    CMySetupDlg::ChildSteps steps;
    steps.refreshAll = false;
    steps.updateData = false;
    return steps;
}

}  // namespace

void CMotorSetupDialog::OnPolePairs() {
    if (OpenChild(PolePairsTest(), WithNamedRefreshes())) {
        OnRefreshParameterValue("pp");
        RefreshParameterControls("pp");
    }
}

void CMotorSetupDialog::OnResistanceInductance() {
    if (OpenChild(ResistanceInductanceTest(), WithNamedRefreshes())) {
        OnRefreshParameterValue("R");
        OnRefreshParameterValue("L");
        RefreshParameterControls("R");
        RefreshParameterControls("L");
    }
}

void CMotorSetupDialog::OnResolution() {
    CQel_Setup& setup = *GetSetup();
    int direction = kNoDirectionDetected;
    if (OpenChild(ResolutionTest(direction), WithNamedRefreshes())) {
        OnRefreshParameterValue("No_encoder_lines");
        RefreshParameterControls("No_encoder_lines");
    } else if (HasReverseCounting(setup) && direction != kNoDirectionDetected) {
        // A direction found before the user cancelled is still worth keeping.
        setup.SetParameterValueInBaseUnit("ReverseCounting", direction);
    }
    if (HasReverseCounting(setup)) {
        OnRefreshParameterValue("ReverseCounting");
        RefreshParameterControls("ReverseCounting");
    }
}

void CMotorSetupDialog::OnTransmissionWarning() {
    AfxMessageBox(kTransmissionWarning, MB_OK);
}

void CMotorSetupDialog::OnOK() {
    CQel_Setup& setup = *GetSetup();
    // Without a sensor the drive cannot watch the motor's temperature.
    if (setup.GetParameterValueInBaseUnit("isMotorTemperatureSensor") == 0.0) {
        setup.SetParameterValueInBaseUnit("isMotorOverTemp", 0.0);
    }
    CMySetupDlg::OnOK();
}

void CMotorSetupDialog::OnChangedParameterValue(std::string_view name) {
    CMySetupDlg::OnChangedParameterValue(name);
    CQel_Setup& setup = *GetSetup();
    if (IsAnyOf(name, {"isMotorInertiaUnknown", "isMotorTemperatureSensor", "isEnDatEncoder",
                       "isMultiTurn", "ReverseCounting", "isFilterEnc", "MotorBrake_output",
                       "Motor_transmission", "Load_transmission"})) {
        UpdateData(FALSE);
    } else if (IsName(name, "TransmissionType")) {
        SetUnitTypesByTransmission(setup);
        RefreshParameterControls("Load_transmission");
    } else if (IsAnyOf(name, {"No_encoder_lines", "SINCOS_fract"})) {
        if (HasEncoderParameters(setup)) {
            UpdateEquivalentCounts();
            RefreshParameterControls("EquivCountsPerRev");
        }
        compute::ENDAT_RES(setup);
        RefreshParameterControls("ENDAT_RES");
    }
    EnableEncoderFilterList();
}

void CMotorSetupDialog::OnRefreshParameterValue(std::string_view name) {
    CMySetupDlg::OnRefreshParameterValue(name);
    if (IsAnyOf(name, {"No_encoder_lines", "pp"})) {
        FillInterpolationList();
    } else if (IsName(name, "SPI_freq")) {
        SnapSpiFrequency();
    } else if (IsAnyOf(name, {"Motor_transmission", "Load_transmission"})) {
        ReplaceZeroTransmission(name);
    }
}

void CMotorSetupDialog::FillInterpolationList() {
    CQel_Setup& setup = *GetSetup();
    auto* list = dynamic_cast<CComboBox*>(GetDlgItem(kInterpolationListId));
    if (!HasEncoderParameters(setup) || list == nullptr) {
        return;
    }
    if (HasElectricalResolutionFraction(setup)) {
        compute::ELRES_FRACT(setup);
    }
    const CQel_Parameter& fraction = *setup.FindParameter("SINCOS_fract");
    const int lowest = std::max(AsInteger(fraction.GetMinInBaseUnit()), 0);
    const int highest =
        std::min(AsInteger(fraction.GetMaxInBaseUnit()), kLargestInterpolationExponent);
    list->ResetContent();
    for (int exponent = lowest; exponent <= highest; ++exponent) {
        const int index = list->AddString(std::to_string(1 << exponent));
        list->SetItemData(index, static_cast<DWORD_PTR>(exponent));
    }
    UpdateEquivalentCounts();
    RefreshParameterControls("SINCOS_fract");
    RefreshParameterControls("EquivCountsPerRev");
}

void CMotorSetupDialog::UpdateEquivalentCounts() {
    const CQel_Setup& setup = *GetSetup();
    if (!equivalentCounts_) {
        return;
    }
    const double lines = setup.GetParameterValueInBaseUnit("No_encoder_lines");
    const int fraction = AsInteger(setup.GetParameterValueInBaseUnit("SINCOS_fract"));
    const double counts = std::ldexp(lines, fraction);
    // The copy keeps the line count's range; the interpolated count may lie above it.
    if (std::isfinite(counts) && counts > equivalentCounts_->GetMaxInBaseUnit()) {
        equivalentCounts_->SetMaxInBaseUnit(counts);
    }
    equivalentCounts_->SetValueInBaseUnit(counts);
}

void CMotorSetupDialog::EnableEncoderFilterList() {
    const CQel_Setup& setup = *GetSetup();
    if (HasEncoderFilter(setup)) {
        EnableChild(kEncoderFilterListId,
                    engine::IsOne(setup.GetParameterValueInBaseUnit("isFilterEnc")) ? 1 : 0, 0);
    }
}

void CMotorSetupDialog::SnapSpiFrequency() {
    CQel_Setup& setup = *GetSetup();
    double frequency_Hz = std::trunc(setup.GetParameterValueInBaseUnit("SPI_freq"));
    const double remainder_Hz = std::fmod(frequency_Hz, kSpiClockStep_Hz);
    if (!std::isfinite(frequency_Hz) || remainder_Hz == 0.0 || frequency_Hz == kSpiSlowClock_Hz) {
        return;
    }
    if (frequency_Hz < kSpiSlowClockBound_Hz) {
        frequency_Hz = kSpiSlowClock_Hz;
    } else if (frequency_Hz < kSpiClockStep_Hz) {
        frequency_Hz = kSpiClockStep_Hz;
    } else if (remainder_Hz < kSpiClockStep_Hz / 2.0) {
        frequency_Hz -= remainder_Hz;
    } else {
        frequency_Hz += kSpiClockStep_Hz - remainder_Hz;
    }
    setup.SetParameterValueInBaseUnit("SPI_freq", frequency_Hz);
    RefreshParameterControls("SPI_freq");
}

void CMotorSetupDialog::ReplaceZeroTransmission(std::string_view name) {
    CQel_Setup& setup = *GetSetup();
    if (setup.GetParameterValueInBaseUnit(name) == 0.0) {
        setup.SetParameterValueInBaseUnit(name, kOneRevolution_rad);
    }
    RefreshParameterControls(name);
    UpdateData(FALSE);
}
