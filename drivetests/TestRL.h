#pragma once

// Identifies the motor's resistance from two DC runs at two currents (each after an initial
// positioning) and its inductance from an AC run, and proposes them as "R" and "L".

#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Loggers.h"

class CTestRL : public CMyTestDlg {
  public:
    CTestRL(CQel_Setup* setup, CWnd* parent);
    ~CTestRL() override;

    BOOL OnInitDialog() override;
    void OnCancel() override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

  private:
    void AfterFirstPositioning();
    void AfterFirstResistanceRun();
    void AfterSecondPositioning();
    void AfterSecondResistanceRun();
    void AfterInductanceRun();
    bool LaunchResistanceRun(int current, int logType);
    void RestoreVdc();

    CQel_CoffFormat positioning_;
    CQel_CoffFormat resistanceProgram_;
    CQel_CoffFormat inductanceProgram_;
    CQel_SingleAxisLogger logger_;
    int current_ = 0;
    // The measured bus stands in "Vdc" only while the dialog is open.
    bool vdcCaptured_ = false;
    double oldVdc_V_ = 0.0;
    double oldR_Ohm_ = 0.0;
    double oldL_H_ = 0.0;
    double reference_ = 0.0;
    double referenceIncrement_ = 0.0;
    double u1_ = 0.0;
    double u2_ = 0.0;
    double i1_ = 0.0;
    double i2_ = 0.0;
    double r_Ohm_ = 0.0;
    double newR_Ohm_ = 0.0;
    double newL_H_ = 0.0;
};
