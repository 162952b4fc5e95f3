#pragma once

// Tunes the speed controller: "Tune" designs the gains from the passband, the damping and the
// total inertia ("Identify" measures it), the user trims the gains, the integral limit and the
// feed-forward gains with sliders, and Start runs a speed profile (rise, hold, return, pause; once
// or until Stop) while the drive logs the speed reference, the load speed, the current reference
// and the motor current, drawn after the run. While a run goes on, changed gains go to the drive
// at once. OK keeps the gains and makes the test's current limits the drive's.

#include <cstdint>
#include <string_view>

#include "drivetests/LoggedCurves.h"
#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"

class CTestSpeedTuning : public CMyTestDlg {
  public:
    CTestSpeedTuning(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnChangedParameterValue(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    static const char* const kProtectionBelowLimit;
    static const char* const kInertiaBelowMotor;
    // printf format: the time the start current is applied, in seconds.
    static const char* const kStartCurrentAboveNominal;
    static const char* const kCurrentProtectionTriggered;
    static const char* const kRunningUntilStop;
    static const char* const kProcedure;

    const LoggedCurves& Curves() const { return curves_; }

  protected:
    bool MayShowTestPage() override;

  private:
    // The test speed as a whole, non-zero number of the drive's speed units.
    void SnapTestSpeed();
    void ShowProfilePicture();
    void Tune();
    void Identify();
    void OpenFilters();
    void AfterPositioning();
    void LaunchTest();
    void WaitForSingleRun();
    void WaitForCycles();
    void UploadAndConclude();
    // The program's verdict: true when it is a good one; otherwise the error text says why and,
    // with failNow, the test fails.
    bool TestFlagGood(bool failNow);
    bool OnlinePlot() const;
    bool MultipleCycles() const;
    bool SetupHas(const char* name) const;

    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    LoggedCurves curves_;
    bool positioningDone_ = false;
    bool positioningRan_ = false;
    // What the positioning left for the test program.
    double reference_ = 0.0;
    double referenceIncrement_ = 0.0;
};
