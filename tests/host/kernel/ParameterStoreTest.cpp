#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "host/kernel/ErrorReport.h"
#include "host/kernel/Setup.h"
#include "tests/host/kernel/KernelTestSupport.h"
#include "tests/support/CollectedErrors.h"

namespace {

using qel::ValueKind;
using qel::ValueType;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<std::string> ParameterNames(const CQel_Setup& setup) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        names.push_back(setup.GetParameterAt(i).GetName());
    }
    return names;
}

enum class Via { Base, Internal };

struct StoreCase {
    const char* label;
    ValueKind kind;
    ValueType type;
    double factor;
    double offset;
    double min;
    double max;
    Via via;
    double input;
    double expectedInternal;
    friend std::ostream& operator<<(std::ostream& out, const StoreCase& row) {
        return out << row.label;
    }
};

class Store : public ::testing::TestWithParam<StoreCase> {};

TEST_P(Store, KeepsTheNearestValueTheRangeAdmits) {
    const StoreCase& row = GetParam();
    fake::Reset(row.factor, row.offset);
    CQel_Setup setup;
    setup.SetScaleFunctions(fake::Functions());
    CQel_Parameter* parameter = setup.AddParameter(
        fake::Definition("P", "number", row.kind, 0.0, row.min, row.max, row.type));
    ASSERT_NE(parameter, nullptr);
    CollectedErrors errors;

    const bool stored = row.via == Via::Base ? parameter->SetValueInBaseUnit(row.input)
                                             : parameter->SetValueInInternalUnit(row.input);

    EXPECT_TRUE(stored);
    EXPECT_EQ(parameter->GetValueInInternalUnit(), row.expectedInternal);
    EXPECT_GE(parameter->GetValueInBaseUnit(), row.min);
    EXPECT_LE(parameter->GetValueInBaseUnit(), row.max);
    EXPECT_TRUE(errors.Messages().empty());
}

// Scaled rows: base = (internal + offset) x factor, so with factor 1/8 and offset 2 the range
// [1, 3] is internal [6, 22].
INSTANTIATE_TEST_SUITE_P(
    ClampAndRound, Store,
    ::testing::Values(StoreCase{"PhysicalAboveMax", ValueKind::Physical, ValueType::Real, 1, 0, -5,
                                5, Via::Base, 7, 5},
                      StoreCase{"PhysicalBelowMin", ValueKind::Physical, ValueType::Real, 1, 0, -5,
                                5, Via::Base, -9, -5},
                      StoreCase{"PhysicalInside", ValueKind::Physical, ValueType::Real, 1, 0, -5, 5,
                                Via::Base, 2.25, 2.25},
                      StoreCase{"PhysicalInternalAboveMax", ValueKind::Physical, ValueType::Real, 1,
                                0, -5, 5, Via::Internal, 6, 5},
                      StoreCase{"PhysicalInternalBelowMin", ValueKind::Physical, ValueType::Real, 1,
                                0, -5, 5, Via::Internal, -6, -5},
                      StoreCase{"ScaledAboveMax", ValueKind::Scaled, ValueType::Real, 0.125, 2, 1,
                                3, Via::Base, 4, 22},
                      StoreCase{"ScaledBelowMin", ValueKind::Scaled, ValueType::Real, 0.125, 2, 1,
                                3, Via::Base, 0, 6},
                      StoreCase{"ScaledInside", ValueKind::Scaled, ValueType::Real, 0.125, 2, 1, 3,
                                Via::Base, 2, 14},
                      StoreCase{"ScaledInternalAboveMax", ValueKind::Scaled, ValueType::Real, 0.125,
                                2, 1, 3, Via::Internal, 100, 22},
                      StoreCase{"ScaledInternalBelowMin", ValueKind::Scaled, ValueType::Real, 0.125,
                                2, 1, 3, Via::Internal, -10, 6},
                      StoreCase{"IntegerRoundingWouldPassMax", ValueKind::Physical,
                                ValueType::Integer, 1, 0, 0, 2.5, Via::Base, 2.6, 2},
                      StoreCase{"IntegerRoundingWouldPassMin", ValueKind::Physical,
                                ValueType::Integer, 1, 0, -2.5, 0, Via::Base, -2.6, -2},
                      StoreCase{"IntegerHalfRoundsUp", ValueKind::Physical, ValueType::Integer, 1,
                                0, 0, 10, Via::Base, 1.5, 2},
                      StoreCase{"IntegerNegativeHalfRoundsAwayFromZero", ValueKind::Physical,
                                ValueType::Integer, 1, 0, -10, 10, Via::Base, -2.5, -3},
                      StoreCase{"IntegerInternalRounds", ValueKind::Physical, ValueType::Integer, 1,
                                0, 0, 10, Via::Internal, 4.4, 4},
                      StoreCase{"RegisterAboveMax", ValueKind::Physical, ValueType::Integer, 1, 0,
                                0, 65535, Via::Base, 70000, 65535},
                      StoreCase{"ScaledIntegerRoundingWouldPassMax", ValueKind::Scaled,
                                ValueType::Integer, 0.5, 0, 0, 1.3, Via::Base, 1.3, 2},
                      StoreCase{"NegativeFactorIntegerRoundingWouldPassMin", ValueKind::Scaled,
                                ValueType::Integer, -0.5, 0, -1.3, 0, Via::Base, -1.3, 2},
                      StoreCase{"ScaledIntegerWithOffset", ValueKind::Scaled, ValueType::Integer,
                                0.5, 1, 0, 10, Via::Base, 2, 3}),
    [](const auto& row) { return std::string(row.param.label); });

enum class Target { Base, Internal, Display, Min, Max, VariableBase, VariableInternal };

std::ostream& operator<<(std::ostream& out, Target target) {
    constexpr const char* kNames[] = {"Base", "Internal",     "Display",         "Min",
                                      "Max",  "VariableBase", "VariableInternal"};
    return out << kNames[static_cast<int>(target)];
}

class NonFiniteStore : public ::testing::TestWithParam<std::tuple<Target, double>> {};

TEST_P(NonFiniteStore, IsRefusedAndReportedAndKeepsTheOldValues) {
    const auto [target, value] = GetParam();
    CQel_Setup setup;
    CQel_Parameter* parameter =
        setup.AddParameter(fake::Definition("Gain", "number", ValueKind::Physical, 1, -5, 5));
    CQel_Variable* variable = setup.AddVariable("APOS", *qel::FindUnitFamily("number"), 3);
    CollectedErrors errors;

    bool stored = true;
    switch (target) {
        case Target::Base:
            stored = parameter->SetValueInBaseUnit(value);
            break;
        case Target::Internal:
            stored = parameter->SetValueInInternalUnit(value);
            break;
        case Target::Display:
            stored = parameter->SetValue(value);
            break;
        case Target::Min:
            stored = parameter->SetMinInBaseUnit(value);
            break;
        case Target::Max:
            stored = parameter->SetMaxInBaseUnit(value);
            break;
        case Target::VariableBase:
            stored = variable->SetValueInBaseUnit(value);
            break;
        case Target::VariableInternal:
            stored = variable->SetValueInInternalUnit(value);
            break;
    }

    EXPECT_FALSE(stored);
    EXPECT_EQ(parameter->GetValueInInternalUnit(), 1);
    EXPECT_EQ(parameter->GetMinInBaseUnit(), -5);
    EXPECT_EQ(parameter->GetMaxInBaseUnit(), 5);
    EXPECT_EQ(variable->GetValueInInternalUnit(), 3);
    ASSERT_EQ(errors.Messages().size(), 1u);
    const std::string expectedName = target >= Target::VariableBase ? "APOS" : "Gain";
    EXPECT_NE(errors.Messages()[0].find(expectedName), std::string::npos) << errors.Messages()[0];
}

INSTANTIATE_TEST_SUITE_P(NaNAndInfinities, NonFiniteStore,
                         ::testing::Combine(::testing::Values(Target::Base, Target::Internal,
                                                              Target::Display, Target::Min,
                                                              Target::Max, Target::VariableBase,
                                                              Target::VariableInternal),
                                            ::testing::Values(kNaN, kInf, -kInf)));

struct UndefinedScaleCase {
    double factor;
    Via via;
    double input;
    friend std::ostream& operator<<(std::ostream& out, const UndefinedScaleCase& row) {
        return out << "factor " << row.factor << (row.via == Via::Base ? ", base " : ", internal ")
                   << row.input;
    }
};

class UndefinedScale : public ::testing::TestWithParam<UndefinedScaleCase> {};

TEST_P(UndefinedScale, RefusesTheStoreAndKeepsTheValue) {
    const UndefinedScaleCase& row = GetParam();
    fake::Reset(row.factor, 0);
    CQel_Setup setup;
    setup.SetScaleFunctions(fake::Functions());
    CQel_Parameter* parameter =
        setup.AddParameter(fake::Definition("ILIM", "current", ValueKind::Scaled, 3, -10, 10));
    CollectedErrors errors;

    const bool stored = row.via == Via::Base ? parameter->SetValueInBaseUnit(row.input)
                                             : parameter->SetValueInInternalUnit(row.input);

    EXPECT_FALSE(stored);
    EXPECT_EQ(parameter->GetValueInInternalUnit(), 3);
    EXPECT_EQ(errors.Messages().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(ZeroOrNaNFactor, UndefinedScale,
                         ::testing::Values(UndefinedScaleCase{0, Via::Base, 1},
                                           UndefinedScaleCase{0, Via::Base, 0},
                                           UndefinedScaleCase{kNaN, Via::Base, 1},
                                           UndefinedScaleCase{kNaN, Via::Internal, 5}));

class ScaledParameter : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset(0.5, 2);
        setup_.SetScaleFunctions(fake::Functions());
        setup_.AddParameter(fake::Definition("PERIOD", "time", ValueKind::Physical, 1e-4));
        setup_.AddParameter(fake::Definition("TIMEOUT", "time", ValueKind::Scaled, 1000));
        setup_.AddParameter(fake::Definition("ILIM", "current", ValueKind::Scaled, 10));
        setup_.AddParameter(fake::Definition("LOOP", "number", ValueKind::Scaled, 1));
    }
    CQel_Setup setup_;
};

TEST_F(ScaledParameter, BaseValueIsInternalPlusOffsetTimesFactor) {
    EXPECT_EQ(setup_.GetParameterValueInBaseUnit("ILIM"), (10 + 2) * 0.5);
    EXPECT_EQ(setup_.FindParameter("ILIM")->GetValueInUnit("IU"), 10);
}

TEST_F(ScaledParameter, FollowsARegisterChangeWhileItsStoredValueStays) {
    EXPECT_DOUBLE_EQ(setup_.GetParameterValueInBaseUnit("TIMEOUT"), (1000 + 2) * 1e-4);
    ASSERT_TRUE(setup_.SetParameterValueInBaseUnit("PERIOD", 2e-4));
    EXPECT_DOUBLE_EQ(setup_.GetParameterValueInBaseUnit("TIMEOUT"), (1000 + 2) * 2e-4);
    EXPECT_EQ(setup_.GetParameterValueInInternalUnit("TIMEOUT"), 1000);
}

TEST_F(ScaledParameter, AScaleThatReadsAScaledParameterIsReportedAndGivesNaNWithoutRecursing) {
    CollectedErrors errors;
    EXPECT_TRUE(std::isnan(setup_.GetParameterValueInBaseUnit("LOOP")));
    EXPECT_EQ(fake::State().factorCalls, 1);
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find("\"ILIM\""), std::string::npos) << errors.Messages()[0];
    EXPECT_EQ(setup_.GetParameterValueInBaseUnit("ILIM"), 6);
}

TEST(SetupNames, LookUpsIgnoreLetterCase) {
    CQel_Setup setup;
    CQel_Parameter* parameter =
        setup.AddParameter(fake::Definition("PWMPER", "register", ValueKind::Physical, 2500));
    CQel_Variable* variable = setup.AddVariable("APOS", *qel::FindUnitFamily("number"), 0);
    setup.SetOption("Mode", "1");
    CollectedErrors errors;

    EXPECT_EQ(setup.FindParameter("pwmPer"), parameter);
    EXPECT_EQ(setup.GetParameterValueInBaseUnit("pwmper"), 2500);
    EXPECT_EQ(setup.FindVariable("aPos", 1), variable);
    setup.SetOption("MODE", "2");
    ASSERT_EQ(setup.GetOptions().size(), 1u);
    EXPECT_EQ(setup.GetOptions()[0].first, "Mode");
    EXPECT_EQ(setup.GetIntOption("mode"), 2);
    EXPECT_EQ(setup.FindOption("mOdE"), "2");
    setup.ClearOption("MoDe");
    EXPECT_TRUE(setup.GetOptions().empty());
    EXPECT_TRUE(setup.RemoveParameter("Pwmper"));
    EXPECT_EQ(setup.GetParameterCount(), 0u);
    EXPECT_TRUE(errors.Messages().empty());
}

// Every letter of the alphabet, stored in one case and asked for in the other, for parameters,
// variables and options alike (a fold that forgot a letter loses the names holding it).
class LetterCase : public ::testing::TestWithParam<char> {};

TEST_P(LetterCase, IsFoldedForParametersVariablesAndOptions) {
    const char upper = GetParam();
    const char lower = static_cast<char>(upper - 'A' + 'a');
    for (const bool storedUpper : {true, false}) {
        const std::string stored = std::string("Name_") + (storedUpper ? upper : lower) + "_x";
        const std::string asked = std::string("name_") + (storedUpper ? lower : upper) + "_X";
        CQel_Setup setup;
        CQel_Parameter* parameter =
            setup.AddParameter(fake::Definition(stored, "register", ValueKind::Physical, 7));
        CQel_Variable* variable = setup.AddVariable(stored, *qel::FindUnitFamily("number"), 0);
        setup.SetOption(stored, "3");
        CollectedErrors errors;
        EXPECT_EQ(setup.FindParameter(asked), parameter) << asked;
        EXPECT_EQ(setup.FindVariable(asked, 1), variable) << asked;
        EXPECT_EQ(setup.FindOption(asked), "3") << asked;
        // A name differing in another letter is another name.
        const std::string other = std::string("Name_") + (upper == 'Z' ? 'a' : 'z') + "_x";
        EXPECT_EQ(setup.FindParameter(other), nullptr) << other;
    }
}

INSTANTIATE_TEST_SUITE_P(Alphabet, LetterCase, ::testing::Range('A', static_cast<char>('Z' + 1)),
                         [](const ::testing::TestParamInfo<char>& letter) {
                             return std::string(1, letter.param);
                         });

TEST(SetupNames, RefusesASecondNameThatDiffersOnlyByCase) {
    CQel_Setup setup;
    setup.AddParameter(fake::Definition("PWMPER", "register", ValueKind::Physical, 1));
    setup.AddVariable("APOS", *qel::FindUnitFamily("number"), 0);
    CollectedErrors errors;

    EXPECT_EQ(setup.AddParameter(fake::Definition("pwmper", "number", ValueKind::Physical, 2)),
              nullptr);
    EXPECT_EQ(setup.AddVariable("apos", *qel::FindUnitFamily("number"), 1), nullptr);

    EXPECT_EQ(setup.GetParameterCount(), 1u);
    EXPECT_EQ(setup.GetParameterValueInBaseUnit("PWMPER"), 1);
    EXPECT_EQ(setup.GetVariableCount(), 1u);
    ASSERT_EQ(errors.Messages().size(), 2u);
    EXPECT_NE(errors.Messages()[0].find("pwmper"), std::string::npos) << errors.Messages()[0];
}

TEST(SetupOrder, KeepsFileOrderAcrossRemovalAndAddition) {
    CQel_Setup setup;
    for (const char* name : {"C", "A", "B", "D"}) {
        setup.AddParameter(fake::Definition(name, "number", ValueKind::Physical, 0));
    }
    ASSERT_TRUE(setup.RemoveParameter("a"));
    EXPECT_EQ(ParameterNames(setup), (std::vector<std::string>{"C", "B", "D"}));
    setup.AddParameter(fake::Definition("A", "number", ValueKind::Physical, 0));
    EXPECT_EQ(ParameterNames(setup), (std::vector<std::string>{"C", "B", "D", "A"}));
    EXPECT_EQ(ParameterNames(CQel_Setup(setup)), ParameterNames(setup));
}

struct LookupCase {
    const char* label;
    void (*lookUp)(CQel_Setup& setup);
    bool reportsWhenShown;
    friend std::ostream& operator<<(std::ostream& out, const LookupCase& row) {
        return out << row.label;
    }
};

class FailedLookup : public ::testing::TestWithParam<std::tuple<LookupCase, int>> {};

TEST_P(FailedLookup, IsReportedOnlyWhenErrorsAreShown) {
    const auto& [row, showErrors] = GetParam();
    CQel_Setup setup;
    CollectedErrors errors;
    g_bShowErrors = showErrors;

    row.lookUp(setup);

    const bool expectReport = showErrors != 0 && row.reportsWhenShown;
    ASSERT_EQ(errors.Messages().size(), expectReport ? 1u : 0u);
    if (expectReport) {
        EXPECT_NE(errors.Messages()[0].find("\"Missing\""), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Probes, FailedLookup,
    ::testing::Combine(
        ::testing::Values(
            LookupCase{"FindParameter",
                       [](CQel_Setup& s) { EXPECT_EQ(s.FindParameter("Missing"), nullptr); }, true},
            LookupCase{"GetParameterValueInBaseUnit",
                       [](CQel_Setup& s) {
                           EXPECT_TRUE(std::isnan(s.GetParameterValueInBaseUnit("Missing")));
                       },
                       true},
            LookupCase{
                "SetParameterValueInBaseUnit",
                [](CQel_Setup& s) { EXPECT_FALSE(s.SetParameterValueInBaseUnit("Missing", 1)); },
                true},
            LookupCase{"FindVariableReporting",
                       [](CQel_Setup& s) { EXPECT_EQ(s.FindVariable("Missing", 1), nullptr); },
                       true},
            LookupCase{"FindVariableQuiet",
                       [](CQel_Setup& s) { EXPECT_EQ(s.FindVariable("Missing", 0), nullptr); },
                       false},
            LookupCase{"GetIntOption",
                       [](CQel_Setup& s) { EXPECT_EQ(s.GetIntOption("Missing"), 0); }, true},
            LookupCase{"GetOptionNoError",
                       [](CQel_Setup& s) { EXPECT_EQ(s.GetOptionNoError("Missing"), ""); }, false}),
        ::testing::Values(0, 1)),
    [](const auto& row) {
        return std::string(std::get<0>(row.param).label) +
               (std::get<1>(row.param) != 0 ? "Shown" : "Silent");
    });

TEST(SetupCopy, IsIndependentAndItsScaledParametersReadTheCopy) {
    fake::Reset(1, 0);
    CQel_Setup original;
    original.SetScaleFunctions(fake::Functions());
    original.AddParameter(fake::Definition("PERIOD", "time", ValueKind::Physical, 1e-4));
    original.AddParameter(fake::Definition("TIMEOUT", "time", ValueKind::Scaled, 1000));
    original.AddVariable("APOS", *qel::FindUnitFamily("number"), 5);
    original.SetOption("MODE", "1");

    CQel_Setup copy(original);
    CQel_Setup assigned;
    assigned = original;
    for (CQel_Setup* duplicate : {&copy, &assigned}) {
        EXPECT_EQ(duplicate->FindParameter("TIMEOUT")->GetSetup(), duplicate);
        EXPECT_EQ(duplicate->FindVariable("APOS", 1)->GetSetup(), duplicate);
        ASSERT_TRUE(duplicate->SetParameterValueInBaseUnit("PERIOD", 2e-4));
        EXPECT_DOUBLE_EQ(duplicate->GetParameterValueInBaseUnit("TIMEOUT"), 0.2);
        EXPECT_EQ(fake::State().lastSetup, duplicate);
        duplicate->FindVariable("APOS", 1)->SetValueInInternalUnit(7);
        duplicate->SetOption("MODE", "2");
        duplicate->RemoveParameter("PERIOD");
    }

    EXPECT_DOUBLE_EQ(original.GetParameterValueInBaseUnit("TIMEOUT"), 0.1);
    EXPECT_EQ(fake::State().lastSetup, &original);
    EXPECT_EQ(original.GetParameterCount(), 2u);
    EXPECT_EQ(original.FindVariable("APOS", 1)->GetValueInInternalUnit(), 5);
    EXPECT_EQ(original.GetIntOption("MODE"), 1);
}

TEST(SetupStore, AddParameterNeverHoldsANonFiniteValue) {
    CQel_Setup setup;
    CollectedErrors errors;
    const CQel_Parameter* parameter =
        setup.AddParameter(fake::Definition("Gain", "number", ValueKind::Physical, kNaN, 0, 1));
    if (parameter != nullptr) {
        EXPECT_TRUE(std::isfinite(parameter->GetValueInInternalUnit()));
    }
    EXPECT_FALSE(errors.Messages().empty());
}

}  // namespace
