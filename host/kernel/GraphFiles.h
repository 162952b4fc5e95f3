#pragma once

// The files a graph window saves, made from its view (ui::GraphState): a CSV table of the curves
// and an SVG picture of the graph. CGraphWindow::SaveGraph writes them; they are separate so that
// their content can be checked without a file.

#include <string>
#include <string_view>

#include "host/ui/DrawnControls.h"

namespace qel {

// The table: a "time [s]" column, then one column per curve headed ui::CurveHeading, comma
// separated, one line per row ending in "\n". When every curve has the same times, row i holds
// every curve's point i; otherwise there is one row per distinct time, in ascending order, with
// a curve's cell empty where it has no point at that time (and its last point there where it has
// several). Numbers are written in the shortest form that reads back to the same value; a
// heading with a comma or a quote is quoted.
std::string GraphCsv(const ui::GraphState& view);

// The size of the picture, in pixels (also of its PNG rendering).
constexpr int kGraphPictureWidth_px = 800;
constexpr int kGraphPictureHeight_px = 480;

// The picture (kGraphPictureWidth_px x kGraphPictureHeight_px): the title (when not empty), the
// plot area with its grid, the time axis below it and the value axes left and right with their
// ticks and titles, the curves clipped to the plot area (with a dot per point when the view has
// markers) and a legend under the time axis naming each curve in its colour.
std::string GraphSvg(const ui::GraphState& view, std::string_view title);

// The text with the characters XML and HTML give a meaning (& < > ") written as entities.
std::string XmlEscaped(std::string_view text);

}  // namespace qel
