#include "dialogs/FiltersDlg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/kernel/Setup.h"

namespace {

constexpr UINT kTemplateId = 295;

// The controls of one filter and the number its parameter names end with.
struct FilterIds {
    int number;
    int group;
    int onOff;
    int locationCaption;
    int locationList;
    int typeCaption;
    int typeList;
    int qCaption;
    int qEdit;
    int frequencyCaption;
    int f1Edit;
    int f1Unit;
    int f2Edit;  // stands where qEdit stands
    int f2Unit;
};

constexpr std::array<FilterIds, 3> kFilters = {{
    {1, 3484, 3485, 3503, 3502, 3486, 3487, 3488, 3489, 3490, 3491, 3508, 3504, 3510},
    {2, 3492, 3493, 3501, 3500, 3494, 3495, 3496, 3497, 3498, 3499, 3509, 3505, 3511},
    {3, 3517, 3518, 3527, 3526, 3520, 3519, 3521, 3523, 3522, 3524, 3525, 3506, 3512},
}};

// Types whose second frequency (the lag) takes the place of the quality factor.
constexpr double kLeadLagFirstOrder = 8.0;
constexpr double kLeadLagSecondOrder = 9.0;
// The first-order low pass has no quality factor.
constexpr double kLowPassFirstOrder = 0.0;

struct Location {
    const char* name;
    DWORD_PTR value;
};
constexpr std::array<Location, 3> kLocations = {{
    {"Position Controller Output", 0},
    {"Speed Controller Output", 1},
    {"Speed Feedback", 2},
}};

// The parameters of filter j are named "BQFilter%d", "BQFilterLocation%d", ... with j.
std::string Numbered(const char* prefix, int number) {
    return prefix + std::to_string(number);
}
std::string OnName(int number) {
    return Numbered("BQFilter", number);
}
std::string LocationName(int number) {
    return Numbered("BQFilterLocation", number);
}
std::string TypeName(int number) {
    return Numbered("BQFilterType", number);
}
std::string QName(int number) {
    return Numbered("BQFilterQ", number);
}
std::string F1Name(int number) {
    return Numbered("BQFilterF1", number);
}
std::string F2Name(int number) {
    return Numbered("BQFilterF2", number);
}

// A value as the rules compare it: its integer part (NaN, for an absent name, stays NaN and
// compares unequal to everything).
double IntegerPart(const CQel_Setup& setup, const std::string& name) {
    return std::trunc(setup.GetParameterValueInBaseUnit(name));
}

}  // namespace

CFiltersDialog::CFiltersDialog(CQel_Setup* setup, bool locked, CWnd* parent)
    : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent), locked_(locked) {
    for (const FilterIds& filter : kFilters) {
        AddSwitchParameterControls(LocationName(filter.number), filter.locationList);
    }
    for (const FilterIds& filter : kFilters) {
        AddCheckParameterControls(OnName(filter.number), filter.onOff);
    }
    for (const FilterIds& filter : kFilters) {
        AddSwitchParameterControls(TypeName(filter.number), filter.typeList);
    }
    for (const FilterIds& filter : kFilters) {
        AddParameterControls(QName(filter.number), filter.qEdit, 0);
    }
    for (const FilterIds& filter : kFilters) {
        AddParameterControls(F1Name(filter.number), filter.f1Edit, filter.f1Unit);
    }
    for (const FilterIds& filter : kFilters) {
        AddParameterControls(F2Name(filter.number), filter.f2Edit, filter.f2Unit);
    }
}

BOOL CFiltersDialog::OnInitDialog() {
    CMySetupDlg::OnInitDialog();
    std::vector<std::string> typeNames;
    std::vector<int> types;
    designer_.GetFilterTypes(typeNames, types);
    const std::size_t typeCount = std::min(typeNames.size(), types.size());
    for (const FilterIds& filter : kFilters) {
        if (auto* list = dynamic_cast<CComboBox*>(GetDlgItem(filter.typeList))) {
            list->ResetContent();
            for (std::size_t i = 0; i < typeCount; ++i) {
                list->SetItemData(list->AddString(typeNames[i]), static_cast<DWORD_PTR>(types[i]));
            }
        }
        if (auto* list = dynamic_cast<CComboBox*>(GetDlgItem(filter.locationList))) {
            list->ResetContent();
            for (const Location& location : kLocations) {
                list->SetItemData(list->AddString(location.name), location.value);
            }
        }
    }
    for (const FilterIds& filter : kFilters) {
        RefreshParameterControls(TypeName(filter.number));
    }
    for (const FilterIds& filter : kFilters) {
        RefreshParameterControls(LocationName(filter.number));
    }
    RefreshAllParameters(0);
    UpdateData(FALSE);
    return TRUE;
}

void CFiltersDialog::DoDataExchange(CDataExchange* pDX) {
    CMySetupDlg::DoDataExchange(pDX);
    if (pDX->m_bSaveAndValidate) {
        return;
    }
    for (std::size_t i = 0; i < kFilters.size(); ++i) {
        ApplyFilterRules(i);
    }
}

void CFiltersDialog::ApplyFilterRules(std::size_t index) {
    const FilterIds& filter = kFilters[index];
    const CQel_Setup& setup = *GetSetup();
    const double onValue = IntegerPart(setup, OnName(filter.number));
    const bool on = !std::isnan(onValue) && onValue != 0.0;
    const double type = IntegerPart(setup, TypeName(filter.number));
    const bool hasQ = type != kLowPassFirstOrder;

    RefreshParameterControls(QName(filter.number));
    for (int id : {filter.group, filter.typeCaption, filter.typeList, filter.frequencyCaption,
                   filter.f1Edit, filter.f1Unit, filter.f2Edit, filter.f2Unit}) {
        EnableChild(id, on ? 1 : 0, 0);
    }
    const bool locationEditable = on && !locked_;
    EnableChild(filter.locationCaption, locationEditable ? 1 : 0, 0);
    EnableChild(filter.locationList, locationEditable ? 1 : 0, 0);
    EnableChild(filter.qCaption, on && hasQ ? 1 : 0, 0);
    EnableChild(filter.qEdit, on && hasQ ? 1 : 0, hasQ ? 0 : 1);
    EnableChild(filter.onOff, locked_ ? 0 : 1, 0);
    SetChildText(filter.onOff, on ? "On" : "Off");

    const bool leadLag = type == kLeadLagFirstOrder || type == kLeadLagSecondOrder;
    SetChildText(filter.qCaption, leadLag ? "Lag Frequency" : "Q");
    SetChildText(filter.frequencyCaption, leadLag ? "Lead Frequency" : "Frequency");
    ShowChild(filter.f2Edit, leadLag ? 1 : 0);
    ShowChild(filter.f2Unit, leadLag ? 1 : 0);
    ShowChild(filter.qEdit, leadLag ? 0 : 1);
}

BOOL CFiltersDialog::OnCommand(UINT id, UINT notifyCode) {
    const int control = static_cast<int>(id);
    const bool rerun = std::any_of(kFilters.begin(), kFilters.end(), [&](const FilterIds& f) {
        return (notifyCode == BN_CLICKED && control == f.onOff) ||
               (notifyCode == CBN_SELCHANGE &&
                (control == f.typeList || control == f.locationList));
    });
    if (rerun) {
        UpdateData(FALSE);
        return TRUE;
    }
    return CMySetupDlg::OnCommand(id, notifyCode);
}
