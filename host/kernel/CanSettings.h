#pragma once

// The kernel's CAN settings inside a parameter-bound dialog: the bit-rate list (kept in the
// setup's option kCanBaudRateOption) and the "CANopen settings..." button, which shows the
// CANopen settings the drive gets from this setup.

#include "host/ui/AfxTypes.h"

class CQel_EditSetupDlg;

namespace qel {

class CanSettings {
  public:
    explicit CanSettings(CQel_EditSetupDlg& dialog) : dialog_(dialog) {}

    // The window exists: fills the bit-rate list and selects the setup's bit rate.
    void Attach();
    // Handles a notification of one of its controls; false for any other control.
    bool OnNotification(int id, UINT notifyCode);

  private:
    CQel_EditSetupDlg& dialog_;
};

}  // namespace qel
