#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>

#include "drive/MotorThermalModel.h"
#include "drive/SimulatedDrive.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/ReferenceDrive.h"

// The protections that watch heat: the winding's temperature through its thermistor, the drive's
// heat sink through its sensor, and the I2t integrators' warnings before they trip.
namespace {

using namespace reference_drive;

// Where the winding and the heat sink start.
constexpr double kRoom_C = 25.0;

// Copper losses of the reference motor holding 2 A: 3/2 x 1.2 ohm x (2 A)^2.
constexpr double kHeldCurrent_A = 2.0;
constexpr double kLosses_W = 1.5 * 1.2 * kHeldCurrent_A * kHeldCurrent_A;

void HoldCurrent(drive::SimulatedDrive& axis) {
    axis.Firmware().SetLoopMode(drive::LoopMode::Current);
    ASSERT_TRUE(axis.SwitchOn());
    axis.Firmware().SetCurrentReference(std::llround(kHeldCurrent_A * kCountsPerAmpere), 0);
}

TEST(MotorThermalModel, SettlesAboveTheAmbientByLossesTimesResistanceWithItsTimeConstant) {
    drive::ThermalData data;
    data.thermalResistance_K_W = 2.0;
    data.timeConstant_s = 10.0;
    drive::MotorThermalModel model(data);
    model.SetAmbientTemperature(40.0);
    EXPECT_EQ(model.WindingTemperature_C(), 40.0);
    const double step_s = 1e-3;
    for (int step = 0; step < 10000; ++step) {
        model.Step(50.0, step_s);
    }
    // One time constant: 63 % of the 100 K rise.
    EXPECT_NEAR(model.WindingTemperature_C(), 40.0 + 100.0 * (1.0 - std::exp(-1.0)), 0.1);
    for (int step = 0; step < 200000; ++step) {
        model.Step(50.0, step_s);
    }
    EXPECT_NEAR(model.WindingTemperature_C(), 140.0, 0.01);
    // A warm winding keeps its heat when the room cools, and cools toward it.
    model.SetAmbientTemperature(0.0);
    EXPECT_NEAR(model.WindingTemperature_C(), 140.0, 0.01);
    model.Step(0.0, step_s);
    EXPECT_LT(model.WindingTemperature_C(), 140.0);
    // Without thermal data the winding follows the room and does not heat.
    drive::MotorThermalModel none{drive::ThermalData{}};
    none.SetAmbientTemperature(31.0);
    none.Step(1000.0, 1.0);
    EXPECT_EQ(none.WindingTemperature_C(), 31.0);
}

// PCR bit 2 with SCR bit 7 (the motor's sensor fitted), PCR bit 3 with SCR bit 8 (the drive's).
constexpr std::int64_t kMotorTemperatureArmed = 0x04;
constexpr std::int64_t kDriveTemperatureArmed = 0x08;
constexpr std::int64_t kMotorSensorFitted = 0x80;
constexpr std::int64_t kDriveSensorFitted = 0x100;
// MTSTYPE: 1 a PTC, 0 an NTC.
constexpr std::int64_t kPtc = 1;
constexpr std::int64_t kNtc = 0;
// The drive's sensor (0.5 V + 10 mV per degree, 3.3 V at full scale) at 80 degrees C.
const std::int64_t kDriveLimitAt80 = std::llround(65472.0 * (0.5 + 0.01 * 80.0) / 3.3);

struct TemperatureCase {
    const char* label;
    std::int64_t pcr, scr, sensorType;
    drive::ThermalSensor fitted;
    double ambient_C;
    double driveTemperature_C;
    int bit;  // -1: no trip within the run
    bool atOnce;
    friend std::ostream& operator<<(std::ostream& out, const TemperatureCase& row) {
        return out << row.label;
    }
};

class TemperatureProtection : public ::testing::TestWithParam<TemperatureCase> {};

// The reference motor with a winding of 20 K/W and 0.5 s holds 2 A: 7.2 W settle it 144 K above
// the room, and its thermistor, rated 60 degrees C, crosses half the converter's range (T1MAXPROT
// 32767) when the winding passes 60 degrees: from 25 degrees after -0.5 s x ln(1 - 35 K / 144 K),
// sooner in a warmer room. The drive's
// sensor trips at once above T2MAXPROT. A protection trips only armed and with its sensor fitted;
// a PTC taken for an NTC reads cold as hot and trips at once.
TEST_P(TemperatureProtection, TripsWhenItsSensorCrossesItsLimit) {
    const TemperatureCase& row = GetParam();
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.coulombFriction_Nm = 100.0;  // the rotor stays put
    motor.thermal.thermalResistance_K_W = 20.0;
    motor.thermal.timeConstant_s = 0.5;
    motor.thermal.sensor = row.fitted;
    motor.thermal.sensorRatedTemperature_C = 60.0;
    drive::DriveRegisters registers = CurrentLoopRegisters();
    registers.PCR = row.pcr;
    registers.SCR = row.scr;
    registers.MTSTYPE = row.sensorType;
    registers.T1MAXPROT = 32767;
    registers.T2MAXPROT = kDriveLimitAt80;
    drive::SimulatedDrive axis(motor, QuietHardware(), registers);
    axis.SetAmbientTemperature(row.ambient_C);
    axis.SetDriveTemperature(row.driveTemperature_C);
    HoldCurrent(axis);
    const double run_s = 0.3;
    while (axis.IsOn() && axis.Time_s() < run_s) {
        axis.RunCurrentLoopPeriods(1);
    }
    if (row.bit < 0) {
        EXPECT_TRUE(axis.IsOn());
        EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
        return;
    }
    EXPECT_FALSE(axis.IsOn());
    EXPECT_EQ(axis.Firmware().MotionErrors(), Bit(row.bit));
    const double expected_s =
        row.atOnce ? 0.0 : -0.5 * std::log(1.0 - (60.0 - row.ambient_C) / (kLosses_W * 20.0));
    // The loop holds 2 A within half a converter step (1.6 %, 3 % of the losses); the speed loop
    // looks every 0.5 ms.
    EXPECT_NEAR(axis.Time_s(), expected_s, 0.05 * expected_s + 2 * kSpeedLoopPeriod_s);
    if (!row.atOnce && row.bit == drive::mer::kMotorOverTemperatureBit) {
        EXPECT_NEAR(axis.Thermal().WindingTemperature_C(), 60.0, 0.5);
    }
    EXPECT_FALSE(axis.SwitchOn());
}

INSTANTIATE_TEST_SUITE_P(
    Sensors, TemperatureProtection,
    ::testing::Values(TemperatureCase{"MotorPtc", kMotorTemperatureArmed, kMotorSensorFitted, kPtc,
                                      drive::ThermalSensor::PTC, kRoom_C, kRoom_C,
                                      drive::mer::kMotorOverTemperatureBit, false},
                      TemperatureCase{"MotorPtcInAWarmRoom", kMotorTemperatureArmed,
                                      kMotorSensorFitted, kPtc, drive::ThermalSensor::PTC, 45.0,
                                      kRoom_C, drive::mer::kMotorOverTemperatureBit, false},
                      TemperatureCase{"MotorNtc", kMotorTemperatureArmed, kMotorSensorFitted, kNtc,
                                      drive::ThermalSensor::NTC, kRoom_C, kRoom_C,
                                      drive::mer::kMotorOverTemperatureBit, false},
                      TemperatureCase{"PtcTakenForAnNtc", kMotorTemperatureArmed,
                                      kMotorSensorFitted, kNtc, drive::ThermalSensor::PTC, kRoom_C,
                                      kRoom_C, drive::mer::kMotorOverTemperatureBit, true},
                      TemperatureCase{"MotorNotArmed", 0, kMotorSensorFitted, kPtc,
                                      drive::ThermalSensor::PTC, kRoom_C, kRoom_C, -1, false},
                      TemperatureCase{"MotorSensorNotFitted", kMotorTemperatureArmed, 0, kPtc,
                                      drive::ThermalSensor::PTC, kRoom_C, kRoom_C, -1, false},
                      TemperatureCase{"DriveAboveItsLimit", kDriveTemperatureArmed,
                                      kDriveSensorFitted, kPtc, drive::ThermalSensor::PTC, kRoom_C,
                                      85.0, drive::mer::kDriveOverTemperatureBit, true},
                      TemperatureCase{"DriveBelowItsLimit", kDriveTemperatureArmed,
                                      kDriveSensorFitted, kPtc, drive::ThermalSensor::PTC, kRoom_C,
                                      75.0, -1, false},
                      TemperatureCase{"DriveSensorNotFitted", kDriveTemperatureArmed, 0, kPtc,
                                      drive::ThermalSensor::PTC, kRoom_C, 85.0, -1, false}),
    ByLabel());

struct WarningCase {
    const char* label;
    std::int64_t pcr;
    void (*arm)(drive::DriveRegisters&, std::int64_t nominal, std::int64_t scale,
                std::int64_t limit, std::int64_t warning);
    int warningBit, faultBit;
    friend std::ostream& operator<<(std::ostream& out, const WarningCase& row) {
        return out << row.label;
    }
};

class I2tWarning : public ::testing::TestWithParam<WarningCase> {};

// Nominal 1 A, 2 A allowed for 4 s: SFI2T = Ts_S 2^26 / 4 s, the limit (2^2 - 1^2) A^2 x 1984^2 /
// 16 and the warning level that limit x (1 - 2 / 4 s). Holding 2 A the warning comes at 2 s with
// the power stage still on, the fault at 4 s.
TEST_P(I2tWarning, WarnsTwoSecondsBeforeItTrips) {
    const WarningCase& row = GetParam();
    const double limit = 3.0 * kCountsPerAmpere * kCountsPerAmpere / 16.0;
    const double allowed_s = 4.0;
    drive::DriveRegisters registers = CurrentLoopRegisters();
    registers.PCR = row.pcr;
    row.arm(registers, std::llround(kCountsPerAmpere),
            std::llround(kSpeedLoopPeriod_s * 67108864.0 / allowed_s), std::llround(limit),
            std::llround(limit * (1.0 - 2.0 / allowed_s)));
    drive::MotorData motor = LoadExampleMotor("reference-axis-motor.json");
    motor.coulombFriction_Nm = 100.0;
    drive::SimulatedDrive axis(motor, QuietHardware(), registers);
    HoldCurrent(axis);
    double warned_s = -1.0;
    while (axis.IsOn() && axis.Time_s() < 2 * allowed_s) {
        axis.RunCurrentLoopPeriods(1);
        if (warned_s < 0.0 && (axis.Firmware().MotionStatus() & Bit(row.warningBit)) != 0) {
            warned_s = axis.Time_s();
            EXPECT_TRUE(axis.IsOn());
            EXPECT_EQ(axis.Firmware().MotionErrors(), 0);
        }
    }
    // The current is 2 A within half a converter step: 4 s within 2 %.
    EXPECT_NEAR(warned_s, allowed_s - 2.0, 0.02 * allowed_s);
    EXPECT_NEAR(axis.Time_s(), allowed_s, 0.02 * allowed_s);
    EXPECT_EQ(axis.Firmware().MotionErrors(), Bit(row.faultBit));
}

INSTANTIATE_TEST_SUITE_P(
    Integrators, I2tWarning,
    ::testing::Values(WarningCase{"Motor", 0x02,
                                  [](drive::DriveRegisters& r, std::int64_t nominal,
                                     std::int64_t scale, std::int64_t limit, std::int64_t warning) {
                                      r.II2TPROT_M = nominal;
                                      r.SFI2T_M = scale;
                                      r.I2TINTLIM_M = limit;
                                      r.I2TWARLIM_M = warning;
                                  },
                                  drive::msr::kMotorI2tWarningBit, drive::mer::kMotorI2tBit},
                      WarningCase{"Drive", 0x80,
                                  [](drive::DriveRegisters& r, std::int64_t nominal,
                                     std::int64_t scale, std::int64_t limit, std::int64_t warning) {
                                      r.II2TPROT_D = nominal;
                                      r.SFI2T_D = scale;
                                      r.I2TINTLIM_D = limit;
                                      r.II2TWARLIM_D = warning;
                                  },
                                  drive::msr::kDriveI2tWarningBit, drive::mer::kDriveI2tBit}),
    ByLabel());

}  // namespace
