#pragma once

// Timing and structure of the control loops: the PWM frequency and the fast- and slow-loop
// sampling dividers, the loop structure in position mode, where position and speed control run,
// where the speed feed-forward acts, the speed estimator and the freeze control. A change of the
// slow-loop period rescales every time-based drive value so that its physical value stays.

#include <array>
#include <string_view>

#include "dialogs/MySetupDlg.h"

class CAdvancedDialog : public CMySetupDlg {
  public:
    CAdvancedDialog(CQel_Setup* setup, CWnd* parent);

    static constexpr UINT kTemplateId = 110;
    static constexpr DWORD_PTR kHelpTopic = 0x40113;
    static constexpr COLORREF kBlack = RGB(0, 0, 0);
    static constexpr COLORREF kRed = RGB(255, 0, 0);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;
    COLORREF OnCtlColor(int controlId, COLORREF defaultColour) override;
    // Neither override lets the kernel or the gain re-quantisation see the change.
    void OnChangedParameterValue(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;

    // Keeps the physical value of every time-based drive value when the slow-loop period changes
    // from previous_s to current_s.
    static void RescaleToSlowLoopPeriod(CQel_Setup& setup, double previous_s, double current_s);

  private:
    // The control-scheme pictures, by loop structure.
    enum class Scheme { PositionSpeedCurrent, PositionCurrent, Speed, Torque };

    void ApplyRules();
    void EnableFeedForwardPlacement();
    // Shows the marker and colours the labels when the period is below its minimum.
    void FlagPeriod(double period_s, double minimum_s, COLORREF& colour, int markerId);

    CStatic picture_;
    std::array<ui::Bitmap, 4> schemeBitmaps_;
    double lastRescalePeriod_s_ = 0.0;
    double wantedFastPeriod_s_ = 0.0;
    double wantedSlowPeriod_s_ = 0.0;
    COLORREF fastLoopColour_ = kBlack;
    COLORREF slowLoopColour_ = kBlack;
};
