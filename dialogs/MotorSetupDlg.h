#pragma once

// The motor side of the setup: motor data, the sine-cosine encoder and its interpolation, the
// optional EnDat interface, the temperature sensor, the brake, the encoder input filter and the
// transmission to the load. The motor database controls belong to the kernel's motor editor.
// Opened by the Drive Setup dialog (by its "Motor setup" button, and on its own each time that
// dialog is shown); opens the motor identification and connection tests.
//
//   CMotorSetupDialog dialog(setup, nullptr);
//   if (dialog.DoModal() == IDOK) { ComputeDriveRegisters(*setup); DeriveUserParameters(*setup); }

#include <memory>

#include "dialogs/MySetupDlg.h"
#include "host/kernel/Parameter.h"

class CMotorSetupDialog : public CMySetupDlg {
  public:
    CMotorSetupDialog(CQel_Setup* setup, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;
    void OnChangedParameterValue(std::string_view name) override;
    void OnRefreshParameterValue(std::string_view name) override;

    // What the encoder resolution test reports when it could not tell the counting direction.
    static constexpr int kNoDirectionDetected = -1;

  protected:
    // The tests this dialog opens, each run modally on the setup; empty while the drive tests are
    // not part of the module. The resolution test also reports the counting direction it
    // detected (kNoDirectionDetected when none), whether it closes with OK or not.
    virtual ChildRunner PhaseConnectionTest();
    virtual ChildRunner PolePairsTest();
    virtual ChildRunner ResistanceInductanceTest();
    virtual ChildRunner EncoderConnectionsTest();
    virtual ChildRunner ResolutionTest(int& detectedDirection);
    virtual ChildRunner OffsetTest();

  private:
    void OnPolePairs();
    void OnResistanceInductance();
    void OnResolution();
    void OnTransmissionWarning();
    // Recomputes the electrical resolution fraction and refills the interpolation list from the
    // range of SINCOS_fract.
    void FillInterpolationList();
    void UpdateEquivalentCounts();
    void EnableEncoderFilterList();
    void SnapSpiFrequency();
    // A zero transmission side becomes one motor revolution.
    void ReplaceZeroTransmission(std::string_view name);

    // No_encoder_lines x 2^SINCOS_fract, shown read-only; never stored in the setup. Null when
    // the setup lacks the encoder parameters.
    std::unique_ptr<CQel_Parameter> equivalentCounts_;
    CStatic picture_;
};
