#pragma once

// The question the speed and position tuning tests ask when the motor's own inertia exceeds the
// total inertia of the setup: raise the total inertia to the motor's, or disregard the motor's.
//
//   if (Jm > Jt && isMotorInertiaUnknown == 0) {
//       CInertiaQuestion question(setup, nullptr);
//       question.DoModal();
//   }

#include "dialogs/MySetupDlg.h"

class CInertiaQuestion : public CMySetupDlg {
  public:
    CInertiaQuestion(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

  private:
    enum class Choice {
        RaiseTotalInertia = 1,
        DisregardMotorInertia = 2,
    };

    CButton raiseButton_;
    Choice choice_ = Choice::RaiseTotalInertia;
};
