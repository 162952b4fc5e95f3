#include <cmath>

#include "engine/StepSupport.h"
#include "module/Exports.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

class EditSetupTest : public DialogTest {};

// The host's edit from end to end: Drive Setup comes up, Motor Setup opens over it by itself a
// tick later, the user accepts it, switches Drive Setup to speed control, firms up the speed
// loop and closes with OK: the registers and the closed-loop options follow the edit.
TEST_F(EditSetupTest, OkInBothDialogsReturnsOneWithRegistersAndOptionsFollowing) {
    std::uint64_t motorSetupShown_ms = 0;
    ui_->When("Brushless Motor Setup", [&](ui::headless::DialogDriver& d) {
        motorSetupShown_ms = ui_->Now_ms();
        d.Click(IDOK);
    });
    ui_->When("Drive Setup", [](ui::headless::DialogDriver& d) {
        d.Click(1060);
        d.Type(3179, "20");
        d.Click(IDOK);
    });

    EXPECT_EQ(EditSetup(setup_.get()), 1);

    ExpectScriptCompleted();
    EXPECT_EQ(motorSetupShown_ms, 100U);
    EXPECT_EQ(Base("ControlMode"), 1.0);
    const double acr = Base("ACR");
    EXPECT_TRUE(engine::IsBitSet(acr, 9)) << "speed control";
    EXPECT_FALSE(engine::IsBitSet(acr, 10)) << "not position control";
    EXPECT_EQ(setup_->GetOptionNoError("IsClosedPosition"), "0");
    EXPECT_EQ(setup_->GetOptionNoError("IsClosedSpeed"), "1");
    EXPECT_EQ(setup_->GetOptionNoError("IsClosedCurrent"), "1");
    const double held = engine::GainFromRegisters(Base("KPS"), Base("SFTKPS"));
    EXPECT_NEAR(held, 20.0, 0.5 * std::exp2(Base("SFTKPS")) / 32767.0);
}

TEST_F(EditSetupTest, CancelReturnsZero) {
    ui_->When("Brushless Motor Setup", [](ui::headless::DialogDriver& d) { d.Click(IDOK); });
    ui_->When("Drive Setup", [](ui::headless::DialogDriver& d) { d.Click(IDCANCEL); });

    EXPECT_EQ(EditSetup(setup_.get()), 0);
    ExpectScriptCompleted();
}

TEST_F(EditSetupTest, NullSetupOpensNothingAndReturnsZero) {
    EXPECT_EQ(EditSetup(nullptr), 0);
    EXPECT_EQ(ui_->MessageBoxes().size(), 0U);
}

}  // namespace
