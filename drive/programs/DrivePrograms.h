#pragma once

#include <memory>

#include "drive/programs/TestProgram.h"

namespace drive {

// "Initial_Positioning_Test": aligns the rotor's d axis with a current of "In1" converter counts
// along phase A (the q current of the test frame at test angle -16384). Returns in "In1" the
// current it reached (0 when it reached none) and sets the drive variables "REFTST_V" (the
// current reference it holds the rotor with) and "RINCTST_V" (its ramp, counts per current-loop
// period).
std::unique_ptr<TestProgram> MakeInitialPositioningTest();

// "Ident_R_or_Rs": a steady current "In1" along the rotor's d axis (the positioning's), taken
// over from the positioning's "RefTest" by a ramp of "RIncTest" counts a period, carried as the q
// current of the test frame;
// sets "var_i1" (the mean q voltage command it took) and "var_u2" (the mean DC-bus converter
// reading) and logs "IQ" over its measuring window.
std::unique_ptr<TestProgram> MakeResistanceTest();

// "Ident_L_or_Tau_el": a voltage of constant amplitude rotating at "TINCTST" a period, adjusted
// until the current's amplitude is "In1"; sets "var_i1" (the amplitude, command units, with the
// modulator's hold and delay accounted for) and logs "ID" and "IQ" over its measuring window.
std::unique_ptr<TestProgram> MakeInductanceTest();

// "VDC_Detection_Test": sets "var_u2" to the mean DC-bus converter reading.
std::unique_ptr<TestProgram> MakeVdcDetectionTest();

// "Encoder_Resolution_And_Direction_Test": holds the rotor with a current of "RefTest" counts,
// turns the field "PolesPairs" electrical turns (one mechanical turn when they are the motor's),
// and sets "var_lf_long" to the position counter's travel at the electrical resolution, live
// while it turns and settled at the end.
std::unique_ptr<TestProgram> MakeEncoderResolutionTest();

// "Motor_Pole_Pairs_Detection_Test": holds the rotor with "RefTest" counts; each time the host
// writes 0 to "var_i2" it turns the field one electrical turn, leaving "THTST" at -16383 when the
// move ends and counting the moves in "poles_pairs"; writing 1 to "var_i2" ends the program with
// "var_i2" set to the count.
std::unique_ptr<TestProgram> MakePolePairsTest();

// "Total_Inertia_Identification_Test": after a positioning, accelerates the rotor from rest with
// a q current of "In1" counts (ramped by "RIncTest") until its speed reaches "LimitSpeedMax"
// (counts per speed-loop period), then brakes it. "delta_time" is the speed-loop periods the
// constant current took for the speed change "delta_speed"; "test_flag" is 1 when the rotor
// turned forward. A run that measured nothing sets "delta_time" to -1 (the rotor turned
// backward, "test_flag" 0), -2 (it did not move) or -3 (it did not reach the speed, or the
// current exceeded "Imax_Prot_Test").
std::unique_ptr<TestProgram> MakeInertiaTest();

// "Encoder_Offset_Zero_And_A_Detection_Test": with the rotor held by "RefTest" counts (ramped by
// "RIncTest") and come to rest with its d axis on phase A, stores the absolute encoder's position
// as the encoder's offset and sets "ENDAT_DATA1" and "ENDAT_DATA2" to its low and high 16 bits. A
// failed read or write sets its bit in CER and leaves both at 0.
std::unique_ptr<TestProgram> MakeEncoderOffsetTest();

// "Motor_Phase_Connection_Test": drives "RefTest" counts into phase A (out through B and C) and
// sets "var_i1" and "var_i2" to the mean measured currents of phases A and B (converter counts).
std::unique_ptr<TestProgram> MakePhaseConnectionTest();

// "Encoder_Connection_Test": switches the power stage on with no current so that the shaft turns
// freely by hand; ends when the host writes 1 to "var_i2".
std::unique_ptr<TestProgram> MakeEncoderConnectionTest();

// "Current_Controller_Tuning_Test": a step of "In1" counts of the current reference along the
// rotor's d axis (held there by the positioning), logged ("Current_Reference", "Motor_Current",
// "Voltage_Reference") over 100 current-loop periods from 5 before the step; "test_flag" is 1, or
// 0 when the current exceeded "Imax_Prot_Test" (the power stage is then switched off at once).
std::unique_ptr<TestProgram> MakeCurrentTuningTest();

// "Speed_Controller_Tuning_Test", "Position_Controller_Tuning_Test_with_SpdCtrl" and
// "Position_Controller_Tuning_Test_without_SpdCtrl": the six-segment reference ("a0" to "a5"
// lengths in speed-loop periods, "b0" to "b5" increments a period) as the speed reference, or as
// the position reference from where the rotor stands (the firmware's ACR decides whether a speed
// loop runs under it), once or cyclically while "MultiC" is 1; "test_flag" 1, or 0 when the
// current exceeded "Imax_Prot_Test". The rotor's d axis must lie on phase A (a positioning).
std::unique_ptr<TestProgram> MakeSpeedTuningTest();
std::unique_ptr<TestProgram> MakePositionTuningTest(bool withSpeedLoop);

// "Analogue_Reference_Test": has the firmware convert the analogue reference input ("AD5") every
// current-loop period, whatever ACR says, until the host stops it; the power stage stays off, so
// turning the potentiometer moves nothing. "STARTED" turns 1 at its first period.
std::unique_ptr<TestProgram> MakeAnalogueReferenceTest();

// "Angle_Controller_Tuning_Test": aligns the rotor's d axis on phase A with a current of "In1"
// counts, then lets the electric angle controller search the rotor's angle from a quarter turn
// away while the q current of its frame ramps up by "ReferenceIncrement" counts a speed-loop
// period to "In1", holds it for "TimeLimit" speed-loop periods and ramps it down; logs over the
// search. "theta_1" is the angle the controller should reach (the rotor's d axis where the
// alignment left it, less a quarter turn: -16384) and "test_flag" the verdict: 1 when the
// controller's angle stayed within 10 electrical degrees of it over the last tenth of the hold,
// -2 when not, -3 when the rotor never moved (the current too weak to turn it), -1 when the
// current exceeded the protection level IMAXPROT (the program then stops at once). A run a
// protection or an input cut short leaves both at 1.2345e100, the host's "no value".
std::unique_ptr<TestProgram> MakeAngleControllerTuningTest();

}  // namespace drive
