#include "host/kernel/ScopeSettingsDlg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "host/kernel/Loggers.h"
#include "host/kernel/ScopeSettings.h"
#include "host/kernel/Setup.h"
#include "host/kernel/TypedNumber.h"
#include "host/kernel/Variable.h"

namespace {

// The trigger modes in the order the mode combo lists them, with their names.
struct ModeChoice {
    qel::TriggerMode mode;
    const char* name;
};
constexpr std::array kModes = {ModeChoice{qel::TriggerMode::Untriggered, "Free running"},
                               ModeChoice{qel::TriggerMode::Repeated, "Repeated trigger"},
                               ModeChoice{qel::TriggerMode::Single, "Single trigger"}};
// The slope combo lists the falling slope (0) first, so that its index is the slope.
constexpr std::array kSlopes = {"Falling", "Rising"};

// The layout in dialog units.
constexpr int kWidth = 268;
constexpr int kMargin = 7;
constexpr int kLabelWidth = 62;
constexpr int kFieldX = kMargin + kLabelWidth;
constexpr int kFieldWidth = 56;
constexpr int kComboWidth = 110;
constexpr int kComboDrop = 60;
constexpr int kRowHeight = 12;
constexpr int kRowStep = 16;
constexpr int kUnitWidth = 40;
constexpr int kChannelNameWidth = 100;
constexpr int kChannelUnitX = kMargin + kChannelNameWidth + 4;
constexpr int kChannelUnitWidth = 44;
constexpr int kChannelScaleX = kChannelUnitX + kChannelUnitWidth + 4;
constexpr int kChannelFieldWidth = 50;
constexpr int kChannelCentreX = kChannelScaleX + kChannelFieldWidth + 4;
constexpr int kAcquisitionRows = 6;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
// Significant digits a value is shown with.
constexpr int kShownDigits = 6;

ui::ControlTemplate Control(int id, ui::ControlKind kind, std::string caption, ui::Rect rect) {
    ui::ControlTemplate control;
    control.id = id;
    control.kind = kind;
    control.caption = std::move(caption);
    control.rect = rect;
    return control;
}

ui::ControlTemplate Label(std::string caption, int x, int y, int width) {
    return Control(-1, ui::ControlKind::Static, std::move(caption), {x, y + 2, width, kRowHeight});
}

int Row(int index) {
    return kMargin + kRowStep * index;
}

int ChannelRow(int channel) {
    return Row(kAcquisitionRows + 1 + channel);
}

ui::DialogTemplate SettingsTemplate() {
    using Kind = ui::ControlKind;
    using Dlg = CScopeSettingsDlg;
    ui::DialogTemplate dialog;
    dialog.id = Dlg::kTemplateId;
    dialog.caption = std::string(Dlg::kCaption);
    dialog.width = kWidth;
    std::vector<ui::ControlTemplate>& c = dialog.controls;
    c.push_back(Label("Duration:", kMargin, Row(0), kLabelWidth));
    c.push_back(
        Control(Dlg::kDurationId, Kind::Edit, "", {kFieldX, Row(0), kFieldWidth, kRowHeight}));
    c.push_back(Label("s", kFieldX + kFieldWidth + 4, Row(0), kUnitWidth));
    c.push_back(Label("Trigger:", kMargin, Row(1), kLabelWidth));
    c.push_back(Control(Dlg::kModeId, Kind::Combo, "", {kFieldX, Row(1), kComboWidth, kComboDrop}));
    c.push_back(Label("Slope:", kMargin, Row(2), kLabelWidth));
    c.push_back(
        Control(Dlg::kSlopeId, Kind::Combo, "", {kFieldX, Row(2), kComboWidth, kComboDrop}));
    c.push_back(Label("Trigger on:", kMargin, Row(3), kLabelWidth));
    c.push_back(Control(Dlg::kTriggerVariableId, Kind::Combo, "",
                        {kFieldX, Row(3), kComboWidth, kComboDrop}));
    c.push_back(Label("Level:", kMargin, Row(4), kLabelWidth));
    c.push_back(Control(Dlg::kLevelId, Kind::Edit, "", {kFieldX, Row(4), kFieldWidth, kRowHeight}));
    c.push_back(Control(Dlg::kLevelUnitId, Kind::Static, "",
                        {kFieldX + kFieldWidth + 4, Row(4) + 2, kUnitWidth, kRowHeight}));
    c.push_back(Label("Before trigger:", kMargin, Row(5), kLabelWidth));
    c.push_back(
        Control(Dlg::kPreTriggerId, Kind::Edit, "", {kFieldX, Row(5), kFieldWidth, kRowHeight}));
    c.push_back(Label("%", kFieldX + kFieldWidth + 4, Row(5), kUnitWidth));
    c.push_back(Label("Channel", kMargin, Row(kAcquisitionRows), kChannelNameWidth));
    c.push_back(Label("Unit", kChannelUnitX, Row(kAcquisitionRows), kChannelUnitWidth));
    c.push_back(Label("Per division", kChannelScaleX, Row(kAcquisitionRows), kChannelFieldWidth));
    c.push_back(Label("Centre", kChannelCentreX, Row(kAcquisitionRows), kChannelFieldWidth));
    for (int channel = 0; channel < Dlg::kMaxChannels; ++channel) {
        const int step = Dlg::kChannelIdStep * channel;
        const int y = ChannelRow(channel);
        c.push_back(Control(Dlg::kChannelNameId + step, Kind::Static, "",
                            {kMargin, y + 2, kChannelNameWidth, kRowHeight}));
        c.push_back(Control(Dlg::kChannelUnitId + step, Kind::Combo, "",
                            {kChannelUnitX, y, kChannelUnitWidth, kComboDrop}));
        c.push_back(Control(Dlg::kChannelScaleId + step, Kind::Edit, "",
                            {kChannelScaleX, y, kChannelFieldWidth, kRowHeight}));
        c.push_back(Control(Dlg::kChannelCentreId + step, Kind::Edit, "",
                            {kChannelCentreX, y, kChannelFieldWidth, kRowHeight}));
    }
    const int buttons = ChannelRow(Dlg::kMaxChannels) + kMargin;
    ui::ControlTemplate ok =
        Control(IDOK, Kind::Button, "OK",
                {kWidth - 2 * (kButtonWidth + kMargin), buttons, kButtonWidth, kButtonHeight});
    ok.isDefault = true;
    c.push_back(ok);
    c.push_back(Control(IDCANCEL, Kind::Button, "Cancel",
                        {kWidth - kButtonWidth - kMargin, buttons, kButtonWidth, kButtonHeight}));
    dialog.height = buttons + kButtonHeight + kMargin;
    return dialog;
}

std::string Shown(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*g", kShownDigits, value);
    return buffer;
}

}  // namespace

CScopeSettingsDlg::CScopeSettingsDlg(CQel_ScopeLogger& scope, const CQel_Setup* setup, CWnd* parent)
    : CDialog(SettingsTemplate(), parent), scope_(scope), setup_(setup) {}

BOOL CScopeSettingsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    const qel::ScopeSettings settings = scope_.GetScopeSettings();
    const qel::ScopeAcquisition& acquisition = settings.acquisition;
    SetDlgItemText(kDurationId, Shown(acquisition.duration_s));
    auto* modes = dynamic_cast<CComboBox*>(GetDlgItem(kModeId));
    for (std::size_t m = 0; m < kModes.size(); ++m) {
        modes->AddString(kModes[m].name);
        if (static_cast<int>(kModes[m].mode) == acquisition.mode) {
            modes->SetCurSel(static_cast<int>(m));
        }
    }
    auto* slopes = dynamic_cast<CComboBox*>(GetDlgItem(kSlopeId));
    for (const char* slope : kSlopes) {
        slopes->AddString(slope);
    }
    slopes->SetCurSel(acquisition.slope);
    auto* triggers = dynamic_cast<CComboBox*>(GetDlgItem(kTriggerVariableId));
    for (const qel::ScopeChannel& channel : settings.channels) {
        triggers->AddString(channel.variable);
    }
    triggers->SetCurSel(triggers->FindStringExact(-1, acquisition.variable));
    SetDlgItemText(kLevelId, Shown(acquisition.level));
    SetDlgItemText(kPreTriggerId, std::to_string(acquisition.preTrigger_percent));
    for (int c = 0; c < kMaxChannels; ++c) {
        const int step = kChannelIdStep * c;
        const bool logged = c < static_cast<int>(settings.channels.size());
        for (const int id : {kChannelNameId, kChannelUnitId, kChannelScaleId, kChannelCentreId}) {
            GetDlgItem(id + step)->ShowWindow(logged ? SW_SHOW : SW_HIDE);
        }
        if (!logged) {
            continue;
        }
        const qel::ScopeChannel& channel = settings.channels[static_cast<std::size_t>(c)];
        SetDlgItemText(kChannelNameId + step, channel.variable);
        auto* units = dynamic_cast<CComboBox*>(GetDlgItem(kChannelUnitId + step));
        const CQel_Variable* variable =
            setup_ != nullptr ? setup_->FindVariable(channel.variable, 0) : nullptr;
        if (variable != nullptr) {
            for (const qel::DisplayUnit& unit : variable->GetUnitFamily().units) {
                units->AddString(unit.name);
            }
        }
        units->AddString(qel::kInternalUnitName);
        units->SetCurSel(units->FindStringExact(-1, channel.unit));
        SetDlgItemText(kChannelScaleId + step, Shown(channel.valuePerDivision));
        SetDlgItemText(kChannelCentreId + step, Shown(channel.centre));
    }
    ShowLevelUnit();
    return TRUE;
}

BOOL CScopeSettingsDlg::OnCommand(UINT id, UINT notifyCode) {
    if (id == kTriggerVariableId && notifyCode == CBN_SELCHANGE) {
        ShowLevelUnit();
        return TRUE;
    }
    return CDialog::OnCommand(id, notifyCode);
}

void CScopeSettingsDlg::ShowLevelUnit() {
    const auto* triggers = dynamic_cast<CComboBox*>(GetDlgItem(kTriggerVariableId));
    const int chosen = triggers->GetCurSel();
    const CQel_Variable* variable = setup_ != nullptr && chosen >= 0
                                        ? setup_->FindVariable(triggers->GetLBText(chosen), 0)
                                        : nullptr;
    SetDlgItemText(kLevelUnitId, variable != nullptr ? variable->GetBaseUnitName() : "");
}

std::optional<double> CScopeSettingsDlg::TypedNumber(int id, std::string_view field) {
    const std::string typed = GetDlgItemText(id);
    const std::optional<double> value = qel::ParseTypedNumber(typed);
    if (!value) {
        MessageBox(
            "The " + std::string(field) + " \"" + qel::TrimBlanks(typed) + "\" is not a number.",
            kCaption, MB_OK | MB_ICONERROR);
        GetDlgItem(id)->SetFocus();
    }
    return value;
}

void CScopeSettingsDlg::OnOK() {
    const std::optional<double> duration_s = TypedNumber(kDurationId, "duration");
    const std::optional<double> level = duration_s ? TypedNumber(kLevelId, "level") : std::nullopt;
    const std::optional<double> preTrigger =
        level ? TypedNumber(kPreTriggerId, "share before the trigger") : std::nullopt;
    if (!preTrigger) {
        return;
    }
    const qel::ScopeSettings settings = scope_.GetScopeSettings();
    struct Scale {
        std::string unit;
        double valuePerDivision = 0.0;
        double centre = 0.0;
    };
    std::vector<Scale> scales;
    for (std::size_t c = 0; c < settings.channels.size() && c < kMaxChannels; ++c) {
        const int step = kChannelIdStep * static_cast<int>(c);
        const std::string name = settings.channels[c].variable;
        const std::optional<double> perDivision =
            TypedNumber(kChannelScaleId + step, name + " value per division");
        const std::optional<double> centre =
            perDivision ? TypedNumber(kChannelCentreId + step, name + " centre") : std::nullopt;
        if (!centre) {
            return;
        }
        if (!(*perDivision > 0.0)) {
            MessageBox("The value per division of " + name + " must be above 0.", kCaption,
                       MB_OK | MB_ICONERROR);
            GetDlgItem(kChannelScaleId + step)->SetFocus();
            return;
        }
        const auto* units = dynamic_cast<CComboBox*>(GetDlgItem(kChannelUnitId + step));
        const int unit = units->GetCurSel();
        scales.push_back({unit >= 0 ? units->GetLBText(unit) : settings.channels[c].unit,
                          *perDivision, *centre});
    }
    const int mode = dynamic_cast<CComboBox*>(GetDlgItem(kModeId))->GetCurSel();
    const int slope = dynamic_cast<CComboBox*>(GetDlgItem(kSlopeId))->GetCurSel();
    const auto* triggers = dynamic_cast<CComboBox*>(GetDlgItem(kTriggerVariableId));
    const std::string variable =
        triggers->GetCurSel() >= 0 ? triggers->GetLBText(triggers->GetCurSel()) : std::string();
    // The logger checks the acquisition, says what it refuses and then keeps the one it had; the
    // scales were checked above, so that nothing is applied by half.
    const qel::TriggerMode chosenMode = kModes[static_cast<std::size_t>(std::max(mode, 0))].mode;
    if (scope_.ChangeSettings(*duration_s, static_cast<int>(chosenMode), std::max(slope, 0),
                              variable, *level, static_cast<int>(*preTrigger)) == 0) {
        return;
    }
    for (std::size_t c = 0; c < scales.size(); ++c) {
        scope_.RescaleVariable(settings.channels[c].variable, scales[c].unit,
                               scales[c].valuePerDivision, scales[c].centre);
    }
    EndDialog(IDOK);
}
