#include "host/app/DriveTestCommand.h"

#include <cstdio>

#include "engine/Derivation.h"
#include "engine/RegisterComputation.h"
#include "host/app/Folders.h"
#include "host/app/Suggest.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/SetupFile.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/Utf8Text.h"

namespace {

constexpr const char* kLinkErrorText = "The drive does not answer: the link to it is broken.";

const SimulatedFault kFaults[] = {
    {"open-phase-a",
     [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::DisconnectedPhaseA); }},
    {"open-phase-b",
     [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::DisconnectedPhaseB); }},
    {"open-phase-c",
     [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::DisconnectedPhaseC); }},
    {"swapped-phases",
     [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::SwappedPhasesBC); }},
    {"missing-encoder-a",
     [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::MissingEncoderChannelA); }},
    {"missing-encoder-b",
     [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::MissingEncoderChannelB); }},
    {"swapped-encoder",
     [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::SwappedEncoderChannels); }},
    {"enable-off", [](SimulatedAxis& a) { a.drive->SetEnableInput(false); }},
    {"short-circuit", [](SimulatedAxis& a) { a.drive->InjectFault(drive::Fault::ShortCircuit); }},
    {"link-error",
     [](SimulatedAxis& a) { a.link->BreakAt(drive::LinkCall::DownloadAndStart, kLinkErrorText); }},
};

const char* AnswerName(int answer) {
    switch (answer) {
        case IDYES:
            return "Yes";
        case IDNO:
            return "No";
        case IDCANCEL:
            return "Cancel";
        case IDOK:
            return "OK";
        default:
            return "another button";
    }
}

}  // namespace

void RecomputeAsTheOpenerDoes(CQel_Setup& setup) {
    ComputeDriveRegisters(setup);
    DeriveUserParameters(setup);
}

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "brevan: %s\n", message.c_str());
    return status;
}

std::vector<std::string> FaultNames() {
    std::vector<std::string> names;
    for (const SimulatedFault& fault : kFaults) {
        names.emplace_back(fault.name);
    }
    return names;
}

bool ReadFaultOption(const Invocation& invocation, const SimulatedFault*& fault) {
    fault = nullptr;
    if (!invocation.fault) {
        return true;
    }
    for (const SimulatedFault& candidate : kFaults) {
        if (*invocation.fault == candidate.name) {
            fault = &candidate;
            return true;
        }
    }
    const std::vector<std::string> known = FaultNames();
    Fail(kExitUsage, "--fault expects one of " + CommaList(known) + ", not \"" + *invocation.fault +
                         "\"" + DidYouMean(*invocation.fault, known));
    return false;
}

std::optional<SimulatedAxis> PrepareDriveTestRun(const Invocation& invocation, CQel_Setup& setup,
                                                 std::optional<double> supply_V,
                                                 const SimulatedFault* fault) {
    // What the opening setup dialog does first: the test starts from agreeing values.
    RecomputeAsTheOpenerDoes(setup);
    std::optional<SimulatedAxis> axis = MakeSimulatedAxis(*invocation.motorFile, setup, supply_V);
    if (axis && fault != nullptr) {
        fault->inject(*axis);
    }
    ui::SetResourceDirectory(ResourceDirectory());
    CQel_CoffFormat::SetProgramsDirectory(ProgramsDirectory());
    return axis;
}

RunObserver ReportingObserver(const std::string& test, bool json, std::vector<std::string>* steps) {
    RunObserver observer;
    observer.onStep = [json, steps](const std::string& shown) {
        // The dialogs' texts may carry single Windows-1252 bytes; the terminal and JSON take
        // UTF-8.
        const std::string step = ui::DisplayUtf8(shown);
        if (steps != nullptr) {
            steps->push_back(step);
        }
        if (!json) {
            std::printf("step: %s\n", step.c_str());
            std::fflush(stdout);
        }
    };
    observer.onProgress = [test](const std::string& step, double elapsed_s) {
        std::fprintf(stderr, "brevan: %s: %s (%.1f s)\n", test.c_str(),
                     ui::DisplayUtf8(step).c_str(), elapsed_s);
    };
    return observer;
}

std::optional<std::string> ErrorOf(const RunRecord& record, double patience_s) {
    if (record.resultState == 1) {
        return std::nullopt;
    }
    if (!record.errorText.empty()) {
        return ui::DisplayUtf8(record.errorText);
    }
    if (!record.opened) {
        return "The test's dialog did not open.";
    }
    if (record.stoppedByPerson) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "The test did not conclude within %g s of drive time; it was stopped.",
                      patience_s);
        return text;
    }
    return "The test did not conclude.";
}

void ReportWhatTheRunShowed(const DriveTestRun& run) {
    for (const auto& box : run.messageBoxes) {
        std::fprintf(stderr, "brevan: message box \"%s\" answered %s\n", box.text.c_str(),
                     AnswerName(box.answer));
    }
    for (const std::string& failure : run.failures) {
        std::fprintf(stderr, "brevan: the scripted user: %s\n", failure.c_str());
    }
}

std::optional<std::filesystem::path> SaveRecomputedSetup(CQel_Setup& setup,
                                                         const Invocation& invocation) {
    RecomputeAsTheOpenerDoes(setup);
    const std::filesystem::path target = invocation.output
                                             ? std::filesystem::path(*invocation.output)
                                             : std::filesystem::path(invocation.arguments.front());
    if (const std::string error = qel::SaveSetupFile(setup, target); !error.empty()) {
        std::fprintf(stderr, "brevan: %s\n", error.c_str());
        return std::nullopt;
    }
    return target;
}
