#include "host/app/TuningRun.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <utility>
#include <vector>

#include "drivetests/MyTestDlg.h"
#include "drivetests/TestProfile.h"
#include "engine/BaseScales.h"
#include "engine/PhaseConnection.h"
#include "engine/QuietProbes.h"
#include "engine/RegisterFormats.h"
#include "host/app/CommandLine.h"
#include "host/app/DriveTestCommand.h"
#include "host/kernel/GraphFiles.h"
#include "host/kernel/Setup.h"
#include "host/ui/headless/HeadlessBackend.h"
#if BREVAN_DESKTOP
#include "host/app/OffscreenPicture.h"
#endif

// The setup's parameters of the profile a speed or position tuning test runs: its amplitude, its
// four times, its reference type and its run switches.
struct ProfileParameters {
    const char* amplitude;
    const char* rise;
    const char* hold;
    const char* back;
    const char* pause;
    const char* referenceType;
    const char* multiCycle;
    const char* onlinePlot;
};

namespace {

// A tuning run lasts well under a second of drive time; one still running after this has hung.
constexpr double kPatience_s = 60.0;

constexpr ProfileParameters kSpeedProfile{"TestSpeed",   "TaPS",       "TPS",
                                          "TaNS",        "TNS",        "SpeedTestReferenceType",
                                          "MultiCycleS", "OnlinePlotS"};
constexpr ProfileParameters kPositionProfile{
    "TestPosition", "TaPP",       "TPP", "TaNP", "TNP", "PositionTestReferenceType",
    "MultiCycleP",  "OnlinePlotP"};

// The step --step makes of a profile test's reference. The profile rises in one speed-loop period
// (Ts, 0.5 ms at 2 kHz) when the rise's parameter allows it, or in the shortest rise it allows;
// it holds for kHoldPassbands / the passband, returns as it rose and pauses as long as it held.
//
// The amplitude is small enough that the loop reaches none of its limits, so that the response is
// the linear loop's and not its saturations'. The designed speed PI answers a speed step dw at
// once with its proportional part, Kp dw = 2 zeta PB J dw / K amperes (twice the current that
// would accelerate the inertia J by dw in 1 / PB when zeta is 1); its integral part then takes
// over while the error shrinks, so the proportional kick is the most current the step asks. The
// speed step keeps that kick at kStepLimitShare of the test's current limit, and the speed at
// kStepLimitShare of the speed limit. The position loop over the speed loop answers a position
// step dp with a speed reference 2 zeta_P PB_P dp at once, which must stay within the speed
// step's budget; the position loop on the current answers with its derivative's kick over the
// one period of the step, Kd dp / Ts = (2 zeta_P + 1) PB_P J dp / (K Ts) amperes, kept at the
// same share of the current limit. The drive changes its reference by at most
// profile::kLargestIncrement units in a period, which bounds a one-period step too. At the step
// the whole step is the loop's following error: it stays within kFollowingErrorShare of the
// setup's following-error limit (ERR_speed, ERR_position), so that the error never exceeds the
// limit (a step beyond it trips the drive when the loop, slowed by friction or a load, takes
// longer than the protection's time to bring the error within).
//
// The share is as large as the linear loop allows, because friction and a load torque that set in
// as the shaft starts slow the step down by their share of the kick's torque. The kick also takes
// voltage: the winding's resistance carries it and the shaft's back-EMF grows with the step's
// speed. That voltage stays within kStepVoltageShare of the most the bus gives one star phase
// (Vdc / sqrt 3), the rest left to the current loop to move the current at its bandwidth: a
// resistive motor on a low bus would otherwise saturate its current loop, and the response would
// be the saturation's.
constexpr double kHoldPassbands = 20.0;
constexpr double kStepLimitShare = 0.4;
constexpr double kStepVoltageShare = 0.4;
constexpr double kFollowingErrorShare = 0.9;
constexpr double kPercent = 100.0;
// Where the designed loop's peak is looked for: kDesignedPeakSpan times its time to 63 %, in
// kDesignedPeakSamples points.
constexpr double kDesignedPeakSpan = 20.0;
constexpr std::size_t kDesignedPeakSamples = 4001;
// The designed loop's response in the pictures: orange, apart from the dialogs' own curves.
constexpr COLORREF kDesignedResponseColour = RGB(230, 120, 0);

// The step bounded by the share of the following-error limit, when the setup has that limit.
double WithinFollowingError(const CQel_Setup& setup, double step, const char* errorLimit) {
    if (!HasParameters(setup, {errorLimit})) {
        return step;
    }
    return std::min(step, kFollowingErrorShare * setup.GetParameterValueInBaseUnit(errorLimit));
}

// The speed step bounded by the voltage its kick takes, when the setup knows the winding and the
// bus. The back-EMF constant of a sine-wound motor in volts per rad/s is at most its torque
// constant in Nm/A, the bound on the safe side.
double WithinVoltage(const CQel_Setup& setup, double step_rad_s, double kick_A_per_rad_s) {
    if (!HasParameters(setup, {"R", "Vdc", "MotorPhaseConnectionType"})) {
        return step_rad_s;
    }
    const double starResistance_ohm =
        engine::StarPhaseValue(setup.GetParameterValueInBaseUnit("R"),
                               setup.GetParameterValueInBaseUnit("MotorPhaseConnectionType"));
    const double volts_per_rad_s =
        starResistance_ohm * kick_A_per_rad_s + setup.GetParameterValueInBaseUnit("K");
    const double phaseVoltage_V = setup.GetParameterValueInBaseUnit("Vdc") / std::numbers::sqrt3;
    return std::min(step_rad_s, kStepVoltageShare * phaseVoltage_V / volts_per_rad_s);
}

double SpeedStep_rad_s(const CQel_Setup& setup) {
    const double kick_A_per_rad_s = 2.0 * setup.GetParameterValueInBaseUnit("Dump_S") *
                                    setup.GetParameterValueInBaseUnit("PB_S") *
                                    setup.GetParameterValueInBaseUnit("Jt") /
                                    setup.GetParameterValueInBaseUnit("K");
    double step_rad_s = WithinVoltage(
        setup,
        kStepLimitShare * setup.GetParameterValueInBaseUnit("TestLimitCurrent") / kick_A_per_rad_s,
        kick_A_per_rad_s);
    if (HasParameters(setup, {"Limit_Speed"})) {
        step_rad_s = std::min(step_rad_s,
                              kStepLimitShare * setup.GetParameterValueInBaseUnit("Limit_Speed"));
    }
    step_rad_s = WithinFollowingError(setup, step_rad_s, "ERR_speed");
    return std::min(step_rad_s, profile::kLargestIncrement / std::abs(ComputeSpeedScale(setup)));
}

double PositionStep_rad(const CQel_Setup& setup) {
    const double damping = setup.GetParameterValueInBaseUnit("Dump_P");
    const double passband_rad_s = setup.GetParameterValueInBaseUnit("PB_P");
    double step_rad = 0.0;
    if (std::trunc(setup.GetParameterValueInBaseUnit("PositionControlType")) ==
        regfmt::kPositionControlWithSpeedLoop) {
        step_rad = SpeedStep_rad_s(setup) / (2.0 * damping * passband_rad_s);
    } else {
        const double kick_A_per_rad =
            (2.0 * damping + 1.0) * passband_rad_s * setup.GetParameterValueInBaseUnit("Jt") /
            (setup.GetParameterValueInBaseUnit("K") * ComputeSpeedLoopPeriod(setup));
        step_rad = kStepLimitShare * setup.GetParameterValueInBaseUnit("TestLimitCurrent") /
                   kick_A_per_rad;
    }
    step_rad = WithinFollowingError(setup, step_rad, "ERR_position");
    return std::min(step_rad, profile::kLargestIncrement / std::abs(ComputePositionScale(setup)));
}

// One row per loop: adding a loop's test to the commands is filling in its row.
constexpr std::array kLoops = {
    TuningRow{"current", ControlLoop::Current, DriveTest::CurrentController, 101, 3149, 1361,
              "PB_C", "Current_Reference", "Motor_Current"},
    TuningRow{"speed", ControlLoop::Speed, DriveTest::SpeedController, 102, 1390, 1361, "PB_S",
              "Speed_Reference", "Load_Speed", &kSpeedProfile, SpeedStep_rad_s},
    TuningRow{"position", ControlLoop::Position, DriveTest::PositionController, 103, 1390, 1361,
              "PB_P", "Target_Position", "Load_Position", &kPositionProfile, PositionStep_rad},
};

// A profile parameter the run sets, with its value before.
struct KeptValue {
    const char* name;
    double base;
};

// Makes the profile test's run one cycle recorded by the data logger and, with step, its
// reference the step, each value within its parameter's range; the values before, to be put back
// after the run (the setup keeps its own profile), or nothing (the reason printed) when the setup
// lacks a parameter of the profile.
std::optional<std::vector<KeptValue>> PrepareProfile(CQel_Setup& setup, const TuningRow& row,
                                                     bool step) {
    const ProfileParameters& profile = *row.profile;
    std::vector<KeptValue> values = {{profile.multiCycle, 0.0}, {profile.onlinePlot, 0.0}};
    if (step) {
        const double loopPeriod_s = ComputeSpeedLoopPeriod(setup);
        const double hold_s =
            std::min(kHoldPassbands / setup.GetParameterValueInBaseUnit(row.passband),
                     profile::kLongestSegment * loopPeriod_s);
        values.insert(values.end(), {{profile.amplitude, row.stepAmplitude(setup)},
                                     {profile.rise, loopPeriod_s},
                                     {profile.hold, hold_s},
                                     {profile.back, loopPeriod_s},
                                     {profile.pause, hold_s}});
        // Drives without a reference type always run the positive profile.
        if (HasParameters(setup, {profile.referenceType})) {
            values.push_back(
                {profile.referenceType, static_cast<double>(profile::Direction::Positive)});
        }
    }
    std::vector<KeptValue> kept;
    for (const KeptValue& value : values) {
        CQel_Parameter* parameter = setup.FindParameter(value.name);
        if (parameter == nullptr) {
            Fail(kExitBadSetup, "the setup has no parameter " + std::string(value.name) +
                                    " of the " + std::string(row.loop) + " test's profile");
            return std::nullopt;
        }
        kept.push_back({value.name, parameter->GetValueInBaseUnit()});
        parameter->SetValueInBaseUnit(
            std::clamp(value.base, parameter->GetMinInBaseUnit(), parameter->GetMaxInBaseUnit()));
    }
    return kept;
}

// The picture's title: which loop, and at which passband (the dialog's graph has no title of its
// own).
std::string GraphTitle(const TuningRow& row, double passband_rad_s) {
    std::string loop(row.loop);
    loop.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(loop.front())));
    char passband[32];
    std::snprintf(passband, sizeof passband, "%.6g", passband_rad_s);
    return loop + " loop test, passband " + passband + " rad/s";
}

}  // namespace

std::span<const TuningRow> TuningLoops() {
    return kLoops;
}

const TuningRow* FindTuningLoop(std::string_view loop) {
    for (const TuningRow& row : kLoops) {
        if (row.loop == loop) {
            return &row;
        }
    }
    return nullptr;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool WriteGraphFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    if (!file) {
        Fail(kExitFailure, "the graph could not be saved in " + path.string());
        return false;
    }
    return true;
}

bool WritePlot(const std::filesystem::path& path, const ui::GraphState& graph,
               const std::string& title) {
    const std::string picture = qel::GraphSvg(graph, title);
    if (LowerCase(path.extension().string()) == ".svg") {
        return WriteGraphFile(path, picture);
    }
#if BREVAN_DESKTOP
    const std::string problem =
        WritePngOffscreen(picture, qel::kGraphPictureWidth_px, qel::kGraphPictureHeight_px, path);
    if (!problem.empty()) {
        Fail(kExitFailure, "the graph could not be saved as " + path.string() + ": " + problem);
        return false;
    }
#endif
    return true;
}

std::optional<StepFigures> ReadFigures(const ui::GraphState& graph, const TuningRow& row) {
    const auto curveNamed = [&graph](std::string_view name) -> const ui::GraphCurve* {
        for (const ui::GraphCurve& curve : graph.curves) {
            if (curve.name == name) {
                return &curve;
            }
        }
        Fail(kExitFailure,
             "the figures cannot be read: the graph has no curve " + std::string(name));
        return nullptr;
    };
    const ui::GraphCurve* reference = curveNamed(row.referenceCurve);
    const ui::GraphCurve* measured = reference != nullptr ? curveNamed(row.measuredCurve) : nullptr;
    if (measured == nullptr) {
        return std::nullopt;
    }
    const StepResponse response = MeasureStepResponse(reference->points, measured->points);
    if (!response.error.empty()) {
        Fail(kExitFailure, "the figures cannot be read: " + response.error);
        return std::nullopt;
    }
    return response.figures;
}

ui::GraphState WithDesignedResponse(const ui::GraphState& graph, const TuningRow& row,
                                    const CQel_Setup& setup) {
    const auto curveNamed = [&graph](std::string_view name) -> const ui::GraphCurve* {
        const auto found = std::find_if(graph.curves.begin(), graph.curves.end(),
                                        [name](const ui::GraphCurve& c) { return c.name == name; });
        return found != graph.curves.end() ? &*found : nullptr;
    };
    const ui::GraphCurve* reference = curveNamed(row.referenceCurve);
    const ui::GraphCurve* measured = curveNamed(row.measuredCurve);
    const std::optional<ClosedLoop> loop = DesignedClosedLoop(setup, row.controlLoop);
    if (reference == nullptr || measured == nullptr || !loop) {
        return graph;
    }
    const StepResponse response = MeasureStepResponse(reference->points, measured->points);
    if (!response.error.empty()) {
        return graph;
    }
    const StepPlacement& step = response.placement;
    std::vector<double> sinceStep_s = {0.0};
    for (const ui::GraphPoint& point : measured->points) {
        if (point.x > step.time_s && (!step.holdEnd_s || point.x < *step.holdEnd_s)) {
            sinceStep_s.push_back(point.x - step.time_s);
        }
    }
    const std::vector<double> designed = StepResponseAt(*loop, sinceStep_s);
    if (designed.size() != sinceStep_s.size()) {
        return graph;
    }
    ui::GraphCurve curve;
    curve.name = kDesignedResponseCurve;
    curve.unit = measured->unit;
    curve.colour = kDesignedResponseColour;
    curve.axis = measured->axis;
    curve.scale = measured->scale;
    for (std::size_t i = 0; i < designed.size(); ++i) {
        curve.points.push_back(
            {step.time_s + sinceStep_s[i],
             step.levelBefore + (step.levelReached - step.levelBefore) * designed[i]});
    }
    ui::GraphState shown = graph;
    shown.curves.push_back(std::move(curve));
    return shown;
}

std::array<FigureLine, kFigureCount> FigureLines(const LoopFigures& loop) {
    std::array<FigureLine, kFigureCount> lines = {{
        {"passband_rad_s", "passband", " rad/s", loop.passband_rad_s},
        {"designedBandwidth_rad_s", "designed bandwidth", " rad/s", loop.designedBandwidth_rad_s},
        {"achievedBandwidth_rad_s", "achieved bandwidth", " rad/s", std::nullopt},
        {"bandwidthDeviation_percent", "achieved against designed", " %", std::nullopt},
        {"designedOvershoot_percent", "designed overshoot", " %", loop.designedOvershoot_percent},
        {"overshoot_percent", "overshoot", " %", std::nullopt},
        {"riseTime_s", "rise time", " s", std::nullopt},
        {"settlingTime_s", "settling time", " s", std::nullopt},
        {"steadyStateError", "steady-state error", "", std::nullopt},
    }};
    if (const std::optional<StepFigures>& figures = loop.measured) {
        lines[2].value = figures->achievedBandwidth_rad_s;
        if (figures->achievedBandwidth_rad_s && loop.designedBandwidth_rad_s) {
            lines[3].value =
                kPercent *
                (*figures->achievedBandwidth_rad_s / *loop.designedBandwidth_rad_s - 1.0);
        }
        lines[5].value = figures->overshoot_percent;
        lines[6].value = figures->riseTime_s;
        lines[7].value = figures->settlingTime_s;
        lines[8].value = figures->steadyStateError;
    }
    return lines;
}

std::optional<TuningRun> RunTuningTest(const TuningRow& row, const TuningChoices& choices,
                                       CQel_Setup& setup, SimulatedAxis& axis,
                                       const RunObserver& observer) {
    std::vector<KeptValue> kept;
    if (row.profile != nullptr) {
        std::optional<std::vector<KeptValue>> before = PrepareProfile(setup, row, choices.step);
        if (!before) {
            return std::nullopt;
        }
        kept = std::move(*before);
    }
    TuningRun outcome;
    PersonScript script;
    script.beforeStart = [&](ui::headless::DialogDriver& dialog) -> std::string {
        dialog.SelectTab(CMyTestDlg::kTabId, CMyTestDlg::kTestPage);
        const ui::ControlState* pages = dialog.Control(CMyTestDlg::kTabId);
        if (pages == nullptr || pages->selection != CMyTestDlg::kTestPage) {
            return "The test page did not open";
        }
        if (choices.tune && !dialog.Click(row.tuneButtonId)) {
            return "Tune could not be pressed";
        }
        return {};
    };
    script.afterConclusion = [&](ui::headless::DialogDriver& dialog, const RunRecord& record) {
        if (record.resultState == 1) {
            outcome.graph = dialog.Graph(row.graphId);
            dialog.Click(IDOK);
        }
    };
    // A failed run leaves the dialog open: the person cancels it.
    constexpr std::array kDropTheValues = {IDNO};
    script.closingAnswers = kDropTheValues;
    const DriveTestRun run =
        RunTestDialog({FindDriveTest(row.test), row.templateId, nullptr, kPatience_s}, script,
                      setup, *axis.drive, *axis.link, observer);
    ReportWhatTheRunShowed(run);
    for (const KeptValue& value : kept) {
        setup.SetParameterValueInBaseUnit(value.name, value.base);
    }
    outcome.error = ErrorOf(run.record, kPatience_s);
    outcome.dialogResult = run.dialogResult;
    outcome.design.passband_rad_s = setup.GetParameterValueInBaseUnit(row.passband);
    PutDesignedFigures(setup, row, outcome.design);
    outcome.graphTitle = GraphTitle(row, outcome.design.passband_rad_s);
    return outcome;
}

void PutDesignedFigures(const CQel_Setup& setup, const TuningRow& row, LoopFigures& figures) {
    figures.designedBandwidth_rad_s.reset();
    figures.designedOvershoot_percent.reset();
    const std::optional<ClosedLoop> loop = DesignedClosedLoop(setup, row.controlLoop);
    if (!loop) {
        return;
    }
    const std::optional<double> timeTo63_s = StepTimeToReach(*loop, kBandwidthLevel);
    if (!timeTo63_s || *timeTo63_s <= 0.0) {
        return;
    }
    figures.designedBandwidth_rad_s = 1.0 / *timeTo63_s;
    // The designed loops peak within a few times their time to 63 %; sampled at a two-hundredth
    // of that time the peak's flat top is read within far less than a tenth of a percent.
    std::vector<double> times_s(kDesignedPeakSamples);
    for (std::size_t i = 0; i < times_s.size(); ++i) {
        times_s[i] = kDesignedPeakSpan * *timeTo63_s * static_cast<double>(i) /
                     static_cast<double>(times_s.size() - 1);
    }
    const std::vector<double> response = StepResponseAt(*loop, times_s);
    if (!response.empty()) {
        figures.designedOvershoot_percent =
            kPercent * std::max(0.0, *std::max_element(response.begin(), response.end()) - 1.0);
    }
}
