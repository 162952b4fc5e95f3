#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/app/Commands.h"
#include "host/app/DerivedEdits.h"
#include "host/app/DriveTestCommand.h"
#include "host/app/DriveTestRun.h"
#include "host/app/DriveTestTable.h"
#include "host/app/JsonReport.h"
#include "host/app/SetupSnapshot.h"
#include "host/app/SimulatedAxis.h"
#include "host/app/Suggest.h"
#include "host/kernel/TestDlg.h"

namespace {

using Json = nlohmann::ordered_json;

// How the person answers the closing question at each press of Close: Cancel leaves the dialog
// open, so the person closes again and drops the values.
struct AnswerRow {
    const char* name;
    std::vector<int> answers;
};

const AnswerRow kAnswers[] = {
    {"yes", {IDYES}},
    {"no", {IDNO}},
    {"cancel", {IDCANCEL, IDNO}},
};

template <typename Row, std::size_t N>
const Row* FindRow(const Row (&rows)[N], const std::string& name) {
    for (const Row& row : rows) {
        if (name == row.name) {
            return &row;
        }
    }
    return nullptr;
}

// What the command line asks for.
struct TestRequest {
    const DriveTestRow* row = nullptr;
    const AnswerRow* answer = nullptr;
    const SimulatedFault* fault = nullptr;
    std::optional<double> supply_V;
    double analogueInput_V = 0.0;
};

std::optional<TestRequest> ReadRequest(const Invocation& invocation) {
    const auto usage = [](const std::string& message) {
        Fail(kExitUsage, message);
        return std::nullopt;
    };
    TestRequest request;
    const std::string& name = invocation.arguments[1];
    request.row = FindDriveTestRow(name);
    if (request.row == nullptr) {
        const std::vector<std::string> known = DriveTestNames();
        return usage("unknown test \"" + name + "\"; the tests: " + CommaList(known) +
                     DidYouMean(name, known));
    }
    if (!invocation.motorFile) {
        return usage("test needs --motor FILE: the motor file of the simulated drive to run on");
    }
    const std::string answer = invocation.answer.value_or("yes");
    request.answer = FindRow(kAnswers, answer);
    if (request.answer == nullptr) {
        return usage("--answer expects yes, no or cancel, not \"" + answer + "\"");
    }
    if (!ReadFaultOption(invocation, request.fault)) {
        return std::nullopt;
    }
    if (!ReadBusOption(invocation, request.supply_V)) {
        return std::nullopt;
    }
    if (invocation.analogueInput &&
        !ParseNumber(*invocation.analogueInput, request.analogueInput_V)) {
        return usage("--analogue expects a voltage, not \"" + *invocation.analogueInput + "\"");
    }
    return request;
}

// How the run ended, as the command reports it.
struct Outcome {
    std::string test;
    std::optional<std::string> error;  // none when the test succeeded
    std::vector<std::string> steps;
    std::vector<Proposal> proposed;
    INT_PTR dialogResult = IDCANCEL;
    std::optional<std::filesystem::path> savedTo;
};

void PrintOutcome(const Outcome& outcome, bool json) {
    if (json) {
        const Json report{{"test", outcome.test},
                          {"outcome", outcome.error ? "failed" : "succeeded"},
                          {"error", outcome.error ? Json(*outcome.error) : Json(nullptr)},
                          {"steps", outcome.steps},
                          {"proposed", ProposalsJson(outcome.proposed)},
                          {"dialogResult", outcome.dialogResult},
                          {"saved", outcome.savedTo.has_value()}};
        std::printf("%s\n", DumpReport(report, 2).c_str());
        return;
    }
    std::printf("outcome: %s\n", outcome.error ? "failed" : "succeeded");
    std::printf("error: %s\n", outcome.error ? outcome.error->c_str() : "none");
    if (outcome.proposed.empty()) {
        std::printf("proposed: none\n");
    }
    for (const Proposal& proposal : outcome.proposed) {
        std::printf("proposed: %s: old %s, new %s\n", proposal.name.c_str(),
                    Readable(proposal.before).c_str(), Readable(proposal.after).c_str());
    }
    std::printf("dialog result: %d\n", static_cast<int>(outcome.dialogResult));
    std::printf("saved: %s\n", outcome.savedTo ? outcome.savedTo->c_str() : "no");
}

}  // namespace

// Runs one drive test through its dialog, headless, on the simulated drive of the motor file,
// with a scripted person: Start, what the test needs of them, Close and the answer to the closing
// question. A dialog that ends with OK leaves the values it found in the setup; the setup is then
// recomputed as the opening setup dialog does and saved.
int RunTest(CommandContext& context) {
    const Invocation& invocation = context.invocation;
    const std::optional<TestRequest> request = ReadRequest(invocation);
    if (!request) {
        return kExitUsage;
    }
    if (const int refused = RefuseLostEdits(context, RecomputeAsTheOpenerDoes);
        refused != kExitSuccess) {
        return refused;
    }
    const DriveTestRow& row = *request->row;
    const DriveTestRunner runner = RunnerOf(row);
    if (!runner) {
        return Fail(kExitFailure, "the test " + std::string(row.name) + " is not available yet");
    }
    CQel_Setup& setup = context.setup;
    std::optional<SimulatedAxis> axis =
        PrepareDriveTestRun(invocation, setup, request->supply_V, request->fault);
    if (!axis) {
        return kExitBadSetup;
    }
    axis->drive->SetAnalogueInput(request->analogueInput_V);

    Outcome outcome;
    outcome.test = row.name;
    const Snapshot before = TakeSnapshot(setup);
    std::optional<Snapshot> afterRun;
    RunObserver observer = ReportingObserver(outcome.test, invocation.json, &outcome.steps);
    observer.onConcluded = [&] { afterRun = TakeSnapshot(setup); };
    const DriveTestRun run = RunDriveTestDialog(row, request->answer->answers, setup, *axis->drive,
                                                *axis->link, observer);
    const RunRecord& record = run.record;
    outcome.dialogResult = run.dialogResult;
    const Snapshot afterDialog = TakeSnapshot(setup);
    ReportWhatTheRunShowed(run);

    outcome.error = ErrorOf(record, row.patience_s);
    // A failed run proposes nothing, whatever it left in the setup on its way.
    if (!outcome.error) {
        outcome.proposed = Differences(
            setup, before,
            outcome.dialogResult == IDOK ? afterDialog : afterRun.value_or(afterDialog));
    }
    int status = outcome.error ? kExitFailure : kExitSuccess;
    if (outcome.dialogResult == IDOK) {
        outcome.savedTo = SaveRecomputedSetup(setup, invocation);
        if (!outcome.savedTo) {
            status = kExitFailure;
        }
    }
    PrintOutcome(outcome, invocation.json);
    return status;
}
