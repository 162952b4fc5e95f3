#include "host/kernel/Graph.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <fstream>
#include <limits>
#include <optional>

#include "host/kernel/DrawingSupport.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/GraphFiles.h"
#include "host/ui/FileDialogs.h"

namespace {

constexpr const char* kTimeAxisTitle = "time [s]";
constexpr const char* kSavePromptTitle = "Save Plots";
constexpr const char* kPicturePromptTitle = "Save Picture";
constexpr const char* kTablePromptTitle = "Export Data";
const ui::FileType kSvgType{"SVG picture", "svg"};
const ui::FileType kPngType{"PNG picture", "png"};
const ui::FileType kCsvType{"Text, comma-separated", "csv"};

std::uint64_t NewSerial() {
    static std::atomic<std::uint64_t> next{1};
    return next++;
}

struct Extent {
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();
    void Take(double value) {
        minimum = std::min(minimum, value);
        maximum = std::max(maximum, value);
    }
    bool Empty() const { return minimum > maximum; }
};

// The smallest range of whole tick steps holding the extent; one step either side of a single
// value, 0 ... 1 for no value at all.
void Fit(ui::GraphAxis& axis, const Extent& extent) {
    if (extent.Empty()) {
        axis.minimum = 0.0;
        axis.maximum = 1.0;
        return;
    }
    double minimum = extent.minimum;
    double maximum = extent.maximum;
    if (maximum == minimum) {
        minimum -= 1.0;
        maximum += 1.0;
    }
    const double step = ui::GraphTickStep(minimum, maximum);
    axis.minimum = std::floor(minimum / step) * step;
    axis.maximum = std::ceil(maximum / step) * step;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

// --- CXYCurve ---

CXYCurve::CXYCurve() : colour_(RGB16(0)), serial_(NewSerial()) {}

CXYCurve::CXYCurve(std::string_view name, std::string_view unit, QelColour colour)
    : name_(name), unit_(unit), colour_(colour), serial_(NewSerial()) {}

void CXYCurve::AddPoint(double x_s, double y) {
    if (!std::isfinite(x_s) || !std::isfinite(y)) {
        qel::ReportError("The curve \"" + name_ +
                         "\" cannot take a point that is not a pair of finite numbers.");
        return;
    }
    points_.push_back({x_s, y});
}

void CXYCurve::RemoveAllPoints() {
    points_.clear();
    serial_ = NewSerial();
}

ui::GraphPoint CXYCurve::GetPoint(int index) const {
    if (index < 0 || index >= GetPointsNo()) {
        return {};
    }
    return points_[static_cast<std::size_t>(index)];
}

// --- CGraphDocument ---

int CGraphDocument::AddCurve(CXYCurve curve) {
    curves_.push_back(std::move(curve));
    return GetSize() - 1;
}

CXYCurve* CGraphDocument::GetAt(int index) {
    return index >= 0 && index < GetSize() ? &curves_[static_cast<std::size_t>(index)] : nullptr;
}

const CXYCurve* CGraphDocument::GetAt(int index) const {
    return const_cast<CGraphDocument*>(this)->GetAt(index);
}

// --- CGraphWindow ---

CGraphWindow::CGraphWindow(int axisCount, int options) : axisCount_(axisCount >= 2 ? 2 : 1) {
    view_.markers = (options & kMarkers) != 0;
    view_.xAxis.title = kTimeAxisTitle;
    view_.yAxes.resize(1);
}

void CGraphWindow::SetDocument(CGraphDocument* document, CGraphFilter* filter) {
    document_ = document;
    filter_ = filter;
    RefreshGraph();
}

std::vector<int> CGraphWindow::ShownCurves() const {
    std::vector<int> shown;
    for (int index = 0; document_ != nullptr && index < document_->GetSize(); ++index) {
        if (filter_ == nullptr || filter_->Shows(index)) {
            shown.push_back(index);
        }
    }
    return shown;
}

void CGraphWindow::RefreshGraph() {
    shownIndices_ = ShownCurves();
    view_.curves.clear();
    view_.timeBase = document_ != nullptr ? document_->GetTimeBase() : std::nullopt;
    // The units in the order the curves bring them: the first unit's curves go on the left
    // axis, with two axes every other unit's on the right one.
    std::vector<std::string> units;
    for (const int index : shownIndices_) {
        const CXYCurve& curve = *document_->GetAt(index);
        auto unit = std::find(units.begin(), units.end(), curve.GetUnit());
        if (unit == units.end()) {
            unit = units.insert(units.end(), curve.GetUnit());
        }
        const auto unitIndex = static_cast<std::size_t>(unit - units.begin());
        view_.curves.push_back({curve.GetName(), curve.GetUnit(), ToColorRef(curve.GetColour()),
                                std::min(unitIndex, axisCount_ - 1), curve.GetPoints(),
                                curve.GetSerial(), curve.GetScale()});
    }
    view_.yAxes.assign(std::clamp<std::size_t>(units.size(), 1, axisCount_), ui::GraphAxis{});
    for (std::size_t u = 0; u < units.size(); ++u) {
        std::string& title = view_.yAxes[std::min(u, axisCount_ - 1)].title;
        if (!units[u].empty()) {
            title += (title.empty() ? "" : ", ") + units[u];
        }
    }
    FitAxes();
    Publish();
}

void CGraphWindow::UpdateLastPoint() {
    if (ShownCurves() != shownIndices_ ||
        (document_ != nullptr ? document_->GetTimeBase() : std::nullopt) != view_.timeBase) {
        RefreshGraph();
        return;
    }
    for (std::size_t c = 0; c < view_.curves.size(); ++c) {
        const CXYCurve& curve = *document_->GetAt(shownIndices_[c]);
        const ui::GraphCurve& shown = view_.curves[c];
        if (curve.GetSerial() != shown.serial || curve.GetName() != shown.name ||
            curve.GetUnit() != shown.unit || ToColorRef(curve.GetColour()) != shown.colour ||
            curve.GetScale() != shown.scale || curve.GetPoints().size() < shown.points.size()) {
            RefreshGraph();
            return;
        }
    }
    ui::ControlState* control = GetControlState();
    const bool attached = control != nullptr && control->kind == ui::ControlKind::Graph;
    for (std::size_t c = 0; c < view_.curves.size(); ++c) {
        const std::vector<ui::GraphPoint>& points = document_->GetAt(shownIndices_[c])->GetPoints();
        std::vector<ui::GraphPoint>& shown = view_.curves[c].points;
        const auto added = points.begin() + static_cast<std::ptrdiff_t>(shown.size());
        if (attached) {
            std::vector<ui::GraphPoint>& drawn = control->graph.curves[c].points;
            drawn.insert(drawn.end(), added, points.end());
        }
        shown.insert(shown.end(), added, points.end());
    }
    FitAxes();
    if (attached) {
        control->graph.xAxis = view_.xAxis;
        control->graph.yAxes = view_.yAxes;
        control->graph.zoomed = view_.zoomed;
        Changed();
    }
}

void CGraphWindow::UpdatePoint(int index) {
    if (ShownCurves() != shownIndices_) {
        RefreshGraph();
        return;
    }
    const auto needed = static_cast<std::size_t>(std::max(index, 0)) + 1;
    for (std::size_t c = 0; c < view_.curves.size(); ++c) {
        const CXYCurve& curve = *document_->GetAt(shownIndices_[c]);
        const ui::GraphCurve& shown = view_.curves[c];
        if (curve.GetSerial() != shown.serial ||
            (shown.points.size() < needed && curve.GetPoints().size() > shown.points.size())) {
            UpdateLastPoint();
            return;
        }
    }
}

void CGraphWindow::UpdateWindow() {
    UpdateLastPoint();
    Publish();
}

void CGraphWindow::ZoomTo(double start_s, double end_s) {
    if (!std::isfinite(start_s) || !std::isfinite(end_s) || !(end_s > start_s)) {
        qel::ReportError("The graph cannot show the time from " + std::to_string(start_s) +
                         " s to " + std::to_string(end_s) + " s.");
        return;
    }
    view_.zoomed = true;
    zoomStart_s_ = start_s;
    zoomEnd_s_ = end_s;
    FitAxes();
    Publish();
}

void CGraphWindow::DoZoomOut() {
    view_.zoomed = false;
    FitAxes();
    Publish();
}

void CGraphWindow::FitAxes() {
    Extent time;
    std::vector<Extent> values(view_.yAxes.size());
    for (const ui::GraphCurve& curve : view_.curves) {
        for (const ui::GraphPoint& point : curve.points) {
            if (view_.zoomed && (point.x < zoomStart_s_ || point.x > zoomEnd_s_)) {
                continue;
            }
            time.Take(point.x);
            values[curve.axis].Take(point.y);
        }
    }
    if (view_.zoomed) {
        view_.xAxis.minimum = zoomStart_s_;
        view_.xAxis.maximum = zoomEnd_s_;
    } else if (view_.timeBase) {
        view_.xAxis.minimum = view_.timeBase->start_s;
        view_.xAxis.maximum = view_.timeBase->start_s + view_.timeBase->span_s;
    } else {
        Fit(view_.xAxis, time);
    }
    for (std::size_t a = 0; a < values.size(); ++a) {
        Fit(view_.yAxes[a], values[a]);
    }
}

void CGraphWindow::Publish() {
    ui::ControlState* control = GetControlState();
    if (control != nullptr && control->kind == ui::ControlKind::Graph) {
        control->graph = view_;
        Changed();
    }
}

void CGraphWindow::OnAttached() {
    if (qel::IsAttachedToKind(*this, ui::ControlKind::Graph)) {
        Publish();
    }
}

BOOL CGraphWindow::SaveGraph(const std::filesystem::path& path,
                             std::string_view defaultName) const {
    if (!path.empty()) {
        return WriteGraph(path);
    }
    return AskAndWrite(kSavePromptTitle, defaultName, {kSvgType, kPngType, kCsvType});
}

BOOL CGraphWindow::CreateWMF(std::string_view proposedName) const {
    return AskAndWrite(kPicturePromptTitle, proposedName, {kSvgType, kPngType});
}

BOOL CGraphWindow::ExportToASCII(std::string_view proposedName) const {
    return AskAndWrite(kTablePromptTitle, proposedName, {kCsvType});
}

BOOL CGraphWindow::AskAndWrite(std::string_view title, std::string_view proposedName,
                               const std::vector<ui::FileType>& types) const {
    const std::optional<std::filesystem::path> chosen =
        ui::AskSaveFilePath(GetParent(), title, proposedName, types);
    return chosen ? WriteGraph(*chosen) : FALSE;
}

BOOL CGraphWindow::WriteGraph(const std::filesystem::path& path) const {
    const std::string extension = Lower(path.extension().string());
    const auto picture = [this] {
        const ui::ControlState* control = GetControlState();
        return qel::GraphSvg(view_, control != nullptr ? control->text : std::string());
    };
    std::string content;
    if (extension == ".csv") {
        content = qel::GraphCsv(view_);
    } else if (extension == ".svg") {
        content = picture();
    } else if (extension == ".png") {
        const std::string problem = ui::WritePngFromSvg(picture(), qel::kGraphPictureWidth_px,
                                                        qel::kGraphPictureHeight_px, path);
        if (!problem.empty()) {
            qel::ReportError("The graph could not be saved as " + path.filename().string() + ": " +
                             problem + ". It can be saved as a picture (.svg) or a table " +
                             "(.csv).");
            return FALSE;
        }
        return TRUE;
    } else {
        qel::ReportError("The graph cannot be saved as " + path.filename().string() +
                         ": it is saved as a table (.csv) or a picture (.svg, .png).");
        return FALSE;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    if (!file) {
        qel::ReportError("The graph could not be saved in " + path.string() + ".");
        return FALSE;
    }
    return TRUE;
}
