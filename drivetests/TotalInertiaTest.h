#pragma once

// Measures the total inertia (motor and load) seen at the motor shaft: after an initial
// positioning the drive accelerates the rotor with the test current up to a speed limit and
// decelerates it again, and reports the speed change and the time the test current alone would
// take for it (friction and a load torque cancel between the two); the torque over that
// acceleration is proposed as "Jt".

#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"

class CTotalInertiaTest : public CMyTestDlg {
  public:
    CTotalInertiaTest(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    // The failures the run's results can show.
    static const char* const kNegativeSpeed;
    static const char* const kNegativeSpeedCode;
    static const char* const kZeroSpeed;
    static const char* const kSpeedNotReached;
    static const char* const kNoSpeedIncrease;
    // The refusal to start with a test current above the protection level.
    static const char* const kProtectionBelowTestCurrent;

  private:
    void OnStartStop();
    void AfterPositioning();
    void AfterInertiaRun();
    void Fail(const char* text);
    void ClearResult();

    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    int current_ = 0;
    double oldInertia_kgm2_ = 0.0;
    double newInertia_kgm2_ = 0.0;
};
