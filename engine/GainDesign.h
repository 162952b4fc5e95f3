#pragma once

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
