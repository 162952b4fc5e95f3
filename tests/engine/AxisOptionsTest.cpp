#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/AxisOptions.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/Examples.h"

namespace {

class AxisOptions : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(setup_ = LoadExample("reference-axis.json")); }
    void Set(const std::string& name, double value) {
        ASSERT_TRUE(setup_->SetParameterValueInBaseUnit(name, value)) << name;
    }
    std::string Option(const char* name) const { return setup_->GetOptionNoError(name); }

    std::unique_ptr<CQel_Setup> setup_;
};

// ControlMode, PositionControlType, success, then IsClosedPosition, -Speed, -Current.
struct LoopCase {
    double mode, type;
    bool known;
    std::string position, speed, current;
};

class ClosedLoopOptions : public AxisOptions, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(ClosedLoopOptions, FollowTheControlModeAfterTheFixedOptions) {
    const LoopCase& row = GetParam();
    setup_->FindParameter("ControlMode")->SetMaxInBaseUnit(9);
    setup_->FindParameter("PositionControlType")->SetMaxInBaseUnit(9);
    Set("ControlMode", row.mode);
    Set("PositionControlType", row.type);
    for (const char* loop : {"IsClosedPosition", "IsClosedSpeed", "IsClosedCurrent"}) {
        setup_->SetOption(loop, "untouched");
    }
    setup_->ClearOption("isIndex");
    setup_->SetOption("isPositionFeedbackOnMotor", "0");

    EXPECT_EQ(SetFixedOptions(*setup_), row.known);
    EXPECT_EQ(Option("IsClosedPosition"), row.position);
    EXPECT_EQ(Option("IsClosedSpeed"), row.speed);
    EXPECT_EQ(Option("IsClosedCurrent"), row.current);
    // The axis options are written whatever the control mode.
    EXPECT_EQ(Option("IsStepMotor") + Option("IsStepperOpenLoop") +
                  Option("isPositionFeedbackOnLoad") + Option("isPositionFeedbackOnMotor") +
                  Option("isSpeedFeedback") + Option("isIndex"),
              "000101");
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, ClosedLoopOptions,
    ::testing::Values(LoopCase{0, 0, true, "1", "0", "1"}, LoopCase{0, 1, true, "1", "1", "1"},
                      LoopCase{1, 2, true, "0", "1", "1"}, LoopCase{2, 1, true, "0", "0", "1"},
                      LoopCase{0, 2, false, "untouched", "untouched", "untouched"},
                      LoopCase{3, 0, false, "untouched", "untouched", "untouched"}));

// A quantity with its linear unit and family, then its rotary ones.
struct UnitCase {
    std::string name;
    bool variable;
    std::string linearUnit, linearFamily, rotaryUnit, rotaryFamily;
};

std::vector<UnitCase> EveryQuantity() {
    const auto add = [](std::vector<UnitCase>& rows, bool variable, std::vector<std::string> names,
                        const UnitCase& units) {
        for (const std::string& name : names) {
            rows.push_back({name, variable, units.linearUnit, units.linearFamily, units.rotaryUnit,
                            units.rotaryFamily});
        }
    };
    const UnitCase position{"", false, "mm", "linear_position", "rot", "rotary_position"};
    const UnitCase speed{"", false, "m/s", "linear_speed", "rpm", "rotary_speed"};
    const UnitCase speedLimit{"", false, "m/s", "linear_speed", "rad/s", "rotary_speed"};
    const UnitCase acceleration{
        "", false, "m/s^2", "linear_acceleration", "rad/s^2", "rotary_acceleration"};
    const UnitCase jerk{"", false, "m/s^3", "linear_jerk", "rad/s^3", "rotary_jerk"};
    std::vector<UnitCase> rows;
    add(rows, false,
        {"Load_transmission", "TestPosition", "ERR_position", "POS_max", "POS_min",
         "FreezeControl_errband", "Negative_SWLS", "Positive_SWLS"},
        position);
    add(rows, false, {"TestSpeed", "SPD_max", "SPD_min", "ErefMaxSpeed"}, speed);
    add(rows, false, {"Limit_Speed", "ERR_speed"}, speedLimit);
    add(rows, false, {"ErefMaxAcceleration"}, acceleration);
    add(rows, true,
        {"Load_Position", "Target_Position", "Position_Error", "Pulse_Dir_Input_Position",
         "APOS",          "APOS_LD",         "CAPPOS",         "CPOS",
         "EREFP",         "ERRMAX",          "HOMEPOS",        "POSERR",
         "POSINIT",       "POSOKLIM",        "POSTRIGG1",      "POSTRIGG2",
         "POSTRIGG3",     "POSTRIGG4",       "TPOS",           "TPOSFAST"},
        position);
    add(rows, true,
        {"Load_Speed", "Target_Speed", "Speed_Reference", "Speed_Error", "Pulse_Dir_Input_Speed",
         "ASPD_LD", "CSPD", "EREFS", "HOMESPD", "SERRMAX", "SPDERR", "SPDREF", "TSPD"},
        speed);
    add(rows, true, {"CACC", "CDEC", "TACC"}, acceleration);
    add(rows, true, {"JERK"}, jerk);
    return rows;
}

class UnitFamilies : public AxisOptions, public ::testing::WithParamInterface<UnitCase> {};

TEST_P(UnitFamilies, SwitchBetweenLinearAndRotary) {
    const UnitCase& row = GetParam();
    const qel::Quantity* quantity =
        row.variable ? static_cast<qel::Quantity*>(setup_->FindVariable(row.name, 1))
                     : setup_->FindParameter(row.name);
    ASSERT_NE(quantity, nullptr);
    const CollectedErrors errors;

    Set("TransmissionType", 1);
    EXPECT_TRUE(SetUnitTypesByTransmission(*setup_));
    EXPECT_EQ(quantity->GetUnitFamily().id + " " + quantity->GetUnitName(),
              row.linearFamily + " " + row.linearUnit);
    Set("TransmissionType", 0);
    EXPECT_TRUE(SetUnitTypesByTransmission(*setup_));
    EXPECT_EQ(quantity->GetUnitFamily().id + " " + quantity->GetUnitName(),
              row.rotaryFamily + " " + row.rotaryUnit);
    EXPECT_TRUE(errors.Messages().empty()) << errors.Messages().front();
}

INSTANTIATE_TEST_SUITE_P(EveryListedQuantity, UnitFamilies, ::testing::ValuesIn(EveryQuantity()),
                         [](const auto& row) { return row.param.name; });

// A feature's parameter, removed, and a quantity that changes only with that feature.
class OptionalUnitGroups
    : public AxisOptions,
      public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(OptionalUnitGroups, StayRotaryWithoutTheirFeatureAndReportNothing) {
    const auto& [removed, guarded] = GetParam();
    ASSERT_TRUE(setup_->RemoveParameter(removed));
    Set("TransmissionType", 1);
    const CollectedErrors errors;

    EXPECT_TRUE(SetUnitTypesByTransmission(*setup_));
    EXPECT_EQ(setup_->FindParameter(guarded)->GetUnitName(), "rot");
    EXPECT_EQ(setup_->FindParameter("TestPosition")->GetUnitName(), "mm");
    EXPECT_TRUE(errors.Messages().empty()) << errors.Messages().front();
}

INSTANTIATE_TEST_SUITE_P(EachProbe, OptionalUnitGroups,
                         ::testing::Values(std::pair{"CADIN", "POS_max"},
                                           std::pair{"POSOKLIM_FC", "FreezeControl_errband"},
                                           std::pair{"TONPOSOK_FC", "FreezeControl_errband"},
                                           std::pair{"isSWLS", "Negative_SWLS"}));

TEST_F(AxisOptions, AbsentParameterIsReportedAndTheOthersStillChange) {
    ASSERT_TRUE(setup_->RemoveParameter("TestSpeed"));
    Set("TransmissionType", 1);
    const CollectedErrors errors;

    EXPECT_TRUE(SetUnitTypesByTransmission(*setup_));
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages().front().find("TestSpeed"), std::string::npos);
    EXPECT_EQ(setup_->FindParameter("Limit_Speed")->GetUnitName(), "m/s");
    EXPECT_EQ(setup_->FindVariable("TSPD", 1)->GetUnitName(), "m/s");
}

// ControlMode, PositionControlType, then SpeedForward and ACR afterwards.
struct SpeedForwardCase {
    double mode, type, speedForward, acr;
};

class ForcedSpeedForward : public AxisOptions,
                           public ::testing::WithParamInterface<SpeedForwardCase> {};

TEST_P(ForcedSpeedForward, IsForcedOutsidePositionControlWithASpeedLoop) {
    const SpeedForwardCase& row = GetParam();
    Set("ControlMode", row.mode);
    Set("PositionControlType", row.type);
    Set("SpeedForward", 0);
    Set("ACR", 0x0710);  // bits 4, 8, 9, 10: they must survive

    EXPECT_TRUE(ForceSpeedForward(*setup_));
    EXPECT_EQ(setup_->GetParameterValueInInternalUnit("SpeedForward"), row.speedForward);
    EXPECT_EQ(setup_->GetParameterValueInBaseUnit("ACR"), row.acr);
}

INSTANTIATE_TEST_SUITE_P(EveryMode, ForcedSpeedForward,
                         ::testing::Values(SpeedForwardCase{0, 0, 1, 0x4710},
                                           SpeedForwardCase{0, 1, 0, 0x0710},
                                           SpeedForwardCase{1, 1, 1, 0x4710},
                                           SpeedForwardCase{2, 0, 1, 0x4710}));

}  // namespace
