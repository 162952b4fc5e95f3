// The kernel's bar graph and angle diagrams: what they write into their controls' states (read
// back through the scripted user), the settings they keep before the window exists, the value
// text's format, and the values they refuse.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <ostream>
#include <string>

#include "host/kernel/BarGraph.h"
#include "host/kernel/Diagrams.h"
#include "host/ui/Dialog.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/support/CollectedErrors.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kDrawnTemplate = 904;
constexpr int kBar = 1040;
constexpr int kEncoder = 1041;
constexpr int kPhases = 1042;
constexpr int kPlaceholder = 1044;
constexpr double kPi = std::numbers::pi;

// The test template with the drawn controls, its OnInitDialog left to the test.
class DrawnDialog : public CDialog {
  public:
    DrawnDialog() : CDialog(kDrawnTemplate, nullptr) {}
    std::function<void(DrawnDialog&)> onInit;
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) {
            onInit(*this);
        }
        return TRUE;
    }
};

class KernelDrawnControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/resources");
    }

    // Runs the dialog with the checks as the scripted user's step.
    void Run(const std::function<void(DialogDriver&)>& checks) {
        ui_->When("Drawn", [&checks](DialogDriver& d) {
            checks(d);
            d.Click(IDOK);
        });
        EXPECT_EQ(dialog_.DoModal(), IDOK);
        EXPECT_TRUE(ui_->Failures().empty()) << ui_->Failures().front();
    }

    ui::headless::Session ui_;
    CollectedErrors errors_;
    DrawnDialog dialog_;
};

// --- bar graph ----------------------------------------------------------------------------------

TEST_F(KernelDrawnControlsTest, BarGraphWritesEverySettingIntoItsControl) {
    CBarGraph bar;
    dialog_.onInit = [&bar](DrawnDialog& dialog) {
        bar.SubclassDlgItem(kBar, &dialog);
        bar.SetLimits(-10.0, 10.0);
        bar.SetDrawingReference(0.0);
        bar.SetBarColour(RGB16(9));
        bar.SetValueFormat("%.2f A");
    };
    Run([&bar](DialogDriver& d) {
        bar.SetCurrentValue(-2.5);
        const ui::BarGraphState& shown = d.BarGraph(kBar);
        EXPECT_DOUBLE_EQ(shown.leftLimit, -10.0);
        EXPECT_DOUBLE_EQ(shown.rightLimit, 10.0);
        EXPECT_DOUBLE_EQ(shown.reference, 0.0);
        EXPECT_DOUBLE_EQ(shown.value, -2.5);
        EXPECT_EQ(shown.valueText, "-2.50 A");
        EXPECT_EQ(shown.barColour, RGB(255, 0, 0));
        const ui::BarExtent extent = bar.GetBarExtent();
        EXPECT_DOUBLE_EQ(extent.start, 0.375);
        EXPECT_DOUBLE_EQ(extent.end, 0.5);
    });
}

TEST_F(KernelDrawnControlsTest, BarGraphSettingsMadeBeforeTheWindowAreWrittenOnAttaching) {
    CBarGraph bar;
    bar.SetLimits(0.0, 48.0);
    bar.SetCurrentValue(36.0);
    bar.SetBackgroundColour(RGB(1, 2, 3));
    dialog_.onInit = [&bar](DrawnDialog& dialog) { bar.Attach(dialog, kBar); };
    Run([](DialogDriver& d) {
        EXPECT_DOUBLE_EQ(d.BarGraph(kBar).rightLimit, 48.0);
        EXPECT_DOUBLE_EQ(d.BarGraph(kBar).value, 36.0);
        EXPECT_EQ(d.BarGraph(kBar).valueText, "36");
        EXPECT_EQ(d.BarGraph(kBar).backgroundColour, RGB(1, 2, 3));
    });
    bar.SetCurrentValue(12.0);  // the window is gone: kept for the next run
    EXPECT_DOUBLE_EQ(bar.GetCurrentValue(), 12.0);
}

TEST_F(KernelDrawnControlsTest, BarGraphReferenceFollowsTheLeftLimitUntilSet) {
    CBarGraph bar;
    bar.SetDrawingReference(NAN);  // refused: not set
    bar.SetLeftLimit(5.0);
    EXPECT_DOUBLE_EQ(bar.GetDrawingReference(), 5.0);
    bar.SetRightLimit(50.0);
    bar.SetLeftLimit(-5.0);
    EXPECT_DOUBLE_EQ(bar.GetDrawingReference(), -5.0);
    bar.SetDrawingReference(2.0);
    bar.SetLeftLimit(-20.0);
    EXPECT_DOUBLE_EQ(bar.GetDrawingReference(), 2.0);
    bar.SetLimits(0.0, INFINITY);
    bar.SetCurrentValue(NAN);
    EXPECT_DOUBLE_EQ(bar.GetLeftLimit(), -20.0);
    EXPECT_DOUBLE_EQ(bar.GetRightLimit(), 50.0);
    EXPECT_DOUBLE_EQ(bar.GetCurrentValue(), 0.0);
    EXPECT_EQ(errors_.Messages().size(), 3U) << "every non-finite number is reported";
}

struct FormatCase {
    const char* format;
    bool accepted;
    const char* text;  // of the value 3.14159 (the default's text when refused)
    friend std::ostream& operator<<(std::ostream& out, const FormatCase& row) {
        return out << '"' << row.format << '"';
    }
};

class BarGraphFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(BarGraphFormatTest, TakesOneRealConversionAmongText) {
    CollectedErrors errors;
    CBarGraph bar;
    bar.SetCurrentValue(3.14159);
    EXPECT_EQ(bar.SetValueFormat(GetParam().format), GetParam().accepted ? TRUE : FALSE);
    EXPECT_EQ(bar.GetValueText(), GetParam().text);
    EXPECT_EQ(bar.GetValueFormat(), GetParam().accepted ? GetParam().format : "%g");
    EXPECT_EQ(errors.Messages().size(), GetParam().accepted ? 0U : 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, BarGraphFormatTest,
    ::testing::Values(FormatCase{"%.2f", true, "3.14"}, FormatCase{"%.1f A", true, "3.1 A"},
                      FormatCase{"%+8.3e", true, "+3.142e+00"}, FormatCase{"%.0f%%", true, "3%"},
                      FormatCase{"rpm %G", true, "rpm 3.14159"}, FormatCase{"%d", false, "3.14159"},
                      FormatCase{"%s", false, "3.14159"}, FormatCase{"%f %f", false, "3.14159"},
                      FormatCase{"text", false, "3.14159"}, FormatCase{"%.100f", false, "3.14159"},
                      FormatCase{"%n", false, "3.14159"}, FormatCase{"%", false, "3.14159"},
                      FormatCase{"%lf", false, "3.14159"}));

TEST_F(KernelDrawnControlsTest, BarGraphOnAnotherKindOfControlIsReportedAndDrawsNothing) {
    CBarGraph bar;
    dialog_.onInit = [&bar](DrawnDialog& dialog) {
        bar.SubclassDlgItem(kPlaceholder, &dialog);
        bar.SetCurrentValue(0.5);
    };
    Run([](DialogDriver& d) { EXPECT_DOUBLE_EQ(d.Control(kPlaceholder)->barGraph.value, 0.0); });
    ASSERT_EQ(errors_.Messages().size(), 1U);
    EXPECT_NE(errors_.Messages()[0].find("must name the kind \"bargraph\""), std::string::npos)
        << errors_.Messages()[0];
}

// --- diagrams -----------------------------------------------------------------------------------

TEST_F(KernelDrawnControlsTest, DiagramsPointAtTheAngleWithinOneTurnWhenEnabled) {
    CEncoderDiagram encoder;
    CPhaseDiagram phases;
    encoder.SetTheta(-kPi / 2);  // before the window: kept
    encoder.EnableDiagram(FALSE);
    dialog_.onInit = [&](DrawnDialog& dialog) {
        encoder.SubclassDlgItem(kEncoder, &dialog);
        phases.SubclassDlgItem(kPhases, &dialog);
    };
    Run([&](DialogDriver& d) {
        EXPECT_EQ(d.Diagram(kEncoder).style, ui::DiagramStyle::Dial);
        EXPECT_EQ(d.Diagram(kPhases).style, ui::DiagramStyle::Phases);
        EXPECT_NEAR(d.Diagram(kEncoder).theta_rad, 1.5 * kPi, 1e-12);
        EXPECT_FALSE(d.IsEnabled(kEncoder));
        encoder.EnableDiagram(TRUE);
        EXPECT_TRUE(d.IsEnabled(kEncoder));
        phases.SetTheta(2 * kPi + 2 * kPi / 3);
        EXPECT_NEAR(d.Diagram(kPhases).theta_rad, 2 * kPi / 3, 1e-12);
        EXPECT_NEAR(phases.GetTheta(), 2 * kPi / 3, 1e-12);
        phases.SetTheta(NAN);
        EXPECT_NEAR(d.Diagram(kPhases).theta_rad, 2 * kPi / 3, 1e-12);
    });
    EXPECT_EQ(errors_.Messages().size(), 1U);
}

TEST_F(KernelDrawnControlsTest, DiagramCaptionIsTheSetOneElseTheTemplatesElseItsOwn) {
    CEncoderDiagram encoder;
    CPhaseDiagram phases;
    CPhaseDiagram renamed;
    EXPECT_EQ(encoder.GetCaption(), "Encoder");
    renamed.SetCaption("Phase voltages");
    dialog_.onInit = [&](DrawnDialog& dialog) {
        encoder.SubclassDlgItem(kEncoder, &dialog);  // the template has no caption
        phases.SubclassDlgItem(kPhases, &dialog);    // "Phase currents"
    };
    Run([&](DialogDriver& d) {
        EXPECT_EQ(d.Text(kEncoder), "Encoder");
        EXPECT_EQ(d.Text(kPhases), "Phase currents");
        renamed.SubclassDlgItem(kPhases, &d.Dialog());
        EXPECT_EQ(d.Text(kPhases), "Phase voltages");
        encoder.SetCaption("Motor encoder");
        EXPECT_EQ(d.Text(kEncoder), "Motor encoder");
    });
    EXPECT_EQ(CPhaseDiagram().GetCaption(), "Phases");
}

}  // namespace
