#pragma once

// Tunes the position controller with a position profile: the gains Kp, Ki and Kd with the
// derivative's filter, the integral limit and the feed-forward gains, designed from the passband,
// the damping and the total inertia. The position loop acts on a speed loop (position control
// type 1) or on the current directly; the drive logs the position reference and the load
// position, then the speed reference and load speed (over a speed loop) or the current reference
// and motor current.

#include <string>
#include <vector>

#include "drivetests/ProfileTuningTest.h"

class CTestPositionTuning : public CProfileTuningTest {
  public:
    CTestPositionTuning(CQel_Setup* setup, CWnd* parent);

    static const char* const kProcedure;

  protected:
    std::string ProgramName() const override;
    void DesignGains() override;
    std::vector<const char*> TunedRegisters() const override;
    bool PrepareLaunch() override;
    void UpdateOwnControls(bool testPage) override;
    bool ThirdChannelsAreSpeeds() const override;

  private:
    // The position loop acts on the speed loop (rather than on the current).
    bool OverSpeedLoop() const;
};
