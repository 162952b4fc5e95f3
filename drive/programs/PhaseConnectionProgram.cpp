#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

class PhaseConnectionProgram final : public HeldCurrentProgram {
  public:
    PhaseConnectionProgram() {
        Declare(kCurrent, 0.0);
        Declare(kIncrement, 1.0);
    }
    std::string_view Name() const override { return "Motor_Phase_Connection_Test"; }

  private:
    // The current driven into phase A and its ramp's increment a period; the mean currents of
    // phases A and B.
    static constexpr std::string_view kCurrent = "RefTest";
    static constexpr std::string_view kIncrement = "RIncTest";
    static constexpr std::string_view kPhaseA = "var_i1";
    static constexpr std::string_view kPhaseB = "var_i2";
    // The hold before measuring and the window the two phase currents are averaged over.
    static constexpr double kHold_s = 0.1;
    static constexpr double kMeasure_s = 0.05;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable(kCurrent)));
        phaseA_ = Mean{};
        phaseB_ = Mean{};
        SetDriveVariable(kPhaseA, 0.0);
        SetDriveVariable(kPhaseB, 0.0);
        if (current <= 0) {
            Finish(drive);
            return;
        }
        StartCurrent(drive, current, current, std::llround(Variable(kIncrement)), kHold_s,
                     kMeasure_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        if (!StepCurrent(drive)) {
            return;
        }
        SetDriveVariable(kPhaseA, std::round(phaseA_.Value()));
        SetDriveVariable(kPhaseB, std::round(phaseB_.Value()));
        logging_ = false;
        Finish(drive);
    }

    void Measure(const DriveFirmware& firmware) override {
        phaseA_.Add(static_cast<double>(firmware.PhaseCurrentA()));
        phaseB_.Add(static_cast<double>(firmware.PhaseCurrentB()));
    }

    Mean phaseA_;
    Mean phaseB_;
};

}  // namespace

std::unique_ptr<TestProgram> MakePhaseConnectionTest() {
    return std::make_unique<PhaseConnectionProgram>();
}

}  // namespace drive
