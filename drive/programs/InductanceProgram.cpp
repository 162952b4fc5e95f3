#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string_view>

#include "drive/programs/DrivePrograms.h"
#include "drive/programs/ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

// The largest voltage command the modulator takes on one axis.
constexpr double kMaxVoltageCommand = 32767.0;

class InductanceProgram final : public PeriodProgram {
  public:
    InductanceProgram() { Declare(kCurrent, 0.0); }
    std::string_view Name() const override { return "Ident_L_or_Tau_el"; }

  private:
    // The current amplitude the voltage is adjusted to.
    static constexpr std::string_view kCurrent = "In1";
    // The field turns once in 32 current-loop periods: fast enough for the inductance to
    // dominate the impedance, slow enough for the modulator's hold to stay a small correction.
    static constexpr std::int64_t kTestAngleIncrement = 2048;
    // The first amplitude tried, then the amplitude corrected this often toward the current
    // asked for, so many times; then the settling and the measuring window.
    static constexpr double kFirstAmplitude = 200.0;
    static constexpr double kAdjust_s = 0.05;
    static constexpr int kAdjustments = 8;
    static constexpr double kLargestCorrection = 4.0;
    static constexpr double kHold_s = 0.2;
    static constexpr double kMeasure_s = 0.1;

    void Begin(SimulatedDrive& drive) override {
        target_ = std::trunc(Variable(kCurrent));
        if (target_ <= 0.0) {
            Finish(drive);
            return;
        }
        DriveFirmware& firmware = drive.Firmware();
        firmware.SetAngleSource(AngleSource::TestAngle);
        firmware.SetTestAngle(0);
        firmware.SetTestAngleIncrement(kTestAngleIncrement);
        firmware.SetLoopMode(LoopMode::VoltageOpenLoop);
        adjustPeriods_ = Periods(drive, kAdjust_s);
        measureStart_ = adjustPeriods_ * kAdjustments + Periods(drive, kHold_s);
        end_ = measureStart_ + Periods(drive, kMeasure_s);
        amplitude_ = kFirstAmplitude;
        ComputeHold(drive);
        Apply(drive);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    // The voltage holds each command for a current-loop period from half a PWM period after the
    // sample. For an inductance this rotating staircase gives the sampled current
    // I = V / (j w L G); the command is turned by G's angle and the amplitude reported divided by
    // |G| so that the current's d part over its square gives the inductance.
    void ComputeHold(const SimulatedDrive& drive) {
        const double period_s = drive.CurrentLoopPeriod_s();
        const double delay_s = drive.PwmPeriod_s() / 2.0;
        const double omega = 2.0 * std::numbers::pi * static_cast<double>(kTestAngleIncrement) /
                             (kAngleUnitsPerTurn * period_s);
        const std::complex<double> j(0.0, 1.0);
        const std::complex<double> turn = std::exp(j * omega * period_s);
        const std::complex<double> hold =
            (turn - 1.0) / (j * omega * ((period_s - delay_s) + delay_s / turn));
        holdAngle_ = std::arg(hold);
        holdGain_ = std::abs(hold);
    }

    void Apply(SimulatedDrive& drive) const {
        drive.Firmware().SetVoltageCommand(std::llround(-amplitude_ * std::sin(holdAngle_)),
                                           std::llround(amplitude_ * std::cos(holdAngle_)));
    }

    void Run(SimulatedDrive& drive) override {
        const DriveFirmware& firmware = drive.Firmware();
        if (period_ < adjustPeriods_ * kAdjustments) {
            if ((period_ + 1) % adjustPeriods_ == 0) {
                const double reached = std::max(CurrentMagnitude(firmware), 1.0);
                const double correction =
                    std::clamp(target_ / reached, 1.0 / kLargestCorrection, kLargestCorrection);
                amplitude_ = std::min(amplitude_ * correction, kMaxVoltageCommand);
                Apply(drive);
            }
            return;
        }
        logging_ = period_ >= measureStart_ && period_ < end_;
        if (period_ + 1 < end_) {
            return;
        }
        SetDriveVariable("var_i1", std::round(amplitude_) / holdGain_);
        logging_ = false;
        Finish(drive);
    }

    double target_ = 0.0;
    double amplitude_ = 0.0;
    double holdAngle_ = 0.0;
    double holdGain_ = 1.0;
    std::int64_t adjustPeriods_ = 1;
    std::int64_t measureStart_ = 0;
    std::int64_t end_ = 0;
};

}  // namespace

std::unique_ptr<TestProgram> MakeInductanceTest() {
    return std::make_unique<InductanceProgram>();
}

}  // namespace drive
