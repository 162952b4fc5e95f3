#pragma once

// Watches the analogue reference input live: while a passive program has the drive convert the
// input, each tick shows the input voltage and the command it stands for in the control mode,
// as numbers and bars. The run lasts until the user presses Stop and then counts as passed.

#include <string>

#include "drivetests/MyTestDlg.h"
#include "host/kernel/BarGraph.h"

class CTestAnalogueRef : public CMyTestDlg {
  public:
    CTestAnalogueRef(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    // The converter's full-scale count: a count of 0 is the low end of a range, this the high.
    static constexpr double kFullScaleCount = 65472.0;

  private:
    void Tick();
    // Limits, value and drawing reference: from 0 when the range holds 0, else from its low end.
    static void UpdateBar(CBarGraph& bar, double low, double high, double value);

    CBarGraph voltageBar_;
    CBarGraph commandBar_;
    double low_V_ = 0.0;
    double high_V_ = 0.0;
    double commandLow_ = 0.0;
    double commandHigh_ = 0.0;
    // Empty when the control mode takes no command from the analogue input.
    std::string commandName_;
};
