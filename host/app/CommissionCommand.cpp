#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "drive/MotorFile.h"
#include "drive/SetupLoader.h"
#include "engine/GainDesign.h"
#include "engine/QuietProbes.h"
#include "host/app/Commands.h"
#include "host/app/CommissionReport.h"
#include "host/app/DerivedEdits.h"
#include "host/app/DriveTestCommand.h"
#include "host/app/DriveTestRun.h"
#include "host/app/DriveTestTable.h"
#include "host/app/JsonReport.h"
#include "host/app/SetupSnapshot.h"
#include "host/app/SimulatedAxis.h"
#include "host/app/Suggest.h"
#include "host/app/TuningRun.h"
#include "host/kernel/TestDlg.h"
#include "host/ui/Utf8Text.h"

namespace {

// The register the identification tests set to 0 for their run (the drive's minimum move at an
// absolute start), whatever they measure.
constexpr std::string_view kSwitchedOffForTheRun = "ABSTART_MINMOVE";

// The values a test changed in the setup, but the register it switches off for its run: the
// commissioning computes that anew before the next step.
std::vector<Proposal> Proposed(const CQel_Setup& setup, const Snapshot& before,
                               const Snapshot& after) {
    std::vector<Proposal> proposals = Differences(setup, before, after);
    std::erase_if(proposals,
                  [](const Proposal& proposal) { return proposal.name == kSwitchedOffForTheRun; });
    return proposals;
}

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// One step of the commissioning: a drive test of DriveTestTable, or a loop's tuning (Tune, a
// step, its figures).
struct CommissionStep {
    // As --only names it.
    std::string_view name;
    // The drive test's row, or the tuning test's loop.
    std::string_view test;
    bool isLoop = false;
    // Whether the test drives a current through the motor's current loop (which must be designed
    // before it runs).
    bool usesCurrentLoop = true;
    // What a person checks on the axis when the step fails.
    const char* hint = "";
};

// The order a person commissions an axis in: the supply, the wiring, what the motor and its
// encoder are, then the loops from the inside out. The pole pairs come before the encoder's
// resolution: that test turns the shaft by as many electrical turns as the setup says the motor
// has pole pairs, so it counts a mechanical turn only with the right count.
constexpr std::array kSteps = {
    CommissionStep{"dc-voltage", "dc-voltage", false, false,
                   "Check the supply: it must be switched on, connected to the drive's power "
                   "input and within the drive's range."},
    CommissionStep{"phase-connections", "phase-connections", false, true,
                   "Check the motor's three phase wires at the drive and at the motor, and that "
                   "the drive's enable input is on."},
    CommissionStep{"encoder-connections", "encoder-connections", false, true,
                   "Check the encoder's cable and plug (its channels A and B) and that the "
                   "drive's enable input is on."},
    CommissionStep{"pole-pairs", "pole-pairs", false, true,
                   "Check the motor's phase wires, that the shaft turns freely and that the "
                   "drive's enable input is on."},
    CommissionStep{"encoder-resolution", "encoder-resolution", false, true,
                   "Check the encoder's cable, that the shaft turns freely and that the drive's "
                   "enable input is on."},
    CommissionStep{"resistance-inductance", "resistance-inductance", false, true,
                   "Check the motor's phase wires and their connection (star or delta), the "
                   "supply and the drive's enable input."},
    CommissionStep{"encoder-offset", "encoder-offset", false, true,
                   "Check the absolute encoder's serial link (its cable and its supply) and that "
                   "the drive's enable input is on."},
    CommissionStep{"total-inertia", "total-inertia", false, true,
                   "Check that the shaft and its load turn freely (no brake holding them), the "
                   "encoder, and that the drive's enable input is on."},
    CommissionStep{"current-loop", "current", true, true,
                   "Check the motor's phase wires, the supply and the drive's enable input."},
    CommissionStep{"speed-loop", "speed", true, true,
                   "Check the encoder, that the load is coupled and turns freely, and the drive's "
                   "enable input."},
    CommissionStep{"position-loop", "position", true, true,
                   "Check the encoder, that the load is coupled and turns freely, and the drive's "
                   "enable input."},
};

// The step after which the current loop is designed again, from the measured motor.
constexpr std::string_view kMeasuresTheWinding = "resistance-inductance";
constexpr std::string_view kEncoderOffset = "encoder-offset";
// The setup's property that its encoder is absolute and keeps an offset.
constexpr const char* kKeepsAnOffset = "isEnDatEncoder";

// What the command line asks for.
struct CommissionRequest {
    std::optional<double> supply_V;
    const SimulatedFault* fault = nullptr;
    // The steps to run; all of them when --only is not given.
    std::set<std::string, std::less<>> only;
};

std::optional<CommissionRequest> ReadRequest(const Invocation& invocation) {
    CommissionRequest request;
    if (!invocation.motorFile) {
        Fail(kExitUsage, "commission needs --motor FILE: the motor file of the simulated drive");
        return std::nullopt;
    }
    if (!ReadBusOption(invocation, request.supply_V) ||
        !ReadFaultOption(invocation, request.fault)) {
        return std::nullopt;
    }
    if (invocation.onlySteps) {
        std::string_view names = *invocation.onlySteps;
        while (!names.empty()) {
            const std::size_t comma = names.find(',');
            const std::string_view name = names.substr(0, comma);
            const bool known = std::any_of(kSteps.begin(), kSteps.end(),
                                           [&](const CommissionStep& s) { return s.name == name; });
            if (!known) {
                const std::vector<std::string> steps = CommissionStepNames();
                Fail(kExitUsage, "--only: unknown step \"" + std::string(name) + "\"; the steps: " +
                                     CommaList(steps) + DidYouMean(name, steps));
                return std::nullopt;
            }
            request.only.emplace(name);
            names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
        }
        if (request.only.empty()) {
            Fail(kExitUsage, "--only expects the steps to run, separated by commas");
            return std::nullopt;
        }
    }
    return request;
}

// What the host does once the person has accepted values: the setup recomputed as the next
// test's opener does, and its registers written to the drive, which keeps them from the next
// period on (the drive under the tests is the same throughout).
void RecomputeAndWriteToTheDrive(CQel_Setup& setup, SimulatedAxis& axis) {
    RecomputeAsTheOpenerDoes(setup);
    axis.drive->WriteRegisters(drive::ReadDriveFromSetup(setup).registers);
}

// The current loop's gains designed from the setup's motor as Drive Setup's opener designs them,
// the setup then recomputed and written to the drive; the gains that changed.
std::vector<Proposal> DesignCurrentLoop(CQel_Setup& setup, SimulatedAxis& axis) {
    const Snapshot before = TakeSnapshot(setup);
    DesignCurrentController(setup);
    RecomputeAndWriteToTheDrive(setup, axis);
    return Differences(setup, before, TakeSnapshot(setup));
}

// The person's eyes on the dialog: its status lines, kept for the report.
RunObserver Watching(StepRecord& record) {
    RunObserver observer;
    observer.onStep = [&record](const std::string& shown) {
        const std::string step = ui::DisplayUtf8(shown);
        if (record.statusLines.empty() || record.statusLines.back() != step) {
            record.statusLines.push_back(step);
        }
    };
    return observer;
}

// A drive test through its dialog, the person accepting the values it proposes.
void RunDriveTestStep(const CommissionStep& step, CQel_Setup& setup, SimulatedAxis& axis,
                      StepRecord& record) {
    const DriveTestRow& row = *FindDriveTestRow(step.test);
    if (!RunnerOf(row)) {
        record.error = "The test " + std::string(row.name) + " is not available yet.";
        return;
    }
    const Snapshot before = TakeSnapshot(setup);
    std::optional<Snapshot> afterRun;
    RunObserver observer = Watching(record);
    observer.onConcluded = [&] { afterRun = TakeSnapshot(setup); };
    constexpr std::array kAcceptTheValues = {IDYES};
    const DriveTestRun run =
        RunDriveTestDialog(row, kAcceptTheValues, setup, *axis.drive, *axis.link, observer);
    for (const auto& box : run.messageBoxes) {
        record.messages.push_back(ui::DisplayUtf8(box.text));
    }
    for (const std::string& failure : run.failures) {
        record.messages.push_back("The scripted person: " + failure);
    }
    record.error = ErrorOf(run.record, row.patience_s);
    if (!record.error) {
        const Snapshot afterDialog = TakeSnapshot(setup);
        record.proposed = Proposed(
            setup, before, run.dialogResult == IDOK ? afterDialog : afterRun.value_or(afterDialog));
    }
}

// The loop's passband brought down to the highest its design holds for the sampled loop (the
// setup's passband may come from another drive's loop periods); a note saying so, or nothing
// when the passband already lies within.
std::string KeepPassbandWithinDesign(CQel_Setup& setup, const TuningRow& row) {
    const std::optional<double> highest_rad_s = HighestValidPassband_rad_s(setup, row.controlLoop);
    CQel_Parameter* passband = setup.FindParameter(row.passband);
    if (!highest_rad_s || passband == nullptr || passband->GetValueInBaseUnit() <= *highest_rad_s) {
        return {};
    }
    const double asked_rad_s = passband->GetValueInBaseUnit();
    passband->SetValueInBaseUnit(*highest_rad_s);
    char note[200];
    std::snprintf(note, sizeof note,
                  "%s lowered from %.6g to %.6g rad/s, the most the %s loop's design holds at the "
                  "drive's loop periods",
                  row.passband, asked_rad_s, passband->GetValueInBaseUnit(),
                  std::string(row.loop).c_str());
    return note;
}

// A loop's tuning test: Tune, a step, OK; its figures and, with a report, its picture.
void RunLoopStep(const CommissionStep& step, CQel_Setup& setup, SimulatedAxis& axis,
                 const std::optional<std::filesystem::path>& reportFolder, StepRecord& record) {
    const TuningRow& row = *FindTuningLoop(step.test);
    record.isLoop = true;
    const Snapshot before = TakeSnapshot(setup);
    record.note = KeepPassbandWithinDesign(setup, row);
    const std::optional<TuningRun> run =
        RunTuningTest(row, {.tune = true, .step = true}, setup, axis, Watching(record));
    if (!run) {
        record.error =
            "The setup lacks a parameter of the " + std::string(row.loop) + " test's profile.";
        return;
    }
    record.figures = run->design;
    record.error = run->error;
    if (!record.error && run->dialogResult != IDOK) {
        record.error = "The tuning dialog did not end with OK.";
    }
    if (run->graph) {
        record.figures.measured = ReadFigures(*run->graph, row);
        if (reportFolder) {
            const std::string picture = PictureName(record.name);
            if (WritePlot(*reportFolder / picture, WithDesignedResponse(*run->graph, row, setup),
                          run->graphTitle)) {
                record.picture = picture;
            }
        }
    }
    if (!record.error) {
        record.proposed = Proposed(setup, before, TakeSnapshot(setup));
    }
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void PrintProgress(const StepRecord& record) {
    std::fprintf(stderr, "brevan: commission: %s: %s (%.2f s)%s%s\n", record.name.c_str(),
                 OutcomeName(record.outcome), record.wallTime_s, record.note.empty() ? "" : ": ",
                 record.note.c_str());
}

Json FiguresJson(const StepRecord& record) {
    Json figures = Json::object();
    for (const FigureLine& figure : FigureLines(record.figures)) {
        figures[figure.key] = figure.value ? Json(*figure.value) : Json(nullptr);
    }
    return figures;
}

void PrintJson(const CommissionRecord& record) {
    Json steps = Json::array();
    for (const StepRecord& step : record.steps) {
        Json entry{{"name", step.name},
                   {"outcome", OutcomeName(step.outcome)},
                   {"error", step.error ? Json(*step.error) : Json(nullptr)},
                   {"proposed", ProposalsJson(step.proposed)}};
        if (step.error) {
            entry["hint"] = step.hint;
        }
        if (!step.note.empty()) {
            entry["note"] = step.note;
        }
        if (!step.currentLoopDesign.empty()) {
            entry["currentLoopDesign"] = ProposalsJson(step.currentLoopDesign);
        }
        if (step.isLoop) {
            entry["figures"] = FiguresJson(step);
        }
        entry["wallTime_s"] = step.wallTime_s;
        steps.push_back(entry);
    }
    const Json summary{{"outcome", Succeeded(record) ? "succeeded" : "failed"},
                       {"steps", record.steps.size()},
                       {"changed", ProposalsJson(record.changes)},
                       {"saved", record.savedTo ? Json(record.savedTo->string()) : Json(nullptr)},
                       {"wallTime_s", record.wallTime_s}};
    std::printf("%s\n", DumpReport(Json{{"steps", steps}, {"summary", summary}}, 2).c_str());
}

void PrintText(const CommissionRecord& record,
               const std::optional<std::filesystem::path>& reportPage) {
    for (const StepRecord& step : record.steps) {
        std::printf("%s: %s\n", step.name.c_str(), OutcomeName(step.outcome));
        if (step.error) {
            std::printf("  error: %s\n  check: %s\n", step.error->c_str(), step.hint.c_str());
        }
        for (const Proposal& proposal : step.proposed) {
            std::printf("  accepted: %s: old %s, new %s\n", proposal.name.c_str(),
                        Readable(proposal.before).c_str(), Readable(proposal.after).c_str());
        }
        if (step.isLoop && !step.error) {
            for (const FigureLine& figure : FigureLines(step.figures)) {
                if (figure.value) {
                    std::printf("  %s: %.6g%s\n", figure.name, *figure.value, figure.unit);
                } else {
                    std::printf("  %s: not measurable\n", figure.name);
                }
            }
        }
    }
    std::size_t succeeded = 0;
    for (const StepRecord& step : record.steps) {
        succeeded += step.outcome == StepOutcome::Succeeded ? 1 : 0;
    }
    std::printf("summary: %s, %zu of %zu steps succeeded, %zu parameters changed, %.1f s\n",
                Succeeded(record) ? "commissioned" : "failed", succeeded, record.steps.size(),
                record.changes.size(), record.wallTime_s);
    std::printf("saved: %s\n", record.savedTo ? record.savedTo->c_str() : "no");
    if (reportPage) {
        std::printf("report: %s\n", reportPage->c_str());
    }
}

}  // namespace

std::vector<std::string> CommissionStepNames() {
    std::vector<std::string> names;
    for (const CommissionStep& step : kSteps) {
        names.emplace_back(step.name);
    }
    return names;
}

// Commissions one simulated axis: each drive test through its dialog, the person accepting the
// values it proposes, then the loops tuned from what the tests found, in kSteps's order. The
// current loop is designed from the setup's first guesses before the first step that drives a
// current and again once the winding is measured; the setup is recomputed as each test's opener
// does between the steps. The first failure ends the run and nothing is saved; after the last
// step the setup is saved (atomically) to -o OUT, or over SETUP.
int RunCommission(CommandContext& context) {
    const Clock::time_point start = Clock::now();
    const Invocation& invocation = context.invocation;
    const std::optional<CommissionRequest> request = ReadRequest(invocation);
    if (!request) {
        return kExitUsage;
    }
    if (const int refused = RefuseLostEdits(context, RecomputeAsTheOpenerDoes);
        refused != kExitSuccess) {
        return refused;
    }
    std::optional<std::filesystem::path> reportFolder;
    if (invocation.reportFolder) {
        reportFolder = *invocation.reportFolder;
        std::error_code error;
        std::filesystem::create_directories(*reportFolder, error);
        if (error) {
            return Fail(kExitFailure, "the report's folder " + reportFolder->string() +
                                          " cannot be made: " + error.message());
        }
    }
    CQel_Setup& setup = context.setup;
    std::optional<SimulatedAxis> axis =
        PrepareDriveTestRun(invocation, setup, request->supply_V, request->fault);
    if (!axis) {
        return kExitBadSetup;
    }
    CommissionRecord record;
    record.setupFile = invocation.arguments.front();
    record.setupDescription = setup.GetDescription();
    record.motorFile = *invocation.motorFile;
    if (const drive::MotorFileResult motor = drive::LoadMotorFile(record.motorFile); motor.motor) {
        record.motorName = motor.motor->name;
    }
    record.supply_V = axis->supply_V;
    if (request->fault != nullptr) {
        record.fault = request->fault->name;
    }
    const Snapshot initial = TakeSnapshot(setup);

    bool currentLoopDesigned = false;
    for (const CommissionStep& step : kSteps) {
        if (!request->only.empty() && !request->only.contains(step.name)) {
            continue;
        }
        const Clock::time_point stepStart = Clock::now();
        StepRecord& current = record.steps.emplace_back();
        current.name = step.name;
        current.hint = step.hint;
        if (step.name == kEncoderOffset &&
            !(HasParameters(setup, {kKeepsAnOffset}) &&
              setup.GetParameterValueInBaseUnit(kKeepsAnOffset) != 0)) {
            current.outcome = StepOutcome::Skipped;
            current.note = "the setup's encoder keeps no offset (isEnDatEncoder is 0)";
        } else {
            if (step.usesCurrentLoop && !currentLoopDesigned) {
                current.currentLoopDesign = DesignCurrentLoop(setup, *axis);
                currentLoopDesigned = true;
            }
            if (step.isLoop) {
                RunLoopStep(step, setup, *axis, reportFolder, current);
            } else {
                RunDriveTestStep(step, setup, *axis, current);
            }
            current.outcome = current.error ? StepOutcome::Failed : StepOutcome::Succeeded;
            if (!current.error) {
                RecomputeAndWriteToTheDrive(setup, *axis);
                if (step.name == kMeasuresTheWinding) {
                    const std::vector<Proposal> redesigned = DesignCurrentLoop(setup, *axis);
                    current.currentLoopDesign.insert(current.currentLoopDesign.end(),
                                                     redesigned.begin(), redesigned.end());
                }
            }
        }
        current.wallTime_s = SecondsSince(stepStart);
        PrintProgress(current);
        if (current.error) {
            std::fprintf(stderr, "brevan: commission: %s\nbrevan: commission: check: %s\n",
                         current.error->c_str(), current.hint.c_str());
            break;
        }
    }
    record.changes = Differences(setup, initial, TakeSnapshot(setup));
    int status = kExitSuccess;
    if (Succeeded(record)) {
        record.savedTo = SaveRecomputedSetup(setup, invocation);
        if (!record.savedTo) {
            status = kExitFailure;
        }
    } else {
        status = kExitFailure;
    }
    record.wallTime_s = SecondsSince(start);
    std::optional<std::filesystem::path> reportPage;
    if (reportFolder) {
        if (WriteCommissionReport(*reportFolder, record)) {
            reportPage = *reportFolder / "index.html";
        } else {
            status = kExitFailure;
        }
    }
    if (invocation.json) {
        PrintJson(record);
    } else {
        PrintText(record, reportPage);
    }
    return status;
}
