#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>

#include "drive/MotorThermalModel.h"
#include "drive/SimulatedDrive.h"
#include "tests/drive/CaseLabel.h"
#include "tests/drive/ExampleMotors.h"
#include "tests/drive/FirmwareBench.h"
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

namespace {

using firmware_bench::Bench;

// The protections count for count and period for period: the firmware alone on the bench, its
// inputs set by hand. The current the timed rows put through the motor: 160 counts on the d
// axis, against a nominal current of 96 for the I2t integrators: (160^2 - 96^2) / 16 = 1024, which
// times SFI2T = 2^16 adds exactly 2^26, one unit of the I2t limits, every speed-loop period.
constexpr std::int64_t kCurrent = 160;
constexpr std::int64_t kNominal = 96;
constexpr std::int64_t kOneLimitUnitPerPeriod = 65536;
// Speed-loop periods each run goes through before its condition begins.
constexpr int kQuietPeriods = 3;

// A timed protection: armed to trip after a number of speed-loop periods, provoked by a
// condition that the row switches on and off; what it sets when it trips, a MER bit that
// switches the power stage off, or an MSR warning bit that does not.
struct TimedCase {
    const char* label;
    void (*arm)(drive::DriveRegisters&, std::int64_t periods);
    drive::LoopMode mode;
    void (*condition)(Bench&, bool present);
    int bit;
    bool warning;
    friend std::ostream& operator<<(std::ostream& out, const TimedCase& row) {
        return out << row.label;
    }
};

void OverCurrent(drive::DriveRegisters& r, std::int64_t periods) {
    r.PCR = 0x01;
    r.IMAXPROT = kCurrent - 1;
    r.TIMAXPROT = periods;
}
void CurrentFlows(Bench& bench, bool present) {
    bench.SetCurrentAlongD(present ? kCurrent : 0);
}
void PositionError(drive::DriveRegisters& r, std::int64_t periods) {
    r.ACR = firmware_bench::kAcrPositionPid;
    r.ERRMAX = 100;
    r.TERRMAX = periods;
}
void PositionFarOff(Bench& bench, bool present) {
    bench.Firmware().SetPositionReference(present ? 101 : 0);
}
void PositionFarOffBackwards(Bench& bench, bool present) {
    bench.Firmware().SetPositionReference(present ? -101 : 0);
}
void SpeedError(drive::DriveRegisters& r, std::int64_t periods) {
    r.ACR = firmware_bench::kAcrSpeed;
    r.SERRMAX = 200;
    r.TSERRMAX = periods;
}
void SpeedFarOff(Bench& bench, bool present) {
    bench.Firmware().SetSpeedReference(present ? 201 : 0);
}
void SpeedFarOffBackwards(Bench& bench, bool present) {
    bench.Firmware().SetSpeedReference(present ? -201 : 0);
}
// Over a speed loop the position loop's unit gain makes the position error the speed reference.
void SpeedErrorBehindThePositionLoop(drive::DriveRegisters& r, std::int64_t periods) {
    SpeedError(r, periods);
    r.ACR = firmware_bench::kAcrPositionOverSpeed;
    r.KPP = firmware_bench::kUnitMantissa;
    r.SFTKPP = firmware_bench::kUnitShift;
}
void PositionDrivesSpeedFarOff(Bench& bench, bool present) {
    bench.Firmware().SetPositionReference(present ? 201 : 0);
}
void MotorI2t(drive::DriveRegisters& r, std::int64_t periods) {
    r.PCR = 0x02;
    r.II2TPROT_M = kNominal;
    r.SFI2T_M = kOneLimitUnitPerPeriod;
    r.I2TINTLIM_M = periods;
}
void DriveI2t(drive::DriveRegisters& r, std::int64_t periods) {
    r.PCR = 0x80;
    r.II2TPROT_D = kNominal;
    r.SFI2T_D = kOneLimitUnitPerPeriod;
    r.I2TINTLIM_D = periods;
}
// The warnings with the trip far beyond them.
void MotorI2tWarning(drive::DriveRegisters& r, std::int64_t periods) {
    MotorI2t(r, 1000);
    r.I2TWARLIM_M = periods;
}
void DriveI2tWarning(drive::DriveRegisters& r, std::int64_t periods) {
    DriveI2t(r, 1000);
    r.II2TWARLIM_D = periods;
}
void Fast(drive::DriveRegisters& r) {
    r.UPGRADE = firmware_bench::kUpgradeFastLoop;
}

using TimedParam = std::tuple<TimedCase, int>;

class TimedProtection : public ::testing::TestWithParam<TimedParam> {
  protected:
    void SetUp() override {
        const auto& [row, periods] = GetParam();
        drive::DriveRegisters registers;
        row.arm(registers, periods);
        bench_ = std::make_unique<Bench>(registers);
        bench_->Start(row.mode);
        for (int period = 0; period < kQuietPeriods; ++period) {
            bench_->SpeedLoopPeriod();
        }
        ASSERT_FALSE(Tripped());
        ASSERT_TRUE(bench_->Firmware().IsPowerOn());
    }
    bool Tripped() const {
        const TimedCase& row = std::get<0>(GetParam());
        const drive::DriveFirmware& firmware = bench_->Firmware();
        return ((row.warning ? firmware.MotionStatus() : firmware.MotionErrors()) & Bit(row.bit)) !=
               0;
    }
    // Runs speed-loop periods with the condition present; none of them may trip.
    void RunWithoutTrip(int periods) {
        for (int period = 1; period <= periods; ++period) {
            bench_->SpeedLoopPeriod();
            EXPECT_FALSE(Tripped()) << "tripped after " << period << " periods";
            EXPECT_TRUE(bench_->Firmware().IsPowerOn()) << period;
        }
    }
    // The period that trips: the bit set, and only it; the power stage off unless it warns.
    void ExpectTripNow() {
        const TimedCase& row = std::get<0>(GetParam());
        bench_->SpeedLoopPeriod();
        EXPECT_TRUE(Tripped());
        EXPECT_EQ(bench_->Firmware().IsPowerOn(), row.warning);
        EXPECT_EQ(
            row.warning ? bench_->Firmware().MotionStatus() : bench_->Firmware().MotionErrors(),
            Bit(row.bit));
    }
    std::unique_ptr<Bench> bench_;
};

// The protection time counts the speed-loop periods the condition has lasted, the first in
// which the firmware sees it included: it trips in exactly that many.
TEST_P(TimedProtection, TripsInTheExactPeriodItsTimeRunsOut) {
    const auto& [row, periods] = GetParam();
    row.condition(*bench_, true);
    RunWithoutTrip(periods - 1);
    ExpectTripNow();
}

// The protections that count periods (not the I2t integrators, which keep what they summed).
class TimedCounter : public TimedProtection {};

// A condition that ends one period short of the time trips nothing; the count begins again when
// it returns.
TEST_P(TimedCounter, CountsAfreshWhenItsConditionEnds) {
    const auto& [row, periods] = GetParam();
    row.condition(*bench_, true);
    RunWithoutTrip(periods - 1);
    row.condition(*bench_, false);
    RunWithoutTrip(1);
    row.condition(*bench_, true);
    RunWithoutTrip(periods - 1);
    ExpectTripNow();
}

std::string TimedName(const ::testing::TestParamInfo<TimedParam>& info) {
    return std::string(std::get<0>(info.param).label) + "In" +
           std::to_string(std::get<1>(info.param)) + "Periods";
}

const TimedCase kCounters[] = {
    TimedCase{"OverCurrent", OverCurrent, drive::LoopMode::Current, CurrentFlows,
              drive::mer::kShortCircuitBit, false},
    TimedCase{"OverCurrentInTheFastLoop",
              [](drive::DriveRegisters& r, std::int64_t periods) {
                  OverCurrent(r, periods);
                  Fast(r);
              },
              drive::LoopMode::Current, CurrentFlows, drive::mer::kShortCircuitBit, false},
    TimedCase{"PositionError", PositionError, drive::LoopMode::Position, PositionFarOff,
              drive::mer::kControlErrorBit, false},
    TimedCase{"PositionErrorBackwards", PositionError, drive::LoopMode::Position,
              PositionFarOffBackwards, drive::mer::kControlErrorBit, false},
    TimedCase{"PositionErrorInTheFastLoop",
              [](drive::DriveRegisters& r, std::int64_t periods) {
                  PositionError(r, periods);
                  Fast(r);
              },
              drive::LoopMode::Position, PositionFarOff, drive::mer::kControlErrorBit, false},
    TimedCase{"SpeedError", SpeedError, drive::LoopMode::Speed, SpeedFarOff,
              drive::mer::kControlErrorBit, false},
    TimedCase{"SpeedErrorBackwards", SpeedError, drive::LoopMode::Speed, SpeedFarOffBackwards,
              drive::mer::kControlErrorBit, false},
    TimedCase{"SpeedErrorInTheFastLoop",
              [](drive::DriveRegisters& r, std::int64_t periods) {
                  SpeedError(r, periods);
                  Fast(r);
              },
              drive::LoopMode::Speed, SpeedFarOff, drive::mer::kControlErrorBit, false},
    TimedCase{"SpeedErrorBehindThePositionLoop", SpeedErrorBehindThePositionLoop,
              drive::LoopMode::Position, PositionDrivesSpeedFarOff, drive::mer::kControlErrorBit,
              false}};

// The I2t integrators: their limits and warning levels in units that one period adds.
const TimedCase kIntegrators[] = {
    TimedCase{"MotorI2t", MotorI2t, drive::LoopMode::Current, CurrentFlows,
              drive::mer::kMotorI2tBit, false},
    TimedCase{"DriveI2t", DriveI2t, drive::LoopMode::Current, CurrentFlows,
              drive::mer::kDriveI2tBit, false},
    TimedCase{"MotorI2tWarning", MotorI2tWarning, drive::LoopMode::Current, CurrentFlows,
              drive::msr::kMotorI2tWarningBit, true},
    TimedCase{"DriveI2tWarning", DriveI2tWarning, drive::LoopMode::Current, CurrentFlows,
              drive::msr::kDriveI2tWarningBit, true},
    TimedCase{"MotorI2tInTheFastLoop",
              [](drive::DriveRegisters& r, std::int64_t periods) {
                  MotorI2t(r, periods);
                  Fast(r);
              },
              drive::LoopMode::Current, CurrentFlows, drive::mer::kMotorI2tBit, false}};

INSTANTIATE_TEST_SUITE_P(Counters, TimedProtection,
                         ::testing::Combine(::testing::ValuesIn(kCounters),
                                            ::testing::Values(1, 5)),
                         TimedName);
INSTANTIATE_TEST_SUITE_P(Integrators, TimedProtection,
                         ::testing::Combine(::testing::ValuesIn(kIntegrators),
                                            ::testing::Values(1, 5)),
                         TimedName);
INSTANTIATE_TEST_SUITE_P(Counters, TimedCounter,
                         ::testing::Combine(::testing::ValuesIn(kCounters),
                                            ::testing::Values(1, 5)),
                         TimedName);

// The bench puts the current exactly where the timed rows assume it.
TEST(FirmwareBench, MeasuresTheCurrentOnTheDAxisExactly) {
    Bench bench{drive::DriveRegisters{}};
    bench.SetCurrentAlongD(kCurrent);
    bench.Period();
    EXPECT_EQ(bench.Firmware().CurrentD(), kCurrent);
    EXPECT_EQ(bench.Firmware().CurrentQ(), 0);
}

// A threshold protection: its register at a level, its input at a value. The value at the level
// trips nothing; the level one count on the value's safe side (the value one count past it)
// trips at the first speed-loop period.
struct ThresholdCase {
    const char* label;
    void (*arm)(drive::DriveRegisters&, std::int64_t level);
    drive::LoopMode mode;
    void (*input)(Bench&, std::int64_t value);
    std::int64_t value;
    // +1: the protection trips above its level; -1: below it.
    int side;
    int bit;
    friend std::ostream& operator<<(std::ostream& out, const ThresholdCase& row) {
        return out << row.label;
    }
};

class ThresholdProtection : public ::testing::TestWithParam<ThresholdCase> {
  protected:
    static std::unique_ptr<Bench> Start(const ThresholdCase& row, std::int64_t level) {
        drive::DriveRegisters registers;
        row.arm(registers, level);
        auto bench = std::make_unique<Bench>(registers);
        bench->Start(row.mode);
        row.input(*bench, row.value);
        return bench;
    }
};

TEST_P(ThresholdProtection, HoldsWithItsInputExactlyAtItsLevel) {
    const ThresholdCase& row = GetParam();
    const std::unique_ptr<Bench> bench = Start(row, row.value);
    for (int period = 1; period <= 5; ++period) {
        bench->SpeedLoopPeriod();
        EXPECT_EQ(bench->Firmware().MotionErrors(), 0) << period;
        EXPECT_TRUE(bench->Firmware().IsPowerOn()) << period;
    }
}

TEST_P(ThresholdProtection, TripsWithItsInputOneCountPastItsLevel) {
    const ThresholdCase& row = GetParam();
    const std::unique_ptr<Bench> bench = Start(row, row.value - row.side);
    bench->SpeedLoopPeriod();
    EXPECT_EQ(bench->Firmware().MotionErrors(), Bit(row.bit));
    EXPECT_FALSE(bench->Firmware().IsPowerOn());
}

void Bus(Bench& bench, std::int64_t value) {
    bench.Inputs().busVoltage = value;
}
void MotorSensor(Bench& bench, std::int64_t value) {
    bench.Inputs().motorTemperatureSensor = value;
}
void DriveSensor(Bench& bench, std::int64_t value) {
    bench.Inputs().driveTemperatureSensor = value;
}
void Current(Bench& bench, std::int64_t value) {
    bench.SetCurrentAlongD(value);
}
void PositionReference(Bench& bench, std::int64_t value) {
    bench.Firmware().SetPositionReference(value);
}
void SpeedReference(Bench& bench, std::int64_t value) {
    bench.Firmware().SetSpeedReference(value);
}
void MotorThermistor(drive::DriveRegisters& r, std::int64_t level, std::int64_t type) {
    r.PCR = 0x04;
    r.SCR = 0x80;
    r.MTSTYPE = type;
    r.T1MAXPROT = level;
}

INSTANTIATE_TEST_SUITE_P(Levels, ThresholdProtection,
                         ::testing::Values(
                             ThresholdCase{"OverVoltage",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               r.PCR = 0x10;
                                               r.UMAXPROT = level;
                                           },
                                           drive::LoopMode::Current, Bus, 40000, +1,
                                           drive::mer::kOverVoltageBit},
                             ThresholdCase{"UnderVoltage",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               r.PCR = 0x20;
                                               r.UMINPROT = level;
                                           },
                                           drive::LoopMode::Current, Bus, 30000, -1,
                                           drive::mer::kUnderVoltageBit},
                             ThresholdCase{"MotorPtc",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               MotorThermistor(r, level, 1);
                                           },
                                           drive::LoopMode::Current, MotorSensor, 30000, +1,
                                           drive::mer::kMotorOverTemperatureBit},
                             ThresholdCase{"MotorNtc",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               MotorThermistor(r, level, 0);
                                           },
                                           drive::LoopMode::Current, MotorSensor, 30000, -1,
                                           drive::mer::kMotorOverTemperatureBit},
                             ThresholdCase{"DriveTemperature",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               r.PCR = 0x08;
                                               r.SCR = 0x100;
                                               r.T2MAXPROT = level;
                                           },
                                           drive::LoopMode::Current, DriveSensor, 40000, +1,
                                           drive::mer::kDriveOverTemperatureBit},
                             ThresholdCase{"OverCurrent",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               r.PCR = 0x01;
                                               r.IMAXPROT = level;
                                               r.TIMAXPROT = 1;
                                           },
                                           drive::LoopMode::Current, Current, kCurrent, +1,
                                           drive::mer::kShortCircuitBit},
                             ThresholdCase{"PositionError",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               PositionError(r, 1);
                                               r.ERRMAX = level;
                                           },
                                           drive::LoopMode::Position, PositionReference, 150, +1,
                                           drive::mer::kControlErrorBit},
                             ThresholdCase{"PositionErrorBackwards",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               PositionError(r, 1);
                                               r.ERRMAX = -level;
                                           },
                                           drive::LoopMode::Position, PositionReference, -150, -1,
                                           drive::mer::kControlErrorBit},
                             ThresholdCase{"SpeedError",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               SpeedError(r, 1);
                                               r.SERRMAX = level;
                                           },
                                           drive::LoopMode::Speed, SpeedReference, 250, +1,
                                           drive::mer::kControlErrorBit},
                             ThresholdCase{"SpeedErrorBackwards",
                                           [](drive::DriveRegisters& r, std::int64_t level) {
                                               SpeedError(r, 1);
                                               r.SERRMAX = -level;
                                           },
                                           drive::LoopMode::Speed, SpeedReference, -250, -1,
                                           drive::mer::kControlErrorBit}),
                         ByLabel());

}  // namespace
