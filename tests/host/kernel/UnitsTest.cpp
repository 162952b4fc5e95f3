#include <gtest/gtest.h>

#include <numbers>
#include <ostream>
#include <string>

#include "host/kernel/Setup.h"
#include "host/kernel/Units.h"
#include "tests/host/kernel/KernelTestSupport.h"
#include "tests/support/CollectedErrors.h"

namespace {

using qel::ValueKind;

constexpr double kPi = std::numbers::pi;
constexpr const char* kCelsius =
    "\xC2\xB0"
    "C";
constexpr const char* kCelsiusWindows1252 =
    "\xB0"
    "C";

// A setup with one parameter of the given family, scaled ones through factor 1/2, offset 0.
class OneParameter {
  public:
    OneParameter(const char* family, ValueKind kind) {
        fake::Reset(0.5, 0);
        setup_.SetScaleFunctions(fake::Functions());
        parameter_ = setup_.AddParameter(fake::Definition("P", family, kind, 0));
    }
    CQel_Parameter& operator*() { return *parameter_; }
    CQel_Parameter* operator->() { return parameter_; }

  private:
    CQel_Setup setup_;
    CQel_Parameter* parameter_;
};

struct DisplayCase {
    const char* family;
    ValueKind kind;
    const char* unit;
    double base;
    double display;
    friend std::ostream& operator<<(std::ostream& out, const DisplayCase& row) {
        return out << row.base << " " << row.family << " in " << Printable(row.unit);
    }
};

class DisplayUnit : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayUnit, ShowsTheBaseValueInTheSelectedUnit) {
    const DisplayCase& row = GetParam();
    OneParameter parameter(row.family, row.kind);
    ASSERT_TRUE(parameter->SetValueInBaseUnit(row.base));
    ASSERT_TRUE(parameter->ChangeUnit(row.unit));

    EXPECT_EQ(parameter->GetUnitName(), row.unit);
    EXPECT_DOUBLE_EQ(parameter->GetValue(), row.display);
    EXPECT_DOUBLE_EQ(parameter->GetValueInUnit(row.unit), row.display);
}

TEST_P(DisplayUnit, TakesAValueGivenInTheSelectedUnit) {
    const DisplayCase& row = GetParam();
    OneParameter parameter(row.family, row.kind);
    ASSERT_TRUE(parameter->ChangeUnit(row.unit));

    ASSERT_TRUE(parameter->SetValue(row.display));

    EXPECT_DOUBLE_EQ(parameter->GetValueInBaseUnit(), row.base);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, DisplayUnit,
    ::testing::Values(DisplayCase{"current", ValueKind::Physical, "mA", 1.5, 1500},
                      DisplayCase{"current", ValueKind::Scaled, "mA", 3, 3000},
                      DisplayCase{"time", ValueKind::Physical, "ms", 0.002, 2},
                      DisplayCase{"time", ValueKind::Physical, "\xC2\xB5s", 0.002, 2000},
                      DisplayCase{"time", ValueKind::Physical, "min", 120, 2},
                      DisplayCase{"rotary_speed", ValueKind::Physical, "rpm", 2 * kPi, 60},
                      DisplayCase{"rotary_position", ValueKind::Physical, "rot", 4 * kPi, 2},
                      DisplayCase{"rotary_position", ValueKind::Physical, "deg", kPi / 2, 90},
                      DisplayCase{"linear_position", ValueKind::Physical, "mm", 0.25, 250},
                      DisplayCase{"frequency", ValueKind::Physical, "kHz", 20000, 20},
                      DisplayCase{"inertia", ValueKind::Physical, "kgcm^2", 3e-4, 3},
                      DisplayCase{"time", ValueKind::Scaled, "IU", 3, 6},
                      DisplayCase{"current", ValueKind::Physical, "IU", 3, 3}));

struct ChangeUnitCase {
    const char* family;
    const char* unit;
    bool accepted;
    const char* selected;
    friend std::ostream& operator<<(std::ostream& out, const ChangeUnitCase& row) {
        return out << row.family << " to " << Printable(row.unit);
    }
};

class ChangeUnit : public ::testing::TestWithParam<ChangeUnitCase> {};

TEST_P(ChangeUnit, SelectsOnlyAUnitOfTheFamilyAndReportsAForeignOne) {
    const ChangeUnitCase& row = GetParam();
    OneParameter parameter(row.family, ValueKind::Physical);
    CollectedErrors errors;

    EXPECT_EQ(parameter->ChangeUnit(row.unit), row.accepted);

    EXPECT_EQ(parameter->GetUnitName(), row.selected);
    EXPECT_EQ(parameter->GetUnitFamily().id, row.family);
    EXPECT_EQ(errors.Messages().size(), row.accepted ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Families, ChangeUnit,
                         ::testing::Values(ChangeUnitCase{"current", "mA", true, "mA"},
                                           ChangeUnitCase{"current", "IU", true, "IU"},
                                           ChangeUnitCase{"current", "ms", false, "A"},
                                           ChangeUnitCase{"rotary_position", "mm", false, "rad"},
                                           ChangeUnitCase{"voltage", "V ", false, "V"},
                                           ChangeUnitCase{"dc_voltage", "V", false, "V "},
                                           ChangeUnitCase{"temperature", kCelsius, true, kCelsius},
                                           ChangeUnitCase{"temperature", kCelsiusWindows1252, true,
                                                          kCelsius}));

struct ChangeTypeCase {
    const char* family;
    const char* unit;
    const char* newFamily;
    const char* selected;
    const char* baseUnit;
    friend std::ostream& operator<<(std::ostream& out, const ChangeTypeCase& row) {
        return out << row.family << " to " << Printable(row.unit);
    }
};

class ChangeUnitType : public ::testing::TestWithParam<ChangeTypeCase> {};

TEST_P(ChangeUnitType, MovesToTheFamilyOfTheUnitAndSelectsIt) {
    const ChangeTypeCase& row = GetParam();
    OneParameter parameter(row.family, ValueKind::Physical);
    CollectedErrors errors;

    EXPECT_TRUE(parameter->ChangeUnitType(row.unit));

    EXPECT_EQ(parameter->GetUnitFamily().id, row.newFamily);
    EXPECT_EQ(parameter->GetUnitName(), row.selected);
    EXPECT_EQ(parameter->GetBaseUnitName(), row.baseUnit);
    EXPECT_TRUE(errors.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Units, ChangeUnitType,
    ::testing::Values(ChangeTypeCase{"rotary_position", "mm", "linear_position", "mm", "m"},
                      ChangeTypeCase{"linear_position", "rot", "rotary_position", "rot", "rad"},
                      ChangeTypeCase{"rotary_speed", "mm/s", "linear_speed", "mm/s", "m/s"},
                      ChangeTypeCase{"number", "rpm", "rotary_speed", "rpm", "rad/s"},
                      ChangeTypeCase{"number", "kHz", "frequency", "kHz", "Hz"},
                      ChangeTypeCase{"number", "V", "voltage", "V", "V"},
                      ChangeTypeCase{"number", "V ", "dc_voltage", "V ", "V "},
                      ChangeTypeCase{"number", kCelsius, "temperature", kCelsius, kCelsius},
                      ChangeTypeCase{"number", kCelsiusWindows1252, "temperature", kCelsius,
                                     kCelsius}));

TEST(ChangeUnitTypeUnknown, FailsReportsAndKeepsTheFamily) {
    OneParameter parameter("rotary_position", ValueKind::Physical);
    CollectedErrors errors;

    EXPECT_FALSE(parameter->ChangeUnitType("furlong"));

    EXPECT_EQ(parameter->GetUnitFamily().id, "rotary_position");
    EXPECT_EQ(parameter->GetUnitName(), "rad");
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find("furlong"), std::string::npos);
}

struct AskedUnitCase {
    const char* family;
    const char* baseUnit;
    friend std::ostream& operator<<(std::ostream& out, const AskedUnitCase& row) {
        return out << row.family;
    }
};

class ScaleRequest : public ::testing::TestWithParam<AskedUnitCase> {};

TEST_P(ScaleRequest, NamesTheBaseUnitByteForByte) {
    OneParameter parameter(GetParam().family, ValueKind::Scaled);
    ASSERT_TRUE(parameter->ChangeUnit("IU"));

    parameter->GetValueInBaseUnit();

    EXPECT_EQ(fake::State().lastUnit, GetParam().baseUnit);
}

INSTANTIATE_TEST_SUITE_P(Families, ScaleRequest,
                         ::testing::Values(AskedUnitCase{"dc_voltage", "V "},
                                           AskedUnitCase{"voltage", "V"},
                                           AskedUnitCase{"temperature", kCelsius},
                                           AskedUnitCase{"rotary_speed", "rad/s"},
                                           AskedUnitCase{"register", ""}));

}  // namespace
