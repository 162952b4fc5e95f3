#pragma once

// A loop's tuning test run as brevan tune runs it: the test's own dialog, headless, on a
// simulated drive, with a scripted person who turns to the test page, presses Tune when asked,
// Start, and OK once the test has succeeded; the figures of the step response its graph shows.
// brevan commission runs the loops' tests this way too.

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "dialogs/DriveTestRunners.h"
#include "engine/GainDesign.h"
#include "host/app/DriveTestRun.h"
#include "host/app/SimulatedAxis.h"
#include "host/app/StepResponse.h"
#include "host/ui/DrawnControls.h"

class CQel_Setup;

// The setup's parameters of the profile a speed or position tuning test runs.
struct ProfileParameters;

// A loop's tuning test: its dialog, where the person finds Tune and the graph, and what the
// figures are read from.
struct TuningRow {
    std::string_view loop;
    ControlLoop controlLoop;
    // The dialog the module registers for the test.
    DriveTest test;
    int templateId = 0;
    int tuneButtonId = 0;
    int graphId = 0;
    // The parameter the gains are designed from: the passband of the loop's poles, in rad/s.
    const char* passband = "";
    // The graph's curves of the loop's reference and response.
    std::string_view referenceCurve;
    std::string_view measuredCurve;
    // The profile of a speed or position test and its step (base units); none for the current
    // loop, whose test always steps.
    const ProfileParameters* profile = nullptr;
    double (*stepAmplitude)(const CQel_Setup& setup) = nullptr;
};

// The current, speed and position loops' tests, in that order.
std::span<const TuningRow> TuningLoops();
// The row of that loop; null when there is none.
const TuningRow* FindTuningLoop(std::string_view loop);

// How the person runs the test: Tune (design the gains) before Start, and a step reference for
// the speed and position tests (the current test always steps).
struct TuningChoices {
    bool tune = false;
    bool step = false;
};

struct TuningRun {
    // Why the run failed, as the user reads it; none when the test succeeded.
    std::optional<std::string> error;
    // The dialog's end: IDOK when the person pressed OK and the gains stay in the setup.
    INT_PTR dialogResult = IDCANCEL;
    // The loop's passband after the run and the designed loop's bandwidth (the figures are read
    // by ReadFigures).
    LoopFigures design;
    // The graph the dialog showed once the test succeeded, and the title its pictures take.
    std::optional<ui::GraphState> graph;
    std::string graphTitle;
};

// Runs the loop's test on the axis (its link already the setup's drive's, prepared as
// PrepareDriveTestRun does). A profile test runs one cycle recorded by the data logger, the step
// when asked; the setup's own profile is put back after the run. Nothing (the reason printed)
// when the setup lacks a parameter of the profile. Message boxes and what the person could not
// do are listed on standard error.
std::optional<TuningRun> RunTuningTest(const TuningRow& row, const TuningChoices& choices,
                                       CQel_Setup& setup, SimulatedAxis& axis,
                                       const RunObserver& observer);

// The designed loop's bandwidth and overshoot (LoopFigures::designedBandwidth_rad_s,
// designedOvershoot_percent) from the setup's passband, damping and motor; none when the setup
// lacks one of them.
void PutDesignedFigures(const CQel_Setup& setup, const TuningRow& row, LoopFigures& figures);

// The figures of the graph's step response; nothing (the reason printed) when they cannot be
// read.
std::optional<StepFigures> ReadFigures(const ui::GraphState& graph, const TuningRow& row);

// The curve WithDesignedResponse adds.
inline constexpr std::string_view kDesignedResponseCurve = "Designed_Response";

// The graph with the designed loop's response to the step the test made beside the measured one
// (kDesignedResponseCurve, on the measured curve's axis, from the step to the end of the hold),
// for the pictures; the graph as it was when the step or the design cannot be read.
ui::GraphState WithDesignedResponse(const ui::GraphState& graph, const TuningRow& row,
                                    const CQel_Setup& setup);

// The text in lower case (ASCII), as file extensions are compared.
std::string LowerCase(std::string text);

// The picture or the table of the graph; false (the reason printed) when it cannot be written.
bool WriteGraphFile(const std::filesystem::path& path, const std::string& content);
// The graph's picture with its title, as the dialog's graph window saves it: SVG, or PNG where
// the desktop backend is built; false (the reason printed) when it cannot be written.
bool WritePlot(const std::filesystem::path& path, const ui::GraphState& graph,
               const std::string& title);

// The lines of LoopFigures: the passband, the designed and the achieved bandwidth, how far the
// achieved lies from the designed one, the designed overshoot, and the other figures of
// StepFigures.
constexpr std::size_t kFigureCount = 9;

// A figure as the commands report it: its JSON key, its name and unit in the text, its value
// (none when it cannot be measured).
struct FigureLine {
    const char* key;
    const char* name;
    const char* unit;
    std::optional<double> value;
};

std::array<FigureLine, kFigureCount> FigureLines(const LoopFigures& loop);
