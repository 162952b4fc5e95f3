#include "host/kernel/GraphFiles.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

namespace qel {
namespace {

// The picture's size and the room around the plot area, in pixels.
constexpr double kWidth_px = kGraphPictureWidth_px;
constexpr double kHeight_px = kGraphPictureHeight_px;
constexpr double kAxisMargin_px = 72.0;    // tick labels and the title of a value axis
constexpr double kBareMargin_px = 20.0;    // a side without a value axis
constexpr double kTitleBand_px = 32.0;     // the graph's title above the plot area
constexpr double kTimeAxisBand_px = 48.0;  // tick labels and the title of the time axis
constexpr double kLegendRow_px = 18.0;
constexpr double kLegendSwatch_px = 24.0;  // the stroke of a curve beside its legend text
constexpr double kLegendGap_px = 16.0;
constexpr double kCharWidth_px = 7.0;  // of the 12-pixel legend font, for laying it out
constexpr double kTickLength_px = 5.0;
constexpr double kAxisTitleInset_px = 16.0;  // a value axis's title from the picture's edge
constexpr double kMarkerRadius_px = 2.0;
// The smallest step of ticks shown with no decimals; finer steps get as many as they need.
constexpr double kWholeStep = 1.0;
// A tick's value this close to zero, relative to the step, is written as 0 (never "-0").
constexpr double kZeroTolerance = 1e-9;

std::string Number(double value) {
    std::array<char, 32> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() ? std::string(text.data(), end) : std::string("nan");
}

std::string Pixels(double value_px) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.2f", value_px);
    return text.data();
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

std::string Colour(COLORREF colour) {
    constexpr unsigned kGreenShift = 8;
    constexpr unsigned kBlueShift = 16;
    constexpr COLORREF kChannel = 0xFF;
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "#%02x%02x%02x", colour & kChannel,
                  (colour >> kGreenShift) & kChannel, (colour >> kBlueShift) & kChannel);
    return text.data();
}

bool SameTimes(const ui::GraphState& view) {
    for (const ui::GraphCurve& curve : view.curves) {
        const std::vector<ui::GraphPoint>& first = view.curves.front().points;
        if (curve.points.size() != first.size() ||
            !std::equal(
                curve.points.begin(), curve.points.end(), first.begin(),
                [](const ui::GraphPoint& a, const ui::GraphPoint& b) { return a.x == b.x; })) {
            return false;
        }
    }
    return true;
}

// A tick's label: as many decimals as the step needs.
std::string TickLabel(double value, double step) {
    if (std::fabs(value) < step * kZeroTolerance) {
        value = 0.0;
    }
    const int decimals =
        step >= kWholeStep ? 0 : static_cast<int>(std::ceil(-std::log10(step) - kZeroTolerance));
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    return text.data();
}

// The multiples of the step within the range, as whole step counts.
std::vector<double> Ticks(const ui::GraphAxis& axis) {
    std::vector<double> ticks;
    const double step = ui::GraphTickStep(axis.minimum, axis.maximum);
    const double first = std::ceil(axis.minimum / step - kZeroTolerance);
    const double last = std::floor(axis.maximum / step + kZeroTolerance);
    for (double count = first; count <= last; ++count) {
        ticks.push_back(count * step);
    }
    return ticks;
}

// Maps values of an axis onto pixels between two ends.
struct Scale {
    double minimum;
    double maximum;
    double from_px;
    double to_px;
    double operator()(double value) const {
        const double span = maximum - minimum;
        return span > 0.0 ? from_px + (value - minimum) / span * (to_px - from_px) : from_px;
    }
};

struct LegendItem {
    const ui::GraphCurve* curve;
    double x_px;
    double y_px;
};

std::vector<LegendItem> LayOutLegend(const ui::GraphState& view, double left_px, double right_px,
                                     double top_px) {
    std::vector<LegendItem> items;
    double x_px = left_px;
    double y_px = top_px;
    for (const ui::GraphCurve& curve : view.curves) {
        const double width_px =
            kLegendSwatch_px + kCharWidth_px * static_cast<double>(ui::CurveHeading(curve).size());
        if (x_px > left_px && x_px + width_px > right_px) {
            x_px = left_px;
            y_px += kLegendRow_px;
        }
        items.push_back({&curve, x_px, y_px});
        x_px += width_px + kLegendGap_px;
    }
    return items;
}

}  // namespace

std::string XmlEscaped(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string GraphCsv(const ui::GraphState& view) {
    std::string table = "time [s]";
    for (const ui::GraphCurve& curve : view.curves) {
        table += "," + CsvField(ui::CurveHeading(curve));
    }
    table += "\n";
    if (view.curves.empty()) {
        return table;
    }
    if (SameTimes(view)) {
        const std::size_t rows = view.curves.front().points.size();
        for (std::size_t row = 0; row < rows; ++row) {
            table += Number(view.curves.front().points[row].x);
            for (const ui::GraphCurve& curve : view.curves) {
                table += "," + Number(curve.points[row].y);
            }
            table += "\n";
        }
        return table;
    }
    std::vector<std::map<double, double>> byTime(view.curves.size());
    std::vector<double> times;
    for (std::size_t c = 0; c < view.curves.size(); ++c) {
        for (const ui::GraphPoint& point : view.curves[c].points) {
            byTime[c][point.x] = point.y;
            times.push_back(point.x);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    for (const double time : times) {
        table += Number(time);
        for (const std::map<double, double>& curve : byTime) {
            const auto found = curve.find(time);
            table += "," + (found != curve.end() ? Number(found->second) : std::string());
        }
        table += "\n";
    }
    return table;
}

std::string GraphSvg(const ui::GraphState& view, std::string_view title) {
    const bool rightAxis = view.yAxes.size() > 1;
    const double left_px = view.yAxes.empty() ? kBareMargin_px : kAxisMargin_px;
    const double right_px = kWidth_px - (rightAxis ? kAxisMargin_px : kBareMargin_px);
    const double top_px = title.empty() ? kBareMargin_px : kTitleBand_px;
    const std::vector<LegendItem> legend = LayOutLegend(view, left_px, right_px, 0.0);
    const double legendRows = legend.empty() ? 0.0 : legend.back().y_px / kLegendRow_px + 1.0;
    const double bottom_px = kHeight_px - kTimeAxisBand_px - legendRows * kLegendRow_px;
    const Scale x{view.xAxis.minimum, view.xAxis.maximum, left_px, right_px};

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Pixels(kWidth_px) +
           "\" height=\"" + Pixels(kHeight_px) + "\" viewBox=\"0 0 " + Pixels(kWidth_px) + " " +
           Pixels(kHeight_px) + "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"12\">\n";
    svg += "<defs><clipPath id=\"plot\"><rect x=\"" + Pixels(left_px) + "\" y=\"" + Pixels(top_px) +
           "\" width=\"" + Pixels(right_px - left_px) + "\" height=\"" +
           Pixels(bottom_px - top_px) + "\"/></clipPath></defs>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    if (!title.empty()) {
        svg += "<text class=\"title\" x=\"" + Pixels(kWidth_px / 2) + "\" y=\"" +
               Pixels(kTitleBand_px - kLegendGap_px / 2) +
               "\" text-anchor=\"middle\" font-size=\"14\">" + XmlEscaped(title) + "</text>\n";
    }

    // The time axis: grid lines, ticks and labels below the plot area, and its title.
    const double timeStep = ui::GraphTickStep(view.xAxis.minimum, view.xAxis.maximum);
    for (const double tick : Ticks(view.xAxis)) {
        const std::string at = Pixels(x(tick));
        svg += "<line x1=\"" + at + "\" y1=\"" + Pixels(top_px) + "\" x2=\"" + at + "\" y2=\"" +
               Pixels(bottom_px + kTickLength_px) + "\" stroke=\"#d0d0d0\"/>\n";
        svg += "<text class=\"tick\" x=\"" + at + "\" y=\"" +
               Pixels(bottom_px + kTickLength_px + kLegendRow_px) + "\" text-anchor=\"middle\">" +
               TickLabel(tick, timeStep) + "</text>\n";
    }
    svg += "<text class=\"axis-title\" x=\"" + Pixels((left_px + right_px) / 2) + "\" y=\"" +
           Pixels(bottom_px + kTimeAxisBand_px - kTickLength_px) + "\" text-anchor=\"middle\">" +
           XmlEscaped(view.xAxis.title) + "</text>\n";

    // The value axes: the left one, and the right one when there are two.
    for (std::size_t a = 0; a < view.yAxes.size(); ++a) {
        const ui::GraphAxis& axis = view.yAxes[a];
        const bool left = a == 0;
        const Scale y{axis.minimum, axis.maximum, bottom_px, top_px};
        const double step = ui::GraphTickStep(axis.minimum, axis.maximum);
        const double edge_px = left ? left_px : right_px;
        const double outward = left ? -1.0 : 1.0;
        for (const double tick : Ticks(axis)) {
            const std::string at = Pixels(y(tick));
            if (left) {
                svg += "<line x1=\"" + Pixels(left_px) + "\" y1=\"" + at + "\" x2=\"" +
                       Pixels(right_px) + "\" y2=\"" + at + "\" stroke=\"#d0d0d0\"/>\n";
            }
            svg += "<line x1=\"" + Pixels(edge_px) + "\" y1=\"" + at + "\" x2=\"" +
                   Pixels(edge_px + outward * kTickLength_px) + "\" y2=\"" + at +
                   "\" stroke=\"#000000\"/>\n";
            svg += "<text class=\"tick\" x=\"" + Pixels(edge_px + outward * 2 * kTickLength_px) +
                   "\" y=\"" + at + "\" dy=\"0.35em\" text-anchor=\"" + (left ? "end" : "start") +
                   "\">" + TickLabel(tick, step) + "</text>\n";
        }
        const double titleX_px = left ? kAxisTitleInset_px : kWidth_px - kAxisTitleInset_px;
        const double titleY_px = (top_px + bottom_px) / 2;
        svg += "<text class=\"axis-title\" x=\"" + Pixels(titleX_px) + "\" y=\"" +
               Pixels(titleY_px) + "\" text-anchor=\"middle\" transform=\"rotate(" +
               (left ? "-90 " : "90 ") + Pixels(titleX_px) + " " + Pixels(titleY_px) + ")\">" +
               XmlEscaped(axis.title) + "</text>\n";
    }
    svg += "<rect x=\"" + Pixels(left_px) + "\" y=\"" + Pixels(top_px) + "\" width=\"" +
           Pixels(right_px - left_px) + "\" height=\"" + Pixels(bottom_px - top_px) +
           "\" fill=\"none\" stroke=\"#000000\"/>\n";

    // The curves.
    svg += "<g clip-path=\"url(#plot)\" fill=\"none\" stroke-width=\"1.5\">\n";
    for (const ui::GraphCurve& curve : view.curves) {
        if (curve.axis >= view.yAxes.size()) {
            continue;
        }
        const ui::GraphAxis& axis = view.yAxes[curve.axis];
        const Scale y{axis.minimum, axis.maximum, bottom_px, top_px};
        std::string points;
        for (const ui::GraphPoint& point : curve.points) {
            points += (points.empty() ? "" : " ") + Pixels(x(point.x)) + "," + Pixels(y(point.y));
        }
        svg += "<polyline class=\"curve\" stroke=\"" + Colour(curve.colour) + "\" points=\"" +
               points + "\"><title>" + XmlEscaped(ui::CurveHeading(curve)) +
               "</title></polyline>\n";
        if (view.markers) {
            for (const ui::GraphPoint& point : curve.points) {
                svg += "<circle cx=\"" + Pixels(x(point.x)) + "\" cy=\"" + Pixels(y(point.y)) +
                       "\" r=\"" + Pixels(kMarkerRadius_px) + "\" fill=\"" + Colour(curve.colour) +
                       "\"/>\n";
            }
        }
    }
    svg += "</g>\n";

    // The legend under the time axis.
    const double legendTop_px = bottom_px + kTimeAxisBand_px + kLegendRow_px / 2;
    for (const LegendItem& item : legend) {
        const double row_px = legendTop_px + item.y_px;
        svg += "<line x1=\"" + Pixels(item.x_px) + "\" y1=\"" + Pixels(row_px) + "\" x2=\"" +
               Pixels(item.x_px + kLegendSwatch_px - kTickLength_px) + "\" y2=\"" + Pixels(row_px) +
               "\" stroke=\"" + Colour(item.curve->colour) + "\" stroke-width=\"3\"/>\n";
        svg += "<text class=\"legend\" x=\"" + Pixels(item.x_px + kLegendSwatch_px) + "\" y=\"" +
               Pixels(row_px) + "\" dy=\"0.35em\">" + XmlEscaped(ui::CurveHeading(*item.curve)) +
               "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace qel
