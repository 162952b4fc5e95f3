#pragma once

// The drive's own data: identification, supply ranges, current ratings, measurable DC voltage,
// analogue input range, temperature sensor and the drive's protections. Read-only for the user
// except the application ID; the service key chord (Ctrl + Alt + Shift + kServiceKey) toggles an
// edit mode in which the drive data can be changed.

#include "dialogs/MySetupDlg.h"

class CDriveInfo : public CMySetupDlg {
  public:
    CDriveInfo(CQel_Setup* setup, CWnd* parent);

    static constexpr UINT kTemplateId = 3018;
    // The letter of the service key chord, held with Ctrl, Alt and Shift.
    static constexpr UINT kServiceKey = 'E';

    BOOL PreTranslateMessage(MSG* message) override;
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    bool IsInEditMode() const { return editMode_; }

  private:
    void ApplyRules();
    void KeepTemperatureProtectionConsistent();

    bool editMode_ = false;
};
