// The kernel's oscilloscope: channels' last values appended at the loop's time to curves that
// roll through a window, drawn in a graph control against their channels' display ranges.

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

#include "host/kernel/Oscilloscope.h"
#include "host/ui/Dialog.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/headless/HeadlessBackend.h"
#include "tests/support/CollectedErrors.h"

namespace {

using ui::headless::DialogDriver;

constexpr int kDrawnTemplate = 904;
constexpr int kGraph = 1043;
constexpr std::uint64_t kTick_ms = 20;

// The oscilloscope attached to the test template's graph, acted on while the dialog runs.
void WithOscilloscope(const std::function<void(CQel_Oscilloscope&, DialogDriver&)>& act) {
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/resources");
    ui::headless::Session ui;
    CQel_Oscilloscope scope;
    CDialog dialog(kDrawnTemplate, nullptr);
    ui->When("Drawn", [&](DialogDriver& d) {
        ASSERT_EQ(scope.SubclassDlgItem(kGraph, &d.Dialog()), TRUE);
        act(scope, d);
        d.Click(IDOK);
    });
    dialog.DoModal();
    EXPECT_TRUE(ui->Failures().empty()) << ui->Failures().front();
}

TEST(Oscilloscope, AppendsTheLastValuesAtTheLoopsTimeAndDrawsThemInTheControl) {
    WithOscilloscope([](CQel_Oscilloscope& scope, DialogDriver& d) {
        ASSERT_EQ(scope.Initialize("Speed", 2, 0), TRUE);
        scope.GetChannel(0)->displayMaximum = 1200.0;
        scope.GetChannel(0)->displayMinimum = -200.0;
        scope.GetChannel(0)->colour = RGB16(2);
        scope.GetChannel(1)->displayMaximum = 200.0;
        scope.GetChannel(1)->displayMinimum = -1200.0;
        scope.GetChannel(1)->colour = RGB16(5);
        for (int tick = 1; tick <= 3; ++tick) {
            d.AdvanceTime(kTick_ms);
            scope.GetChannel(0)->lastValue = 100.0 * tick;
            scope.GetChannel(1)->lastValue = -10.0 * tick;
            scope.UpdateLastPoint();
        }
        const ui::GraphState& shown = d.Graph(kGraph);
        EXPECT_EQ(d.Text(kGraph), "Speed");
        ASSERT_EQ(shown.curves.size(), 2U);
        ASSERT_EQ(shown.curves[0].points.size(), 3U);
        EXPECT_DOUBLE_EQ(shown.curves[0].points[2].x, 0.06);
        EXPECT_EQ(shown.curves[0].points[2].y, 300.0);
        EXPECT_EQ(shown.curves[1].points[0].y, -10.0);
        EXPECT_EQ(shown.curves[0].colour, RGB(0, 128, 0));
        EXPECT_EQ(shown.curves[1].axis, 1U);
        ASSERT_EQ(shown.yAxes.size(), 2U);
        EXPECT_EQ(shown.yAxes[0].minimum, -200.0);
        EXPECT_EQ(shown.yAxes[0].maximum, 1200.0);
        EXPECT_EQ(shown.yAxes[1].minimum, -1200.0);
        EXPECT_EQ(shown.xAxis.minimum, 0.0);
        EXPECT_EQ(shown.xAxis.maximum, 5.0);
    });
}

TEST(Oscilloscope, RollsThroughItsWindowAndRedrawsTheCurvesItShortens) {
    WithOscilloscope([](CQel_Oscilloscope& scope, DialogDriver& d) {
        ASSERT_EQ(scope.Initialize("", 1, CQel_Oscilloscope::kMarkers), TRUE);
        const std::uint64_t ticks = CQel_Oscilloscope::kWindow_ms / kTick_ms;
        std::uint64_t serial = 0;
        for (std::uint64_t tick = 1; tick <= ticks + 10; ++tick) {
            d.AdvanceTime(kTick_ms);
            scope.GetChannel(0)->lastValue = static_cast<double>(tick);
            scope.UpdateLastPoint();
            if (tick == ticks) {
                serial = d.Graph(kGraph).curves[0].serial;
            }
        }
        const ui::GraphState& shown = d.Graph(kGraph);
        EXPECT_TRUE(shown.markers);
        const std::vector<ui::GraphPoint>& points = shown.curves[0].points;
        // The window holds its end points: 5 s of 20 ms ticks and the tick at its start.
        ASSERT_EQ(points.size(), ticks + 1);
        EXPECT_EQ(points.back().y, static_cast<double>(ticks + 10));
        EXPECT_DOUBLE_EQ(shown.xAxis.maximum, 0.001 * static_cast<double>((ticks + 10) * kTick_ms));
        EXPECT_NEAR(shown.xAxis.minimum, shown.xAxis.maximum - 5.0, 1e-12);
        EXPECT_GE(points.front().x, shown.xAxis.minimum);
        EXPECT_NE(shown.curves[0].serial, serial) << "dropped points need a redraw";
    });
}

TEST(Oscilloscope, RefusesToHaveNoChannelAndNamesOnlyItsOwn) {
    CollectedErrors errors;
    CQel_Oscilloscope scope;
    EXPECT_EQ(scope.Initialize("", 0, 0), FALSE);
    EXPECT_EQ(errors.Messages().size(), 1U);
    ASSERT_EQ(scope.Initialize("", 2, 0), TRUE);
    EXPECT_NE(scope.GetChannel(1), nullptr);
    EXPECT_EQ(scope.GetChannel(2), nullptr);
    EXPECT_EQ(scope.GetChannel(-1), nullptr);
    // Unattached, the view is kept all the same.
    scope.GetChannel(0)->lastValue = 4.0;
    scope.UpdateLastPoint();
    ASSERT_EQ(scope.GetView().curves[0].points.size(), 1U);
    EXPECT_EQ(scope.GetView().curves[0].points[0].y, 4.0);
}

}  // namespace
