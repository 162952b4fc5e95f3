#pragma once

// The kernel's motor editor inside a parameter-bound dialog: the database list, the motor list,
// "Save to User Database" and "Delete". Choosing a motor writes its data into the setup and
// notifies the dialog for every motor parameter, as if the user had typed each value.

#include <optional>
#include <string>

#include "host/kernel/MotorDatabase.h"
#include "host/ui/AfxTypes.h"

class CQel_EditSetupDlg;
class CComboBox;

namespace qel {

class MotorEditor {
  public:
    explicit MotorEditor(CQel_EditSetupDlg& dialog) : dialog_(dialog) {}

    // The window exists: fills the lists.
    void Attach();
    // Handles a notification of one of its controls; false for any other control.
    bool OnNotification(int id, UINT notifyCode);

    static constexpr DWORD_PTR kSystemDatabase = 0;
    static constexpr DWORD_PTR kUserDatabase = 1;

  private:
    MotorDatabaseKind SelectedKind() const;
    void FillMotors(const std::string& selectName);
    void UpdateButtons();
    void ChooseMotor();
    void SaveMotor();
    void DeleteMotor();
    std::optional<std::string> AskMotorName(const std::string& proposal);
    CComboBox* Combo(int id) const;
    void Tell(const std::string& text, UINT type);

    CQel_EditSetupDlg& dialog_;
    MotorDatabaseLoad database_;
};

}  // namespace qel
