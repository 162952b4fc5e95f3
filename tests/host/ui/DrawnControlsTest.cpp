// The drawn controls in the headless layer: their template kinds, where a bar lies between its
// limits, angles brought into one turn, the tick steps of graph axes, attaching a wrapper by id,
// and reading a drawn control's state through the scripted user.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/ui/DrawnControls.h"
#include "tests/host/ui/ProbeDialog.h"

namespace {

constexpr int kDrawnTemplate = 904;
constexpr int kBar = 1040;
constexpr int kEncoder = 1041;
constexpr int kPhases = 1042;
constexpr int kGraph = 1043;
constexpr int kPlaceholder = 1044;
constexpr double kPi = std::numbers::pi;

// --- where the bar lies ---------------------------------------------------------------------

struct BarCase {
    const char* name;
    double left;
    double right;
    double reference;
    double value;
    double start;
    double end;
    friend std::ostream& operator<<(std::ostream& out, const BarCase& row) {
        return out << row.name;
    }
};

class BarExtentTest : public ::testing::TestWithParam<BarCase> {};

TEST_P(BarExtentTest, RunsFromTheReferenceToTheValueWithinTheBox) {
    ui::BarGraphState bar;
    bar.leftLimit = GetParam().left;
    bar.rightLimit = GetParam().right;
    bar.reference = GetParam().reference;
    bar.value = GetParam().value;
    const ui::BarExtent extent = ui::BarGraphExtent(bar);
    EXPECT_DOUBLE_EQ(extent.start, GetParam().start);
    EXPECT_DOUBLE_EQ(extent.end, GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BarExtentTest,
    ::testing::Values(BarCase{"FromTheLeftLimit", 0, 10, 0, 2.5, 0, 0.25},
                      BarCase{"RightOfAMiddleReference", -10, 10, 0, 5, 0.5, 0.75},
                      BarCase{"LeftOfAMiddleReference", -10, 10, 0, -5, 0.25, 0.5},
                      BarCase{"ValueBeyondTheRightLimitStopsAtTheEdge", -10, 10, 0, 40, 0.5, 1},
                      BarCase{"ReferenceOutsideIsClamped", 0, 10, -5, 5, 0, 0.5},
                      BarCase{"ReversedLimitsGrowLeftward", 10, 0, 10, 7.5, 0, 0.25},
                      BarCase{"EqualLimitsDrawNothing", 3, 3, 3, 4, 0, 0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// --- angles -----------------------------------------------------------------------------------

struct AngleCase {
    const char* name;
    double angle_rad;
    double expected_rad;
    friend std::ostream& operator<<(std::ostream& out, const AngleCase& row) {
        return out << row.name;
    }
};

class NormalisedAngleTest : public ::testing::TestWithParam<AngleCase> {};

TEST_P(NormalisedAngleTest, LiesWithinOneTurn) {
    const double angle_rad = ui::NormalisedAngle_rad(GetParam().angle_rad);
    EXPECT_NEAR(angle_rad, GetParam().expected_rad, 1e-12);
    EXPECT_GE(angle_rad, 0.0);
    EXPECT_LT(angle_rad, 2 * kPi);
}

INSTANTIATE_TEST_SUITE_P(Cases, NormalisedAngleTest,
                         ::testing::Values(AngleCase{"WithinTurnStays", 1.25, 1.25},
                                           AngleCase{"WholeTurnIsZero", 2 * kPi, 0.0},
                                           AngleCase{"NegativeCountsBack", -kPi / 2, 1.5 * kPi},
                                           AngleCase{"SeveralTurnsDrop", 7 * kPi, kPi},
                                           AngleCase{"TinyNegativeIsNotAWholeTurn", -1e-300, 0.0},
                                           AngleCase{"NonFiniteIsZero", INFINITY, 0.0}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// --- tick steps ---------------------------------------------------------------------------------

struct TickCase {
    double minimum;
    double maximum;
    double step;
    friend std::ostream& operator<<(std::ostream& out, const TickCase& row) {
        return out << row.minimum << " ... " << row.maximum;
    }
};

class GraphTickStepTest : public ::testing::TestWithParam<TickCase> {};

TEST_P(GraphTickStepTest, IsOneTwoOrFiveTimesAPowerOfTen) {
    EXPECT_DOUBLE_EQ(ui::GraphTickStep(GetParam().minimum, GetParam().maximum), GetParam().step);
}

INSTANTIATE_TEST_SUITE_P(Cases, GraphTickStepTest,
                         ::testing::Values(TickCase{0, 1, 0.2}, TickCase{0, 0.5, 0.1},
                                           TickCase{-10, 10, 5}, TickCase{0, 6, 1},
                                           TickCase{0, 7, 2}, TickCase{1000, 1003, 0.5},
                                           TickCase{0, 12000, 2000}, TickCase{2, 2, 1},
                                           TickCase{3, 1, 1}, TickCase{0, INFINITY, 1}));

// --- a curve's legend and scale -------------------------------------------------------------

struct LegendCase {
    const char* name;
    std::optional<ui::GraphScale> scale;
    std::string legend;
    friend std::ostream& operator<<(std::ostream& out, const LegendCase& row) {
        return out << row.name;
    }
};

class CurveLegendTest : public ::testing::TestWithParam<LegendCase> {};

TEST_P(CurveLegendTest, NamesTheCurveWithItsScalePerDivision) {
    ui::GraphCurve curve;
    curve.name = "Speed_Reference";
    curve.unit = "rad/s";
    curve.scale = GetParam().scale;
    EXPECT_EQ(ui::CurveLegend(curve), GetParam().legend);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CurveLegendTest,
    ::testing::Values(
        LegendCase{"WithoutAScaleTheHeading", std::nullopt, "Speed_Reference [rad/s]"},
        LegendCase{"ScaleInItsOwnUnit", ui::GraphScale{"rpm", 500.0, 0.0, 0.0, 0.1},
                   "Speed_Reference 500 rpm/div"},
        LegendCase{"FineStep", ui::GraphScale{"rad/s", 0.0002, 0.0, 0.0, 1.0},
                   "Speed_Reference 0.0002 rad/s/div"},
        // A step computed as 0.1 + 0.2 reads as the 1-2-5 value it stands for.
        LegendCase{"RoundingNoiseIsNotShown", ui::GraphScale{"rad/s", 0.1 + 0.2, 0.0, 0.0, 1.0},
                   "Speed_Reference 0.3 rad/s/div"},
        LegendCase{"WithoutAUnit", ui::GraphScale{"", 50.0, 0.0, 0.0, 1.0},
                   "Speed_Reference 50/div"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// A scale shows four divisions either side of its centre; points are taken into its unit.
TEST(GraphScaleTest, SpansTheGridAboutItsCentreAndConvertsPointsIntoItsUnit) {
    const ui::GraphScale rpm{"rpm", 500.0, 1000.0, 0.0, 2.0 * kPi / 60.0};
    const ui::GraphAxis range = ui::ScaleRange(rpm);
    EXPECT_DOUBLE_EQ(range.minimum, -1000.0);
    EXPECT_DOUBLE_EQ(range.maximum, 3000.0);
    EXPECT_EQ(range.title, "rpm");
    EXPECT_NEAR(ui::ScaledValue(rpm, 2.0 * kPi), 60.0, 1e-12);
    const ui::GraphScale celsius{"degC", 10.0, 0.0, 273.15, 1.0};
    EXPECT_NEAR(ui::ScaledValue(celsius, 300.0), 26.85, 1e-12);
}

// --- in a dialog --------------------------------------------------------------------------------

// A wrapper that counts its attachments, as the kernel's drawn controls write their settings
// when attached.
class CountingWnd : public CWnd {
  public:
    int attachments = 0;

  protected:
    void OnAttached() override { ++attachments; }
};

class DrawnControlsDialogTest : public HeadlessTest {
  protected:
    ProbeDialog dialog_{kDrawnTemplate, log_};
};

TEST_F(DrawnControlsDialogTest, TemplateKindsGiveTheirStatesWithTheCaption) {
    ui_->When("Drawn", [](ui::headless::DialogDriver& d) {
        EXPECT_EQ(d.Control(kBar)->kind, ui::ControlKind::BarGraph);
        EXPECT_EQ(d.Control(kEncoder)->kind, ui::ControlKind::Diagram);
        EXPECT_EQ(d.Control(kGraph)->kind, ui::ControlKind::Graph);
        EXPECT_EQ(d.Text(kPhases), "Phase currents");
        EXPECT_EQ(d.Text(kGraph), "Run");
        EXPECT_DOUBLE_EQ(d.BarGraph(kBar).rightLimit, 1.0);
        EXPECT_EQ(d.Diagram(kEncoder).style, ui::DiagramStyle::Dial);
        EXPECT_TRUE(d.Graph(kGraph).curves.empty());
        d.Click(IDOK);
    });
    EXPECT_EQ(dialog_.DoModal(), IDOK);
    EXPECT_TRUE(ui_->Failures().empty()) << ui_->Failures().front();
}

TEST_F(DrawnControlsDialogTest, ReadingADrawnStateOfAnotherKindIsAFailure) {
    ui_->When("Drawn", [](ui::headless::DialogDriver& d) {
        EXPECT_DOUBLE_EQ(d.Diagram(kBar).theta_rad, 0.0);
        EXPECT_TRUE(d.Graph(kPlaceholder).curves.empty());
        d.Click(IDOK);
    });
    dialog_.DoModal();
    ASSERT_EQ(ui_->Failures().size(), 2U);
    EXPECT_NE(ui_->Failures()[0].find("control 1040 is a bargraph, not a diagram"),
              std::string::npos)
        << ui_->Failures()[0];
    EXPECT_NE(ui_->Failures()[1].find("is a picture, not a graph"), std::string::npos);
}

TEST_F(DrawnControlsDialogTest, SubclassDlgItemAttachesByIdAndTellsTheWrapper) {
    CountingWnd byId;
    CountingWnd subclassed;
    CountingWnd missing;
    dialog_.onInit = [&](ProbeDialog& dialog) {
        EXPECT_EQ(byId.Attach(dialog, kBar), TRUE);
        EXPECT_EQ(subclassed.SubclassDlgItem(kGraph, &dialog), TRUE);
        EXPECT_EQ(missing.Attach(dialog, 4242), FALSE);
    };
    ui_->When("Drawn", [&](ui::headless::DialogDriver& d) {
        EXPECT_EQ(byId.GetDlgCtrlID(), kBar);
        EXPECT_EQ(subclassed.GetControlState(), d.Control(kGraph));
        EXPECT_EQ(missing.GetSafeHwnd(), nullptr);
        d.Click(IDOK);
    });
    EXPECT_EQ(missing.Attach(dialog_, kBar), FALSE) << "the dialog's window is not open";
    dialog_.DoModal();
    CWnd notADialog;
    EXPECT_EQ(missing.SubclassDlgItem(kBar, &notADialog), FALSE);
    EXPECT_EQ(byId.attachments, 1);
    EXPECT_EQ(subclassed.attachments, 1);
    EXPECT_EQ(missing.attachments, 0);
    EXPECT_EQ(byId.GetSafeHwnd(), nullptr) << "detached when the window went";
    ASSERT_EQ(ui_->Problems().size(), 3U);
    EXPECT_EQ(ui_->Problems()[0], "The dialog 904 has no control 1040 (its window is not open).");
    EXPECT_EQ(ui_->Problems()[1], "The dialog 904 has no control 4242.");
    EXPECT_EQ(ui_->Problems()[2], "Control 1040 can only be subclassed in a dialog.");
}

}  // namespace
