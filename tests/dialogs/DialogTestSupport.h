#pragma once

// What the setup dialogs' tests share: a fresh reference axis, the resources of the source tree,
// a headless backend with a scripted user for each test, and compact expectations on controls.
//
// How to use it in a dialog's test file:
//
//   #include "DialogTestSupport.h"
//   class MotorSetupDlgTest : public DialogTest {};
//   TEST_F(MotorSetupDlgTest, PolePairsChangeShowsInEdit) {
//       ShapeAxis({{"ControlMode", 1}});             // user values, registers computed from them
//       ui_->When(108, [&](ui::headless::DialogDriver& d) {   // by template id (or caption)
//           d.Type(1234, "4");
//           ExpectLooks(d, {Text(1234, "4"), Enabled(1235, false), Shown(1236)});
//           d.Click(IDOK);
//       });
//       CMotorSetupDialog dialog(setup_.get(), nullptr);
//       EXPECT_EQ(dialog.DoModal(), IDOK);
//       ExpectValues({{"pp", 4}});
//       EXPECT_EQ(MessageTexts(), std::vector<std::string>{"exact text"});
//       ExpectScriptCompleted();                     // every step ran, nothing was refused
//   }
//
// Table rows that have a `name` member get readable test names with RowName().
// Drive Setup opens Motor Setup by itself 100 ms after it is shown: a step for Drive Setup runs
// at once when the dialog comes up; when it closes the dialog, Motor Setup never opens.
// What the kernel reports is kept in errors_ (assert on errors_.Messages() where it matters).

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/RegisterComputation.h"
#include "host/kernel/HostServices.h"
#include "host/kernel/KernelFunctions.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/support/CollectedErrors.h"
#include "tests/support/ReferenceAxisTest.h"

// Parameter values in base units, by name.
using Values = std::vector<std::pair<std::string, double>>;

// One aspect of one control, as a test expects to see it.
struct Look {
    enum class Aspect { Enabled, Shown, Checked, Text, Selected, Bitmap };
    Aspect aspect = Aspect::Enabled;
    int id = 0;
    bool on = true;
    std::string text{};
};
inline Look Enabled(int id, bool on = true) {
    return {Look::Aspect::Enabled, id, on};
}
inline Look Shown(int id, bool on = true) {
    return {Look::Aspect::Shown, id, on};
}
inline Look Checked(int id, bool on = true) {
    return {Look::Aspect::Checked, id, on};
}
inline Look Text(int id, std::string text) {
    return {Look::Aspect::Text, id, true, std::move(text)};
}
inline Look Selected(int id, std::string text) {
    return {Look::Aspect::Selected, id, true, std::move(text)};
}
inline Look Bitmap(int id, std::string name) {
    return {Look::Aspect::Bitmap, id, true, std::move(name)};
}

inline void ExpectLooks(ui::headless::DialogDriver& d, const std::vector<Look>& looks) {
    for (const Look& look : looks) {
        switch (look.aspect) {
            case Look::Aspect::Enabled:
                EXPECT_EQ(d.IsEnabled(look.id), look.on) << "enabled " << look.id;
                break;
            case Look::Aspect::Shown:
                EXPECT_EQ(d.IsVisible(look.id), look.on) << "shown " << look.id;
                break;
            case Look::Aspect::Checked:
                EXPECT_EQ(d.IsChecked(look.id), look.on) << "checked " << look.id;
                break;
            case Look::Aspect::Text:
                EXPECT_EQ(d.Text(look.id), look.text) << "text " << look.id;
                break;
            case Look::Aspect::Selected:
                EXPECT_EQ(d.SelectedText(look.id), look.text) << "selected " << look.id;
                break;
            case Look::Aspect::Bitmap:
                EXPECT_EQ(d.Bitmap(look.id), look.text) << "bitmap " << look.id;
                break;
        }
    }
}

// Test names from the rows' name member.
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& tested) const {
        return tested.param.name;
    }
};

// The mantissa register and the gain the drive holds for a gain: SplitGain's mantissa rounded to
// the whole number the register stores.
inline double HeldMantissa(double gain) {
    return RoundToNearest(SplitGain(gain).mantissa);
}
inline double HeldGain(double gain) {
    constexpr double kQ15One = 32767.0;
    return HeldMantissa(gain) * std::exp2(SplitGain(gain).shift) / kQ15One;
}

class DialogTest : public ReferenceAxisTest {
  protected:
    void SetUp() override {
        ReferenceAxisTest::SetUp();
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/resources");
        qel::SetGUIDirectory("");
        qel::SetHelpFileOfGUI("");
    }

    // Every scripted step ran, no action was refused and the layer reported no problem.
    void ExpectScriptCompleted() {
        EXPECT_EQ(ui_->PendingSteps(), 0U);
        EXPECT_TRUE(ui_->Failures().empty()) << ui_->Failures().front();
        EXPECT_TRUE(ui_->Problems().empty()) << ui_->Problems().front();
    }

    // The texts of every message box shown, in order.
    std::vector<std::string> MessageTexts() {
        std::vector<std::string> texts;
        for (const ui::headless::MessageBoxRecord& box : ui_->MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    void ExpectValues(const Values& values) {
        for (const auto& [name, value] : values) {
            EXPECT_NEAR(Base(name), value, 1e-9 * std::max(1.0, std::fabs(value))) << name;
        }
    }

    void Remove(const std::string& name) { ASSERT_TRUE(setup_->RemoveParameter(name)) << name; }

    // Sets user parameters and computes the registers from them, so that a dialog that derives the
    // parameters from the registers when it is constructed (Drive Setup) finds them again.
    void ShapeAxis(const Values& values) {
        for (const auto& [name, value] : values) {
            Force(name, value);
        }
        ComputeDriveRegisters(*setup_);
    }

    CollectedErrors errors_;
    ui::headless::Session ui_;
};
