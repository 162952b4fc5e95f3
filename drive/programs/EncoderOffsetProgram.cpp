#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

// Aligns the rotor's d axis on phase A (the holding current, then the damped hold under a
// voltage along phase A alone), reads the absolute encoder's position there and stores it as the
// encoder's offset; "ENDAT_DATA1" and "ENDAT_DATA2" hold its low and high 16 bits.
class EncoderOffsetProgram final : public HeldCurrentProgram {
  public:
    EncoderOffsetProgram() {
        Declare(kCurrent, 0.0);
        Declare(kIncrement, 1.0);
    }
    std::string_view Name() const override { return "Encoder_Offset_Zero_And_A_Detection_Test"; }

  private:
    // The holding current and its ramp's increment a period; the stored offset's low and high
    // 16 bits.
    static constexpr std::string_view kCurrent = "RefTest";
    static constexpr std::string_view kIncrement = "RIncTest";
    static constexpr std::string_view kOffsetLow = "ENDAT_DATA1";
    static constexpr std::string_view kOffsetHigh = "ENDAT_DATA2";
    // The hold under current control, the window its voltage is measured over, the damped hold
    // under that voltage (long enough for the rotor to come to rest within a count).
    static constexpr double kHold_s = 0.05;
    static constexpr double kMeasure_s = 0.1;
    static constexpr double kDamp_s = 1.5;
    static constexpr std::int64_t kWordBits = 16;
    static constexpr std::int64_t kWordMask = 0xFFFF;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable(kCurrent)));
        voltageQ_ = Mean{};
        dampEnd_ = 0;
        SetDriveVariable(kOffsetLow, 0.0);
        SetDriveVariable(kOffsetHigh, 0.0);
        if (current <= 0) {
            Finish(drive);
            return;
        }
        StartCurrent(drive, 0, current, std::llround(Variable(kIncrement)), kHold_s, kMeasure_s);
        if (!drive.SwitchOn()) {
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
        logging_ = false;
        const std::optional<std::int64_t> position = drive.ReadEncoderPosition();
        if (!position) {
            // No position, nothing to store: the offset cannot be written.
            drive.Firmware().RaiseEncoderError(cer::kOffsetWriteBit);
        } else if (drive.WriteEncoderOffset(*position)) {
            SetDriveVariable(kOffsetLow, static_cast<double>(*position & kWordMask));
            SetDriveVariable(kOffsetHigh, static_cast<double>(*position >> kWordBits));
        }
        Finish(drive);
    }

    void Measure(const DriveFirmware& firmware) override {
        voltageQ_.Add(static_cast<double>(firmware.VoltageQ()));
    }

    Mean voltageQ_;
    std::int64_t dampEnd_ = 0;
};

}  // namespace

std::unique_ptr<TestProgram> MakeEncoderOffsetTest() {
    return std::make_unique<EncoderOffsetProgram>();
}

}  // namespace drive
