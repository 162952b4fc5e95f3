#include "DrivePrograms.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <optional>
#include <string>

#include "ProgramParts.h"

namespace drive {

namespace {

using namespace program_parts;

// The largest voltage command the modulator takes on one axis.
constexpr double kMaxVoltageCommand = 32767.0;

// Holds the current under current control, then holds the voltage that current took: under a
// fixed voltage the rotor's back-EMF drives currents against its swinging, so it comes to rest on
// the field instead of swinging on (and drifting off once the power stage is off).
class InitialPositioningTest final : public HeldCurrentProgram {
  public:
    InitialPositioningTest() { Declare("In1", 0.0); }
    std::string_view Name() const override { return "Initial_Positioning_Test"; }

  private:
    // The ramp up to the current, the hold under current control, the window over which the
    // current reached and its voltage are measured, and the damped hold under that voltage.
    static constexpr double kRamp_s = 0.05;
    static constexpr double kHold_s = 0.05;
    static constexpr double kMeasure_s = 0.1;
    static constexpr double kDamp_s = 0.4;
    // Below this mean the drive reached no usable current (converter counts).
    static constexpr double kNoCurrent = 1.0;

    void Begin(SimulatedDrive& drive) override {
        const auto target = static_cast<std::int64_t>(std::trunc(Variable("In1")));
        magnitude_ = Mean{};
        voltageQ_ = Mean{};
        dampEnd_ = 0;
        if (target <= 0) {
            Variable("In1") = 0.0;
            Finish(drive);
            return;
        }
        const std::int64_t rampPeriods = Periods(drive, kRamp_s);
        StartCurrent(drive, 0, target, (target + rampPeriods - 1) / rampPeriods, kHold_s,
                     kMeasure_s);
        if (!drive.SwitchOn()) {
            Variable("In1") = 0.0;
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
        Variable("In1") = reached < kNoCurrent ? 0.0 : std::round(reached);
        SetDriveVariable("REFTST_V", static_cast<double>(target_));
        SetDriveVariable("RINCTST_V", static_cast<double>(increment_));
        logging_ = false;
        Finish(drive);
    }

    void Abort(SimulatedDrive& drive) override {
        Variable("In1") = 0.0;
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

class ResistanceTest final : public HeldCurrentProgram {
  public:
    ResistanceTest() {
        Declare("In1", 0.0);
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
    }
    std::string_view Name() const override { return "Ident_R_or_Rs"; }

  private:
    // Settling after the ramp (the rotor at rest on the current, the current loop's integral
    // term steady) and the window over which voltage and bus are averaged.
    static constexpr double kHold_s = 0.3;
    static constexpr double kMeasure_s = 0.2;

    void Begin(SimulatedDrive& drive) override {
        voltage_ = Mean{};
        bus_ = Mean{};
        const auto target = static_cast<std::int64_t>(std::trunc(Variable("In1")));
        if (target <= 0) {
            Finish(drive);
            return;
        }
        StartCurrent(drive, std::llround(Variable("RefTest")), target,
                     std::llround(Variable("RIncTest")), kHold_s, kMeasure_s);
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

class InductanceTest final : public PeriodProgram {
  public:
    InductanceTest() { Declare("In1", 0.0); }
    std::string_view Name() const override { return "Ident_L_or_Tau_el"; }

  private:
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
        target_ = std::trunc(Variable("In1"));
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

// Measures with the power stage off: the bus needs no bridge. "STARTED" turns 1 once "var_u2"
// holds the result, so that a host polling it with the power stage off reads a finished run.
class VdcDetectionTest final : public TestProgram {
  public:
    VdcDetectionTest() { Declare("STARTED", 0.0); }
    std::string_view Name() const override { return "VDC_Detection_Test"; }

    void Start(SimulatedDrive& drive) override {
        TestProgram::Start(drive);
        Variable("STARTED") = 0.0;
        period_ = 0;
        bus_ = Mean{};
    }

    void OnPeriodStart(SimulatedDrive& drive, bool) override {
        if (!running_) {
            return;
        }
        if (period_ == 0) {
            end_ = Periods(drive, kMeasure_s);
        } else {
            bus_.Add(static_cast<double>(drive.Firmware().BusVoltage()));
        }
        if (++period_ <= end_) {
            return;
        }
        SetDriveVariable("var_u2", bus_.Value());
        Variable("STARTED") = 1.0;
        Finish(drive);
    }

  private:
    // The window over which the bus converter is averaged.
    static constexpr double kMeasure_s = 0.02;

    std::int64_t period_ = 0;
    std::int64_t end_ = 0;
    Mean bus_;
};

// The fraction of a move done at a fraction of its time: a half cosine, so that the field
// starts and stops without a jerk the rotor would ring on.
double SmoothFraction(double timeFraction) {
    return (1.0 - std::cos(std::numbers::pi * std::clamp(timeFraction, 0.0, 1.0))) / 2.0;
}

class EncoderResolutionTest final : public PeriodProgram {
  public:
    EncoderResolutionTest() {
        Declare("RefTest", 0.0);
        Declare("PolesPairs", 0.0);
    }
    std::string_view Name() const override { return "Encoder_Resolution_And_Direction_Test"; }

  private:
    // Settling on the holding current, then the window over which the starting position is
    // averaged (the rotor may still swing a little about it); the time for one electrical turn;
    // the settling at the end and the window of the final position.
    static constexpr double kSettle_s = 0.2;
    static constexpr double kAverage_s = 0.3;
    static constexpr double kTurn_s = 0.4;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable("RefTest")));
        const auto turns = static_cast<std::int64_t>(std::trunc(Variable("PolesPairs")));
        if (current <= 0 || turns <= 0) {
            Finish(drive);
            return;
        }
        DriveFirmware& firmware = drive.Firmware();
        HoldInTestFrame(firmware);
        firmware.SetCurrentReference(0, current);
        travel_ = turns * static_cast<std::int64_t>(kAngleUnitsPerTurn);
        moveStart_ = Periods(drive, kSettle_s + kAverage_s);
        averageStart_ = Periods(drive, kSettle_s);
        moveEnd_ = moveStart_ + Periods(drive, kTurn_s * static_cast<double>(turns));
        finalStart_ = moveEnd_ + Periods(drive, kSettle_s);
        end_ = finalStart_ + Periods(drive, kAverage_s);
        start_ = Mean{};
        final_ = Mean{};
        origin_ = static_cast<double>(firmware.ElectricalResolutionCount());
        SetDriveVariable("var_lf_long", 0.0);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        const auto count = static_cast<double>(firmware.ElectricalResolutionCount());
        if (period_ < moveStart_) {
            if (period_ >= averageStart_) {
                start_.Add(count);
            }
            return;
        }
        if (period_ == moveStart_) {
            origin_ = start_.Value();
        }
        SetDriveVariable("var_lf_long", std::round(count - origin_));
        if (period_ <= moveEnd_) {
            const double fraction = static_cast<double>(period_ - moveStart_) /
                                    static_cast<double>(moveEnd_ - moveStart_);
            firmware.SetTestAngle(
                kHoldAngle + std::llround(SmoothFraction(fraction) * static_cast<double>(travel_)));
            return;
        }
        if (period_ >= finalStart_) {
            final_.Add(count);
        }
        if (period_ + 1 < end_) {
            return;
        }
        SetDriveVariable("var_lf_long", std::round(final_.Value() - origin_));
        Finish(drive);
    }

    std::int64_t travel_ = 0;
    std::int64_t averageStart_ = 0;
    std::int64_t moveStart_ = 0;
    std::int64_t moveEnd_ = 0;
    std::int64_t finalStart_ = 0;
    std::int64_t end_ = 0;
    double origin_ = 0.0;
    Mean start_;
    Mean final_;
};

class PolePairsTest final : public PeriodProgram {
  public:
    PolePairsTest() {
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
        Declare("poles_pairs", 0.0);
    }
    std::string_view Name() const override { return "Motor_Pole_Pairs_Detection_Test"; }

    bool WriteDriveVariable(std::string_view name, double value) override {
        if (!SameVariableName(name, kCommand)) {
            return false;
        }
        SetDriveVariable(std::string(kCommand), value);
        if (!running_ || Drive() == nullptr) {
            return true;
        }
        if (value == kMove && !moving_) {
            // The move starts at once: the end-of-move marker leaves THTST before the host's
            // next read.
            moving_ = true;
            moveStart_ = period_;
            Drive()->Firmware().SetTestAngle(kHoldAngle);
        } else if (value == kEnd) {
            ending_ = true;
        }
        return true;
    }

  private:
    static constexpr std::string_view kCommand = "var_i2";
    static constexpr double kMove = 0.0;
    static constexpr double kEnd = 1.0;
    // The test angle that marks the end of a move: one unit past the holding angle.
    static constexpr std::int64_t kMoveEndMarker = kHoldAngle + 1;
    // The time one electrical turn takes.
    static constexpr double kTurn_s = 0.4;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable("RefTest")));
        moving_ = false;
        ending_ = false;
        Variable("poles_pairs") = 0.0;
        SetDriveVariable(std::string(kCommand), kEnd);
        if (current <= 0) {
            Finish(drive);
            return;
        }
        HoldInTestFrame(drive.Firmware());
        drive.Firmware().SetCurrentReference(0, current);
        turnPeriods_ = Periods(drive, kTurn_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        if (moving_) {
            const std::int64_t elapsed = period_ - moveStart_;
            if (elapsed < turnPeriods_) {
                const double fraction =
                    static_cast<double>(elapsed) / static_cast<double>(turnPeriods_);
                firmware.SetTestAngle(kHoldAngle +
                                      std::llround(SmoothFraction(fraction) * kAngleUnitsPerTurn));
                return;
            }
            firmware.SetTestAngle(kMoveEndMarker);
            Variable("poles_pairs") += 1.0;
            moving_ = false;
        }
        if (ending_) {
            SetDriveVariable(std::string(kCommand), Variable("poles_pairs"));
            Finish(drive);
        }
    }

    bool moving_ = false;
    bool ending_ = false;
    std::int64_t moveStart_ = 0;
    std::int64_t turnPeriods_ = 1;
};

// Accelerates the rotor with a constant q current in the rotor's frame (the positioning left the
// rotor's d axis on phase A) from rest to a speed, timing it in speed-loop periods, then brakes
// it to rest with the opposite current.
class InertiaTest final : public PeriodProgram {
  public:
    InertiaTest() {
        Declare("In1", 0.0);
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
        Declare("LimitSpeedMax", 0.0);
        Declare("Imax_Prot_Test", 0.0);
        Declare("test_flag", 0.0);
        Declare("delta_time", 0.0);
        Declare("delta_speed", 0.0);
    }
    std::string_view Name() const override { return "Total_Inertia_Identification_Test"; }

    // "delta_time" codes of a run that measured nothing.
    static constexpr double kNegativeSpeed = -1.0;
    static constexpr double kNoSpeed = -2.0;
    static constexpr double kSpeedNotReached = -3.0;

  private:
    // Speed-loop periods after the current is reached before the timing starts (the current
    // loop settled); the longest acceleration and braking; the speed under which the rotor
    // counts as not moving (counts per speed-loop period).
    static constexpr std::int64_t kSettlePeriods = 4;
    static constexpr double kLongest_s = 5.0;
    static constexpr std::int64_t kStandstill = 1;
    // The speed loop's hold at rest after braking.
    static constexpr double kStop_s = 0.2;

    enum class Phase { Accelerating, Braking };

    void Begin(SimulatedDrive& drive) override {
        current_ = static_cast<std::int64_t>(std::trunc(Variable("In1")));
        limit_ = static_cast<std::int64_t>(std::trunc(Variable("LimitSpeedMax")));
        protection_ = std::trunc(Variable("Imax_Prot_Test"));
        increment_ = std::max<std::int64_t>(1, std::llround(Variable("RIncTest")));
        Variable("test_flag") = 0.0;
        Variable("delta_time") = kNoSpeed;
        Variable("delta_speed") = 0.0;
        if (current_ <= 0 || limit_ <= 0) {
            Finish(drive);
            return;
        }
        DriveFirmware& firmware = drive.Firmware();
        firmware.SetElectricAngleReference(0);
        firmware.SetAngleSource(AngleSource::Encoder);
        firmware.SetLoopMode(LoopMode::Current);
        phase_ = Phase::Accelerating;
        reference_ = 0;
        speedPeriods_ = 0;
        timingStart_ = -1;
        startSpeed_ = 0;
        lowestSpeed_ = 0;
        highestSpeed_ = 0;
        firstDirection_ = 0;
        longestPeriods_ = Periods(drive, kLongest_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void OnPeriodStart(SimulatedDrive& drive, bool speedLoopDue) override {
        speedLoopDue_ = speedLoopDue;
        PeriodProgram::OnPeriodStart(drive, speedLoopDue);
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        if (protection_ > 0.0 && CurrentMagnitude(firmware) > protection_) {
            Variable("test_flag") = 1.0;
            Variable("delta_time") = kSpeedNotReached;
            Finish(drive);
            return;
        }
        if (phase_ == Phase::Braking) {
            Brake(drive);
            return;
        }
        reference_ = std::min(current_, reference_ + increment_);
        firmware.SetCurrentReference(0, reference_);
        if (!speedLoopDue_ || reference_ < current_) {
            return;
        }
        // The speed the firmware measured over the last speed-loop period.
        const std::int64_t speed = firmware.MotorSpeed();
        lowestSpeed_ = std::min(lowestSpeed_, speed);
        if (firstDirection_ == 0 && std::abs(speed) > kStandstill) {
            firstDirection_ = speed > 0 ? 1 : -1;
        }
        highestSpeed_ = std::max(highestSpeed_, speed);
        ++speedPeriods_;
        if (timingStart_ < 0 && speedPeriods_ >= kSettlePeriods) {
            timingStart_ = speedPeriods_;
            startSpeed_ = speed;
        }
        if (timingStart_ >= 0 && speed >= limit_) {
            Variable("test_flag") = 1.0;
            Variable("delta_time") = static_cast<double>(speedPeriods_ - timingStart_);
            Variable("delta_speed") = static_cast<double>(speed - startSpeed_);
            StartBraking(drive);
        } else if (speed < -limit_ || period_ >= longestPeriods_) {
            // The speed limit was not reached: the rotor started backward, did not move, or moved
            // too little.
            const bool backward = firstDirection_ < 0;
            const bool still = std::max(-lowestSpeed_, highestSpeed_) <= kStandstill;
            Variable("test_flag") = backward ? 0.0 : 1.0;
            Variable("delta_time") = backward ? kNegativeSpeed
                                     : still  ? kNoSpeed
                                              : kSpeedNotReached;
            StartBraking(drive);
        }
    }

    void StartBraking(SimulatedDrive& drive) {
        phase_ = Phase::Braking;
        brakeEnd_ = period_ + longestPeriods_;
        stopEnd_ = 0;
        direction_ = drive.Firmware().MotorSpeed() >= 0 ? 1 : -1;
        drive.Firmware().SetCurrentReference(0, -direction_ * current_);
    }

    // Brakes with the full current until the speed turns, then lets the speed loop hold the
    // rotor at rest for a while before switching off.
    void Brake(SimulatedDrive& drive) {
        DriveFirmware& firmware = drive.Firmware();
        if (stopEnd_ == 0) {
            if (direction_ * firmware.MotorSpeed() <= 0 || period_ >= brakeEnd_) {
                firmware.SetLoopMode(LoopMode::Speed);
                firmware.SetSpeedReference(0);
                stopEnd_ = period_ + Periods(drive, kStop_s);
            }
            return;
        }
        if (period_ + 1 >= stopEnd_) {
            Finish(drive);
        }
    }

    std::int64_t current_ = 0;
    std::int64_t limit_ = 0;
    double protection_ = 0.0;
    std::int64_t increment_ = 1;
    std::int64_t reference_ = 0;
    std::int64_t speedPeriods_ = 0;
    std::int64_t timingStart_ = -1;
    std::int64_t startSpeed_ = 0;
    std::int64_t lowestSpeed_ = 0;
    std::int64_t highestSpeed_ = 0;
    // The sign of the first speed beyond standstill; 0 until the rotor moved.
    int firstDirection_ = 0;
    std::int64_t longestPeriods_ = 1;
    std::int64_t brakeEnd_ = 0;
    std::int64_t stopEnd_ = 0;
    std::int64_t direction_ = 1;
    bool speedLoopDue_ = false;
    Phase phase_ = Phase::Accelerating;
};

// Aligns the rotor's d axis on phase A (the holding current, then the damped hold under a
// voltage along phase A alone), reads the absolute encoder's position there and stores it as the
// encoder's offset; "ENDAT_DATA1" and "ENDAT_DATA2" hold its low and high 16 bits.
class EncoderOffsetTest final : public HeldCurrentProgram {
  public:
    EncoderOffsetTest() {
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
    }
    std::string_view Name() const override { return "Encoder_Offset_Zero_And_A_Detection_Test"; }

  private:
    // The hold under current control, the window its voltage is measured over, the damped hold
    // under that voltage (long enough for the rotor to come to rest within a count).
    static constexpr double kHold_s = 0.05;
    static constexpr double kMeasure_s = 0.1;
    static constexpr double kDamp_s = 1.5;
    static constexpr std::int64_t kWordBits = 16;
    static constexpr std::int64_t kWordMask = 0xFFFF;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable("RefTest")));
        voltageQ_ = Mean{};
        dampEnd_ = 0;
        SetDriveVariable("ENDAT_DATA1", 0.0);
        SetDriveVariable("ENDAT_DATA2", 0.0);
        if (current <= 0) {
            Finish(drive);
            return;
        }
        StartCurrent(drive, 0, current, std::llround(Variable("RIncTest")), kHold_s, kMeasure_s);
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
            SetDriveVariable("ENDAT_DATA1", static_cast<double>(*position & kWordMask));
            SetDriveVariable("ENDAT_DATA2", static_cast<double>(*position >> kWordBits));
        }
        Finish(drive);
    }

    void Measure(const DriveFirmware& firmware) override {
        voltageQ_.Add(static_cast<double>(firmware.VoltageQ()));
    }

    Mean voltageQ_;
    std::int64_t dampEnd_ = 0;
};

class PhaseConnectionTest final : public HeldCurrentProgram {
  public:
    PhaseConnectionTest() {
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
    }
    std::string_view Name() const override { return "Motor_Phase_Connection_Test"; }

  private:
    // The hold before measuring and the window the two phase currents are averaged over.
    static constexpr double kHold_s = 0.1;
    static constexpr double kMeasure_s = 0.05;

    void Begin(SimulatedDrive& drive) override {
        const auto current = static_cast<std::int64_t>(std::trunc(Variable("RefTest")));
        phaseA_ = Mean{};
        phaseB_ = Mean{};
        SetDriveVariable("var_i1", 0.0);
        SetDriveVariable("var_i2", 0.0);
        if (current <= 0) {
            Finish(drive);
            return;
        }
        StartCurrent(drive, current, current, std::llround(Variable("RIncTest")), kHold_s,
                     kMeasure_s);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        if (!StepCurrent(drive)) {
            return;
        }
        SetDriveVariable("var_i1", std::round(phaseA_.Value()));
        SetDriveVariable("var_i2", std::round(phaseB_.Value()));
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

// Passive: the power stage on with no current, so that the shaft turns freely by hand while the
// host watches the position counter, until the host writes 1 to "var_i2".
class EncoderConnectionTest final : public PeriodProgram {
  public:
    std::string_view Name() const override { return "Encoder_Connection_Test"; }

    bool WriteDriveVariable(std::string_view name, double value) override {
        if (!SameVariableName(name, kCommand)) {
            return false;
        }
        SetDriveVariable(std::string(kCommand), value);
        return true;
    }

  private:
    static constexpr std::string_view kCommand = "var_i2";
    static constexpr double kEnd = 1.0;

    void Begin(SimulatedDrive& drive) override {
        SetDriveVariable(std::string(kCommand), 0.0);
        HoldInTestFrame(drive.Firmware());
        drive.Firmware().SetCurrentReference(0, 0);
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void Run(SimulatedDrive& drive) override {
        if (GetDriveVariable(kCommand) == kEnd) {
            Finish(drive);
        }
    }
};

// A step of the q current reference in the holding frame (along the rotor's d axis, so the rotor
// stays put), logged from a few periods before the step; "test_flag" is 0 when the current
// exceeded "Imax_Prot_Test", else 1.
class CurrentTuningTest final : public PeriodProgram {
  public:
    CurrentTuningTest() {
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
        Declare("In1", 0.0);
        Declare("Imax_Prot_Test", 0.0);
        Declare("test_flag", 0.0);
    }
    std::string_view Name() const override { return "Current_Controller_Tuning_Test"; }

  private:
    // Periods logged before the step, the whole record (the host's 100 points), and the rest
    // at zero current before the step.
    static constexpr std::int64_t kBeforeStep = 5;
    static constexpr std::int64_t kRecord = 100;
    static constexpr double kRest_s = 0.05;

    void Begin(SimulatedDrive& drive) override {
        step_ = static_cast<std::int64_t>(std::trunc(Variable("In1")));
        protection_ = std::trunc(Variable("Imax_Prot_Test"));
        Variable("test_flag") = 0.0;
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
            Variable("test_flag") = 0.0;
            Finish(drive);
            return;
        }
        if (period_ == stepPeriod_) {
            firmware.SetCurrentReference(0, step_);
        }
        const std::int64_t logStart = stepPeriod_ - kBeforeStep;
        logging_ = period_ >= logStart && period_ < logStart + kRecord;
        if (period_ >= logStart + kRecord) {
            Variable("test_flag") = 1.0;
            Finish(drive);
        }
    }

    std::int64_t step_ = 0;
    double protection_ = 0.0;
    std::int64_t stepPeriod_ = 1;
};

// Runs the six-segment reference (lengths "a0" to "a5" in speed-loop periods, increments "b0"
// to "b5" per period) through the speed loop or the position loop, once, or cyclically while
// "MultiC" is 1 (writing 0 ends the run at the end of the cycle); the rotor's d axis lies on
// phase A after the positioning. "test_flag" is 0 when the current exceeded "Imax_Prot_Test",
// else 1.
class ProfileProgram : public PeriodProgram {
  public:
    static constexpr int kSegments = 6;

    ProfileProgram(std::string_view name, LoopMode mode) : name_(name), mode_(mode) {
        Declare("RefTest", 0.0);
        Declare("RIncTest", 1.0);
        Declare("Imax_Prot_Test", 0.0);
        // The test's current and speed limits: the drive's limits are its registers, which the
        // host writes for the test; the program keeps these for the host's bookkeeping.
        Declare("IlimPS_Test", 0.0);
        if (mode_ == LoopMode::Position) {
            Declare("LimitSpeed_Test", 0.0);
        }
        Declare("MultiC", 0.0);
        Declare("test_flag", 0.0);
        for (int segment = 0; segment < kSegments; ++segment) {
            Declare("a" + std::to_string(segment), 0.0);
            Declare("b" + std::to_string(segment), 0.0);
        }
    }
    std::string_view Name() const override { return name_; }

  private:
    void Begin(SimulatedDrive& drive) override {
        protection_ = std::trunc(Variable("Imax_Prot_Test"));
        Variable("test_flag") = 0.0;
        DriveFirmware& firmware = drive.Firmware();
        firmware.SetElectricAngleReference(0);
        firmware.SetAngleSource(AngleSource::Encoder);
        firmware.SetLoopMode(mode_);
        origin_ = firmware.MotorPosition();
        level_ = 0.0;
        segment_ = 0;
        periodInSegment_ = 0;
        if (!drive.SwitchOn()) {
            Finish(drive);
        }
    }

    void OnPeriodStart(SimulatedDrive& drive, bool speedLoopDue) override {
        speedLoopDue_ = speedLoopDue;
        PeriodProgram::OnPeriodStart(drive, speedLoopDue);
    }

    void Run(SimulatedDrive& drive) override {
        DriveFirmware& firmware = drive.Firmware();
        if (protection_ > 0.0 && CurrentMagnitude(firmware) > protection_) {
            Variable("test_flag") = 0.0;
            Finish(drive);
            return;
        }
        if (!speedLoopDue_) {
            return;
        }
        if (!Advance()) {
            Variable("test_flag") = 1.0;
            Finish(drive);
            return;
        }
        const std::int64_t reference = std::llround(level_);
        if (mode_ == LoopMode::Speed) {
            firmware.SetSpeedReference(reference);
        } else {
            firmware.SetPositionReference(origin_ + reference);
        }
    }

    // One speed-loop period of the profile; false when it has ended.
    bool Advance() {
        for (int skipped = 0; skipped <= kSegments; ++skipped) {
            const auto length = static_cast<std::int64_t>(Variable("a" + std::to_string(segment_)));
            if (periodInSegment_ < length) {
                level_ += Variable("b" + std::to_string(segment_));
                ++periodInSegment_;
                return true;
            }
            periodInSegment_ = 0;
            if (++segment_ == kSegments) {
                segment_ = 0;
                if (Variable("MultiC") != 1.0) {
                    return false;
                }
            }
        }
        // Every segment empty: nothing to run.
        return false;
    }

    std::string name_;
    LoopMode mode_;
    double protection_ = 0.0;
    std::int64_t origin_ = 0;
    double level_ = 0.0;
    int segment_ = 0;
    std::int64_t periodInSegment_ = 0;
    bool speedLoopDue_ = false;
};

}  // namespace

std::unique_ptr<TestProgram> MakeInitialPositioningTest() {
    return std::make_unique<InitialPositioningTest>();
}
std::unique_ptr<TestProgram> MakeResistanceTest() {
    return std::make_unique<ResistanceTest>();
}
std::unique_ptr<TestProgram> MakeInductanceTest() {
    return std::make_unique<InductanceTest>();
}
std::unique_ptr<TestProgram> MakeEncoderResolutionTest() {
    return std::make_unique<EncoderResolutionTest>();
}
std::unique_ptr<TestProgram> MakePolePairsTest() {
    return std::make_unique<PolePairsTest>();
}
std::unique_ptr<TestProgram> MakeInertiaTest() {
    return std::make_unique<InertiaTest>();
}
std::unique_ptr<TestProgram> MakeEncoderOffsetTest() {
    return std::make_unique<EncoderOffsetTest>();
}
std::unique_ptr<TestProgram> MakePhaseConnectionTest() {
    return std::make_unique<PhaseConnectionTest>();
}
std::unique_ptr<TestProgram> MakeEncoderConnectionTest() {
    return std::make_unique<EncoderConnectionTest>();
}
std::unique_ptr<TestProgram> MakeCurrentTuningTest() {
    return std::make_unique<CurrentTuningTest>();
}
std::unique_ptr<TestProgram> MakeSpeedTuningTest() {
    return std::make_unique<ProfileProgram>("Speed_Controller_Tuning_Test", LoopMode::Speed);
}
std::unique_ptr<TestProgram> MakePositionTuningTest(bool withSpeedLoop) {
    return std::make_unique<ProfileProgram>(withSpeedLoop
                                                ? "Position_Controller_Tuning_Test_with_SpdCtrl"
                                                : "Position_Controller_Tuning_Test_without_SpdCtrl",
                                            LoopMode::Position);
}
std::unique_ptr<TestProgram> MakeVdcDetectionTest() {
    return std::make_unique<VdcDetectionTest>();
}

}  // namespace drive
