#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>

#include "drive/DriveRegisters.h"
#include "drive/FixedPoint.h"
#include "tests/drive/CaseLabel.h"

namespace {

using drive::fixed::Q15Gain;

struct GainCase {
    const char* label;
    std::int64_t mantissa;
    int shift;
    std::int64_t input;
    friend std::ostream& operator<<(std::ostream& out, const GainCase& row) {
        return out << row.label;
    }
};

class Q15Product : public ::testing::TestWithParam<GainCase> {};

// The drive multiplies by mantissa x 2^shift and shifts right by 15: the gain M 2^S / 32767 the
// registers stand for, within the 1/32768 that dividing by 2^15 instead of 32767 costs, and the
// half unit of rounding.
TEST_P(Q15Product, AppliesMantissaTimesTwoToTheShiftOver32767) {
    const GainCase& row = GetParam();
    const double gain = static_cast<double>(row.mantissa) * std::ldexp(1.0, row.shift) / 32767.0;
    const double exact = gain * static_cast<double>(row.input);
    const std::int64_t product =
        drive::fixed::Multiply(row.input, Q15Gain{row.mantissa, row.shift});
    EXPECT_NEAR(static_cast<double>(product), exact, std::fabs(exact) / 32768.0 + 0.5)
        << "gain " << gain;
}

INSTANTIATE_TEST_SUITE_P(Gains, Q15Product,
                         ::testing::Values(GainCase{"ReferenceCurrentKp", 19986, 4, 1984},
                                           GainCase{"ReferenceCurrentKpNegativeError", 19986, 4,
                                                    -1984},
                                           GainCase{"SmallIntegralGain", 20, 0, 1000000},
                                           GainCase{"UnitGain", 32767, 0, 12345},
                                           GainCase{"LargestDesignedGain", 32767, 14, 1000},
                                           GainCase{"NegativeShift", 16384, -3, 80000}),
                         ByLabel());

TEST(ElectricalAngleSine, FollowsTheSineOfTheSixteenBitAngleWithinOneUnit) {
    for (std::int64_t angle = -70000; angle <= 70000; angle += 77) {
        const double exact = std::sin(2 * std::numbers::pi * static_cast<double>(angle) / 65536.0);
        EXPECT_NEAR(static_cast<double>(drive::fixed::SineQ15(angle)), exact * 32767.0, 1.0)
            << angle;
    }
    EXPECT_EQ(drive::fixed::SineQ15(16384), 32767);
    EXPECT_EQ(drive::fixed::CosineQ15(0), 32767);
    EXPECT_EQ(drive::fixed::SineQ15(-16384), -32767);
}

struct WriteCase {
    const char* label;
    const char* name;
    double written;
    std::int64_t stored;
    friend std::ostream& operator<<(std::ostream& out, const WriteCase& row) {
        return out << row.label;
    }
};

class RegisterWrite : public ::testing::TestWithParam<WriteCase> {};

// A register keeps what its width holds, like the drive's memory: the rounded value's low bits,
// read with or without a sign.
TEST_P(RegisterWrite, KeepsWhatTheRegisterWidthHolds) {
    const WriteCase& row = GetParam();
    drive::DriveRegisters registers;
    ASSERT_TRUE(drive::SetRegister(registers, row.name, row.written));
    EXPECT_EQ(drive::GetRegister(registers, row.name), row.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, RegisterWrite,
    ::testing::Values(WriteCase{"Rounded", "KPI", 24575.25, 24575},
                      WriteCase{"RoundedUp", "KPI", 16383.5, 16384},
                      WriteCase{"UnsignedWraps", "PWMPER", 70000, 4464},
                      WriteCase{"UnsignedFromNegative", "TERRMAX", -1, 65535},
                      WriteCase{"SignedSaturationBelowZero", "SATS", -1000, -1000},
                      WriteCase{"SignedWraps", "SATP", 40000, -25536},
                      WriteCase{"ThirtyTwoBitsUnsigned", "ENC2THL", 4294967295.0, 4294967295},
                      WriteCase{"BiquadCoefficientSigned", "BQ2A1", -1072270438, -1072270438},
                      WriteCase{"BiquadCoefficientWraps", "BQ3B0", 2147483648.0, -2147483648},
                      WriteCase{"NameWithoutCase", "kpi", 100, 100}),
    ByLabel());

TEST(RegisterWriteRefusal, RefusesUnknownNamesAndNonNumbers) {
    drive::DriveRegisters registers;
    EXPECT_FALSE(drive::SetRegister(registers, "NOT_A_REGISTER", 1));
    EXPECT_FALSE(drive::SetRegister(registers, "KPI", std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(drive::SetRegister(registers, "KPI", std::numeric_limits<double>::infinity()));
    EXPECT_EQ(registers.KPI, drive::DriveRegisters{}.KPI);
    EXPECT_FALSE(drive::GetRegister(registers, "NOT_A_REGISTER").has_value());
    // Beyond the 64-bit range the value is brought in first, then fitted: no overflow.
    EXPECT_TRUE(drive::SetRegister(registers, "I2TINTLIM_M", 1e300));
    EXPECT_GE(*drive::GetRegister(registers, "I2TINTLIM_M"), 0);
}

}  // namespace
