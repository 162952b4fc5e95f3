#include <gtest/gtest.h>

#include <vector>

#include "dialogs/MotorInertiaDlg.h"
#include "tests/dialogs/DialogTestSupport.h"

namespace {

constexpr int kInertiaTemplate = 3056;
constexpr int kRaiseId = 3333;
constexpr int kDisregardId = 3334;

constexpr double kMotorInertia_kgm2 = 2e-4;
constexpr double kTotalInertia_kgm2 = 1e-4;

struct AnswerCase {
    const char* name;
    std::vector<int> clicks;
    double totalInertia_kgm2;
    double motorInertiaUnknown;
};

class InertiaQuestionAnswerTest : public DialogTest,
                                  public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(InertiaQuestionAnswerTest, OkStoresTheChosenAnswer) {
    const AnswerCase& answer = GetParam();
    Force("Jm", kMotorInertia_kgm2);
    Force("Jt", kTotalInertia_kgm2);
    ui_->When(kInertiaTemplate, [&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Caption(), "Motor inertia");
        EXPECT_TRUE(d.IsChecked(kRaiseId));
        EXPECT_FALSE(d.IsChecked(kDisregardId));
        for (int id : answer.clicks) {
            d.Click(id);
            EXPECT_TRUE(d.IsChecked(id));
        }
        EXPECT_TRUE(d.IsEnabled(IDOK));
        d.Click(IDOK);
    });
    CInertiaQuestion question(setup_.get(), nullptr);
    EXPECT_EQ(question.DoModal(), IDOK);
    ExpectScriptCompleted();
    EXPECT_DOUBLE_EQ(Base("Jt"), answer.totalInertia_kgm2);
    EXPECT_EQ(Base("isMotorInertiaUnknown"), answer.motorInertiaUnknown);
    EXPECT_DOUBLE_EQ(Base("Jm"), kMotorInertia_kgm2);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, InertiaQuestionAnswerTest,
    ::testing::Values(
        AnswerCase{"Untouched", {}, 1.01 * kMotorInertia_kgm2, 0.0},
        AnswerCase{"Disregard", {kDisregardId}, kTotalInertia_kgm2, 1.0},
        AnswerCase{"DisregardThenRaise", {kDisregardId, kRaiseId}, 1.01 * kMotorInertia_kgm2, 0.0}),
    [](const ::testing::TestParamInfo<AnswerCase>& row) { return row.param.name; });

class InertiaQuestionTest : public DialogTest {};

TEST_F(InertiaQuestionTest, EscapeLeavesTheSetupUnchanged) {
    Force("Jm", kMotorInertia_kgm2);
    Force("Jt", kTotalInertia_kgm2);
    ui_->When(kInertiaTemplate, [](ui::headless::DialogDriver& d) {
        d.Click(kDisregardId);
        d.PressKey(VK_ESCAPE);
    });
    CInertiaQuestion question(setup_.get(), nullptr);
    EXPECT_EQ(question.DoModal(), IDCANCEL);
    ExpectScriptCompleted();
    EXPECT_DOUBLE_EQ(Base("Jt"), kTotalInertia_kgm2);
    EXPECT_EQ(Base("isMotorInertiaUnknown"), 0.0);
}

}  // namespace
