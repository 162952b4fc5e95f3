#pragma once

#include "drive/MotorModel.h"

namespace drive {

// The temperature of the motor's winding and the reading of the thermistor in it. The winding
// heats with its copper losses and cools toward the ambient temperature through one thermal
// resistance, with one time constant; without thermal data it stays at the ambient temperature.
class MotorThermalModel {
  public:
    explicit MotorThermalModel(const ThermalData& data);

    // The motor's surroundings (25 degrees C until set): the winding cools toward them, and a
    // winding at their temperature (or without thermal data) moves with them.
    void SetAmbientTemperature(double temperature_C);

    // Advances by step_s with these copper losses.
    void Step(double losses_W, double step_s);
    double WindingTemperature_C() const { return winding_C_; }

    // The thermistor's share of the divider it forms with the drive's resistor: one half at its
    // rated temperature, toward 1 above it for a PTC (toward 0 for an NTC).
    double SensorShare() const;

  private:
    ThermalData data_;
    double ambient_C_;
    double winding_C_;
};

}  // namespace drive
