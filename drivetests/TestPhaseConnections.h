#pragma once

// Checks the wiring between drive and motor: after an initial positioning the drive drives the
// test current into phase A and measures phases A and B. A sound connection carries about the
// test current in A and minus half of it in B (the current returns through B and C alike).

#include "drivetests/MyTestDlg.h"
#include "host/kernel/BarGraph.h"
#include "host/kernel/CoffFormat.h"

class CTestPhaseConnections : public CMyTestDlg {
  public:
    CTestPhaseConnections(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnChangedParameterValue(std::string_view name) override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    // Whether the two phase currents show a sound connection at that test current.
    static bool IsSoundConnection(double phaseA_A, double phaseB_A, double test_A);

    double GetPhaseACurrent_A() const { return phaseA_A_; }
    double GetPhaseBCurrent_A() const { return phaseB_A_; }

    static const char* const kFailureMessage;

  private:
    void SetUpBars();
    void ShowCurrents();
    void AfterPositioning();
    void Evaluate();

    CBarGraph phaseABar_;
    CBarGraph phaseBBar_;
    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    double phaseA_A_ = 0.0;
    double phaseB_A_ = 0.0;
    double reference_ = 0.0;
    double referenceIncrement_ = 0.0;
    int current_ = 0;
};
