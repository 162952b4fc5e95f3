#include "host/ui/Wnd.h"

#include <limits>
#include <string>

#include "host/ui/Backend.h"
#include "host/ui/Dialog.h"

namespace {

// GetKeyState's answer for a held key: the high bit set.
constexpr short kKeyHeld = std::numeric_limits<short>::min();

const CDialog* AsDialog(const CWnd* window) {
    return dynamic_cast<const CDialog*>(window);
}

std::string& ApplicationTitle() {
    static std::string title = "brevan";
    return title;
}

int& WaitCursorDepth() {
    static int depth = 0;
    return depth;
}

bool IsValidIndex(const ui::ControlState& control, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < control.items.size();
}

}  // namespace

CWnd::~CWnd() {
    Detach();
}

HWND CWnd::GetSafeHwnd() const {
    if (control_ != nullptr) {
        return this;
    }
    const CDialog* dialog = AsDialog(this);
    return dialog != nullptr && dialog->GetWindowState() != nullptr ? this : nullptr;
}

int CWnd::GetDlgCtrlID() const {
    return control_ != nullptr ? control_->id : 0;
}

CWnd* CWnd::GetParent() const {
    if (control_ != nullptr) {
        return owner_;
    }
    const CDialog* dialog = AsDialog(this);
    return dialog != nullptr ? dialog->GetParentWindow() : nullptr;
}

CWnd* CWnd::GetDlgItem(int id) const {
    const CDialog* dialog = AsDialog(this);
    if (dialog == nullptr || dialog->GetWindowState() == nullptr) {
        return nullptr;
    }
    ui::ControlState* control = dialog->GetWindowState()->Find(id);
    return control != nullptr ? const_cast<CDialog*>(dialog)->ItemWindow(*control) : nullptr;
}

void CWnd::Changed() const {
    if (owner_ != nullptr && control_ != nullptr) {
        ui::CurrentBackend().ControlChanged(*owner_, control_->id);
    }
}

bool CWnd::Is(ui::ControlKind kind) const {
    return control_ != nullptr && control_->kind == kind;
}

bool CWnd::IsListControl() const {
    return control_ != nullptr && control_->IsList();
}

void CWnd::SetWindowText(std::string_view text) {
    if (control_ != nullptr) {
        if (control_->text != text) {
            control_->text = std::string(text);
            Changed();
        }
        return;
    }
    const CDialog* dialog = AsDialog(this);
    if (dialog != nullptr && dialog->GetWindowState() != nullptr) {
        dialog->GetWindowState()->SetCaption(std::string(text));
        ui::CurrentBackend().ControlChanged(*const_cast<CDialog*>(dialog), 0);
    }
}

std::string CWnd::GetWindowText() const {
    if (control_ != nullptr) {
        return control_->text;
    }
    const CDialog* dialog = AsDialog(this);
    return dialog != nullptr && dialog->GetWindowState() != nullptr
               ? dialog->GetWindowState()->GetCaption()
               : std::string();
}

BOOL CWnd::EnableWindow(BOOL enable) {
    if (control_ == nullptr) {
        return FALSE;
    }
    const BOOL wasDisabled = control_->enabled ? FALSE : TRUE;
    if (control_->enabled != (enable != FALSE)) {
        control_->enabled = enable != FALSE;
        Changed();
    }
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    if (control_ != nullptr) {
        return control_->enabled ? TRUE : FALSE;
    }
    return GetSafeHwnd() != nullptr ? TRUE : FALSE;
}

BOOL CWnd::ShowWindow(int command) {
    if (control_ == nullptr) {
        return GetSafeHwnd() != nullptr ? TRUE : FALSE;
    }
    const BOOL wasVisible = control_->visible ? TRUE : FALSE;
    const bool show = command != SW_HIDE;
    if (control_->visible != show) {
        control_->visible = show;
        Changed();
    }
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const {
    if (control_ != nullptr) {
        return control_->visible ? TRUE : FALSE;
    }
    return GetSafeHwnd() != nullptr ? TRUE : FALSE;
}

void CWnd::SetFocus() {
    CDialog* dialog = control_ != nullptr ? owner_ : const_cast<CDialog*>(AsDialog(this));
    if (dialog == nullptr || dialog->GetWindowState() == nullptr) {
        return;
    }
    ui::WindowState& window = *dialog->GetWindowState();
    const int previous = window.GetFocusId();
    const int next = control_ != nullptr ? control_->id : 0;
    if (previous == next) {
        return;
    }
    window.SetFocusId(next);
    const ui::ControlState* left = window.Find(previous);
    if (left != nullptr && left->kind == ui::ControlKind::Edit) {
        dialog->DispatchCommand(static_cast<UINT>(previous), EN_KILLFOCUS);
    }
    if (control_ != nullptr && control_->kind == ui::ControlKind::Edit &&
        dialog->GetWindowState() != nullptr) {
        dialog->DispatchCommand(static_cast<UINT>(next), EN_SETFOCUS);
    }
}

void CWnd::Invalidate(BOOL /*erase*/) {
    if (control_ != nullptr) {
        Changed();
        return;
    }
    const CDialog* dialog = AsDialog(this);
    if (dialog != nullptr && dialog->GetWindowState() != nullptr) {
        ui::CurrentBackend().ControlChanged(*const_cast<CDialog*>(dialog), 0);
    }
}

void CWnd::SetDlgItemText(int id, std::string_view text) {
    if (CWnd* item = GetDlgItem(id)) {
        item->SetWindowText(text);
    }
}

std::string CWnd::GetDlgItemText(int id) const {
    const CWnd* item = GetDlgItem(id);
    return item != nullptr ? item->GetWindowText() : std::string();
}

void CWnd::CheckDlgButton(int id, UINT check) {
    CWnd* item = GetDlgItem(id);
    ui::ControlState* control = item != nullptr ? item->control_ : nullptr;
    if (control != nullptr && control->IsButtonLike() &&
        control->checked != static_cast<int>(check)) {
        control->checked = static_cast<int>(check);
        item->Changed();
    }
}

UINT CWnd::IsDlgButtonChecked(int id) const {
    const CWnd* item = GetDlgItem(id);
    const ui::ControlState* control = item != nullptr ? item->control_ : nullptr;
    return control != nullptr && control->IsButtonLike() ? static_cast<UINT>(control->checked) : 0U;
}

void CWnd::CheckRadioButton(int firstId, int lastId, int checkId) {
    for (int id = firstId; id <= lastId; ++id) {
        CheckDlgButton(id, id == checkId ? BST_CHECKED : BST_UNCHECKED);
    }
}

int CWnd::GetCheckedRadioButton(int firstId, int lastId) const {
    for (int id = firstId; id <= lastId; ++id) {
        if (IsDlgButtonChecked(id) == BST_CHECKED) {
            return id;
        }
    }
    return 0;
}

int CWnd::MessageBox(std::string_view text, std::string_view caption, UINT type) {
    const std::string shownCaption = caption.empty() ? GetApplicationTitle() : std::string(caption);
    return ui::CurrentBackend().ShowMessageBox(this, text, shownCaption, type);
}

UINT_PTR CWnd::SetTimer(UINT_PTR timerId, UINT period_ms) {
    if (GetSafeHwnd() == nullptr) {
        return 0;
    }
    ui::CurrentBackend().StartTimer(*this, timerId, period_ms);
    return timerId;
}

BOOL CWnd::KillTimer(UINT_PTR timerId) {
    if (GetSafeHwnd() == nullptr) {
        return FALSE;
    }
    ui::CurrentBackend().StopTimer(*this, timerId);
    return TRUE;
}

BOOL CWnd::OnCommand(UINT /*id*/, UINT /*notifyCode*/) {
    return FALSE;
}

void CWnd::OnTimer(UINT_PTR /*timerId*/) {}

void CWnd::OnShowWindow(BOOL /*show*/, UINT /*status*/) {}

COLORREF CWnd::OnCtlColor(int /*controlId*/, COLORREF defaultColour) {
    return defaultColour;
}

void CWnd::OnHScroll(UINT /*nSBCode*/, UINT /*nPos*/, CScrollBar* /*pScrollBar*/) {}

BOOL CWnd::OnNotify(WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT* /*pResult*/) {
    return FALSE;
}

void CWnd::OnContextMenu(CWnd* /*pWnd*/, CPoint /*point*/) {}

LRESULT CWnd::WindowProc(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return 0;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProc(message, wParam, lParam);
}

void CWnd::Attach(CDialog& dialog, ui::ControlState& control) {
    Detach();
    owner_ = &dialog;
    control_ = &control;
    dialog.RegisterAttached(*this);
    OnAttached();
}

BOOL CWnd::Attach(CDialog& dialog, int id) {
    ui::WindowState* window = dialog.GetWindowState();
    ui::ControlState* control = window != nullptr ? window->Find(id) : nullptr;
    if (control == nullptr) {
        ui::CurrentBackend().ReportProblem(
            "The dialog " + std::to_string(dialog.GetTemplateId()) + " has no control " +
            std::to_string(id) + (window == nullptr ? " (its window is not open)." : "."));
        return FALSE;
    }
    Attach(dialog, *control);
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    auto* dialog = dynamic_cast<CDialog*>(parent);
    if (dialog == nullptr) {
        ui::CurrentBackend().ReportProblem("Control " + std::to_string(id) +
                                           " can only be subclassed in a dialog.");
        return FALSE;
    }
    return Attach(*dialog, static_cast<int>(id));
}

void CWnd::Detach() {
    if (owner_ != nullptr && control_ != nullptr) {
        owner_->UnregisterAttached(*this);
    }
    owner_ = nullptr;
    control_ = nullptr;
}

// --- CButton ---

void CButton::SetCheck(int check) {
    ui::ControlState* control = GetControlState();
    if (control == nullptr || !control->IsButtonLike() || control->checked == check) {
        return;
    }
    control->checked = check;
    Changed();
}

int CButton::GetCheck() const {
    const ui::ControlState* control = GetControlState();
    return control != nullptr && control->IsButtonLike() ? control->checked : BST_UNCHECKED;
}

void CButton::SetBitmap(const ui::Bitmap& bitmap) {
    ui::ControlState* control = GetControlState();
    if (control != nullptr && control->IsButtonLike()) {
        control->bitmap = bitmap.name;
        Changed();
    }
}

// --- CEdit ---

void CEdit::SetLimitText(UINT maxCharacters) {
    if (Is(ui::ControlKind::Edit)) {
        GetControlState()->limitText = maxCharacters;
    }
}

UINT CEdit::GetLimitText() const {
    return Is(ui::ControlKind::Edit) ? static_cast<UINT>(GetControlState()->limitText) : 0U;
}

BOOL CEdit::SetReadOnly(BOOL readOnly) {
    if (!Is(ui::ControlKind::Edit)) {
        return FALSE;
    }
    GetControlState()->readOnly = readOnly != FALSE;
    Changed();
    return TRUE;
}

// --- CStatic ---

ui::Bitmap CStatic::SetBitmap(const ui::Bitmap& bitmap) {
    ui::ControlState* control = GetControlState();
    if (control == nullptr ||
        (control->kind != ui::ControlKind::Picture && control->kind != ui::ControlKind::Static)) {
        return {};
    }
    ui::Bitmap previous{control->bitmap};
    control->bitmap = bitmap.name;
    Changed();
    return previous;
}

ui::Bitmap CStatic::GetBitmap() const {
    const ui::ControlState* control = GetControlState();
    return control != nullptr ? ui::Bitmap{control->bitmap} : ui::Bitmap{};
}

// --- list controls: CComboBox and CListBox share these ---

namespace {

int InsertItem(ui::ControlState* control, int index, std::string_view text) {
    if (control == nullptr || !control->IsList()) {
        return CB_ERR;
    }
    const int count = static_cast<int>(control->items.size());
    if (index < 0) {
        index = count;
    }
    if (index > count) {
        return CB_ERR;
    }
    control->items.insert(control->items.begin() + index, ui::ListItem{std::string(text), 0});
    if (control->selection >= index) {
        ++control->selection;
    }
    return index;
}

int DeleteItem(ui::ControlState* control, int index) {
    if (control == nullptr || !control->IsList() || !IsValidIndex(*control, index)) {
        return CB_ERR;
    }
    control->items.erase(control->items.begin() + index);
    if (control->selection == index) {
        control->selection = -1;
    } else if (control->selection > index) {
        --control->selection;
    }
    return static_cast<int>(control->items.size());
}

int SetData(ui::ControlState* control, int index, DWORD_PTR data) {
    if (control == nullptr || !control->IsList() || !IsValidIndex(*control, index)) {
        return CB_ERR;
    }
    control->items[static_cast<std::size_t>(index)].data = data;
    return 0;
}

DWORD_PTR GetData(const ui::ControlState* control, int index) {
    if (control == nullptr || !control->IsList() || !IsValidIndex(*control, index)) {
        return static_cast<DWORD_PTR>(CB_ERR);
    }
    return control->items[static_cast<std::size_t>(index)].data;
}

// The toolkit clears the selection for an index out of range and answers CB_ERR.
int Select(ui::ControlState* control, int index) {
    if (control == nullptr || !control->IsList()) {
        return CB_ERR;
    }
    control->selection = IsValidIndex(*control, index) ? index : -1;
    return control->selection >= 0 ? index : CB_ERR;
}

std::string ItemText(const ui::ControlState* control, int index) {
    if (control == nullptr || !control->IsList() || !IsValidIndex(*control, index)) {
        return {};
    }
    return control->items[static_cast<std::size_t>(index)].text;
}

int FindExact(const ui::ControlState* control, int startAfter, std::string_view text) {
    if (control == nullptr || !control->IsList()) {
        return CB_ERR;
    }
    const int count = static_cast<int>(control->items.size());
    for (int step = 1; step <= count; ++step) {
        const int index = ((startAfter < 0 ? -1 : startAfter) + step) % count;
        if (control->items[static_cast<std::size_t>(index)].text == text) {
            return index;
        }
    }
    return CB_ERR;
}

}  // namespace

int CComboBox::AddString(std::string_view text) {
    const int index = InsertItem(GetControlState(), -1, text);
    Changed();
    return index;
}

int CComboBox::InsertString(int index, std::string_view text) {
    const int inserted = InsertItem(GetControlState(), index, text);
    Changed();
    return inserted;
}

int CComboBox::DeleteString(int index) {
    const int remaining = DeleteItem(GetControlState(), index);
    Changed();
    return remaining;
}

void CComboBox::ResetContent() {
    if (IsListControl()) {
        GetControlState()->items.clear();
        GetControlState()->selection = -1;
        Changed();
    }
}

int CComboBox::GetCount() const {
    return IsListControl() ? static_cast<int>(GetControlState()->items.size()) : CB_ERR;
}

int CComboBox::SetItemData(int index, DWORD_PTR data) {
    return SetData(GetControlState(), index, data);
}

DWORD_PTR CComboBox::GetItemData(int index) const {
    return GetData(GetControlState(), index);
}

int CComboBox::SetCurSel(int index) {
    const int selected = Select(GetControlState(), index);
    Changed();
    return selected;
}

int CComboBox::GetCurSel() const {
    return IsListControl() && GetControlState()->selection >= 0 ? GetControlState()->selection
                                                                : CB_ERR;
}

void CComboBox::GetLBText(int index, std::string& text) const {
    text = ItemText(GetControlState(), index);
}

std::string CComboBox::GetLBText(int index) const {
    return ItemText(GetControlState(), index);
}

int CComboBox::FindStringExact(int startAfter, std::string_view text) const {
    return FindExact(GetControlState(), startAfter, text);
}

int CComboBox::SelectString(int startAfter, std::string_view text) {
    ui::ControlState* control = GetControlState();
    if (control == nullptr || !control->IsList()) {
        return CB_ERR;
    }
    const int count = static_cast<int>(control->items.size());
    for (int step = 1; step <= count; ++step) {
        const int index = ((startAfter < 0 ? -1 : startAfter) + step) % count;
        if (control->items[static_cast<std::size_t>(index)].text.starts_with(text)) {
            return SetCurSel(index);
        }
    }
    return CB_ERR;
}

int CListBox::AddString(std::string_view text) {
    const int index = InsertItem(GetControlState(), -1, text);
    Changed();
    return index;
}

int CListBox::InsertString(int index, std::string_view text) {
    const int inserted = InsertItem(GetControlState(), index, text);
    Changed();
    return inserted;
}

int CListBox::DeleteString(int index) {
    const int remaining = DeleteItem(GetControlState(), index);
    Changed();
    return remaining;
}

void CListBox::ResetContent() {
    if (IsListControl()) {
        GetControlState()->items.clear();
        GetControlState()->selection = -1;
        Changed();
    }
}

int CListBox::GetCount() const {
    return IsListControl() ? static_cast<int>(GetControlState()->items.size()) : LB_ERR;
}

int CListBox::SetItemData(int index, DWORD_PTR data) {
    return SetData(GetControlState(), index, data);
}

DWORD_PTR CListBox::GetItemData(int index) const {
    return GetData(GetControlState(), index);
}

int CListBox::SetCurSel(int index) {
    const int selected = Select(GetControlState(), index);
    Changed();
    return selected;
}

int CListBox::GetCurSel() const {
    return IsListControl() && GetControlState()->selection >= 0 ? GetControlState()->selection
                                                                : LB_ERR;
}

void CListBox::GetText(int index, std::string& text) const {
    text = ItemText(GetControlState(), index);
}

std::string CListBox::GetText(int index) const {
    return ItemText(GetControlState(), index);
}

int CListBox::FindStringExact(int startAfter, std::string_view text) const {
    return FindExact(GetControlState(), startAfter, text);
}

// --- free functions ---

int AfxMessageBox(std::string_view text, UINT type, UINT /*helpId*/) {
    return ui::CurrentBackend().ShowMessageBox(ui::ActiveDialog(), text, GetApplicationTitle(),
                                               type);
}

void SetApplicationTitle(std::string_view title) {
    ApplicationTitle() = std::string(title);
}

const std::string& GetApplicationTitle() {
    return ApplicationTitle();
}

void PumpWaitingMessages() {
    ui::CurrentBackend().PumpWaitingMessages();
}

short GetKeyState(int virtualKey) {
    return ui::CurrentBackend().IsKeyDown(static_cast<UINT>(virtualKey)) ? kKeyHeld : short{0};
}

CWaitCursor::CWaitCursor() {
    BeginWaitCursor();
}

CWaitCursor::~CWaitCursor() {
    EndWaitCursor();
}

void CWaitCursor::Restore() {
    ui::CurrentBackend().SetCursor(ui::Cursor::Wait);
}

void BeginWaitCursor() {
    if (WaitCursorDepth()++ == 0) {
        ui::CurrentBackend().SetCursor(ui::Cursor::Wait);
    }
}

void EndWaitCursor() {
    if (WaitCursorDepth() > 0 && --WaitCursorDepth() == 0) {
        ui::CurrentBackend().SetCursor(ui::Cursor::Arrow);
    }
}

BOOL HtmlHelp(HWND /*owner*/, std::string_view helpFile, UINT command, DWORD_PTR data) {
    if (command != HH_HELP_CONTEXT) {
        ui::CurrentBackend().ReportProblem("The help viewer command " + std::to_string(command) +
                                           " is not supported.");
        return FALSE;
    }
    ui::CurrentBackend().RequestHelp(helpFile, data);
    return TRUE;
}
