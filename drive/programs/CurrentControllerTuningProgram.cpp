#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

// A step of the q current reference in the holding frame (along the rotor's d axis, so the rotor
// stays put), logged from a few periods before the step; "test_flag" is 0 when the current
// exceeded "Imax_Prot_Test", else 1.
class CurrentControllerTuningProgram final : public PeriodProgram {
  public:
    CurrentControllerTuningProgram() {
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
        Declare(kStep, 0.0);
        Declare(kProtection, 0.0);
        Declare(kVerdict, 0.0);
    }
    std::string_view Name() const override { return "Current_Controller_Tuning_Test"; }

  private:
    // The current step, the current protection level and the verdict.
    static constexpr std::string_view kStep = "In1";
    static constexpr std::string_view kProtection = "Imax_Prot_Test";
    static constexpr std::string_view kVerdict = "test_flag";
    // Periods logged before the step, the whole record (the host's 100 points), and the rest
    // at zero current before the step.
    static constexpr std::int64_t kBeforeStep = 5;
    static constexpr std::int64_t kRecord = 100;
    static constexpr double kRest_s = 0.05;

    void Begin(SimulatedDrive& drive) override {
        step_ = static_cast<std::int64_t>(std::trunc(Variable(kStep)));
        protection_ = std::trunc(Variable(kProtection));
        Variable(kVerdict) = 0.0;
        if (step_ == 0) {
            Finish(drive);
            return;
        }
        HoldInTestFrame(drive.Firmware());
        drive.Firmware().SetCurrentReference(0, 0);
        stepPeriod_ = Periods(drive, kRest_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        if (protection_ > 0.0 && CurrentMagnitude(firmware) > protection_) {
            logging_ = false;
            Variable(kVerdict) = 0.0;
            Finish(drive);
            return;
        }
        if (period_ == stepPeriod_) {
            firmware.SetCurrentReference(0, step_);
        }
        const std::int64_t logStart = stepPeriod_ - kBeforeStep;
        logging_ = period_ >= logStart && period_ < logStart + kRecord;
        if (period_ >= logStart + kRecord) {
            Variable(kVerdict) = 1.0;
            Finish(drive);
        }
    }

    std::int64_t step_ = 0;
    double protection_ = 0.0;
    std::int64_t stepPeriod_ = 1;
};

}  // namespace

std::unique_ptr<TestProgram> MakeCurrentTuningTest() {
    return std::make_unique<CurrentControllerTuningProgram>();
}

}  // namespace drive
