#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "engine/ParameterLimits.h"
#include "engine/StepSupport.h"
#include "host/kernel/Setup.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"
#include "tests/support/ReferenceAxisTest.h"

namespace {

using Rule = bool (*)(CQel_Setup&);

// The reference axis: speed loop every 0.5 ms, 1024 lines with 8 interpolation bits,
// transmission 1, 1984 converter counts per ampere.
constexpr double kTsS_s = 0.0005;
constexpr double kCountsPerRad = 1024.0 * 2.0 * 256.0 / std::numbers::pi;
constexpr double kSpeedUnitsPerRadS = kTsS_s * kCountsPerRad;
constexpr double kUnchanged = std::numeric_limits<double>::quiet_NaN();

struct Input {
    const char* name;
    double value;
};

class Limits : public ReferenceAxisTest {
  protected:
    void ExpectRange(const std::string& name, double low, double high) {
        const CQel_Parameter& parameter = Parameter(name);
        EXPECT_NEAR(parameter.GetMinInBaseUnit(), low, std::fabs(low) * 1e-12) << name << " min";
        EXPECT_NEAR(parameter.GetMaxInBaseUnit(), high, std::fabs(high) * 1e-12) << name << " max";
    }
};

// ---------------------------------------------------------------------------------------------
// Each rule with known numbers; kUnchanged marks an end the rule must leave as it was.

struct RowCase {
    const char* label;
    std::vector<Input> inputs;
    Rule rule;
    const char* name;
    double low;
    double high;
    friend std::ostream& operator<<(std::ostream& out, const RowCase& row) {
        return out << row.label;
    }
};

class LimitRows : public Limits, public ::testing::WithParamInterface<RowCase> {};

TEST_P(LimitRows, SetTheirRange) {
    const RowCase& row = GetParam();
    for (const Input& input : row.inputs) {
        Force(input.name, input.value);
    }
    const CQel_Parameter& parameter = Parameter(row.name);
    const double low = std::isnan(row.low) ? parameter.GetMinInBaseUnit() : row.low;
    const double high = std::isnan(row.high) ? parameter.GetMaxInBaseUnit() : row.high;
    ASSERT_TRUE(row.rule(*setup_)) << row.label;
    ExpectRange(row.name, low, high);
}

INSTANTIATE_TEST_SUITE_P(
    KnownNumbers, LimitRows,
    ::testing::Values(
        RowCase{"ERR_speed",
                {},
                limits::ERR_speed,
                "ERR_speed",
                kUnchanged,
                32767.0 / kSpeedUnitsPerRadS},
        RowCase{"ERR_position",
                {},
                limits::ERR_position,
                "ERR_position",
                kUnchanged,
                32767.0 / kCountsPerRad},
        RowCase{
            "time_ERR_spd", {}, limits::time_ERR_spd, "time_ERR_spd", kUnchanged, 32767.0 * kTsS_s},
        RowCase{"time_ERR_pos",
                {{"SLPER", 20}},
                limits::time_ERR_pos,
                "time_ERR_pos",
                kUnchanged,
                32767.0 * 2 * kTsS_s},
        RowCase{
            "PB_C", {{"PB_C_minim", 123}, {"PB_C_maxim", 4567}}, limits::PB_C, "PB_C", 123, 4567},
        RowCase{"PB_S", {{"PB_S_minim", 11}, {"PB_S_maxim", 2222}}, limits::PB_S, "PB_S", 11, 2222},
        RowCase{"PB_P", {{"PB_P_minim", 2}, {"PB_P_maxim", 333}}, limits::PB_P, "PB_P", 2, 333},
        RowCase{"TPP", {{"SLPER", 20}}, limits::TPP, "TPP", 0.001, 65.535},
        RowCase{"TNP", {{"SLPER", 20}}, limits::TNP, "TNP", 0.001, 65.535},
        RowCase{"TaPP", {{"SLPER", 20}}, limits::TaPP, "TaPP", 0.002, 65.535},
        RowCase{"TaNP", {{"SLPER", 20}}, limits::TaNP, "TaNP", 0.002, 65.535},
        RowCase{"TPS", {{"SLPER", 20}}, limits::TPS, "TPS", 0.001, 65.535},
        RowCase{"TNS", {{"SLPER", 20}}, limits::TNS, "TNS", 0.001, 65.535},
        RowCase{"TaPS", {{"SLPER", 20}}, limits::TaPS, "TaPS", 0.001, 65.535},
        RowCase{"TaNS", {{"SLPER", 20}}, limits::TaNS, "TaNS", 0.001, 65.535},
        // 32767 counts a period over the shorter acceleration: 100 periods of TaPP here.
        RowCase{"TestPosition from TaPP",
                {{"TaNP", 0.1}, {"TaPP", 0.05}},
                limits::TestPosition,
                "TestPosition",
                -100 * 32767.0 / kCountsPerRad,
                100 * 32767.0 / kCountsPerRad},
        RowCase{"TestPosition from TaNP",
                {{"TaNP", 0.02}, {"TaPP", 0.05}},
                limits::TestPosition,
                "TestPosition",
                -40 * 32767.0 / kCountsPerRad,
                40 * 32767.0 / kCountsPerRad},
        RowCase{"TestSpeed from Limit_Speed",
                {{"Limit_Speed", 100}},
                limits::TestSpeed,
                "TestSpeed",
                -100,
                100},
        RowCase{"TestSpeed from 16 bits",
                {{"Limit_Speed", 450}},
                limits::TestSpeed,
                "TestSpeed",
                -32767.0 / kSpeedUnitsPerRadS,
                32767.0 / kSpeedUnitsPerRadS},
        RowCase{"MAX_CURRENT from In", {}, limits::MAX_CURRENT, "MAX_CURRENT", 0, 3.5},
        RowCase{"MAX_CURRENT from InPS",
                {{"In", 9}, {"InPS", 4}},
                limits::MAX_CURRENT,
                "MAX_CURRENT",
                0,
                4},
        RowCase{"filter", {}, limits::filter, "filter", kUnchanged, 1000},
        RowCase{"DeadBand_Point of +-10 V", {}, limits::DeadBand_Point, "DeadBand_Point", -10, 10},
        RowCase{"DeadBand_Point of 0-5 V",
                {{"AnalogueInputsRange", 5}},
                limits::DeadBand_Point,
                "DeadBand_Point",
                0,
                5},
        RowCase{"DeadBand_Point of a 10 V range",
                {{"AnalogueInputsRange", 10}},
                limits::DeadBand_Point,
                "DeadBand_Point",
                0,
                3.3},
        RowCase{"DeadBand_Point of 0-3.3 V",
                {{"AnalogueInputsRange", 3.3}},
                limits::DeadBand_Point,
                "DeadBand_Point",
                0,
                3.3},
        RowCase{"POS_max",
                {{"POS_min", -0.05}},
                limits::POS_max,
                "POS_max",
                -0.05,
                32767.0 / kCountsPerRad},
        RowCase{"POS_min",
                {{"POS_max", 0.07}},
                limits::POS_min,
                "POS_min",
                -32767.0 / kCountsPerRad,
                0.07},
        RowCase{"SPD_max from Limit_Speed",
                {{"SPD_min", -50}, {"Limit_Speed", 200}},
                limits::SPD_max,
                "SPD_max",
                -50,
                200},
        RowCase{"SPD_max from 16 bits",
                {{"SPD_min", -50}, {"Limit_Speed", 450}},
                limits::SPD_max,
                "SPD_max",
                -50,
                32767.0 / kSpeedUnitsPerRadS},
        RowCase{"SPD_min from Limit_Speed",
                {{"SPD_max", 60}, {"Limit_Speed", 200}},
                limits::SPD_min,
                "SPD_min",
                -200,
                60},
        RowCase{"SPD_min from 16 bits",
                {{"SPD_max", 60}, {"Limit_Speed", 450}},
                limits::SPD_min,
                "SPD_min",
                -32767.0 / kSpeedUnitsPerRadS,
                60},
        RowCase{"CRT_max from ImaxM", {{"CRT_min", -2}}, limits::CRT_max, "CRT_max", -2, 10},
        RowCase{"CRT_max from ImaxPS",
                {{"CRT_min", -2}, {"ImaxM", 20}},
                limits::CRT_max,
                "CRT_max",
                -2,
                16.5},
        RowCase{"CRT_min from ImaxM", {{"CRT_max", 3}}, limits::CRT_min, "CRT_min", -10, 3}));

// The current span is also bounded by what 16 bits count: with a 32-bit converter word the
// converter has far more counts per ampere.
TEST_F(Limits, CurrentSpanIsBoundedBySixteenBitCounts) {
    setup_->SetAdcFormat({10, 24});
    const double countsPerAmpere = 1023.0 * 16384.0 / 33.0;
    Force("CRT_min", 0.0);
    ASSERT_TRUE(limits::CRT_max(*setup_));
    ASSERT_TRUE(limits::CRT_min(*setup_));
    ExpectRange("CRT_max", 0.0, 32767.0 / countsPerAmpere);
    ExpectRange("CRT_min", -32767.0 / countsPerAmpere, Base("CRT_max"));
}

TEST_F(Limits, BiquadFrequenciesStayBelowHalfTheSpeedLoopRate) {
    Force("SLPER", 20);
    ASSERT_TRUE(limits::BiquadFrequencies(*setup_));
    for (const char* name : {"BQFilterF11", "BQFilterF21", "BQFilterF12", "BQFilterF22",
                             "BQFilterF13", "BQFilterF23"}) {
        ExpectRange(name, 1.0, 500.0);
    }
}

// ---------------------------------------------------------------------------------------------
// The dead band: inside the input's range, centred on the point for the older firmware.

struct DeadBandCase {
    const char* newDeadBand;
    double range_V;
    double point_V;
    double maximum_V;
    friend std::ostream& operator<<(std::ostream& out, const DeadBandCase& row) {
        return out << "NewDeadBand \"" << row.newDeadBand << "\", range " << row.range_V
                   << " V, point " << row.point_V << " V";
    }
};

class LimitDeadBandRange : public Limits, public ::testing::WithParamInterface<DeadBandCase> {};

TEST_P(LimitDeadBandRange, FitsTheInputRange) {
    const DeadBandCase& row = GetParam();
    setup_->SetOption("NewDeadBand", row.newDeadBand);
    Force("AnalogueInputsRange", row.range_V);
    ASSERT_TRUE(limits::DeadBand_Point(*setup_));
    ASSERT_TRUE(Parameter("DeadBand_Point").SetValueInBaseUnit(row.point_V));
    ASSERT_TRUE(limits::DeadBand_Range(*setup_));
    ExpectRange("DeadBand_Range", 0.0, row.maximum_V);
}

INSTANTIATE_TEST_SUITE_P(BothFirmwares, LimitDeadBandRange,
                         ::testing::Values(DeadBandCase{"1", 20, 2, 20},
                                           DeadBandCase{"1", 10, 1, 3.3},
                                           DeadBandCase{"1", 5, 4, 5}, DeadBandCase{"0", 10, 1, 1},
                                           DeadBandCase{"0", 10, 3, 0.3},
                                           DeadBandCase{"0", 20, -4, 6},
                                           DeadBandCase{"", 5, 2, 2}));

// ---------------------------------------------------------------------------------------------
// The ends of each reference span are tied together by ComputeParameterLimits.

struct PairCase {
    const char* lower;
    const char* upper;
    double lowerValue;
    friend std::ostream& operator<<(std::ostream& out, const PairCase& row) {
        return out << row.lower << "/" << row.upper;
    }
};

class LimitSpanPairs : public Limits, public ::testing::WithParamInterface<PairCase> {};

TEST_P(LimitSpanPairs, BoundEachOther) {
    const PairCase& row = GetParam();
    ASSERT_TRUE(Parameter(row.lower).SetValueInBaseUnit(row.lowerValue));
    ComputeParameterLimits(*setup_);
    EXPECT_EQ(Parameter(row.upper).GetMinInBaseUnit(), Base(row.lower));
    EXPECT_EQ(Parameter(row.lower).GetMaxInBaseUnit(), Base(row.upper));
    EXPECT_NEAR(Base(row.lower), row.lowerValue, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(EveryMode, LimitSpanPairs,
                         ::testing::Values(PairCase{"POS_min", "POS_max", -0.1},
                                           PairCase{"SPD_min", "SPD_max", -100},
                                           PairCase{"CRT_min", "CRT_max", -5}));

// ---------------------------------------------------------------------------------------------
// Conditions, failures and the whole run.

TEST_F(Limits, MaxCurrentNeedsTheAngleController) {
    ASSERT_TRUE(setup_->RemoveParameter("KPTHT"));
    Parameter("MAX_CURRENT").SetMaxInBaseUnit(7.0);
    const CollectedErrors errors;
    EXPECT_TRUE(limits::MAX_CURRENT(*setup_));
    EXPECT_EQ(Parameter("MAX_CURRENT").GetMaxInBaseUnit(), 7.0);
    EXPECT_TRUE(errors.Messages().empty());
}

TEST_F(Limits, NegativeTransmissionChangesNoLimit) {
    ComputeParameterLimits(*setup_);
    const CQel_Setup positive(*setup_);
    Force("Load_transmission", -Base("Load_transmission"));
    ComputeParameterLimits(*setup_);
    for (std::size_t i = 0; i < positive.GetParameterCount(); ++i) {
        const CQel_Parameter& before = positive.GetParameterAt(i);
        if (before.GetName() == "Load_transmission") {
            continue;
        }
        const CQel_Parameter& after = setup_->GetParameterAt(i);
        EXPECT_EQ(after.GetMinInBaseUnit(), before.GetMinInBaseUnit()) << before.GetName();
        EXPECT_EQ(after.GetMaxInBaseUnit(), before.GetMaxInBaseUnit()) << before.GetName();
    }
}

struct NonFiniteCase {
    Input input;
    Rule rule;
    const char* name;
    friend std::ostream& operator<<(std::ostream& out, const NonFiniteCase& row) {
        return out << row.name << " with " << row.input.name << " = " << row.input.value;
    }
};

class LimitNonFiniteBounds : public Limits, public ::testing::WithParamInterface<NonFiniteCase> {};

TEST_P(LimitNonFiniteBounds, AreNotWrittenAndFailTheRule) {
    const NonFiniteCase& row = GetParam();
    Force(row.input.name, row.input.value);
    const double maxBefore = Parameter(row.name).GetMaxInBaseUnit();
    const CollectedErrors errors;
    EXPECT_FALSE(row.rule(*setup_)) << row.name;
    EXPECT_EQ(Parameter(row.name).GetMaxInBaseUnit(), maxBefore) << row.name;
    EXPECT_TRUE(std::isfinite(Parameter(row.name).GetMinInBaseUnit())) << row.name;
    EXPECT_TRUE(errors.Messages().empty()) << row.name;
}

INSTANTIATE_TEST_SUITE_P(
    ZeroScales, LimitNonFiniteBounds,
    ::testing::Values(NonFiniteCase{{"MECRESL", 0}, limits::ERR_position, "ERR_position"},
                      NonFiniteCase{{"MECRESL", 0}, limits::ERR_speed, "ERR_speed"},
                      NonFiniteCase{{"MECRESL", 0}, limits::TestPosition, "TestPosition"},
                      NonFiniteCase{{"MECRESL", 0}, limits::POS_max, "POS_max"},
                      NonFiniteCase{{"DSP_freq", 0}, limits::TPP, "TPP"},
                      NonFiniteCase{{"DSP_freq", 0}, limits::time_ERR_spd, "time_ERR_spd"},
                      NonFiniteCase{{"SLPER", 0}, limits::filter, "filter"},
                      NonFiniteCase{{"SLPER", 0}, limits::BiquadFrequencies, "BQFilterF11"}));

// A lower limit above the upper one would turn the range around: nothing is written either.
INSTANTIATE_TEST_SUITE_P(WrongWayRound, LimitNonFiniteBounds,
                         ::testing::Values(NonFiniteCase{{"PB_C_minim", 1e9}, limits::PB_C, "PB_C"},
                                           NonFiniteCase{{"PB_S_minim", 1e9}, limits::PB_S, "PB_S"},
                                           NonFiniteCase{{"PB_P_maxim", 0}, limits::PB_P, "PB_P"}));

// A range set for a derived parameter takes the value along when it no longer holds it.
struct RangeCase {
    double low;
    double high;
    double before;
    double after;
    bool set;
    friend std::ostream& operator<<(std::ostream& out, const RangeCase& row) {
        return out << row.before << " into " << row.low << " to " << row.high;
    }
};

class ParameterRange : public Limits, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(ParameterRange, BringsTheValueIntoTheNewRange) {
    const RangeCase& row = GetParam();
    CQel_Parameter& parameter = Parameter("PB_S");
    constexpr double kFar = 1e9;
    parameter.SetMinInBaseUnit(-kFar);
    parameter.SetMaxInBaseUnit(kFar);
    ASSERT_TRUE(parameter.SetValueInBaseUnit(row.before));
    EXPECT_EQ(SetParameterRange(parameter, row.low, row.high), row.set);
    EXPECT_EQ(parameter.GetValueInBaseUnit(), row.after);
}

INSTANTIATE_TEST_SUITE_P(Values, ParameterRange,
                         ::testing::Values(RangeCase{10, 100, 50, 50, true},
                                           RangeCase{10, 100, 500, 100, true},
                                           RangeCase{10, 100, 1, 10, true},
                                           RangeCase{100, 10, 500, 500, false}));

struct MissingCase {
    const char* removed;
    Rule rule;
    const char* name;
    friend std::ostream& operator<<(std::ostream& out, const MissingCase& row) {
        return out << row.name << " without " << row.removed;
    }
};

class LimitMissingName : public Limits, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(LimitMissingName, SkipsTheRuleAndIsReported) {
    const MissingCase& row = GetParam();
    Parameter(row.name).SetMinInBaseUnit(-1234.0);
    Parameter(row.name).SetMaxInBaseUnit(1234.0);
    ASSERT_TRUE(setup_->RemoveParameter(row.removed));
    const CollectedErrors errors;
    EXPECT_FALSE(row.rule(*setup_));
    ExpectRange(row.name, -1234.0, 1234.0);
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find(row.removed), std::string::npos) << errors.Messages()[0];
}

INSTANTIATE_TEST_SUITE_P(
    Partners, LimitMissingName,
    ::testing::Values(MissingCase{"TaNP", limits::TestPosition, "TestPosition"},
                      MissingCase{"Limit_Speed", limits::TestSpeed, "TestSpeed"},
                      MissingCase{"Limit_Speed", limits::SPD_max, "SPD_max"},
                      MissingCase{"POS_max", limits::POS_min, "POS_min"},
                      MissingCase{"CRT_min", limits::CRT_max, "CRT_max"},
                      MissingCase{"PB_S_maxim", limits::PB_S, "PB_S"},
                      MissingCase{"AnalogueInputsRange", limits::DeadBand_Point,
                                  "DeadBand_Point"}));

TEST(ParameterLimitsOfExamples, RunWithoutReports) {
    for (const char* file : {"reference-axis.json", "minimal-axis.json"}) {
        const std::unique_ptr<CQel_Setup> setup = LoadExample(file);
        const CollectedErrors errors;
        ComputeParameterLimits(*setup);
        for (const std::string& message : errors.Messages()) {
            ADD_FAILURE() << file << ": " << message;
        }
    }
}

// ComputeParameterLimits runs every rule: a range spoiled beforehand comes back as the example
// holds it (its ranges were built by the same rules).
struct SpoiledCase {
    const char* name;
    bool setsMinimum;
    friend std::ostream& operator<<(std::ostream& out, const SpoiledCase& row) {
        return out << row.name;
    }
};

class LimitEveryRow : public Limits, public ::testing::WithParamInterface<SpoiledCase> {};

TEST_P(LimitEveryRow, RestoresTheReferenceRange) {
    const SpoiledCase& row = GetParam();
    CQel_Parameter& parameter = Parameter(row.name);
    const double low = parameter.GetMinInBaseUnit();
    const double high = parameter.GetMaxInBaseUnit();
    constexpr double kFar = 1e9;
    if (row.setsMinimum) {
        parameter.SetMinInBaseUnit(-kFar);
    }
    parameter.SetMaxInBaseUnit(kFar);
    ComputeParameterLimits(*setup_);
    ExpectRange(row.name, low, high);
}

// A value the narrowed range no longer holds moves to the range's nearer end: a setup never keeps
// a value outside its range (it would not load again once saved).
TEST_P(LimitEveryRow, BringsAValueOutsideTheNarrowedRangeToItsNearerEnd) {
    const SpoiledCase& row = GetParam();
    CQel_Parameter& parameter = Parameter(row.name);
    const double low = parameter.GetMinInBaseUnit();
    const double high = parameter.GetMaxInBaseUnit();
    const double beyond = high - low + 1.0;
    constexpr double kFar = 1e9;
    for (const bool above : {true, false}) {
        if (!above && !row.setsMinimum) {
            continue;
        }
        SCOPED_TRACE(above ? "above the range" : "below the range");
        parameter.SetMinInBaseUnit(-kFar);
        parameter.SetMaxInBaseUnit(kFar);
        ASSERT_TRUE(parameter.SetValueInBaseUnit(above ? high + beyond : low - beyond));
        ComputeParameterLimits(*setup_);
        // The ends of a reference span bound each other: the partner may move too, so the end is
        // the recomputed one.
        const double end = above ? parameter.GetMaxInBaseUnit() : parameter.GetMinInBaseUnit();
        EXPECT_LE(parameter.GetMinInBaseUnit(), parameter.GetMaxInBaseUnit());
        EXPECT_NEAR(parameter.GetValueInBaseUnit(), end, 1e-9 * std::max(1.0, std::fabs(end)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceAxis, LimitEveryRow,
    ::testing::Values(SpoiledCase{"ERR_speed", false}, SpoiledCase{"ERR_position", false},
                      SpoiledCase{"time_ERR_spd", false}, SpoiledCase{"time_ERR_pos", false},
                      SpoiledCase{"PB_C", true}, SpoiledCase{"PB_S", true},
                      SpoiledCase{"PB_P", true}, SpoiledCase{"TPP", true}, SpoiledCase{"TNP", true},
                      SpoiledCase{"TaPP", true}, SpoiledCase{"TaNP", true},
                      SpoiledCase{"TPS", true}, SpoiledCase{"TNS", true}, SpoiledCase{"TaPS", true},
                      SpoiledCase{"TaNS", true}, SpoiledCase{"TestPosition", true},
                      SpoiledCase{"TestSpeed", true}, SpoiledCase{"MAX_CURRENT", true},
                      SpoiledCase{"filter", false}, SpoiledCase{"DeadBand_Point", true},
                      SpoiledCase{"DeadBand_Range", true}, SpoiledCase{"POS_max", true},
                      SpoiledCase{"POS_min", true}, SpoiledCase{"SPD_max", true},
                      SpoiledCase{"SPD_min", true}, SpoiledCase{"CRT_max", true},
                      SpoiledCase{"CRT_min", true}, SpoiledCase{"BQFilterF11", false},
                      SpoiledCase{"BQFilterF21", false}, SpoiledCase{"BQFilterF12", false},
                      SpoiledCase{"BQFilterF22", false}, SpoiledCase{"BQFilterF13", false},
                      SpoiledCase{"BQFilterF23", false}));

}  // namespace
