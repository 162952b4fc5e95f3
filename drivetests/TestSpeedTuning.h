#pragma once

// Tunes the speed controller with a speed profile: the gains Kp and Ki, the integral limit and the
// speed and acceleration feed-forward gains, designed from the passband, the damping and the
// total inertia; the drive logs the speed reference, the load speed, the current reference and
// the motor current.

#include <string>
#include <vector>

#include "drivetests/ProfileTuningTest.h"

class CTestSpeedTuning : public CProfileTuningTest {
  public:
    CTestSpeedTuning(CQel_Setup* setup, CWnd* parent);

    static const char* const kProcedure;

  protected:
    std::string ProgramName() const override;
    void DesignGains() override;
    std::vector<const char*> TunedRegisters() const override;
    bool PrepareLaunch() override;
    void UpdateOwnControls(bool testPage) override;
};
