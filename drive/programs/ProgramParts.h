#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <string_view>

#include "drive/programs/TestProgram.h"

// The parts the simulated drive's test programs are built of: period counting, means, the test
// frame at the holding angle, the held current, the smooth move of the field and the six-segment
// reference of the controller tunings.
namespace drive::program_parts {

// A quarter of an electrical turn in the firmware's angle units (65536 a turn).
inline constexpr std::int64_t kQuarterTurn = 16384;
inline constexpr double kAngleUnitsPerTurn = 65536.0;

// The user variable by which a host polling a program sees it under way: 0 from the program's
// start, 1 once its first period ran (or, for a program measuring with the power stage off, once
// its result is in).
inline constexpr std::string_view kStarted = "STARTED";

inline bool SameVariableName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// A user variable the host wrote, as the whole number a program works with: truncated and kept
// within [lowest, highest]; lowest for a value that is not a number.
inline std::int64_t WholeInput(double value, std::int64_t lowest, std::int64_t highest) {
    if (!std::isfinite(value)) {
        return lowest;
    }
    return static_cast<std::int64_t>(
        std::clamp(std::trunc(value), static_cast<double>(lowest), static_cast<double>(highest)));
}

// The number of whole current-loop periods in a duration (at least one).
inline std::int64_t Periods(const SimulatedDrive& drive, double duration_s) {
    return std::max<std::int64_t>(1, std::llround(duration_s / drive.CurrentLoopPeriod_s()));
}

inline double CurrentMagnitude(const DriveFirmware& firmware) {
    return std::hypot(static_cast<double>(firmware.CurrentD()),
                      static_cast<double>(firmware.CurrentQ()));
}

// Accumulates a mean over a measuring window.
class Mean {
  public:
    void Add(double value) {
        sum_ += value;
        ++count_;
    }
    double Value() const { return count_ == 0 ? 0.0 : sum_ / static_cast<double>(count_); }

  private:
    double sum_ = 0.0;
    std::int64_t count_ = 0;
};

// A program that runs as a count of current-loop periods from its start.
class PeriodProgram : public TestProgram {
  public:
    void Start(SimulatedDrive& drive) override {
        TestProgram::Start(drive);
        // A program run again must not look started (or, with the power stage off, ended) to a
        // host polling it before its first period.
        Variable(kStarted) = 0.0;
        period_ = 0;
        logging_ = false;
    }
    bool IsLogging() const override { return running_ && logging_; }

    void OnPeriodStart(SimulatedDrive& drive, bool) override {
        if (!running_) {
            return;
        }
        if (period_ == 0) {
            Variable(kStarted) = 1.0;
            Begin(drive);
        } else if (!drive.IsOn()) {
            // A protection or an input switched the power stage off.
            Abort(drive);
        } else {
            Run(drive);
        }
        ++period_;
    }

  protected:
    PeriodProgram() { Declare(kStarted, 0.0); }

    // The first period: sets the firmware up and switches the power stage on.
    virtual void Begin(SimulatedDrive& drive) = 0;
    // Every following period while the power stage is on.
    virtual void Run(SimulatedDrive& drive) = 0;
    // The power stage went off before the program ended.
    virtual void Abort(SimulatedDrive& drive) {
        logging_ = false;
        Finish(drive);
    }

    std::int64_t period_ = 0;
    bool logging_ = false;
};

// The test angle whose q axis lies on phase A: the rotor's d axis after the positioning.
inline constexpr std::int64_t kHoldAngle = -kQuarterTurn;

// Puts the firmware in current control in the test frame at the holding angle.
inline void HoldInTestFrame(DriveFirmware& firmware) {
    firmware.SetAngleSource(AngleSource::TestAngle);
    firmware.SetTestAngle(kHoldAngle);
    firmware.SetTestAngleIncrement(0);
    firmware.SetLoopMode(LoopMode::Current);
}

// The fraction of a move done at a fraction of its time: a half cosine, so that the field
// starts and stops without a jerk the rotor would ring on.
inline double SmoothFraction(double timeFraction) {
    return (1.0 - std::cos(std::numbers::pi * std::clamp(timeFraction, 0.0, 1.0))) / 2.0;
}

// Ramps the q current of the test frame, at the holding angle, from a first value to its target,
// holds it, then measures over a window.
class HeldCurrentProgram : public PeriodProgram {
  protected:
    void StartCurrent(SimulatedDrive& drive, std::int64_t first, std::int64_t target,
                      std::int64_t increment, double hold_s, double measure_s) {
        HoldInTestFrame(drive.Firmware());
        target_ = target;
        increment_ = std::max<std::int64_t>(1, increment);
        reference_ = std::clamp<std::int64_t>(first, 0, target);
        const std::int64_t rampPeriods = (target_ - reference_ + increment_ - 1) / increment_;
        measureStart_ = rampPeriods + Periods(drive, hold_s);
        end_ = measureStart_ + Periods(drive, measure_s);
    }

    // One period of the ramp and hold; true when the measuring window ended.
    bool StepCurrent(SimulatedDrive& drive) {
        reference_ = std::min(target_, reference_ + increment_);
        drive.Firmware().SetCurrentReference(0, reference_);
        logging_ = period_ >= measureStart_ && period_ < end_;
        if (logging_) {
            Measure(drive.Firmware());
        }
        return period_ + 1 >= end_;
    }

    virtual void Measure(const DriveFirmware& firmware) = 0;

    std::int64_t target_ = 0;
    std::int64_t increment_ = 1;

  private:
    std::int64_t reference_ = 0;
    std::int64_t measureStart_ = 0;
    std::int64_t end_ = 0;
};

// Runs the six-segment reference (lengths "a0" to "a5" in speed-loop periods, increments "b0"
// to "b5" per period) through the speed loop or the position loop, once, or cyclically while
// "MultiC" is 1 (writing 0 ends the run at the end of the cycle); the rotor's d axis lies on
// phase A after the positioning. "test_flag" is 0 when the current exceeded "Imax_Prot_Test",
// else 1.
class ProfileProgram : public PeriodProgram {
  public:
    static constexpr int kSegments = 6;
    // The loops settle at rest after the power stage is switched on before the profile starts;
    // a scope acquiring from the start then holds its pre-trigger share before the rise.
    static constexpr double kRest_s = 0.1;

    ProfileProgram(std::string_view name, LoopMode mode);
    std::string_view Name() const override { return name_; }

  private:
    static constexpr std::string_view kProtection = "Imax_Prot_Test";
    static constexpr std::string_view kVerdict = "test_flag";
    static constexpr std::string_view kCyclic = "MultiC";

    void Begin(SimulatedDrive& drive) override;
    void OnPeriodStart(SimulatedDrive& drive, bool speedLoopDue) override;
    void Run(SimulatedDrive& drive) override;
    // One speed-loop period of the profile; false when it has ended.
    bool Advance();

    std::string name_;
    LoopMode mode_;
    double protection_ = 0.0;
    std::int64_t origin_ = 0;
    double level_ = 0.0;
    int segment_ = 0;
    std::int64_t periodInSegment_ = 0;
    bool speedLoopDue_ = false;
    std::int64_t restEnd_ = 0;
};

}  // namespace drive::program_parts
