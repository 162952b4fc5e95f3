#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "host/app/Commands.h"
#include "host/app/DerivedEdits.h"
#include "host/app/DriveTestCommand.h"
#include "host/app/JsonReport.h"
#include "host/app/StepResponse.h"
#include "host/app/Suggest.h"
#include "host/app/TuningRun.h"
#include "host/kernel/GraphFiles.h"

namespace {

using Json = nlohmann::ordered_json;

// What the command line asks for.
struct TuneRequest {
    const TuningRow* row = nullptr;
    std::optional<double> supply_V;
    const SimulatedFault* fault = nullptr;
};

std::optional<TuneRequest> ReadRequest(const Invocation& invocation) {
    const auto usage = [](const std::string& message) {
        Fail(kExitUsage, message);
        return std::nullopt;
    };
    TuneRequest request;
    const std::string& loop = invocation.arguments[1];
    request.row = FindTuningLoop(loop);
    if (request.row == nullptr) {
        std::string loops;
        std::vector<std::string> known;
        for (const TuningRow& row : TuningLoops()) {
            loops += (loops.empty() ? "" : ", ") + std::string(row.loop);
            known.emplace_back(row.loop);
        }
        return usage("unknown loop \"" + loop + "\"; the loops: " + loops +
                     DidYouMean(loop, known));
    }
    if (!FindDriveTest(request.row->test)) {
        return usage("the " + loop + " controller tuning test is not available yet");
    }
    if (!invocation.motorFile) {
        return usage("tune needs --motor FILE: the motor file of the simulated drive to run on");
    }
    if (invocation.plotFile) {
        const std::string extension =
            LowerCase(std::filesystem::path(*invocation.plotFile).extension().string());
        if (extension != ".svg" && extension != ".png") {
            return usage("--plot writes a picture named .svg or .png, not \"" +
                         *invocation.plotFile + "\"");
        }
#if !BREVAN_DESKTOP
        if (extension == ".png") {
            return usage(
                "--plot cannot draw a PNG picture: this build has no desktop backend; "
                "name the picture .svg");
        }
#endif
    }
    if (!ReadBusOption(invocation, request.supply_V) ||
        !ReadFaultOption(invocation, request.fault)) {
        return std::nullopt;
    }
    return request;
}

// How the run ended, as the command reports it.
struct Outcome {
    std::string loop;
    std::optional<std::string> error;  // none when the test succeeded
    LoopFigures figures;
    std::optional<std::filesystem::path> savedTo;
};

void PrintOutcome(const Outcome& outcome, bool json) {
    const std::array<FigureLine, kFigureCount> figures = FigureLines(outcome.figures);
    if (json) {
        Json report{{"loop", outcome.loop}};
        for (const FigureLine& figure : figures) {
            report[figure.key] = figure.value ? Json(*figure.value) : Json(nullptr);
        }
        report["outcome"] = outcome.error ? "failed" : "succeeded";
        report["error"] = outcome.error ? Json(*outcome.error) : Json(nullptr);
        std::printf("%s\n", DumpReport(report, 2).c_str());
        return;
    }
    std::printf("outcome: %s\n", outcome.error ? "failed" : "succeeded");
    std::printf("error: %s\n", outcome.error ? outcome.error->c_str() : "none");
    for (const FigureLine& figure : figures) {
        if (figure.value) {
            std::printf("%s: %.6g%s\n", figure.name, *figure.value, figure.unit);
        } else {
            std::printf("%s: not measurable\n", figure.name);
        }
    }
    std::printf("saved: %s\n", outcome.savedTo ? outcome.savedTo->c_str() : "no");
}

}  // namespace

// Runs a loop's tuning test through its dialog, headless, on the simulated drive of the motor
// file, with a scripted person: the test page, Tune when asked, Start, and OK once the test has
// succeeded. The speed and position tests run one cycle of their profile, a step with --step;
// the setup's own profile is put back after the run. The figures of the step response are read
// from the dialog's graph; OK leaves the gains in the setup, which is then recomputed as the
// opening setup dialog does and saved.
int RunTune(CommandContext& context) {
    const Invocation& invocation = context.invocation;
    const std::optional<TuneRequest> request = ReadRequest(invocation);
    if (!request) {
        return kExitUsage;
    }
    if (const int refused = RefuseLostEdits(context, RecomputeAsTheOpenerDoes);
        refused != kExitSuccess) {
        return refused;
    }
    const TuningRow& row = *request->row;
    CQel_Setup& setup = context.setup;
    std::optional<SimulatedAxis> axis =
        PrepareDriveTestRun(invocation, setup, request->supply_V, request->fault);
    if (!axis) {
        return kExitBadSetup;
    }
    const std::optional<TuningRun> run =
        RunTuningTest(row, {invocation.tune, invocation.step}, setup, *axis,
                      ReportingObserver(std::string(row.loop), invocation.json, nullptr));
    if (!run) {
        return kExitBadSetup;
    }
    Outcome outcome;
    outcome.loop = row.loop;
    outcome.error = run->error;
    outcome.figures = run->design;

    int status = outcome.error ? kExitFailure : kExitSuccess;
    if (run->graph) {
        outcome.figures.measured = ReadFigures(*run->graph, row);
        // The files show the designed loop's response beside the dialog's curves.
        const ui::GraphState shown = WithDesignedResponse(*run->graph, row, setup);
        const bool written =
            (!invocation.csvFile || WriteGraphFile(*invocation.csvFile, qel::GraphCsv(shown))) &&
            (!invocation.plotFile || WritePlot(*invocation.plotFile, shown, run->graphTitle));
        // The setup is saved only with everything asked for.
        if (!written || run->dialogResult != IDOK) {
            status = kExitFailure;
        } else {
            outcome.savedTo = SaveRecomputedSetup(setup, invocation);
            if (!outcome.savedTo) {
                status = kExitFailure;
            }
        }
    }
    PrintOutcome(outcome, invocation.json);
    return status;
}
