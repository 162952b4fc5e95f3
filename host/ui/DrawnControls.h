#pragma once

// The state of the drawn controls: a bar graph ("bargraph"), a dial or phase diagram ("diagram")
// and a graph of curves ("graph"). The layer only keeps and shows this state; what it means (the
// limits of a measurement, the encoder's angle, the curves of a logged test) is set by the
// kernel's classes attached to the control. Tests read it from the control state:
//
//   const ui::ControlState* bar = dialog.GetWindowState()->Find(1021);
//   EXPECT_EQ(bar->barGraph.value, 3.5);  EXPECT_EQ(bar->barGraph.valueText, "3.50 A");
//   EXPECT_NEAR(d.Control(1030)->diagram.theta_rad, 1.0, 1e-12);
//   EXPECT_EQ(d.Control(1040)->graph.curves[0].points.size(), 400U);
//   EXPECT_EQ(d.Control(1040)->graph.curves[0].scale->valuePerDivision, 500.0);

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/ui/AfxTypes.h"

namespace ui {

// A value between a left and a right limit, drawn as a bar that starts at the drawing reference
// (0 in a -10 ... 10 range: the bar grows left or right of the middle) and ends at the value.
// The left limit may exceed the right one: the bar then grows leftward.
struct BarGraphState {
    double leftLimit = 0.0;
    double rightLimit = 1.0;
    double value = 0.0;
    double reference = 0.0;
    COLORREF barColour = RGB(0, 0, 255);
    COLORREF backgroundColour = RGB(255, 255, 255);
    std::string valueText;  // the value as the bar shows it, formatted
};

// Where the bar lies, as fractions of the bar graph's width from its left edge: start <= end,
// both within 0 ... 1.
struct BarExtent {
    double start = 0.0;
    double end = 0.0;
};

// A point's place along the bar: 0 at the left limit, 1 at the right limit, clamped to 0 ... 1.
// With equal limits every value lies at 0.
double BarFraction(const BarGraphState& bar, double value);
// The bar between the reference and the value.
BarExtent BarGraphExtent(const BarGraphState& bar);

enum class DiagramStyle {
    Dial,    // a circle with a pointer (an encoder's position within one turn)
    Phases,  // three axes A, B, C at 0, 120 and 240 degrees with a pointer (an electrical angle)
};

// An angle drawn as a pointer from the centre. Angles count counter-clockwise from the right
// (the A axis of the phase style). The control's text is the diagram's caption; a disabled
// diagram is drawn grey, without its pointer.
struct DiagramState {
    DiagramStyle style = DiagramStyle::Dial;
    double theta_rad = 0.0;  // within 0 ... 2 pi
};

// The angle brought into 0 ... 2 pi (a non-finite angle gives 0).
double NormalisedAngle_rad(double angle_rad);

struct GraphPoint {
    double x = 0.0;
    double y = 0.0;
};

// The grid of a scope: kGraphScaleDivisions high, kGraphTimeDivisions wide.
inline constexpr int kGraphScaleDivisions = 8;
inline constexpr int kGraphTimeDivisions = 10;

// A curve's fixed scale, as a scope shows a channel: each division of the grid is
// valuePerDivision and its centre line is centre, both in the scale's unit, so that a value v
// lies (v - centre) / valuePerDivision divisions above the centre line. A curve's point y (in the
// curve's unit) is the value (y - zero) / perUnit in the scale's unit ("rpm" for a curve in
// "rad/s": zero 0, perUnit 2 pi / 60).
struct GraphScale {
    std::string unit;
    double valuePerDivision = 1.0;
    double centre = 0.0;
    double zero = 0.0;
    double perUnit = 1.0;
    // The scope channel whose scale this is: a scale request names it (kGraphScaleRequest).
    int channel = 0;

    bool operator==(const GraphScale&) const = default;
};

// The message a graph control sends its dialog when the user steps the scale of a curve drawn
// against a scale of its own: wParam the control's id, lParam the scale's channel in the low 16
// bits and the step in the high 16 bits (+1 one scale coarser, -1 one finer, as a signed 16-bit
// number). The dialog's answer is 0.
inline constexpr UINT kGraphScaleRequest = WM_USER + 0x67;

// A point's value in the scale's unit.
double ScaledValue(const GraphScale& scale, double y);

struct GraphCurve {
    std::string name;
    std::string unit;
    COLORREF colour = RGB(0, 0, 0);
    std::size_t axis = 0;  // index into GraphState::yAxes
    std::vector<GraphPoint> points;
    // Changes whenever the points are replaced rather than appended to, so that a view can add
    // only the new points while the serial stays.
    std::uint64_t serial = 0;
    // Drawn against a scale of its own rather than its axis; none: against GraphState::yAxes.
    std::optional<GraphScale> scale;
};

// A scope's time base: the time axis spans span_s from start_s in kGraphTimeDivisions divisions,
// whatever the points.
struct GraphTimeBase {
    double start_s = 0.0;
    double span_s = 1.0;

    bool operator==(const GraphTimeBase&) const = default;
};

struct GraphAxis {
    std::string title;  // with its unit: "time [s]", "A", "A, V"
    double minimum = 0.0;
    double maximum = 1.0;
};

// Curves over one horizontal axis (time) and one or two vertical axes (left, right), each curve
// drawn against the vertical axis it names, or against its own scale on a scope's grid. The axes'
// ranges are the ones shown (yAxes fitted to every curve's points, scaled or not, as the saved
// pictures draw them; xAxis the time base's span unless zoomed).
struct GraphState {
    GraphAxis xAxis;
    std::vector<GraphAxis> yAxes;
    std::vector<GraphCurve> curves;
    bool markers = false;  // draw each point as a dot as well as joining them
    bool zoomed = false;   // the ranges were chosen, rather than fitted to every point
    std::optional<GraphTimeBase> timeBase;
};

// A curve's table heading: "name [unit]", or the name alone without a unit.
std::string CurveHeading(const GraphCurve& curve);
// A curve's legend text: its heading, or with a scale its name and the scale per division
// ("Speed_Reference 50 rad/s/div"; the value with up to 6 significant digits).
std::string CurveLegend(const GraphCurve& curve);
// The lowest and highest value a scale shows on its grid: centre -/+ kGraphScaleDivisions / 2
// divisions.
GraphAxis ScaleRange(const GraphScale& scale);

// The distance between two ticks of an axis over minimum ... maximum: 1, 2 or 5 times a power of
// ten, the smallest of those that makes at most kGraphTickIntervals intervals. An empty or
// non-finite range gives 1.
inline constexpr int kGraphTickIntervals = 6;
double GraphTickStep(double minimum, double maximum);

}  // namespace ui
