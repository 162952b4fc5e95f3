#pragma once

// Tunes the electric angle controller of the motionless start: the drive raises a test current in
// increments while the controller ("Kp_T_scl", "Ki_T_scl") holds the electric angle, logs the
// motor current and the electric angle, and judges whether the angle settled. The dialog has two
// pages: the test's settings, and the gains (sliders) with the run, its verdict and the logged
// curves. The gains edited stay in the setup when the dialog is closed with OK.

#include <string_view>

#include "drivetests/LoggedCurves.h"
#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Parameter.h"

class CTestAngle : public CMyTestDlg {
  public:
    CTestAngle(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnChangedParameterValue(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    static const char* const kOverCurrent;
    static const char* const kNotStabilized;
    // printf format: the angle the controller should have settled on.
    static const char* const kNotStabilizedAt;
    static const char* const kLowCurrent;
    static const char* const kProcedureWithStartPosition;
    static const char* const kProcedure;

    // The curves of the graph, in the order the logger delivers them.
    static constexpr int kCurrentCurve = 0;
    static constexpr int kAngleCurve = 1;

    const LoggedCurves& Curves() const { return curves_; }

  private:
    // The logger's points and period: the setup's "AquisitionsNo" and "SamplingRate" when it
    // has them, else the dialog's own parameters of those names.
    CQel_Parameter& PointsParameter();
    CQel_Parameter& PeriodParameter();
    bool ApplyLoggerSettings();
    void AfterRun();
    void UploadAndJudge();
    void ShowDetailsWithHelp();

    CQel_CoffFormat program_;
    LoggedCurves curves_;
    CQel_Parameter ownPoints_;
    CQel_Parameter ownPeriod_;
    // The last failure's text speaks of the tuning help: Details offers it.
    bool detailsWithHelp_ = false;
};
