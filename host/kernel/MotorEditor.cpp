#include "host/kernel/MotorEditor.h"

#include <algorithm>

#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/EditSetupDlg.h"
#include "host/kernel/ErrorReport.h"

namespace qel {
namespace {

constexpr std::string_view kSystemDatabaseName = "SYSTEM";
constexpr std::string_view kUserDatabaseName = "USER";
constexpr std::string_view kNamePromptCaption = "Save to User Database";

// The prompt's layout in dialog units.
constexpr int kPromptWidth = 200;
constexpr int kPromptHeight = 62;
constexpr int kMargin = 7;
constexpr int kLabelWidth = 50;
constexpr int kRowHeight = 12;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kButtonRow = 40;

ui::DialogTemplate NamePromptTemplate() {
    ui::DialogTemplate prompt;
    prompt.caption = std::string(kNamePromptCaption);
    prompt.width = kPromptWidth;
    prompt.height = kPromptHeight;
    const int editX = kMargin + kLabelWidth;
    const int editWidth = kPromptWidth - editX - kMargin;
    ui::ControlTemplate label;
    label.id = -1;
    label.kind = ui::ControlKind::Static;
    label.caption = "Motor name:";
    label.rect = {kMargin, kMargin + 2, kLabelWidth, kRowHeight};
    ui::ControlTemplate edit;
    edit.id = CQel_EditSetupDlg::kMotorNameEditId;
    edit.kind = ui::ControlKind::Edit;
    edit.rect = {editX, kMargin, editWidth, kRowHeight};
    ui::ControlTemplate ok;
    ok.id = IDOK;
    ok.kind = ui::ControlKind::Button;
    ok.caption = "OK";
    ok.isDefault = true;
    ok.rect = {kPromptWidth - 2 * (kButtonWidth + kMargin), kButtonRow, kButtonWidth,
               kButtonHeight};
    ui::ControlTemplate cancel;
    cancel.id = IDCANCEL;
    cancel.kind = ui::ControlKind::Button;
    cancel.caption = "Cancel";
    cancel.rect = {kPromptWidth - kButtonWidth - kMargin, kButtonRow, kButtonWidth, kButtonHeight};
    prompt.controls = {label, edit, ok, cancel};
    return prompt;
}

// Asks the name under which the motor goes into the user database.
class CMotorNameDlg : public CDialog {
  public:
    CMotorNameDlg(std::string proposal, CWnd* parent)
        : CDialog(NamePromptTemplate(), parent), name_(std::move(proposal)) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        SetDlgItemText(CQel_EditSetupDlg::kMotorNameEditId, name_);
        return TRUE;
    }
    void OnOK() override {
        name_ = GetDlgItemText(CQel_EditSetupDlg::kMotorNameEditId);
        EndDialog(IDOK);
    }
    const std::string& Name() const { return name_; }

  private:
    std::string name_;
};

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

CComboBox* MotorEditor::Combo(int id) const {
    return dynamic_cast<CComboBox*>(dialog_.GetDlgItem(id));
}

void MotorEditor::Tell(const std::string& text, UINT type) {
    dialog_.MessageBox(text, dialog_.GetWindowText(), type);
}

void MotorEditor::Attach() {
    CComboBox* databases = Combo(CQel_EditSetupDlg::kMotorDatabaseListId);
    if (databases == nullptr) {
        return;
    }
    databases->ResetContent();
    databases->SetItemData(databases->AddString(kSystemDatabaseName), kSystemDatabase);
    databases->SetItemData(databases->AddString(kUserDatabaseName), kUserDatabase);
    databases->SetCurSel(0);
    FillMotors({});
}

MotorDatabaseKind MotorEditor::SelectedKind() const {
    const CComboBox* databases = Combo(CQel_EditSetupDlg::kMotorDatabaseListId);
    const bool user = databases != nullptr && databases->GetCurSel() != CB_ERR &&
                      databases->GetItemData(databases->GetCurSel()) == kUserDatabase;
    return user ? MotorDatabaseKind::User : MotorDatabaseKind::System;
}

void MotorEditor::FillMotors(const std::string& selectName) {
    database_ = LoadMotorDatabase(SelectedKind());
    if (CComboBox* motors = Combo(CQel_EditSetupDlg::kMotorListId)) {
        motors->ResetContent();
        for (std::size_t i = 0; i < database_.motors.size(); ++i) {
            const int index = motors->AddString(database_.motors[i].name);
            motors->SetItemData(index, i);
            if (EqualsIgnoringCase(database_.motors[i].name, selectName)) {
                motors->SetCurSel(index);
            }
        }
    }
    UpdateButtons();
    if (!database_.problem.empty()) {
        Tell(database_.problem, MB_OK | MB_ICONWARNING);
    }
}

void MotorEditor::UpdateButtons() {
    const CComboBox* motors = Combo(CQel_EditSetupDlg::kMotorListId);
    const bool chosen = motors != nullptr && motors->GetCurSel() != CB_ERR;
    if (CWnd* deleteButton = dialog_.GetDlgItem(CQel_EditSetupDlg::kMotorDeleteId)) {
        deleteButton->EnableWindow(chosen && SelectedKind() == MotorDatabaseKind::User);
    }
}

bool MotorEditor::OnNotification(int id, UINT notifyCode) {
    if (id == CQel_EditSetupDlg::kMotorDatabaseListId && notifyCode == CBN_SELCHANGE) {
        FillMotors({});
        return true;
    }
    if (id == CQel_EditSetupDlg::kMotorListId && notifyCode == CBN_SELCHANGE) {
        ChooseMotor();
        return true;
    }
    if (id == CQel_EditSetupDlg::kMotorSaveId && notifyCode == BN_CLICKED) {
        SaveMotor();
        return true;
    }
    if (id == CQel_EditSetupDlg::kMotorDeleteId && notifyCode == BN_CLICKED) {
        DeleteMotor();
        return true;
    }
    return false;
}

void MotorEditor::ChooseMotor() {
    const CComboBox* motors = Combo(CQel_EditSetupDlg::kMotorListId);
    CQel_Setup* setup = dialog_.GetSetup();
    UpdateButtons();
    if (motors == nullptr || setup == nullptr || motors->GetCurSel() == CB_ERR) {
        return;
    }
    const std::size_t index = motors->GetItemData(motors->GetCurSel());
    if (index >= database_.motors.size()) {
        return;
    }
    const MotorRecord motor = database_.motors[index];
    const std::vector<std::string> limited = ApplyMotor(motor, *setup);
    dialog_.RefreshAllParameters(0);
    const int saved = g_bShowErrors;
    g_bShowErrors = 0;
    std::vector<std::string> applied;
    for (const auto& [name, value] : motor.values) {
        if (setup->FindParameter(name) != nullptr) {
            applied.push_back(name);
        }
    }
    g_bShowErrors = saved;
    for (const std::string& name : applied) {
        dialog_.OnChangedParameterValue(name);
        dialog_.OnRefreshParameterValue(name);
    }
    if (!limited.empty()) {
        std::string names;
        for (const std::string& name : limited) {
            names += (names.empty() ? "" : ", ") + name;
        }
        Tell("Some values of the motor \"" + motor.name +
                 "\" lie outside the ranges of this setup and were limited: " + names + ".",
             MB_OK | MB_ICONWARNING);
    }
}

std::optional<std::string> MotorEditor::AskMotorName(const std::string& proposal) {
    CMotorNameDlg prompt(proposal, &dialog_);
    if (prompt.DoModal() != IDOK) {
        return std::nullopt;
    }
    return TrimBlanks(prompt.Name());
}

void MotorEditor::SaveMotor() {
    CQel_Setup* setup = dialog_.GetSetup();
    if (setup == nullptr) {
        return;
    }
    std::string proposal;
    const CComboBox* motors = Combo(CQel_EditSetupDlg::kMotorListId);
    if (SelectedKind() == MotorDatabaseKind::User && motors != nullptr &&
        motors->GetCurSel() != CB_ERR) {
        proposal = motors->GetLBText(motors->GetCurSel());
    }
    const std::optional<std::string> name = AskMotorName(proposal);
    if (!name) {
        return;
    }
    if (name->empty()) {
        Tell("Enter a name for the motor.", MB_OK | MB_ICONWARNING);
        return;
    }
    const MotorDatabaseLoad user = LoadMotorDatabase(MotorDatabaseKind::User);
    if (!user.problem.empty()) {
        Tell(user.problem, MB_OK | MB_ICONWARNING);
        return;
    }
    const bool exists =
        std::any_of(user.motors.begin(), user.motors.end(),
                    [&name](const MotorRecord& m) { return EqualsIgnoringCase(m.name, *name); });
    if (exists &&
        dialog_.MessageBox(
            "The user database already holds a motor named \"" + *name + "\". Replace it?",
            dialog_.GetWindowText(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    const std::string failure = SaveUserMotor(MotorFromSetup(*setup, *name));
    if (!failure.empty()) {
        Tell(failure, MB_OK | MB_ICONWARNING);
        return;
    }
    if (CComboBox* databases = Combo(CQel_EditSetupDlg::kMotorDatabaseListId)) {
        databases->SetCurSel(static_cast<int>(kUserDatabase));
    }
    FillMotors(*name);
}

void MotorEditor::DeleteMotor() {
    const CComboBox* motors = Combo(CQel_EditSetupDlg::kMotorListId);
    if (SelectedKind() != MotorDatabaseKind::User || motors == nullptr ||
        motors->GetCurSel() == CB_ERR) {
        return;
    }
    const std::string name = motors->GetLBText(motors->GetCurSel());
    if (dialog_.MessageBox("Delete the motor \"" + name + "\" from the user database?",
                           dialog_.GetWindowText(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    const std::string failure = DeleteUserMotor(name);
    if (!failure.empty()) {
        Tell(failure, MB_OK | MB_ICONWARNING);
    }
    FillMotors({});
}

}  // namespace qel
