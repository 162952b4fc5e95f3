#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

#include "drive/MotorModel.h"

namespace drive {

// The drive's hardware, as far as the firmware and the physics see it: clock, bus, converters,
// PWM dead time, the encoder interpolator, the analogue reference input and the temperature
// sensor. The DC bus here is the true one, which may differ
// from what a setup believes (the bus-voltage identification measures it).
struct DriveHardware {
    double dspClock_Hz = 40e6;
    double busVoltage_V = 48.0;
    // Bus voltage at the DC-bus converter's full scale.
    double maxMeasurableBus_V = 73.0;
    // Current at the current converters' full scale (+-): the power stage's peak current.
    double peakCurrent_A = 16.5;
    // Full-scale count of the converters (all resolution bits set, left-aligned in the word), and
    // the counts one step of their resolution makes (a 10-bit converter in a 16-bit word reads in
    // steps of 64).
    std::uint32_t adcFullScale = 65472;
    std::int64_t adcStep = 64;
    // Effective dead time of each bridge leg: per PWM period the leg loses (or gains, for a
    // negative current) dead time x bus voltage of volt-seconds.
    double deadTime_s = 0.0;
    // Below this phase current the dead-time error fades linearly (the current finishes its
    // commutation within the dead time).
    double deadTimeCurrentBand_A = 0.05;
    // Standard deviation of the noise on each phase-current measurement; 0 measures exactly.
    double currentNoise_A = 0.0;
    std::uint64_t noiseSeed = 1;
    // Interpolation bits of the sine-cosine interpolator.
    int interpolationBits = 8;
    // The analogue reference input's converter spans this many volts from its lowest voltage.
    double analogueInputSpan_V = 10.0;
    double analogueInputLowest_V = 0.0;
    // The drive's temperature sensor gives this voltage at 0 degrees C and this much more per
    // degree; the converters read their reference voltage at full scale.
    double driveSensorAtZero_V = 0.5;
    double driveSensorGain_V_C = 0.01;
    double adcReference_V = 3.3;
    // Physics steps per PWM period (an even number, at least 2). The firmware samples at the
    // start of its period and its new voltage applies from the middle of that PWM period (the
    // compare registers are reloaded at the half period).
    int stepsPerPwmPeriod = 2;
};

// The firmware's voltage command in its internal units, in the stator's fixed frame.
struct VoltageCommand {
    std::int64_t alpha = 0;
    std::int64_t beta = 0;
};

// The bridge's legs under one voltage command: what every physics step of the command shares.
struct BridgeCommand {
    // Each leg's average voltage without the dead time: its duty cycle times the bus.
    std::array<double, 3> legVoltage_V{};
    // The volt-seconds per PWM period the dead time takes from a leg carrying a current beyond
    // the band (per second of PWM period: a voltage).
    double deadTimeLoss_V = 0.0;
    // The inverse of the current band within which the loss grows linearly with the current.
    double inverseDeadTimeBand_1_A = 1.0;
};

// The three-phase bridge and its converters. A command of 65534 units spans 1.1 times the bus
// voltage of phase-voltage amplitude (space-vector modulation: the common mode of the three legs
// is centred so that the legs stay within the bus up to 0.577 times the bus); each leg's average
// voltage is its duty cycle times the bus, less the dead-time error. The phase currents are
// measured on phases A and B by converters centred on half their full scale.
class PowerStage {
  public:
    explicit PowerStage(const DriveHardware& hardware);

    const DriveHardware& Hardware() const { return hardware_; }
    void SetBusVoltage(double bus_V);
    // A short between the motor leads or to earth: once the bridge switches, the current through
    // it rises past the converters' range within a PWM period.
    void SetShortCircuit(bool present) { shortCircuit_ = present; }

    // The star-equivalent phase voltages the bridge applies for this command, the phase currents
    // flowing now deciding the dead-time error; pwmFrequency_Hz weighs the dead time.
    AlphaBeta PhaseVoltages(const VoltageCommand& command, const MotorModel& motor,
                            double pwmFrequency_Hz) const;
    // The same in two parts: the legs for a command once, then the phase voltages for the
    // currents of each step (A, B, C, as MotorModel::PhaseCurrents_A gives them).
    BridgeCommand Legs(const VoltageCommand& command, double pwmFrequency_Hz) const;
    // Inline: the physics asks for it at every step.
    static AlphaBeta PhaseVoltages(const BridgeCommand& legs,
                                   const std::array<double, 3>& phaseCurrents_A) {
        const double a_V = LegVoltage(legs, 0, phaseCurrents_A[0]);
        const double b_V = LegVoltage(legs, 1, phaseCurrents_A[1]);
        const double c_V = LegVoltage(legs, 2, phaseCurrents_A[2]);
        // The star point floats: the phase voltages are the legs' voltages less their mean,
        // which the Clarke transform drops by itself.
        return {kClarke * (a_V - 0.5 * (b_V + c_V)), (b_V - c_V) * std::numbers::inv_sqrt3};
    }

    // Current converter counts per ampere.
    double CurrentScale() const;
    // The measurements of phases A and B of these phase currents (A, B, C, as
    // MotorModel::PhaseCurrents_A gives them) in converter counts around the centre (positive:
    // current into the motor), with noise, in the converter's steps (zero current reads 0, the
    // firmware having taken the centre's reading at rest) and clipped to the converter's range.
    std::array<std::int64_t, 2> MeasurePhaseCurrents(const std::array<double, 3>& current_A);
    // The bus measurement in converter counts.
    std::int64_t MeasureBusVoltage() const { return busMeasurement_; }
    // The analogue reference input at this voltage, converter counts from its lowest voltage.
    std::int64_t MeasureAnalogueInput(double input_V) const;
    // The drive's temperature sensor at this temperature, converter counts.
    std::int64_t MeasureDriveTemperature(double temperature_C) const;
    // A share of the converter's full scale (a sensor's divider), converter counts.
    std::int64_t MeasureShareOfFullScale(double share) const;
    // Whether a phase current exceeds the converters' range, or a short makes one do so: the
    // bridge's own short-circuit detection.
    bool DetectsShortCircuit(const MotorModel& motor) const;
    // The same on the phase currents (A, B, C) of the motor.
    bool DetectsShortCircuit(const std::array<double, 3>& phaseCurrents_A) const {
        const double peak_A = hardware_.peakCurrent_A;
        return shortCircuit_ || std::fabs(phaseCurrents_A[0]) > peak_A ||
               std::fabs(phaseCurrents_A[1]) > peak_A || std::fabs(phaseCurrents_A[2]) > peak_A;
    }

  private:
    // Amplitude-invariant Clarke transform: alpha = 2/3 (a - (b + c) / 2), beta = (b - c) / sqrt 3.
    static constexpr double kClarke = 2.0 / 3.0;

    // A leg's average voltage less the dead time's loss, which grows with the leg's current
    // across the band and stays at its full value beyond it.
    static double LegVoltage(const BridgeCommand& legs, std::size_t leg, double current_A) {
        const double share = std::clamp(current_A * legs.inverseDeadTimeBand_1_A, -1.0, 1.0);
        return legs.legVoltage_V[leg] - legs.deadTimeLoss_V * share;
    }
    // One phase's measurement, in converter counts around the centre.
    std::int64_t MeasurePhaseCurrent(double current_A);
    double NextGaussian();
    // A reading in the converter's steps, within 0 and its full scale.
    std::int64_t Convert(double counts) const;
    // Counts in the converters' steps: count / step, by a product when the step is a power of
    // two (its inverse is then exact, and so is the product).
    double InSteps(double counts) const {
        return stepIsPowerOfTwo_ ? counts * inverseStep_ : counts / step_;
    }

    DriveHardware hardware_;
    // The converters' step, its inverse, the current converters' counts per ampere and the whole
    // steps they read on either side of their centre.
    double step_;
    bool stepIsPowerOfTwo_;
    double inverseStep_;
    double currentScale_;
    double currentLimitSteps_;
    // The inverse of the dead time's current band (see BridgeCommand).
    double inverseDeadTimeBand_1_A_;
    // The bus is read every period but rarely changes: its reading, kept from the last change.
    std::int64_t busMeasurement_ = 0;
    std::uint64_t noiseState_;
    bool shortCircuit_ = false;
};

}  // namespace drive
