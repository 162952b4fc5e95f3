#pragma once

// Counts the motor's pole pairs with the user's eyes: after an initial positioning the drive
// holds the rotor, each Move turns the field by one electrical turn, and the user presses Stop
// once the shaft is back at the mark made before the first Move. The drive counts the moves; the
// count is proposed as "pp".

#include <cstdint>

#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"

class CDetectPolePairs : public CMyTestDlg {
  public:
    CDetectPolePairs(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnCancel() override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    // A move turns the field by one electrical turn in well under a second; when the drive has
    // not reported its end after this much drive time it never will.
    static constexpr std::uint64_t kLongestMove_ms = 10000;
    // The text of a move whose end the drive never reported.
    static const char* const kMoveNotEnded;

  private:
    void AfterPositioning();
    void WaitForHold();
    void WaitForEnd();
    void OnStartStop();
    void OnMove();
    // Waits, pumping the window messages, until the test angle shows the end of the move; false
    // when the run ended meanwhile (stopped, closed, failed) or the move never ended.
    bool WaitForMoveEnd(double angle);
    bool ReadTestAngle(double& angle);
    // Writes the move or end command to the drive; false when the test failed.
    bool WriteCommand(double command);
    // A communication failure while the drive holds the rotor: the board is reset first.
    void FailAfterBoardReset();

    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    int current_ = 0;
    int oldPolePairs_ = 0;
    bool moveShown_ = false;
    bool moveEnabled_ = true;
};
