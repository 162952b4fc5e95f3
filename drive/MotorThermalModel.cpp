#include "drive/MotorThermalModel.h"

#include <algorithm>
#include <cmath>

namespace drive {

namespace {

// A winding's surroundings when nobody says otherwise.
constexpr double kRoomTemperature_C = 25.0;
// A switching thermistor's resistance changes by a factor e every 5 K about its rated
// temperature: its reading turns from one end of the range to the other within a few tens of
// kelvin.
constexpr double kSensorSteepness_1_K = 0.2;

}  // namespace

MotorThermalModel::MotorThermalModel(const ThermalData& data)
    : data_(data), ambient_C_(kRoomTemperature_C), winding_C_(kRoomTemperature_C) {}

void MotorThermalModel::SetAmbientTemperature(double temperature_C) {
    if (data_.thermalResistance_K_W <= 0.0 || winding_C_ == ambient_C_) {
        winding_C_ = temperature_C;
    }
    ambient_C_ = temperature_C;
}

void MotorThermalModel::Step(double losses_W, double step_s) {
    if (data_.thermalResistance_K_W <= 0.0) {
        return;
    }
    // The steps are far shorter than the time constant: an explicit step is exact enough, and
    // bounded to the whole way it stays stable for any step.
    const double settled_C = ambient_C_ + losses_W * data_.thermalResistance_K_W;
    winding_C_ += (settled_C - winding_C_) * std::min(1.0, step_s / data_.timeConstant_s);
}

double MotorThermalModel::SensorShare() const {
    const double rise = kSensorSteepness_1_K * (winding_C_ - data_.sensorRatedTemperature_C);
    const double exponent = data_.sensor == ThermalSensor::PTC ? -rise : rise;
    return 1.0 / (1.0 + std::exp(exponent));
}

}  // namespace drive
