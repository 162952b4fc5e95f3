#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "drive/SetupLoader.h"
#include "drive/SimulatedDrive.h"
#include "engine/RegisterComputation.h"
#include "host/kernel/Setup.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/support/Examples.h"

// Writes a parameter whatever its range, as an identification that found this value would.
inline void ForceParameter(CQel_Setup& setup, const std::string& name, double value) {
    CQel_Parameter* parameter = setup.FindParameter(name);
    ASSERT_NE(parameter, nullptr) << name;
    parameter->SetMinInBaseUnit(std::min(parameter->GetMinInBaseUnit(), value));
    parameter->SetMaxInBaseUnit(std::max(parameter->GetMaxInBaseUnit(), value));
    ASSERT_TRUE(parameter->SetValueInBaseUnit(value)) << name;
}

// The reference axis's setup describing this motor with its true values, as if every
// identification had found them exactly.
inline std::unique_ptr<CQel_Setup> SetupForMotor(const drive::MotorData& motor) {
    std::unique_ptr<CQel_Setup> setup = LoadExample("reference-axis.json");
    if (!setup) {
        return setup;
    }
    const bool delta = motor.connection == drive::PhaseConnection::Delta;
    ForceParameter(*setup, "MotorPhaseConnectionType", delta ? 1 : 0);
    ForceParameter(*setup, "R", motor.phaseResistance_ohm);
    ForceParameter(*setup, "L", motor.phaseInductance_H);
    ForceParameter(*setup, "K", motor.torqueConstant_Nm_A);
    ForceParameter(*setup, "pp", motor.polePairs);
    ForceParameter(*setup, "Jm", motor.rotorInertia_kgm2);
    ForceParameter(*setup, "Jt", motor.TotalInertia_kgm2());
    ForceParameter(*setup, "No_encoder_lines", motor.encoder.lines);
    // The scales the designs use come from the registers (encoder counts, pole pairs): registers
    // first, as the setup dialogs do before a test.
    ComputeDriveRegisters(*setup);
    return setup;
}

enum class DeadTime { AsTheSetupSays, Without };

// A drive running the motor from the setup's registers and hardware (no measurement noise).
inline std::unique_ptr<drive::SimulatedDrive> DriveFromSetup(
    const CQel_Setup& setup, const drive::MotorData& motor,
    DeadTime deadTime = DeadTime::AsTheSetupSays) {
    drive::DriveFromSetup loaded = drive::ReadDriveFromSetup(setup);
    EXPECT_TRUE(loaded.missing.empty()) << loaded.missing.front();
    if (deadTime == DeadTime::Without) {
        loaded.hardware.deadTime_s = 0.0;
    }
    return std::make_unique<drive::SimulatedDrive>(motor, loaded.hardware, loaded.registers);
}
