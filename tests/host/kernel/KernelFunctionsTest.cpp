#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "host/kernel/KernelFunctions.h"
#include "host/kernel/SetupFile.h"
#include "tests/host/kernel/KernelTestSupport.h"

namespace {

struct AdcCase {
    int adcBits;
    int adcWordBits;
    std::uint32_t expected;
    friend std::ostream& operator<<(std::ostream& out, const AdcCase& row) {
        return out << row.adcBits << " bits in " << row.adcWordBits;
    }
};

class AdcMaxValue : public ::testing::TestWithParam<AdcCase> {};

TEST_P(AdcMaxValue, IsTheFullScaleCountLeftAlignedInTheWord) {
    CQel_Setup setup;
    setup.SetAdcFormat({GetParam().adcBits, GetParam().adcWordBits});
    EXPECT_EQ(Compute_ADCMaxValue(setup), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, AdcMaxValue,
                         ::testing::Values(AdcCase{10, 16, 65472}, AdcCase{12, 16, 65520},
                                           AdcCase{16, 16, 65535}, AdcCase{32, 32, 4294967295u},
                                           AdcCase{1, 32, 2147483648u}, AdcCase{1, 1, 1},
                                           AdcCase{0, 16, 0}, AdcCase{12, 8, 0}, AdcCase{33, 33, 0},
                                           AdcCase{-1, 16, 0}));

struct RoundCase {
    double value;
    int decimals;
    double expected;
    friend std::ostream& operator<<(std::ostream& out, const RoundCase& row) {
        return out << row.value << " to " << row.decimals << " decimals";
    }
};

class RoundDecimal : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundDecimal, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(RoundDecimalValue(GetParam().value, GetParam().decimals), GetParam().expected);
}

// Halves that a double holds exactly, so that the expected direction is not blurred.
INSTANTIATE_TEST_SUITE_P(Decimals, RoundDecimal,
                         ::testing::Values(RoundCase{2.5, 0, 3}, RoundCase{-2.5, 0, -3},
                                           RoundCase{0.5, 0, 1}, RoundCase{-0.5, 0, -1},
                                           RoundCase{2.4, 0, 2}, RoundCase{1.25, 1, 1.3},
                                           RoundCase{-1.25, 1, -1.3}, RoundCase{0.125, 2, 0.13},
                                           RoundCase{-0.125, 2, -0.13}, RoundCase{0.0625, 3, 0.063},
                                           RoundCase{-0.0625, 3, -0.063},
                                           RoundCase{1.2344, 3, 1.234}, RoundCase{-7.0, 2, -7.0}));

TEST(RoundDecimalLarge, LeavesValuesWithoutFractionUnchanged) {
    EXPECT_EQ(RoundDecimalValue(1e306, 3), 1e306);
    EXPECT_EQ(RoundDecimalValue(-1e300, 17), -1e300);
}

struct ModuloCase {
    std::int64_t value;
    std::int64_t modulus;
    std::int64_t expected;
    friend std::ostream& operator<<(std::ostream& out, const ModuloCase& row) {
        return out << row.value << " mod " << row.modulus;
    }
};

class Modulo : public ::testing::TestWithParam<ModuloCase> {};

TEST_P(Modulo, IsNeverNegative) {
    EXPECT_EQ(PositiveModulo(GetParam().value, GetParam().modulus), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Modulo,
    ::testing::Values(ModuloCase{-1, 16, 15}, ModuloCase{-16, 16, 0}, ModuloCase{-17, 16, 15},
                      ModuloCase{17, 16, 1}, ModuloCase{0, 5, 0},
                      ModuloCase{std::numeric_limits<std::int64_t>::min(), 7, 6}));

struct ColourCase {
    int code;
    QelColour expected;
    friend std::ostream& operator<<(std::ostream& out, const ColourCase& row) {
        return out << "code " << row.code;
    }
};

class Palette : public ::testing::TestWithParam<ColourCase> {};

TEST_P(Palette, GivesTheColourOfTheCodeWrappingAround) {
    EXPECT_EQ(RGB16(GetParam().code), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, Palette,
                         ::testing::Values(ColourCase{2, {0, 128, 0}}, ColourCase{5, {128, 0, 128}},
                                           ColourCase{18, {0, 128, 0}},
                                           ColourCase{-11, {128, 0, 128}},
                                           ColourCase{15, {255, 255, 255}},
                                           ColourCase{16, {0, 0, 0}},
                                           ColourCase{-1, {255, 255, 255}}));

struct FirmwareCase {
    const char* id;
    bool valid;
    friend std::ostream& operator<<(std::ostream& out, const FirmwareCase& row) {
        return out << Printable(row.id);
    }
};

class FirmwareId : public ::testing::TestWithParam<FirmwareCase> {};

TEST_P(FirmwareId, IsAcceptedOnlyWhenWellFormedAndABadOneKeepsTheOld) {
    CQel_Setup setup;
    ASSERT_EQ(setup.SetFirmwareID("F280"), 1);

    EXPECT_EQ(qel::IsValidFirmwareId(GetParam().id), GetParam().valid);
    EXPECT_EQ(setup.SetFirmwareID(GetParam().id), GetParam().valid ? 1 : 0);
    EXPECT_EQ(setup.GetFirmwareID(), GetParam().valid ? GetParam().id : "F280");
}

INSTANTIATE_TEST_SUITE_P(Ids, FirmwareId,
                         ::testing::Values(FirmwareCase{"F514G", true}, FirmwareCase{"a", true},
                                           FirmwareCase{"A.b-c_9", true},
                                           FirmwareCase{"Abcdefghijklmnop", true},
                                           FirmwareCase{"Abcdefghijklmnopq", false},
                                           FirmwareCase{"", false}, FirmwareCase{"1abc", false},
                                           FirmwareCase{"_abc", false}, FirmwareCase{"ab c", false},
                                           FirmwareCase{"ab/c", false},
                                           FirmwareCase{"\xC3\xA9t\xC3\xA9", false}));

TEST(UserAppId, IsCutToFortyCharacters) {
    CQel_Setup setup;
    setup.SetUserAppID(std::string(40, 'x') + "yz");
    EXPECT_EQ(setup.GetUserAppID(), std::string(40, 'x'));
    setup.SetUserAppID("Conveyor");
    EXPECT_EQ(setup.GetUserAppID(), "Conveyor");
}

TEST(UserAppId, CutNeverSplitsACharacterSoTheSetupStaysWritable) {
    CQel_Setup setup;
    setup.SetUserAppID(std::string(39, 'x') + "\xC3\xA9");
    EXPECT_EQ(setup.GetUserAppID(), std::string(39, 'x'));
    EXPECT_NO_THROW(qel::SerializeSetup(setup));
}

TEST(IoPorts, MapPinsAndPortsBothWaysAndUnknownOnesToMinusOne) {
    CQel_Setup setup;
    EXPECT_EQ(setup.GetIOPortFromPin(3), -1);
    setup.SetIoPorts({{.pin = 3, .port = 1}, {.pin = 7, .port = 2, .brake = true}});

    EXPECT_EQ(setup.GetIOPortFromPin(3), 1);
    EXPECT_EQ(setup.GetIOPortFromPin(7), 2);
    EXPECT_EQ(setup.GetIOPinFromPort(2), 7);
    EXPECT_EQ(setup.GetIOPinFromPort(1), 3);
    EXPECT_EQ(setup.GetIOPortFromPin(1), -1);
    EXPECT_EQ(setup.GetIOPinFromPort(3), -1);
}

}  // namespace
