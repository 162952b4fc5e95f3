#pragma once

#include <optional>

#include "engine/ClosedLoop.h"

class CQel_Setup;

// Controller gains from a bandwidth and a damping per loop, with the motor and load data. The
// gains are scaled to the drive's internal units per sampling period; the register computation
// splits them into mantissa and shift. Each function looks all its names up first and, when one
// is missing (the kernel reports it), writes nothing and returns false; it also returns false
// when the kernel refuses a gain (not a finite number).

// Kp_C_scl, then Ki_C_scl, of the current controller, from PB_C and Dump_C.
bool DesignCurrentController(CQel_Setup& setup);
// Ki_S_scl, then Kp_S_scl, of the speed controller, from PB_S and Dump_S.
bool DesignSpeedController(CQel_Setup& setup);
// Ki_P_scl, Kp_P_scl, then Kd_P_scl, of the position controller, from PB_P and Dump_P.
bool DesignPositionController(CQel_Setup& setup);

enum class ControlLoop { Current, Speed, Position };

// The closed loop the loop's design aims at, from the same parameters the design reads: what a
// step response of the tuned loop is compared with. The current loop's PI on the winding's RL
// circuit, the speed loop's PI on the inertia and the position loop's PI on an ideal speed loop
// have one zero and two poles; the position loop's PID on the current, one pole more. The drive
// runs them sampled, with a period of delay, so they match the continuous loops only at
// bandwidths well below the sampling rate. None when the setup lacks one of the parameters.
std::optional<ClosedLoop> DesignedClosedLoop(const CQel_Setup& setup, ControlLoop loop);

// The highest passband at which the loop's design holds for the sampled loops the drive runs: the
// current loop's bandwidth x period within kCurrentLoopBandwidthPeriods, the speed loop's and the
// position PID's within kOuterLoopBandwidthPeriods, and each outer loop a tenth of the loop it
// commands (the speed loop's design takes the current loop as ideal, the position loop's the
// speed loop or, as a PID on the current, the current loop). None when the setup lacks a
// parameter it reads.
std::optional<double> HighestValidPassband_rad_s(const CQel_Setup& setup, ControlLoop loop);
