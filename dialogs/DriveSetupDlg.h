#pragma once

// The module's main dialog: the drive side of the setup (control mode, supply and current limit,
// the three controller gain sets, protections, brake resistor, input polarities, software limit
// switches, start method, external reference, CAN settings), and the hub from which the Motor
// Setup, Advanced, External Reference Setup and Drive info dialogs and the controller tests are
// opened. It opens the Motor Setup dialog by itself 100 ms after it is shown.

#include <string_view>

#include "dialogs/MySetupDlg.h"

class CDriveSetupDlg : public CMySetupDlg {
  public:
    // Derives the user parameters and their limits from the registers (and forces the speed
    // feed-forward where the loop structure needs it) before binding the controls.
    CDriveSetupDlg(CQel_Setup* setup, CWnd* parent);

    static constexpr UINT kTemplateId = 106;
    static constexpr DWORD_PTR kHelpTopic = 0x40106;
    // The timer that opens the Motor Setup dialog once the dialog is shown.
    static constexpr UINT_PTR kMotorSetupTimerId = 2;
    static constexpr UINT kMotorSetupDelay_ms = 100;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;
    void OnShowWindow(BOOL show, UINT status) override;
    void OnTimer(UINT_PTR timerId) override;
    void OnChangedParameterValue(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;

    // The buttons, one function each (also what a script's click ends in).
    void OnDetectSupplyVoltage();
    void OnTuneCurrentController();
    void OnTuneSpeedController();
    void OnTunePositionController();
    void OnTuneStartMode();
    void OnExternalReferenceSetup();
    void OnAdvanced();
    void OnDriveInfo();
    void OnMotorSetup();

  private:
    void ApplyRules();
    void ShowDigitalReferenceCaption();
    void ShowInputTypeCaptions(bool connectedToLogicSupply);
    void SetUpInputType();
    void FillAxisIdList();
    void WarnAboutAxisId();
    void StoreAxisId();
    void ResetFeedForwardsAfterAdvanced();
    void PullSoftwareLimit(std::string_view edited);
    void RunMotorSetup(const ChildSteps& steps);
    void OnStartCurrentTakenOver();

    CComboBox axisIdCombo_;
};
