#pragma once

// Tunes the current controller: "Tune" designs the gains from the passband and damping, Start
// positions the rotor and then steps the current with the rotor held, logging the current
// reference, the motor current and the voltage reference, and the user judges the step response
// in the graph. While a run goes on, Tune and the passband slider send the new gains to the
// drive at once. OK keeps the gains and makes the test's protection current the drive's.

#include <cstdint>
#include <string_view>

#include "drivetests/LoggedCurves.h"
#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"

class CTestCurrent : public CMyTestDlg {
  public:
    CTestCurrent(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnChangedParameterValue(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    static const char* const kProtectionBelowTestCurrent;
    static const char* const kCurrentProtectionTriggered;
    static const char* const kProcedure;

    const LoggedCurves& Curves() const { return curves_; }

  protected:
    bool MayShowTestPage() override;

  private:
    void Tune();
    void AfterPositioning();
    void LaunchTest();
    void AfterTest();
    void RecomputeFilterAndOffset();

    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    LoggedCurves curves_;
    // What the positioning left for the test program.
    double reference_ = 0.0;
    double referenceIncrement_ = 0.0;
    std::int32_t current_ = 0;
};
