#pragma once

class CQel_Setup;

// What the setup says about this kind of axis, beyond its registers: the fixed axis options, the
// closed loops chosen by the control mode, and rotary or linear units for the load's quantities.

// Writes the fixed axis options, then the three closed-loop options chosen by ControlMode (and
// PositionControlType in position mode). False, with the loop options untouched, when a name is
// missing or the combination is not one the drive knows.
bool SetFixedOptions(CQel_Setup& setup);

// Moves every position, speed, acceleration and jerk quantity of the load to linear units when
// TransmissionType is not 0, to rotary units otherwise. Absent parameters are reported and
// skipped, absent variables skipped; without TransmissionType (reported) nothing changes, since
// neither family can be told. Always succeeds.
bool SetUnitTypesByTransmission(CQel_Setup& setup);

// Outside position control with a speed loop, the speed reference is always fed forward: sets
// SpeedForward to 1 and its ACR bit. False when a name is missing or a write is refused.
bool ForceSpeedForward(CQel_Setup& setup);
