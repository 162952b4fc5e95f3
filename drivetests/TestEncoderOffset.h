#pragma once

// Finds the offset between the zero of an absolute (EnDat) encoder and the motor's phase A: after
// an initial positioning the drive aligns the rotor on phase A and stores the encoder's position
// there in the encoder's memory. The dialog shows the offset; it proposes no parameter.

#include <cstdint>

#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"

class CTestEncoderOffset : public CMyTestDlg {
  public:
    CTestEncoderOffset(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    // The offset the drive stores, from the two 16-bit words it reports it in.
    static std::int32_t AssembleOffset(double lowWord, double highWord);

  private:
    void WaitForPositioning();
    void LaunchOffsetRun();
    void ReadOffset();
    // Most failures while the drive works on its encoder reset the board first.
    void FailAfterBoardReset();

    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    int current_ = 0;
};
