#pragma once

// The kernel's graphs: curves of values over time, kept in a document and shown by a graph
// window attached to a "graph" control of a dialog's template.
//
// - CXYCurve: one curve: its points (x the time in seconds, y in the curve's unit), its name,
//   unit and colour.
// - CGraphDocument: the curves of a test, by index in the order added.
// - CGraphFilter: which of the document's curves a window shows (all of them while it names
//   none).
// - CGraphWindow: the view. It shows the document's curves over a time axis and one or two value
//   axes, with a legend, and saves them as CSV or as an SVG or PNG picture.
//
//   CGraphDocument document_;  CGraphFilter shown_;  CGraphWindow graph_{2, 0};
//   document_.AddCurve(CXYCurve("IQ", "A", RGB16(12)));
//   document_.AddCurve(CXYCurve("Speed", "rpm", RGB16(9)));
//   graph_.SubclassDlgItem(1040, this);
//   graph_.SetDocument(&document_, &shown_);
//   ... each tick: document_.GetAt(0)->AddPoint(t_s, current_A); ...; graph_.UpdateLastPoint();
//   graph_.SaveGraph("/tmp/run.svg");   // or .png, .csv
//   graph_.SaveGraph({}, "step-response.svg");   // asks the user where ("Save Plots")
//
// The window's view (ui::GraphState, readable with GetView and from the control's state) holds
// copies of the shown curves and the ranges of the axes; RefreshGraph copies everything again,
// UpdateLastPoint only the points added since (everything when the shown curves changed in
// another way: added, removed, renamed, recoloured, rescaled, cleared, or the filter or the
// time base changed). Unless zoomed, each axis is fitted to the points: the smallest range of
// whole tick steps (ui::GraphTickStep) holding all of them.
//
// Fixed scales, as a scope shows its channels, travel with the document: a curve's scale
// (CXYCurve::SetScale, ui::GraphScale: value per division, centre, unit on a grid of
// ui::kGraphScaleDivisions) and the document's time base (CGraphDocument::SetTimeBase: the time
// axis spans the acquisition in ui::kGraphTimeDivisions). The window copies them into its view
// (GraphCurve::scale, GraphState::timeBase) and the time axis then spans the time base whatever
// the points. The scope logger (CQel_ScopeLogger, Loggers.h) sets them on its own document
// whenever its channels' scales or its acquisition change; a window showing that document shows
// them from its next UpdateLastPoint (or RefreshGraph):
//
//   graph_.SetDocument(scope.GetGraphDocument(), scope.GetGraphFilter(0));
//   scope.RescaleVariable("Speed_Reference", "rpm", 500.0, 0.0);
//   graph_.UpdateLastPoint();   // the view's curve 0 now has scale {"rpm", 500, 0, ...}

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/KernelFunctions.h"
#include "host/ui/DrawnControls.h"
#include "host/ui/FileDialogs.h"
#include "host/ui/Wnd.h"

class CXYCurve {
  public:
    CXYCurve();
    CXYCurve(std::string_view name, std::string_view unit, QelColour colour = RGB16(0));

    void SetName(std::string_view name) { name_ = std::string(name); }
    const std::string& GetName() const { return name_; }
    void SetUnit(std::string_view unit) { unit_ = std::string(unit); }
    const std::string& GetUnit() const { return unit_; }
    void SetColour(QelColour colour) { colour_ = colour; }
    QelColour GetColour() const { return colour_; }

    // Appends a point (x the time in seconds); a non-finite one is refused and reported.
    void AddPoint(double x_s, double y);
    void RemoveAllPoints();
    int GetPointsNo() const { return static_cast<int>(points_.size()); }
    // The point of that index; (0, 0) outside the curve.
    ui::GraphPoint GetPoint(int index) const;
    const std::vector<ui::GraphPoint>& GetPoints() const { return points_; }
    // Changes whenever points are removed (a view then copies them anew).
    std::uint64_t GetSerial() const { return serial_; }
    // The fixed scale the curve is shown at (a scope channel's); none: against an axis fitted to
    // the points.
    void SetScale(std::optional<ui::GraphScale> scale) { scale_ = std::move(scale); }
    const std::optional<ui::GraphScale>& GetScale() const { return scale_; }

  private:
    std::string name_;
    std::string unit_;
    QelColour colour_;
    std::vector<ui::GraphPoint> points_;
    std::uint64_t serial_;
    std::optional<ui::GraphScale> scale_;
};

class CGraphDocument {
  public:
    // Adds a curve; returns its index.
    int AddCurve(CXYCurve curve);
    // The curve of that index, null outside the document. Curves keep their address while the
    // document holds them.
    CXYCurve* GetAt(int index);
    const CXYCurve* GetAt(int index) const;
    int GetSize() const { return static_cast<int>(curves_.size()); }
    // Removes the curves; the time base stays.
    void RemoveAll() { curves_.clear(); }
    // The time base the curves are shown over (a scope acquisition's); none: a time axis fitted
    // to the points.
    void SetTimeBase(std::optional<ui::GraphTimeBase> timeBase) { timeBase_ = timeBase; }
    const std::optional<ui::GraphTimeBase>& GetTimeBase() const { return timeBase_; }

  private:
    std::deque<CXYCurve> curves_;
    std::optional<ui::GraphTimeBase> timeBase_;
};

class CGraphFilter {
  public:
    // Shows the document's curve of that index.
    void Add(int curveIndex) { shown_.insert(curveIndex); }
    void Remove(int curveIndex) { shown_.erase(curveIndex); }
    // Back to showing every curve.
    void RemoveAll() { shown_.clear(); }
    bool Shows(int curveIndex) const { return shown_.empty() || shown_.contains(curveIndex); }

  private:
    std::set<int> shown_;
};

class CGraphWindow : public CWnd {
  public:
    // The options: draw each point as a dot too.
    static constexpr int kMarkers = 1;

    // axisCount: the value axes, 1 (every curve against the left axis) or 2 (the curves of the
    // first unit against the left axis, the others against the right one); other counts are
    // taken as the nearest of these. options: 0, or kMarkers.
    CGraphWindow(int axisCount, int options);

    // The document shown and the filter choosing its curves (null: every curve); neither is
    // owned. Refreshes the view.
    void SetDocument(CGraphDocument* document, CGraphFilter* filter = nullptr);
    CGraphDocument* GetDocument() const { return document_; }

    // Copies the shown curves (with their scales) and the document's time base anew and fits the
    // axes (unless zoomed).
    void RefreshGraph();
    // Adds the points the shown curves gained since the view last copied them; a curve whose
    // points were removed, or a change of the shown curves, their scales or the time base,
    // copies everything anew.
    void UpdateLastPoint();
    // Shows the point of that index of the shown curves, as a scope draws each point of a frame
    // as it arrives: the view catches up with the document (UpdateLastPoint) when it lacks the
    // point or a curve's points were replaced.
    void UpdatePoint(int index);
    // Redraws the view at once: the control gets the whole view anew.
    void UpdateWindow();
    // Shows the time from start to end (seconds), the value axes fitted to the points within.
    // An empty or non-finite range is refused and reported.
    void ZoomTo(double start_s, double end_s);
    // Back to showing every point.
    void DoZoomOut();

    // Saves the view (UpdateLastPoint first for the newest points) by the path's extension:
    // ".csv" a table of the curves, a "time [s]" column then a "name [unit]" column per curve
    // (qel::GraphCsv); ".svg" a picture with axes, units, ticks, the curves and a legend
    // (qel::GraphSvg); ".png" that picture drawn by the windowing layer (only the desktop can).
    // FALSE, reported, for another extension or a file that cannot be written.
    // With an empty path the user is asked where, in the save prompt "Save Plots" offering the
    // three kinds with defaultName proposed; FALSE, and nothing reported, when the user cancels.
    BOOL SaveGraph(const std::filesystem::path& path, std::string_view defaultName = {}) const;
    // Asks where to save the picture of the view, in the save prompt "Save Picture" offering SVG
    // and PNG with the name proposed, and saves it as SaveGraph does; FALSE when the user
    // cancels or the file cannot be written (reported).
    BOOL CreateWMF(std::string_view proposedName) const;
    // The same for the table of the view's curves: "Export Data", CSV only.
    BOOL ExportToASCII(std::string_view proposedName) const;

    // What the window shows; kept also while no dialog window is attached.
    const ui::GraphState& GetView() const { return view_; }

  protected:
    void OnAttached() override;

  private:
    // The indices of the document's curves the filter shows, in document order.
    std::vector<int> ShownCurves() const;
    void FitAxes();
    // Writes the whole view into the control's state.
    void Publish();
    // Asks where to save, offering the types, and saves there; FALSE when the user cancels.
    BOOL AskAndWrite(std::string_view title, std::string_view proposedName,
                     const std::vector<ui::FileType>& types) const;
    // Saves to the path by its extension (SaveGraph with a path).
    BOOL WriteGraph(const std::filesystem::path& path) const;

    std::size_t axisCount_;
    CGraphDocument* document_ = nullptr;
    CGraphFilter* filter_ = nullptr;
    ui::GraphState view_;
    std::vector<int> shownIndices_;  // the document's curve of each curve of the view
    double zoomStart_s_ = 0.0;
    double zoomEnd_s_ = 0.0;
};
