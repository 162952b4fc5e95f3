#pragma once

// Turns the motor through one mechanical turn (as many electrical turns as it has pole pairs)
// with the test current and counts the encoder's position counter meanwhile: the count's sign
// tells the counting direction, its size the encoder's lines per revolution (four counts per
// line). The encoder and the electrical angle are shown live in two diagrams. The nearest
// standard resolution is proposed as "No_encoder_lines".

#include "drivetests/MyTestDlg.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/Diagrams.h"

class CDetectEncoderResolution : public CMyTestDlg {
  public:
    CDetectEncoderResolution(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnChangedParameterValue(std::string_view name) override;
    void BeginTest() override;
    void OnTimer(UINT_PTR timerId) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

    // The counting direction the user chose while the dialog was open ("ReverseCounting"), or
    // kNoDirection; the opener keeps it even when the dialog is cancelled.
    static constexpr int kNoDirection = -1;
    int GetCountingDirection() const { return direction_; }

    static const char* const kShaftNotTurning;
    static const char* const kWrongDirection;

  private:
    void AfterPositioning();
    void ShowProgress();
    void Evaluate();
    // The position counter in encoder counts: the drive's count with the electrical resolution's
    // fractional bits removed; false when the test failed.
    bool ReadCount(bool baseUnit, double& count);
    void Rearm(UINT period_ms);

    CEncoderDiagram encoder_;
    CPhaseDiagram phases_;
    CQel_CoffFormat positioning_;
    CQel_CoffFormat program_;
    int direction_ = kNoDirection;
    int lines_ = 0;
    int estimatedLines_ = 0;
    int current_ = 0;
};
