#pragma once

// Measures the drive's DC supply with a short program and proposes it as "Vdc".

#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"

class CTestVdcDetection : public CMyTestDlg {
  public:
    CTestVdcDetection(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void OnCancel() override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

  private:
    void WaitForTheMeasurement();

    CQel_CoffFormat program_;
    double oldVdc_V_ = 0.0;
};
