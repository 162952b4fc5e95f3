#pragma once

// Tunes the electric angle controller of the motionless start: the drive raises a test current in
// increments while the controller ("Kp_T_scl", "Ki_T_scl") holds the electric angle, logs the
// motor current and the electric angle, and judges whether the angle settled. The logged curves
// are drawn in a graph; the gains edited stay in the setup when the dialog is closed with OK.

#include <string_view>

#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Graph.h"
#include "host/kernel/Loggers.h"

class CTestAngle : public CMyTestDlg {
  public:
    CTestAngle(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void OnChangedParameterValue(std::string_view name) override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    static const char* const kOverCurrent;
    static const char* const kNotStabilized;
    // printf format: the angle the controller should have settled on.
    static const char* const kNotStabilizedAt;
    static const char* const kLowCurrent;

    // The curves of the graph, in the order the logger delivers them.
    static constexpr int kCurrentCurve = 0;
    static constexpr int kAngleCurve = 1;

  private:
    void ApplyLoggerSettings();
    void AfterRun();
    void UploadAndJudge();

    CQel_CoffFormat program_;
    CQel_SingleAxisLogger logger_;
    CGraphDocument document_;
    CGraphFilter shown_;
    CGraphWindow graph_;
};
