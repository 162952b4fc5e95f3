#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

class ResistanceProgram final : public HeldCurrentProgram {
  public:
    ResistanceProgram() {
        Declare(kCurrent, 0.0);
        Declare(kFirstCurrent, 0.0);
        Declare(kIncrement, 1.0);
    }
    std::string_view Name() const override { return "Ident_R_or_Rs"; }

  private:
    // The current measured at, the current the positioning left (where the ramp starts) and the
    // ramp's increment a period.
    static constexpr std::string_view kCurrent = "In1";
    static constexpr std::string_view kFirstCurrent = "RefTest";
    static constexpr std::string_view kIncrement = "RIncTest";
    // Settling after the ramp (the rotor at rest on the current, the current loop's integral
    // term steady) and the window over which voltage and bus are averaged.
    static constexpr double kHold_s = 0.3;
    static constexpr double kMeasure_s = 0.2;

    // The current held: the converter threshold (half-way between two of its steps) nearest the
    // asked current. The phase A converter measures the q current of the test frame in whole
    // steps, so the current loop holding a reference between steps runs a limit cycle about the
    // nearest threshold: its measured mean is the reference, but the true current hovers at the
    // threshold, up to half a step away, and the two runs' currents would differ by a wrong
    // amount. Held on the threshold, the measurement falls on either side equally often and its
    // mean is the true current.
    static std::int64_t OnConverterThreshold(const SimulatedDrive& drive, std::int64_t current) {
        const std::int64_t step = std::max<std::int64_t>(1, drive.Power().Hardware().adcStep);
        return current / step * step + step / 2;
    }

    void Begin(SimulatedDrive& drive) override {
        voltage_ = Mean{};
        bus_ = Mean{};
        const auto target = static_cast<std::int64_t>(std::trunc(Variable(kCurrent)));
        if (target <= 0) {
            Finish(drive);
            return;
        }
        StartCurrent(drive, std::llround(Variable(kFirstCurrent)),
                     OnConverterThreshold(drive, target), std::llround(Variable(kIncrement)),
                     kHold_s, kMeasure_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        if (!StepCurrent(drive)) {
            return;
        }
        SetDriveVariable("var_i1", voltage_.Value());
        SetDriveVariable("var_u2", bus_.Value());
        logging_ = false;
        Finish(drive);
    }

    void Measure(const DriveFirmware& firmware) override {
        voltage_.Add(static_cast<double>(firmware.VoltageQ()));
        bus_.Add(static_cast<double>(firmware.BusVoltage()));
    }

    Mean voltage_;
    Mean bus_;
};

}  // namespace

std::unique_ptr<TestProgram> MakeResistanceTest() {
    return std::make_unique<ResistanceProgram>();
}

}  // namespace drive
