#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

// Holds the current under current control, then holds the voltage that current took: under a
// fixed voltage the rotor's back-EMF drives currents against its swinging, so it comes to rest on
// the field instead of swinging on (and drifting off once the power stage is off).
class InitialPositioningProgram final : public HeldCurrentProgram {
  public:
    InitialPositioningProgram() { Declare(kCurrent, 0.0); }
    std::string_view Name() const override { return "Initial_Positioning_Test"; }

  private:
    // The current asked for; the current reached once the program ends.
    static constexpr std::string_view kCurrent = "In1";
    // The ramp up to the current, the hold under current control, the window over which the
    // current reached and its voltage are measured, and the damped hold under that voltage.
    static constexpr double kRamp_s = 0.05;
    static constexpr double kHold_s = 0.05;
    static constexpr double kMeasure_s = 0.1;
    static constexpr double kDamp_s = 0.4;
    // Below this mean the drive reached no usable current (converter counts).
    static constexpr double kNoCurrent = 1.0;

    void Begin(SimulatedDrive& drive) override {
        const auto target = static_cast<std::int64_t>(std::trunc(Variable(kCurrent)));
        magnitude_ = Mean{};
        voltageQ_ = Mean{};
        dampEnd_ = 0;
        if (target <= 0) {
            Variable(kCurrent) = 0.0;
            Finish(drive);
            return;
        }
        const std::int64_t rampPeriods = Periods(drive, kRamp_s);
        StartCurrent(drive, 0, target, (target + rampPeriods - 1) / rampPeriods, kHold_s,
                     kMeasure_s);
        if (!drive.SwitchOn()) {
            Variable(kCurrent) = 0.0;
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        if (dampEnd_ == 0) {
            if (StepCurrent(drive)) {
                DriveFirmware& firmware = drive.Firmware();
                firmware.SetLoopMode(LoopMode::VoltageOpenLoop);
                firmware.SetVoltageCommand(0, std::llround(voltageQ_.Value()));
                dampEnd_ = period_ + Periods(drive, kDamp_s);
            }
            return;
        }
        if (period_ + 1 < dampEnd_) {
            return;
        }
        const double reached = magnitude_.Value();
        Variable(kCurrent) = reached < kNoCurrent ? 0.0 : std::round(reached);
        if (reached >= kNoCurrent) {
            // The rotor's d axis lies where the field held it: the encoder's electric angle is
            // counted from here on, for every program that follows, until the drive is reset.
            drive.Firmware().SetElectricAngleReference(0);
        }
        SetDriveVariable("REFTST_V", static_cast<double>(target_));
        SetDriveVariable("RINCTST_V", static_cast<double>(increment_));
        logging_ = false;
        Finish(drive);
    }

    void Abort(SimulatedDrive& drive) override {
        Variable(kCurrent) = 0.0;
        PeriodProgram::Abort(drive);
    }

    void Measure(const DriveFirmware& firmware) override {
        magnitude_.Add(CurrentMagnitude(firmware));
        voltageQ_.Add(static_cast<double>(firmware.VoltageQ()));
    }

    Mean magnitude_;
    Mean voltageQ_;
    std::int64_t dampEnd_ = 0;
};

}  // namespace

std::unique_ptr<TestProgram> MakeInitialPositioningTest() {
    return std::make_unique<InitialPositioningProgram>();
}

}  // namespace drive
