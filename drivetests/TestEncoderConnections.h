#pragma once

// Checks that the encoder's A and B signals reach the drive: the drive runs a passive program
// (no current), the user turns the shaft by hand and watches the position counter and the
// encoder diagram, then presses Stop. The test passes when the counter moved. It proposes
// nothing.

#include <string>

#include "drivetests/MyTestDlg.h"
#include "host/kernel/Diagrams.h"

class CTestEncoderConnections : public CMyTestDlg {
  public:
    CTestEncoderConnections(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void OnOK() override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    static const char* const kNoPulses;
    static const char* const kNoLines;

  private:
    void ShowPosition();
    void OnStartStop();
    // Tells the program to end; false (the reason in endError_) when the command did not reach
    // the drive. After a failure the first reason stays the test's error text.
    bool EndProgram();
    void Rearm();

    CEncoderDiagram encoder_;
    CPhaseDiagram phases_;
    int lines_ = 0;
    int counter_ = 0;
    int position_ = 0;
    int previousPosition_ = 0;
    int pulsesSeen_ = 0;
    std::string endError_;
};
