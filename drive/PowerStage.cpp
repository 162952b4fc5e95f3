#include "drive/PowerStage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "drive/WholeNumbers.h"

namespace drive {

namespace {

// 65534 command units make 1.1 bus voltages of phase amplitude: the modulator's scale.
constexpr double kCommandSpan = 65534.0;
constexpr double kBusShareOfSpan = 1.1;
constexpr double kHalfSqrt3 = std::numbers::sqrt3 / 2.0;
// A dead-time band of zero would make the loss a step at zero current: this keeps it a steep slope.
constexpr double kNarrowestCurrentBand_A = 1e-12;
// The converter's zero current is half its full scale.
constexpr double kCentre = 0.5;

// Splitmix64: a small generator whose sequence depends only on the seed, on every platform.
std::uint64_t NextRandom(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

PowerStage::PowerStage(const DriveHardware& hardware)
    : hardware_(hardware),
      step_(static_cast<double>(std::max<std::int64_t>(hardware_.adcStep, 1))),
      stepIsPowerOfTwo_((std::max<std::int64_t>(hardware_.adcStep, 1) &
                         (std::max<std::int64_t>(hardware_.adcStep, 1) - 1)) == 0),
      inverseStep_(1.0 / step_),
      currentScale_(CurrentScale()),
      currentLimitSteps_(std::floor(kCentre * hardware_.adcFullScale / step_)),
      inverseDeadTimeBand_1_A_(1.0 /
                               std::max(hardware_.deadTimeCurrentBand_A, kNarrowestCurrentBand_A)),
      noiseState_(hardware.noiseSeed) {
    SetBusVoltage(hardware_.busVoltage_V);
}

void PowerStage::SetBusVoltage(double bus_V) {
    hardware_.busVoltage_V = bus_V;
    busMeasurement_ =
        Convert(bus_V / hardware_.maxMeasurableBus_V * static_cast<double>(hardware_.adcFullScale));
}

AlphaBeta PowerStage::PhaseVoltages(const VoltageCommand& command, const MotorModel& motor,
                                    double pwmFrequency_Hz) const {
    return PhaseVoltages(Legs(command, pwmFrequency_Hz), motor.PhaseCurrents_A());
}

BridgeCommand PowerStage::Legs(const VoltageCommand& command, double pwmFrequency_Hz) const {
    const double bus_V = hardware_.busVoltage_V;
    // Phase references as fractions of the bus.
    const double perUnit = kBusShareOfSpan / kCommandSpan;
    const double alpha = static_cast<double>(command.alpha) * perUnit;
    const double beta = static_cast<double>(command.beta) * perUnit;
    const std::array<double, 3> phase = {alpha, -0.5 * alpha + kHalfSqrt3 * beta,
                                         -0.5 * alpha - kHalfSqrt3 * beta};
    const double lowest = std::min(std::min(phase[0], phase[1]), phase[2]);
    const double highest = std::max(std::max(phase[0], phase[1]), phase[2]);
    const double commonMode = kCentre - 0.5 * (lowest + highest);

    BridgeCommand legs;
    for (std::size_t index = 0; index < legs.legVoltage_V.size(); ++index) {
        const double duty = std::clamp(phase[index] + commonMode, 0.0, 1.0);
        legs.legVoltage_V[index] = duty * bus_V;
    }
    legs.deadTimeLoss_V = bus_V * hardware_.deadTime_s * pwmFrequency_Hz;
    legs.inverseDeadTimeBand_1_A = inverseDeadTimeBand_1_A_;
    return legs;
}

double PowerStage::CurrentScale() const {
    return static_cast<double>(hardware_.adcFullScale) / (2.0 * hardware_.peakCurrent_A);
}

// Inline: two of these every period, where a call costs a third of one.
inline std::int64_t PowerStage::MeasurePhaseCurrent(double current_A) {
    double measured_A = current_A;
    if (hardware_.currentNoise_A > 0.0) {
        measured_A += hardware_.currentNoise_A * NextGaussian();
    }
    const double steps = std::clamp(whole::Round(InSteps(measured_A * currentScale_)),
                                    -currentLimitSteps_, currentLimitSteps_);
    return static_cast<std::int64_t>(steps * step_);
}

std::array<std::int64_t, 2> PowerStage::MeasurePhaseCurrents(
    const std::array<double, 3>& current_A) {
    // Two statements: phase A draws its noise before phase B.
    const std::int64_t phaseA = MeasurePhaseCurrent(current_A[0]);
    const std::int64_t phaseB = MeasurePhaseCurrent(current_A[1]);
    return {phaseA, phaseB};
}

std::int64_t PowerStage::Convert(double counts) const {
    if (std::isnan(counts)) {
        return 0;
    }
    const double fullScale = static_cast<double>(hardware_.adcFullScale);
    return static_cast<std::int64_t>(whole::Round(InSteps(std::clamp(counts, 0.0, fullScale))) *
                                     step_);
}

std::int64_t PowerStage::MeasureAnalogueInput(double input_V) const {
    return Convert((input_V - hardware_.analogueInputLowest_V) / hardware_.analogueInputSpan_V *
                   static_cast<double>(hardware_.adcFullScale));
}

std::int64_t PowerStage::MeasureDriveTemperature(double temperature_C) const {
    const double sensor_V =
        hardware_.driveSensorAtZero_V + hardware_.driveSensorGain_V_C * temperature_C;
    return MeasureShareOfFullScale(sensor_V / hardware_.adcReference_V);
}

std::int64_t PowerStage::MeasureShareOfFullScale(double share) const {
    return Convert(share * static_cast<double>(hardware_.adcFullScale));
}

bool PowerStage::DetectsShortCircuit(const MotorModel& motor) const {
    return DetectsShortCircuit(motor.PhaseCurrents_A());
}

double PowerStage::NextGaussian() {
    // Box-Muller on two uniform numbers in (0, 1].
    constexpr double kToUnit = 1.0 / 18446744073709551616.0;
    const double u1 = (static_cast<double>(NextRandom(noiseState_)) + 1.0) * kToUnit;
    const double u2 = static_cast<double>(NextRandom(noiseState_)) * kToUnit;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

}  // namespace drive
