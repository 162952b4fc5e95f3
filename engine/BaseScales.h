#pragma once

class CQel_Setup;

// How many internal units make one base unit, computed afresh from the registers in the setup on
// every call (nothing is cached, so a scale never lags behind a register change). Missing or zero
// inputs are not checked: they give NaN or infinity, which the kernel refuses to store.

// Current-loop sampling period Ts_C, s.
double ComputeCurrentLoopPeriod(const CQel_Setup& setup);
// Speed- and position-loop sampling period Ts_S, s.
double ComputeSpeedLoopPeriod(const CQel_Setup& setup);
// Voltage-command units per volt of motor voltage.
double ComputeMotorVoltageScale(const CQel_Setup& setup);
// DC-bus measurement counts per volt.
double ComputeDCBusVoltageScale(const CQel_Setup& setup);
// Current measurement counts per ampere.
double ComputeCurrentScale(const CQel_Setup& setup);
// Position counts per radian of the motor shaft.
double ComputeMotorPositionScale(const CQel_Setup& setup);
// Position counts per radian (rotary load) or metre (linear load); signed like the transmission.
double ComputePositionScale(const CQel_Setup& setup);
// Speed units (counts per Ts_S) per rad/s of the motor shaft.
double ComputeMotorSpeedScale(const CQel_Setup& setup);
// Speed units per rad/s (or m/s) of the load; signed like the transmission.
double ComputeSpeedScale(const CQel_Setup& setup);
// Acceleration units (counts per Ts_S squared) per rad/s^2 (or m/s^2) of the load.
double ComputeAccelerationScale(const CQel_Setup& setup);
// Jerk units per rad/s^3 (or m/s^3) of the load.
double ComputeJerkScale(const CQel_Setup& setup);
// Effective PWM dead time, s.
double ComputeDeadTime(const CQel_Setup& setup);
