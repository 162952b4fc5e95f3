#include "host/ui/Dialog.h"

#include <algorithm>
#include <utility>

#include "host/ui/Backend.h"

namespace {

std::vector<CDialog*>& OpenDialogList() {
    static std::vector<CDialog*> dialogs;
    return dialogs;
}

std::unique_ptr<CWnd> MakeItemWindow(ui::ControlKind kind) {
    switch (kind) {
        case ui::ControlKind::Combo:
        case ui::ControlKind::Unit:
            return std::make_unique<CComboBox>();
        case ui::ControlKind::List:
            return std::make_unique<CListBox>();
        case ui::ControlKind::Edit:
            return std::make_unique<CEdit>();
        case ui::ControlKind::Button:
        case ui::ControlKind::Check:
        case ui::ControlKind::Radio:
            return std::make_unique<CButton>();
        case ui::ControlKind::Static:
        case ui::ControlKind::Picture:
        case ui::ControlKind::Group:
        case ui::ControlKind::BarGraph:
        case ui::ControlKind::Diagram:
        case ui::ControlKind::Graph:
            return std::make_unique<CStatic>();
        case ui::ControlKind::Slider:
            return std::make_unique<CSliderCtrl>();
        case ui::ControlKind::Spin:
            return std::make_unique<CSpinButtonCtrl>();
        case ui::ControlKind::Tab:
            return std::make_unique<CTabCtrl>();
    }
    return std::make_unique<CWnd>();
}

ui::ControlState* FindForExchange(CDataExchange* pDX, int id) {
    if (pDX == nullptr || pDX->m_pDlgWnd == nullptr ||
        pDX->m_pDlgWnd->GetWindowState() == nullptr) {
        return nullptr;
    }
    ui::ControlState* control = pDX->m_pDlgWnd->GetWindowState()->Find(id);
    if (control == nullptr) {
        ui::CurrentBackend().ReportProblem(
            "The dialog " + std::to_string(pDX->m_pDlgWnd->GetTemplateId()) +
            " exchanges data with control " + std::to_string(id) + ", which it does not have.");
    }
    return control;
}

// The radio buttons of the run that starts at the first id, in template order: up to the next
// control that starts a group.
std::vector<ui::ControlState*> RadioRun(CDataExchange* pDX, int firstId) {
    std::vector<ui::ControlState*> run;
    ui::ControlState* first = FindForExchange(pDX, firstId);
    if (first == nullptr) {
        return run;
    }
    auto& controls = pDX->m_pDlgWnd->GetWindowState()->Controls();
    for (auto it = controls.begin() + (first - controls.data()); it != controls.end(); ++it) {
        if (&*it != first && it->groupStart) {
            break;
        }
        if (it->kind == ui::ControlKind::Radio) {
            run.push_back(&*it);
        }
    }
    return run;
}

}  // namespace

// --- data exchange ---

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.GetControlState() != nullptr) {
        return;
    }
    if (ui::ControlState* state = FindForExchange(pDX, id)) {
        control.Attach(*pDX->m_pDlgWnd, *state);
    }
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    CWnd* item =
        pDX != nullptr && pDX->m_pDlgWnd != nullptr ? pDX->m_pDlgWnd->GetDlgItem(id) : nullptr;
    if (item == nullptr) {
        FindForExchange(pDX, id);
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        value = item->GetWindowText();
    } else {
        item->SetWindowText(value);
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    if (FindForExchange(pDX, id) == nullptr) {
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        value = static_cast<int>(pDX->m_pDlgWnd->IsDlgButtonChecked(id));
    } else {
        pDX->m_pDlgWnd->CheckDlgButton(id, static_cast<UINT>(value));
    }
}

void DDX_Radio(CDataExchange* pDX, int firstId, int& value) {
    const std::vector<ui::ControlState*> run = RadioRun(pDX, firstId);
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (std::size_t i = 0; i < run.size(); ++i) {
            if (run[i]->checked == BST_CHECKED) {
                value = static_cast<int>(i);
            }
        }
        return;
    }
    for (std::size_t i = 0; i < run.size(); ++i) {
        pDX->m_pDlgWnd->CheckDlgButton(run[i]->id,
                                       static_cast<int>(i) == value ? BST_CHECKED : BST_UNCHECKED);
    }
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& index) {
    ui::ControlState* control = FindForExchange(pDX, id);
    if (control == nullptr || !control->IsList()) {
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        index = control->selection;
        return;
    }
    const bool valid = index >= 0 && static_cast<std::size_t>(index) < control->items.size();
    control->selection = valid ? index : -1;
    ui::CurrentBackend().ControlChanged(*pDX->m_pDlgWnd, id);
}

// --- CDialog ---

CDialog::CDialog(UINT templateId, CWnd* parent) : templateId_(templateId), parent_(parent) {}

CDialog::CDialog(ui::DialogTemplate dialogTemplate, CWnd* parent)
    : templateId_(static_cast<UINT>(dialogTemplate.id)),
      builtTemplate_(std::move(dialogTemplate)),
      parent_(parent) {}

CDialog::~CDialog() {
    DestroyWindowState();
}

bool CDialog::CreateWindowState() {
    ui::TemplateLoad load;
    if (builtTemplate_) {
        load.dialogTemplate = builtTemplate_;
    } else {
        load = ui::LoadDialogTemplate(static_cast<int>(templateId_));
    }
    if (!load.dialogTemplate) {
        ui::CurrentBackend().ReportProblem("The dialog " + std::to_string(templateId_) +
                                           " cannot be shown: " + load.problem + ".");
        return false;
    }
    window_ = std::make_unique<ui::WindowState>(*load.dialogTemplate);
    OpenDialogList().push_back(this);
    return true;
}

void CDialog::DestroyWindowState() {
    if (window_ == nullptr) {
        return;
    }
    ui::CurrentBackend().WindowDestroyed(*this);
    while (!attached_.empty()) {
        (*attached_.begin())->Detach();
    }
    itemWindows_.clear();
    window_.reset();
    std::erase(OpenDialogList(), this);
}

INT_PTR CDialog::DoModal() {
    if (window_ != nullptr) {
        ui::CurrentBackend().ReportProblem("The dialog " + std::to_string(templateId_) +
                                           " is already open.");
        return -1;
    }
    if (!CreateWindowState()) {
        return -1;
    }
    // The window goes whatever leaves the run, so that no timer or open-dialog entry outlives it.
    struct WindowGuard {
        CDialog& dialog;
        ~WindowGuard() { dialog.DestroyWindowState(); }
    } guard{*this};

    ended_ = false;
    result_ = IDCANCEL;
    ui::Backend& backend = ui::CurrentBackend();
    backend.WindowCreated(*this);
    OnInitDialog();
    if (!ended_ && window_ != nullptr) {
        OnShowWindow(TRUE, 0);
        if (!ended_) {
            backend.RunModal(*this);
        }
        OnShowWindow(FALSE, 0);
    }
    return result_;
}

void CDialog::EndDialog(int result) {
    ended_ = true;
    result_ = result;
    if (window_ != nullptr) {
        ui::CurrentBackend().EndModal(*this);
    }
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (window_ == nullptr) {
        return FALSE;
    }
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return exchange.Failed() ? FALSE : TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateMessage(MSG* /*message*/) {
    return FALSE;
}

BOOL CDialog::OnCommand(UINT id, UINT notifyCode) {
    if (notifyCode != BN_CLICKED) {
        return FALSE;
    }
    if (id == static_cast<UINT>(IDOK)) {
        OnOK();
        return TRUE;
    }
    if (id == static_cast<UINT>(IDCANCEL)) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

void CDialog::OnControlNotification(UINT /*id*/, UINT /*notifyCode*/) {}

void CDialog::DispatchCommand(UINT id, UINT notifyCode) {
    if (window_ == nullptr) {
        return;
    }
    OnControlNotification(id, notifyCode);
    if (window_ != nullptr) {
        OnCommand(id, notifyCode);
    }
}

LRESULT CDialog::DispatchNotify(NMHDR& header) {
    LRESULT result = 0;
    if (window_ != nullptr) {
        OnNotify(static_cast<WPARAM>(header.idFrom), reinterpret_cast<LPARAM>(&header), &result);
    }
    return result;
}

CWnd* CDialog::WindowOf(ui::ControlState& control) {
    for (CWnd* wrapper : attached_) {
        if (wrapper->control_ == &control) {
            return wrapper;
        }
    }
    return ItemWindow(control);
}

CWnd* CDialog::ItemWindow(ui::ControlState& control) {
    auto found = itemWindows_.find(&control);
    if (found == itemWindows_.end()) {
        std::unique_ptr<CWnd> item = MakeItemWindow(control.kind);
        item->owner_ = this;
        item->control_ = &control;
        found = itemWindows_.emplace(&control, std::move(item)).first;
    }
    return found->second.get();
}

void CDialog::RegisterAttached(CWnd& wrapper) {
    attached_.insert(&wrapper);
}

void CDialog::UnregisterAttached(CWnd& wrapper) {
    attached_.erase(&wrapper);
}

namespace ui {

const std::vector<CDialog*>& OpenDialogs() {
    return OpenDialogList();
}

CDialog* ActiveDialog() {
    return OpenDialogList().empty() ? nullptr : OpenDialogList().back();
}

}  // namespace ui
