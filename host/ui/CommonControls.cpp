// Sliders, spin buttons and tab controls (declared in Wnd.h with the other wrappers).

#include <algorithm>
#include <string>
#include <utility>

#include "host/ui/Wnd.h"

// --- CSliderCtrl ---

void CSliderCtrl::SetRange(int minimum, int maximum, BOOL /*redraw*/) {
    if (!Is(ui::ControlKind::Slider)) {
        return;
    }
    ui::ControlState& control = *GetControlState();
    control.rangeMin = minimum;
    control.rangeMax = maximum;
    control.position = control.ClampToRange(control.position);
    Changed();
}

void CSliderCtrl::GetRange(int& minimum, int& maximum) const {
    minimum = GetRangeMin();
    maximum = GetRangeMax();
}

int CSliderCtrl::GetRangeMin() const {
    return Is(ui::ControlKind::Slider) ? GetControlState()->rangeMin : 0;
}

int CSliderCtrl::GetRangeMax() const {
    return Is(ui::ControlKind::Slider) ? GetControlState()->rangeMax : 0;
}

void CSliderCtrl::SetPos(int position) {
    if (!Is(ui::ControlKind::Slider)) {
        return;
    }
    ui::ControlState& control = *GetControlState();
    const int clamped = control.ClampToRange(position);
    if (control.position != clamped) {
        control.position = clamped;
        Changed();
    }
}

int CSliderCtrl::GetPos() const {
    return Is(ui::ControlKind::Slider) ? GetControlState()->position : 0;
}

void CSliderCtrl::SetTicFreq(int frequency) {
    if (Is(ui::ControlKind::Slider)) {
        GetControlState()->ticFrequency = std::max(frequency, 0);
        Changed();
    }
}

int CSliderCtrl::SetPageSize(int size) {
    if (!Is(ui::ControlKind::Slider)) {
        return 0;
    }
    const int previous = std::exchange(GetControlState()->pageSize, size);
    Changed();
    return previous;
}

int CSliderCtrl::GetPageSize() const {
    return Is(ui::ControlKind::Slider) ? GetControlState()->pageSize : 0;
}

int CSliderCtrl::SetLineSize(int size) {
    if (!Is(ui::ControlKind::Slider)) {
        return 0;
    }
    const int previous = std::exchange(GetControlState()->lineSize, size);
    Changed();
    return previous;
}

int CSliderCtrl::GetLineSize() const {
    return Is(ui::ControlKind::Slider) ? GetControlState()->lineSize : 0;
}

// --- CSpinButtonCtrl ---

void CSpinButtonCtrl::SetRange32(int lower, int upper) {
    if (!Is(ui::ControlKind::Spin)) {
        return;
    }
    ui::ControlState& control = *GetControlState();
    control.rangeMin = lower;
    control.rangeMax = upper;
    control.position = control.ClampToRange(control.position);
    Changed();
}

void CSpinButtonCtrl::GetRange32(int& lower, int& upper) const {
    const bool spin = Is(ui::ControlKind::Spin);
    lower = spin ? GetControlState()->rangeMin : 0;
    upper = spin ? GetControlState()->rangeMax : 0;
}

int CSpinButtonCtrl::SetPos32(int position) {
    if (!Is(ui::ControlKind::Spin)) {
        return 0;
    }
    ui::ControlState& control = *GetControlState();
    const int previous = std::exchange(control.position, control.ClampToRange(position));
    Changed();
    return previous;
}

int CSpinButtonCtrl::GetPos32(BOOL* error) const {
    const bool spin = Is(ui::ControlKind::Spin);
    if (error != nullptr) {
        *error = spin ? FALSE : TRUE;
    }
    return spin ? GetControlState()->position : 0;
}

// --- CTabCtrl ---

LONG CTabCtrl::InsertItem(int index, std::string_view text) {
    if (!Is(ui::ControlKind::Tab) || index < 0) {
        return -1;
    }
    ui::ControlState& control = *GetControlState();
    const int at = std::min(index, static_cast<int>(control.items.size()));
    control.items.insert(control.items.begin() + at, ui::ListItem{std::string(text), 0});
    if (control.selection < 0) {
        control.selection = 0;
    } else if (control.selection >= at) {
        ++control.selection;
    }
    Changed();
    return at;
}

BOOL CTabCtrl::DeleteItem(int index) {
    if (!Is(ui::ControlKind::Tab) || index < 0 || index >= GetItemCount()) {
        return FALSE;
    }
    ui::ControlState& control = *GetControlState();
    control.items.erase(control.items.begin() + index);
    if (control.selection == index) {
        control.selection = -1;
    } else if (control.selection > index) {
        --control.selection;
    }
    Changed();
    return TRUE;
}

BOOL CTabCtrl::DeleteAllItems() {
    if (!Is(ui::ControlKind::Tab)) {
        return FALSE;
    }
    GetControlState()->items.clear();
    GetControlState()->selection = -1;
    Changed();
    return TRUE;
}

int CTabCtrl::GetItemCount() const {
    return Is(ui::ControlKind::Tab) ? static_cast<int>(GetControlState()->items.size()) : 0;
}

int CTabCtrl::GetCurSel() const {
    return Is(ui::ControlKind::Tab) ? GetControlState()->selection : -1;
}

int CTabCtrl::SetCurSel(int index) {
    if (!Is(ui::ControlKind::Tab) || index < 0 || index >= GetItemCount()) {
        return -1;
    }
    const int previous = std::exchange(GetControlState()->selection, index);
    Changed();
    return previous;
}
