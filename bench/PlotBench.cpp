// The on-line plot against the drive's scope: 4 curves at 1 kHz (10 s of points, 10,000 per
// curve) arriving in frames of 20 points, each frame taken into the curves and drawn as a test
// dialog draws it (CGraphWindow::UpdatePoint for every point of the frame, then the event loop's
// turn in which the Qt backend repaints the graph widget), on Qt's offscreen platform. The
// counters: points_per_s, the points drawn per second of wall time, and realtime_ratio, that
// rate over the 4,000 points per second the drive produces (above 1 the plot keeps up).
//
//   build/bin/brevan_plot_bench --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <cmath>
#include <functional>
#include <numbers>

#include "host/kernel/Graph.h"
#include "host/ui/Dialog.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/qt/QtBackend.h"

namespace {

// The test dialog of the Qt backend's tests with a graph control (tests/host/ui/qt/resources).
constexpr int kPlotDialog = 922;
constexpr int kGraph = 1043;
constexpr int kCurves = 4;
constexpr int kPointsPerCurve = 10000;
constexpr int kFramePoints = 20;
constexpr double kPeriod_s = 0.001;
constexpr double kProducedPointsPerSecond = kCurves / kPeriod_s;

class PlotDialog : public CDialog {
  public:
    PlotDialog() : CDialog(kPlotDialog, nullptr) {}
    std::function<void()> onInit;
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        onInit();
        return TRUE;
    }
};

// A speed step response and its current, as a tuning test's scope logs them.
double Sample(int curve, double t_s) {
    constexpr double kRinging_Hz = 15.0;
    constexpr double kSettling_s = 0.05;
    const double cycle_s = std::fmod(t_s, 1.0);
    const double decay = std::exp(-cycle_s / kSettling_s);
    const double ringing = decay * std::cos(2.0 * std::numbers::pi * kRinging_Hz * cycle_s);
    switch (curve) {
        case 0:
            return 100.0;
        case 1:
            return 100.0 * (1.0 - ringing);
        case 2:
            return 3.0 * ringing;
        default:
            return 0.2 * std::sin(2.0 * std::numbers::pi * t_s);
    }
}

// state.range(0): 1 draws the curves at fixed scales over a time base (the scope logger's
// view), 0 with axes fitted to the points.
void BM_OnlinePlotOf4CurvesAt1kHz(benchmark::State& state) {
    const bool scaled = state.range(0) != 0;
    ui::qt::QtBackend backend;
    ui::qt::Installation installed(backend);
    ui::SetResourceDirectory(BREVAN_SOURCE_DIR "/tests/host/ui/qt/resources");
    CGraphDocument document;
    for (int c = 0; c < kCurves; ++c) {
        const int index =
            document.AddCurve(CXYCurve("Channel " + std::to_string(c + 1), "rad/s", RGB16(9 + c)));
        if (scaled) {
            document.GetAt(index)->SetScale(ui::GraphScale{"rad/s", 50.0, 0.0, 0.0, 1.0});
        }
    }
    if (scaled) {
        document.SetTimeBase(ui::GraphTimeBase{0.0, kPointsPerCurve * kPeriod_s});
    }
    CGraphWindow graph(2, 0);
    PlotDialog dialog;
    dialog.onInit = [&] {
        graph.SubclassDlgItem(kGraph, &dialog);
        graph.SetDocument(&document);
    };
    QTimer::singleShot(0, [&] {
        for (auto _ : state) {
            state.PauseTiming();
            for (int c = 0; c < kCurves; ++c) {
                document.GetAt(c)->RemoveAllPoints();
            }
            graph.UpdateLastPoint();
            QCoreApplication::processEvents();
            state.ResumeTiming();
            for (int first = 0; first < kPointsPerCurve; first += kFramePoints) {
                for (int c = 0; c < kCurves; ++c) {
                    for (int p = first; p < first + kFramePoints; ++p) {
                        document.GetAt(c)->AddPoint(p * kPeriod_s, Sample(c, p * kPeriod_s));
                    }
                }
                for (int p = first; p < first + kFramePoints; ++p) {
                    graph.UpdatePoint(p);
                }
                // The dialog's timer tick returns to the event loop, which repaints the graph.
                QCoreApplication::processEvents();
            }
        }
        dialog.EndDialog(IDCANCEL);
    });
    dialog.DoModal();
    const auto points = static_cast<double>(state.iterations()) * kCurves * kPointsPerCurve;
    state.counters["points_per_s"] = benchmark::Counter(points, benchmark::Counter::kIsRate);
    state.counters["realtime_ratio"] =
        benchmark::Counter(points / kProducedPointsPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OnlinePlotOf4CurvesAt1kHz)
    ->ArgName("scaled")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
