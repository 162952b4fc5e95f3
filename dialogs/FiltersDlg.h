#pragma once

// The three biquad filters of the speed and position loops: on or off, where each acts, its type
// and its frequencies or quality factor. Opened by the speed and position tuning tests, locked
// while a test runs on the drive (a running test keeps its filters on and where they are).
//
//   CFiltersDialog filters(setup, testRunning, nullptr);
//   if (filters.DoModal() == IDOK) { ComputeDriveRegisters(*setup); ... }

#include <cstddef>

#include "dialogs/MySetupDlg.h"
#include "engine/BiquadDesigner.h"

class CFiltersDialog : public CMySetupDlg {
  public:
    CFiltersDialog(CQel_Setup* setup, bool locked, CWnd* parent);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnCommand(UINT id, UINT notifyCode) override;

  private:
    // Enabling, captions and the Q or second-frequency place of one filter (index 0 to 2).
    void ApplyFilterRules(std::size_t index);

    CBiquadDesigner designer_;
    bool locked_;
};
