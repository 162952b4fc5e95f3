#pragma once

// Where the drive takes its reference from when the external reference is on: an analogue input
// scaled to the control mode's range, with a dead band, an optional filter and an optional limit,
// or, in position mode, a digital input (pulse and direction, or a second encoder) through a gear
// ratio. Opened by the Drive Setup dialog's "Setup" button; opens the analogue reference test.
//
//   CAnalogReferenceDlg dialog(setup, nullptr);
//   if (dialog.DoModal() == IDOK) { ComputeDriveRegisters(*setup); DeriveUserParameters(*setup); }

#include "dialogs/MySetupDlg.h"

class CAnalogReferenceDlg : public CMySetupDlg {
  public:
    CAnalogReferenceDlg(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;
    void OnChangedParameterValue(std::string_view name) override;
    void OnChangedParameterUnit(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;

  protected:
    // The analogue reference test, run modally on the setup; empty while the drive tests are not
    // part of the module.
    virtual ChildRunner AnalogueReferenceTest();

  private:
    void OnTest();
    void ShowFilterRow(bool show);
    void SetLimitCaption();

    CStatic picture_;
    // The control mode and the presence of the analogue input, fixed for the dialog's run: the
    // bindings depend on them.
    int controlMode_;
    bool analogueInput_;
};
