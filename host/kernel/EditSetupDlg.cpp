#include "host/kernel/EditSetupDlg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/kernel/CanSettings.h"
#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/MotorEditor.h"
#include "host/kernel/TypedNumber.h"
#include "host/ui/Backend.h"

namespace {

// Decimals an edit box can show: beyond 15 a double has no more digits to give.
constexpr int kMaxDecimals = 15;
// Values at least this large are shown in exponent form rather than with every digit.
constexpr double kLargestFixedValue = 1e15;
// Significant digits of a range end that the parameter's precision would round away.
constexpr int kRangeDigits = 10;
// A typed value this close to a range end (relative to the range's size) counts as inside.
constexpr double kRangeTolerance = 1e-9;

enum class BindingKind {
    Value,
    Check,
    Radio,
    List,
    Slider,
};

std::string TrimZeros(std::string text) {
    if (text.find('.') != std::string::npos && text.find('e') == std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    if (text == "-0") {
        text = "0";
    }
    return text;
}

std::string FormatNumber(double value, int decimals) {
    if (!std::isfinite(value)) {
        return {};
    }
    char buffer[64];
    if (std::fabs(value) >= kLargestFixedValue) {
        std::snprintf(buffer, sizeof buffer, "%.*g", kMaxDecimals, value);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.*f", std::clamp(decimals, 0, kMaxDecimals), value);
    }
    return TrimZeros(buffer);
}

// A range end as the user reads it: at the parameter's precision when that shows it exactly
// enough, else with more digits (a minimum of 0.001 must not read "0").
std::string FormatRangeEnd(double value, int decimals) {
    const std::string shown = FormatNumber(value, decimals);
    const std::optional<double> back = qel::ParseTypedNumber(shown);
    if (back && std::fabs(*back - value) <= kRangeTolerance * std::max(1.0, std::fabs(value))) {
        return shown;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", kRangeDigits, value);
    return TrimZeros(buffer);
}

// The unit of plain numbers, which is not written after a value.
constexpr std::string_view kNoUnitName = "-";

// The unit as written after a number: without the blank some unit names carry, or nothing.
std::string UnitSuffix(const CQel_Parameter& parameter) {
    const std::string unit = qel::TrimBlanks(parameter.GetUnitName());
    return unit.empty() || unit == kNoUnitName ? std::string() : " " + unit;
}

// A base-unit value in the parameter's selected display unit.
double BaseToDisplay(const CQel_Parameter& parameter, double baseValue) {
    if (parameter.ShowsInternalUnits()) {
        return parameter.BaseToInternal(baseValue);
    }
    const qel::DisplayUnit* unit = parameter.GetUnitFamily().FindUnit(parameter.GetUnitName());
    return unit != nullptr ? baseValue / unit->sizeInBaseUnits : baseValue;
}

int RoundToInt(double value) {
    return static_cast<int>(std::lround(value));
}

class QuietLookups {
  public:
    QuietLookups() : saved_(g_bShowErrors) { g_bShowErrors = 0; }
    ~QuietLookups() { g_bShowErrors = saved_; }
    QuietLookups(const QuietLookups&) = delete;
    QuietLookups& operator=(const QuietLookups&) = delete;

  private:
    int saved_;
};

}  // namespace

struct CQel_EditSetupDlg::Binding {
    BindingKind kind = BindingKind::Value;
    std::string name;
    CQel_Parameter* own = nullptr;  // a parameter of the dialog's own
    int firstId = 0;                // edit, check box, first radio button or list
    int lastId = 0;                 // last radio button
    int unitId = 0;                 // unit combo of an edit, 0 for none
    // Sliders: the two spin buttons and the slider's range in base units.
    int fineSpinId = 0;
    int coarseSpinId = 0;
    double low_base = 0.0;
    double high_base = 0.0;

    double SliderStep_base() const {
        return (high_base - low_base) / CQel_EditSetupDlg::kSliderPositions;
    }
    bool Controls(int id) const {
        if (kind == BindingKind::Radio) {
            return id >= firstId && id <= lastId;
        }
        return id == firstId;
    }
};

CQel_EditSetupDlg::CQel_EditSetupDlg(CQel_Setup* setup, UINT templateId, int flag,
                                     const char* const* guidelineTexts, CWnd* parent)
    : CDialog(templateId, parent), setup_(setup), flag_(flag) {
    for (const char* const* text = guidelineTexts; text != nullptr && *text != nullptr; ++text) {
        guidelines_.emplace_back(*text);
    }
}

CQel_EditSetupDlg::~CQel_EditSetupDlg() = default;

// --- bindings ---

namespace {

bool SetupHolds(CQel_Setup* setup, std::string_view name) {
    // Looked up with the caller's error setting: a missing mandatory name is reported here.
    return setup != nullptr && setup->FindParameter(name) != nullptr;
}

}  // namespace

void CQel_EditSetupDlg::AddParameterControls(std::string_view name, int editId, int unitComboId) {
    if (SetupHolds(setup_, name)) {
        bindings_.push_back(
            Binding{BindingKind::Value, std::string(name), nullptr, editId, editId, unitComboId});
    }
}

void CQel_EditSetupDlg::AddCheckParameterControls(std::string_view name, int checkId) {
    if (SetupHolds(setup_, name)) {
        bindings_.push_back(
            Binding{BindingKind::Check, std::string(name), nullptr, checkId, checkId, 0});
    }
}

void CQel_EditSetupDlg::AddSwitchParameterControls(std::string_view name, int firstId, int lastId) {
    if (SetupHolds(setup_, name)) {
        bindings_.push_back(
            Binding{BindingKind::Radio, std::string(name), nullptr, firstId, lastId, 0});
    }
}

void CQel_EditSetupDlg::AddSwitchParameterControls(std::string_view name, int comboId) {
    if (SetupHolds(setup_, name)) {
        bindings_.push_back(
            Binding{BindingKind::List, std::string(name), nullptr, comboId, comboId, 0});
    }
}

void CQel_EditSetupDlg::AddUserParameterControls(CQel_Parameter* parameter, int editId,
                                                 int unitComboId) {
    if (parameter != nullptr) {
        bindings_.push_back(Binding{BindingKind::Value, parameter->GetName(), parameter, editId,
                                    editId, unitComboId});
    }
}

void CQel_EditSetupDlg::AddSliderParameterControls(std::string_view name, int sliderId, int editId,
                                                   int unitComboId, int fineSpinId,
                                                   int coarseSpinId) {
    if (!SetupHolds(setup_, name)) {
        return;
    }
    AddParameterControls(name, editId, unitComboId);
    const CQel_Parameter& parameter = *setup_->FindParameter(name);
    const double value_base = parameter.GetValueInBaseUnit();
    const double minimum_base =
        std::min(parameter.GetMinInBaseUnit(), parameter.GetMaxInBaseUnit());
    const double maximum_base =
        std::max(parameter.GetMinInBaseUnit(), parameter.GetMaxInBaseUnit());
    Binding slider{BindingKind::Slider, std::string(name), nullptr, sliderId, sliderId, 0};
    slider.fineSpinId = fineSpinId;
    slider.coarseSpinId = coarseSpinId;
    slider.low_base = std::max(minimum_base, std::min(0.5 * value_base, 1.5 * value_base));
    slider.high_base = std::min(maximum_base, std::max(0.5 * value_base, 1.5 * value_base));
    if (!(slider.low_base < slider.high_base)) {
        slider.low_base = minimum_base;
        slider.high_base = maximum_base;
    }
    bindings_.push_back(slider);
}

std::vector<CQel_EditSetupDlg::BindingInfo> CQel_EditSetupDlg::GetBindings() const {
    std::vector<BindingInfo> infos;
    infos.reserve(bindings_.size());
    for (const Binding& binding : bindings_) {
        BindingInfo info;
        switch (binding.kind) {
            case BindingKind::Value:
                info.kind = BindingInfo::Kind::Value;
                break;
            case BindingKind::Check:
                info.kind = BindingInfo::Kind::Check;
                break;
            case BindingKind::Radio:
                info.kind = BindingInfo::Kind::Radio;
                break;
            case BindingKind::List:
                info.kind = BindingInfo::Kind::List;
                break;
            case BindingKind::Slider:
                info.kind = BindingInfo::Kind::Slider;
                break;
        }
        info.name = binding.name;
        info.own = binding.own;
        info.firstId = binding.firstId;
        info.lastId = binding.lastId;
        info.unitId = binding.unitId;
        info.fineSpinId = binding.fineSpinId;
        info.coarseSpinId = binding.coarseSpinId;
        infos.push_back(std::move(info));
    }
    return infos;
}

void CQel_EditSetupDlg::InitializeMotorEditor() {
    motorEditor_ = std::make_unique<qel::MotorEditor>(*this);
}

void CQel_EditSetupDlg::EnableCANSettings() {
    canSettings_ = std::make_unique<qel::CanSettings>(*this);
}

CQel_Parameter* CQel_EditSetupDlg::Resolve(const Binding& binding) const {
    if (binding.own != nullptr) {
        return binding.own;
    }
    if (setup_ == nullptr) {
        return nullptr;
    }
    QuietLookups quiet;
    return setup_->FindParameter(binding.name);
}

// --- showing values ---

std::string CQel_EditSetupDlg::FormatParameterValue(const CQel_Parameter& parameter) const {
    return FormatNumber(parameter.GetValue(), parameter.GetPrecision());
}

void CQel_EditSetupDlg::FillUnitCombo(const Binding& binding, CQel_Parameter& parameter) {
    auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(binding.unitId));
    if (combo == nullptr) {
        return;
    }
    std::vector<std::string> wanted;
    for (const qel::DisplayUnit& unit : parameter.GetUnitFamily().units) {
        wanted.push_back(unit.name);
    }
    wanted.emplace_back(qel::kInternalUnitName);
    const std::vector<ui::ListItem>& items = combo->GetControlState()->items;
    const bool same = items.size() == wanted.size() &&
                      std::equal(items.begin(), items.end(), wanted.begin(),
                                 [](const ui::ListItem& item, const std::string& name) {
                                     return item.text == name;
                                 });
    if (!same) {
        combo->ResetContent();
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            combo->SetItemData(combo->AddString(wanted[i]), i);
        }
    }
    combo->SetCurSel(combo->FindStringExact(-1, parameter.GetUnitName()));
}

void CQel_EditSetupDlg::Display(const Binding& binding) {
    CQel_Parameter* parameter = Resolve(binding);
    if (parameter == nullptr || GetWindowState() == nullptr) {
        return;
    }
    switch (binding.kind) {
        case BindingKind::Value:
            if (std::find(blanked_.begin(), blanked_.end(), binding.firstId) == blanked_.end()) {
                SetDlgItemText(binding.firstId, FormatParameterValue(*parameter));
            }
            if (binding.unitId != 0) {
                FillUnitCombo(binding, *parameter);
            }
            break;
        case BindingKind::Check:
            CheckDlgButton(binding.firstId, parameter->GetValueInInternalUnit() != 0.0
                                                ? BST_CHECKED
                                                : BST_UNCHECKED);
            break;
        case BindingKind::Radio:
            CheckRadioButton(binding.firstId, binding.lastId,
                             binding.firstId + RoundToInt(parameter->GetValueInInternalUnit()));
            break;
        case BindingKind::List: {
            auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(binding.firstId));
            if (combo == nullptr) {
                break;
            }
            const auto wanted = static_cast<DWORD_PTR>(
                static_cast<std::intptr_t>(RoundToInt(parameter->GetValueInInternalUnit())));
            int found = CB_ERR;
            for (int i = 0; i < combo->GetCount(); ++i) {
                if (combo->GetItemData(i) == wanted) {
                    found = i;
                    break;
                }
            }
            combo->SetCurSel(found);
            break;
        }
        case BindingKind::Slider:
            if (auto* slider = dynamic_cast<CSliderCtrl*>(GetDlgItem(binding.firstId))) {
                const double step_base = binding.SliderStep_base();
                slider->SetPos(step_base > 0.0 ? RoundToInt((parameter->GetValueInBaseUnit() -
                                                             binding.low_base) /
                                                            step_base)
                                               : 0);
            }
            break;
    }
}

void CQel_EditSetupDlg::DisplayAll() {
    for (const Binding& binding : bindings_) {
        Display(binding);
    }
}

void CQel_EditSetupDlg::RefreshParameterControls(std::string_view name) {
    for (const Binding& binding : bindings_) {
        if (qel::EqualsIgnoringCase(binding.name, name)) {
            Display(binding);
        }
    }
}

void CQel_EditSetupDlg::RefreshAllParameters(int /*unused*/) {
    DisplayAll();
}

// --- taking over what the user entered ---

void CQel_EditSetupDlg::Notify(const std::string& name) {
    OnChangedParameterValue(name);
    OnRefreshParameterValue(name);
}

bool CQel_EditSetupDlg::TakeOverEdit(const Binding& binding) {
    CQel_Parameter* parameter = Resolve(binding);
    const CWnd* edit = GetDlgItem(binding.firstId);
    // Only what a user can type is taken over: not a read-only, disabled or blanked edit.
    if (parameter == nullptr || takingOver_ || edit == nullptr ||
        edit->GetControlState()->readOnly || !edit->IsWindowEnabled() ||
        std::find(blanked_.begin(), blanked_.end(), binding.firstId) != blanked_.end()) {
        return true;
    }
    const std::string typed = GetDlgItemText(binding.firstId);
    if (typed == FormatParameterValue(*parameter)) {
        return true;
    }
    takingOver_ = true;
    const std::string name = parameter->GetName();
    const int decimals = parameter->GetPrecision();
    double low = BaseToDisplay(*parameter, parameter->GetMinInBaseUnit());
    double high = BaseToDisplay(*parameter, parameter->GetMaxInBaseUnit());
    if (low > high) {
        std::swap(low, high);
    }
    const std::string unit = UnitSuffix(*parameter);
    const std::string allowed = "Enter a value of " + name + " between " +
                                FormatRangeEnd(low, decimals) + " and " +
                                FormatRangeEnd(high, decimals) + unit + ".";
    const std::optional<double> value = qel::ParseTypedNumber(typed);
    std::string refusal;
    double baseValue = 0.0;
    if (!value) {
        refusal = "\"" + qel::TrimBlanks(typed) + "\" is not a number.\n" + allowed;
    } else {
        baseValue = parameter->UnitToBase(*value, parameter->GetUnitName());
        const double minimum = parameter->GetMinInBaseUnit();
        const double maximum = parameter->GetMaxInBaseUnit();
        const double slack =
            kRangeTolerance * std::max({1.0, std::fabs(minimum), std::fabs(maximum)});
        if (!std::isfinite(baseValue) || baseValue < minimum - slack ||
            baseValue > maximum + slack) {
            refusal =
                "The value " + qel::TrimBlanks(typed) + unit + " is out of range.\n" + allowed;
        }
    }
    if (!refusal.empty()) {
        MessageBox(refusal, GetWindowText(), MB_OK | MB_ICONWARNING);
        takingOver_ = false;
        RefreshParameterControls(name);
        return false;
    }
    const bool changed = baseValue != parameter->GetValueInBaseUnit();
    const bool stored = !changed || parameter->SetValueInBaseUnit(baseValue);
    takingOver_ = false;
    RefreshParameterControls(name);
    if (changed && stored) {
        Notify(name);
    }
    return stored;
}

void CQel_EditSetupDlg::TakeOverValue(const Binding& binding, double internalValue) {
    CQel_Parameter* parameter = Resolve(binding);
    if (parameter == nullptr) {
        return;
    }
    const std::string name = parameter->GetName();
    const bool changed = internalValue != parameter->GetValueInInternalUnit();
    const bool stored = changed && parameter->SetValueInInternalUnit(internalValue);
    RefreshParameterControls(name);
    if (stored) {
        Notify(name);
    }
}

void CQel_EditSetupDlg::TakeOverUnit(const Binding& binding) {
    CQel_Parameter* parameter = Resolve(binding);
    auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(binding.unitId));
    if (parameter == nullptr || combo == nullptr) {
        return;
    }
    const std::string unit = combo->GetLBText(combo->GetCurSel());
    const std::string name = parameter->GetName();
    if (unit.empty() && combo->GetCurSel() == CB_ERR) {
        return;
    }
    if (unit == parameter->GetUnitName() || !parameter->ChangeUnit(unit)) {
        RefreshParameterControls(name);
        return;
    }
    RefreshParameterControls(name);
    OnChangedParameterUnit(name);
}

void CQel_EditSetupDlg::OnControlNotification(UINT id, UINT notifyCode) {
    const int control = static_cast<int>(id);
    if (motorEditor_ && motorEditor_->OnNotification(control, notifyCode)) {
        return;
    }
    if (canSettings_ && canSettings_->OnNotification(control, notifyCode)) {
        return;
    }
    if (!guidelines_.empty() && notifyCode == BN_CLICKED) {
        if (control == kGuidelinePreviousId && guidelineIndex_ > 0) {
            ShowGuideline(guidelineIndex_ - 1);
            return;
        }
        if (control == kGuidelineNextId && guidelineIndex_ + 1 < guidelines_.size()) {
            ShowGuideline(guidelineIndex_ + 1);
            return;
        }
    }
    for (const Binding& binding : bindings_) {
        if (binding.kind == BindingKind::Value) {
            if (notifyCode == EN_KILLFOCUS && binding.firstId == control) {
                TakeOverEdit(binding);
                return;
            }
            if (notifyCode == CBN_SELCHANGE && binding.unitId == control) {
                TakeOverUnit(binding);
                return;
            }
            continue;
        }
        if (!binding.Controls(control)) {
            continue;
        }
        if (binding.kind == BindingKind::Check && notifyCode == BN_CLICKED) {
            TakeOverValue(binding, IsDlgButtonChecked(control) == BST_CHECKED ? 1.0 : 0.0);
            return;
        }
        if (binding.kind == BindingKind::Radio && notifyCode == BN_CLICKED) {
            TakeOverValue(binding, static_cast<double>(control - binding.firstId));
            return;
        }
        if (binding.kind == BindingKind::List && notifyCode == CBN_SELCHANGE) {
            auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(control));
            if (combo != nullptr && combo->GetCurSel() != CB_ERR) {
                const auto data =
                    static_cast<std::intptr_t>(combo->GetItemData(combo->GetCurSel()));
                TakeOverValue(binding, static_cast<double>(data));
            }
            return;
        }
    }
}

void CQel_EditSetupDlg::TakeOverSliderStep(const Binding& binding, double position) {
    CQel_Parameter* parameter = Resolve(binding);
    if (parameter == nullptr) {
        return;
    }
    const double value_base = std::clamp(binding.low_base + position * binding.SliderStep_base(),
                                         binding.low_base, binding.high_base);
    TakeOverValue(binding, parameter->BaseToInternal(value_base));
}

void CQel_EditSetupDlg::PrepareSlider(const Binding& binding) {
    if (auto* slider = dynamic_cast<CSliderCtrl*>(GetDlgItem(binding.firstId))) {
        slider->SetRange(0, kSliderPositions);
        slider->SetTicFreq(kCoarseSpinSteps);
        slider->SetLineSize(1);
        slider->SetPageSize(kCoarseSpinSteps);
    }
    for (int spinId : {binding.fineSpinId, binding.coarseSpinId}) {
        if (auto* spin = dynamic_cast<CSpinButtonCtrl*>(GetDlgItem(spinId))) {
            // The value steps, not the spin button: it never reaches an end of this range.
            spin->SetRange32(-kSliderPositions, kSliderPositions);
            spin->SetPos32(0);
        }
    }
}

void CQel_EditSetupDlg::OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar) {
    const auto* slider = dynamic_cast<const CSliderCtrl*>(pScrollBar);
    if (slider != nullptr && nSBCode != TB_ENDTRACK) {
        for (const Binding& binding : bindings_) {
            if (binding.kind == BindingKind::Slider && binding.firstId == slider->GetDlgCtrlID()) {
                const int position = nSBCode == TB_THUMBTRACK || nSBCode == TB_THUMBPOSITION
                                         ? static_cast<int>(nPos)
                                         : slider->GetPos();
                TakeOverSliderStep(binding, position);
                return;
            }
        }
    }
    CDialog::OnHScroll(nSBCode, nPos, pScrollBar);
}

BOOL CQel_EditSetupDlg::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header != nullptr && header->code == UDN_DELTAPOS) {
        const int id = static_cast<int>(header->idFrom);
        for (const Binding& binding : bindings_) {
            if (binding.kind != BindingKind::Slider || id == 0 ||
                (id != binding.fineSpinId && id != binding.coarseSpinId)) {
                continue;
            }
            const CQel_Parameter* parameter = Resolve(binding);
            const CWnd* spin = GetDlgItem(id);
            if (parameter != nullptr && spin != nullptr && spin->IsWindowEnabled()) {
                const auto* change = reinterpret_cast<const NMUPDOWN*>(lParam);
                const double steps =
                    change->iDelta * (id == binding.coarseSpinId ? kCoarseSpinSteps : 1);
                const double value_base =
                    std::clamp(parameter->GetValueInBaseUnit() + steps * binding.SliderStep_base(),
                               binding.low_base, binding.high_base);
                TakeOverValue(binding, parameter->BaseToInternal(value_base));
            }
            if (pResult != nullptr) {
                *pResult = 1;
            }
            return TRUE;
        }
    }
    return CDialog::OnNotify(wParam, lParam, pResult);
}

// --- notifications ---

void CQel_EditSetupDlg::OnChangedParameterValue(std::string_view name) {
    RefreshParameterControls(name);
}

void CQel_EditSetupDlg::OnChangedParameterUnit(std::string_view name) {
    RefreshParameterControls(name);
}

void CQel_EditSetupDlg::OnRefreshParameterValue(std::string_view name) {
    RefreshParameterControls(name);
}

// --- window life ---

void CQel_EditSetupDlg::ShowGuideline(std::size_t index) {
    guidelineIndex_ = index;
    if (auto* text = dynamic_cast<CEdit*>(GetDlgItem(kGuidelineTextId))) {
        text->SetReadOnly(TRUE);
        text->SetWindowText(guidelines_[index]);
    }
    if (CWnd* previous = GetDlgItem(kGuidelinePreviousId)) {
        previous->EnableWindow(index > 0 ? TRUE : FALSE);
    }
    if (CWnd* next = GetDlgItem(kGuidelineNextId)) {
        next->EnableWindow(index + 1 < guidelines_.size() ? TRUE : FALSE);
    }
}

void CQel_EditSetupDlg::RememberBoundValues() {
    valuesAtShow_.clear();
    for (const Binding& binding : bindings_) {
        if (binding.own == nullptr) {
            if (const CQel_Parameter* parameter = Resolve(binding)) {
                valuesAtShow_.emplace_back(parameter->GetName(),
                                           parameter->GetValueInInternalUnit());
            }
        }
    }
}

void CQel_EditSetupDlg::RestoreBoundValues() {
    if (setup_ == nullptr) {
        return;
    }
    QuietLookups quiet;
    for (const auto& [name, value] : valuesAtShow_) {
        if (CQel_Parameter* parameter = setup_->FindParameter(name)) {
            parameter->SetValueInInternalUnit(value);
        }
    }
}

BOOL CQel_EditSetupDlg::OnInitDialog() {
    std::vector<int> reported;
    const auto check = [this, &reported](const Binding& binding, int id, bool wanted,
                                         const char* wantedKind) {
        if (id == 0 || wanted ||
            std::find(reported.begin(), reported.end(), id) != reported.end()) {
            return;
        }
        reported.push_back(id);
        const std::string prefix = "The dialog " + std::to_string(GetTemplateId()) + " binds \"" +
                                   binding.name + "\" to control " + std::to_string(id);
        ui::CurrentBackend().ReportProblem(GetDlgItem(id) == nullptr
                                               ? prefix + ", which its template lacks."
                                               : prefix + ", which is not " + wantedKind + ".");
    };
    for (const Binding& binding : bindings_) {
        const bool valueBinding = binding.kind == BindingKind::Value;
        const bool listBinding = binding.kind == BindingKind::List;
        if (binding.kind == BindingKind::Slider) {
            check(binding, binding.firstId,
                  dynamic_cast<CSliderCtrl*>(GetDlgItem(binding.firstId)) != nullptr, "a slider");
            for (int spinId : {binding.fineSpinId, binding.coarseSpinId}) {
                check(binding, spinId,
                      dynamic_cast<CSpinButtonCtrl*>(GetDlgItem(spinId)) != nullptr,
                      "a spin button");
            }
            PrepareSlider(binding);
            continue;
        }
        for (int id : {binding.firstId, binding.lastId}) {
            CWnd* control = GetDlgItem(id);
            if (valueBinding) {
                check(binding, id, dynamic_cast<CEdit*>(control) != nullptr, "an edit box");
            } else if (listBinding) {
                check(binding, id, dynamic_cast<CComboBox*>(control) != nullptr,
                      "a drop-down list");
            } else {
                check(binding, id, dynamic_cast<CButton*>(control) != nullptr, "a button");
            }
        }
        check(binding, binding.unitId,
              dynamic_cast<CComboBox*>(GetDlgItem(binding.unitId)) != nullptr, "a unit list");
    }
    if (!guidelines_.empty()) {
        ShowGuideline(0);
    }
    if (motorEditor_) {
        motorEditor_->Attach();
    }
    if (canSettings_) {
        canSettings_->Attach();
    }
    RememberBoundValues();
    return CDialog::OnInitDialog();
}

void CQel_EditSetupDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    if (GetWindowState() == nullptr) {
        return;
    }
    if (!pDX->m_bSaveAndValidate) {
        DisplayAll();
        return;
    }
    for (const Binding& binding : bindings_) {
        if (binding.kind == BindingKind::Value && !TakeOverEdit(binding)) {
            if (CWnd* edit = GetDlgItem(binding.firstId)) {
                edit->SetFocus();
            }
            pDX->Fail();
            return;
        }
    }
}

INT_PTR CQel_EditSetupDlg::DoModal() {
    blanked_.clear();
    const INT_PTR result = CDialog::DoModal();
    if (result != IDOK && flag_ == 0) {
        RestoreBoundValues();
    }
    return result;
}

// --- control helpers ---

void CQel_EditSetupDlg::EnableChild(int id, int enable, int blankWhenDisabled) {
    CWnd* child = GetDlgItem(id);
    if (child == nullptr) {
        return;
    }
    child->EnableWindow(enable != 0 ? TRUE : FALSE);
    const auto blanked = std::find(blanked_.begin(), blanked_.end(), id);
    if (enable == 0 && blankWhenDisabled != 0) {
        if (blanked == blanked_.end()) {
            blanked_.push_back(id);
        }
        child->SetWindowText("");
        return;
    }
    if (enable != 0 && blanked != blanked_.end()) {
        blanked_.erase(blanked);
        for (const Binding& binding : bindings_) {
            if (binding.kind == BindingKind::Value && binding.firstId == id) {
                Display(binding);
            }
        }
    }
}

void CQel_EditSetupDlg::EnableChildren(const int* ids, int enable, int blankWhenDisabled) {
    for (const int* id = ids; id != nullptr && *id != 0; ++id) {
        EnableChild(*id, enable, blankWhenDisabled);
    }
}

void CQel_EditSetupDlg::ShowChild(int id, int show) {
    if (CWnd* child = GetDlgItem(id)) {
        child->ShowWindow(show != 0 ? SW_SHOW : SW_HIDE);
    }
}

void CQel_EditSetupDlg::ShowChildren(const int* ids, int show) {
    for (const int* id = ids; id != nullptr && *id != 0; ++id) {
        ShowChild(*id, show);
    }
}

void CQel_EditSetupDlg::SetChildText(int id, std::string_view text) {
    SetDlgItemText(id, text);
}

void CQel_EditSetupDlg::SetButtonImage(int buttonId, std::string_view bitmapName) {
    auto* button = dynamic_cast<CButton*>(GetDlgItem(buttonId));
    if (button == nullptr) {
        return;
    }
    if (const std::optional<ui::Bitmap> bitmap = ui::LoadBitmapResource(bitmapName)) {
        button->SetBitmap(*bitmap);
    }
}
