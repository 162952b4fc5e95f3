#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "engine/RegisterComputation.h"
#include "host/app/Commands.h"
#include "host/app/DialogControls.h"
#include "host/app/EditScript.h"
#include "host/app/Folders.h"
#include "host/app/SimulatedAxis.h"
#include "host/kernel/CoffFormat.h"
#include "host/kernel/MotorDatabase.h"
#include "host/kernel/SetupFile.h"
#include "host/ui/DialogTemplate.h"
#include "host/ui/headless/HeadlessBackend.h"
#if BREVAN_DESKTOP
#include "host/app/DesktopEdit.h"
#endif

namespace {

const char* AnswerName(int answer) {
    switch (answer) {
        case IDOK:
            return "OK";
        case IDCANCEL:
            return "Cancel";
        case IDYES:
            return "Yes";
        case IDNO:
            return "No";
        default:
            return "another button";
    }
}

// What running the dialogs gave: EditSetup's result, or the exit status of a run that failed
// (the reason printed).
struct EditRun {
    std::optional<int> result;
    int failureStatus = kExitFailure;
};

// The dialogs on the headless backend, acted on by the script's user actions; the simulated drive,
// when there is one, advances with the backend's virtual clock.
EditRun EditByScript(CommandContext& context, drive::SimulatedDriveLink* link) {
    const Invocation& invocation = context.invocation;
    std::ifstream file(*invocation.script, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "brevan: cannot read the script %s\n", invocation.script->c_str());
        return {};
    }
    std::ostringstream text;
    text << file.rdbuf();

    ui::SetResourceDirectory(ResourceDirectory());
    qel::SetMotorDatabaseFiles(SystemMotorDatabaseFile(), {});
    ui::headless::Session session;
    if (link != nullptr) {
        link->AttachToClock(session.Backend());
    }
    std::vector<EditScriptProblem> problems;
    if (!LoadEditScript(text.str(), session.Backend(), problems)) {
        for (const EditScriptProblem& problem : problems) {
            std::fprintf(stderr, "brevan: %s:%d: %s\n", invocation.script->c_str(), problem.line,
                         problem.message.c_str());
        }
        return {std::nullopt, kExitUsage};
    }

    const int result = context.module.GetEditSetup()(&context.setup);

    for (const auto& box : session->MessageBoxes()) {
        std::fprintf(stderr, "brevan: message box \"%s\" answered %s\n", box.text.c_str(),
                     AnswerName(box.answer));
    }
    if (!session->Failures().empty()) {
        for (const std::string& failure : session->Failures()) {
            std::fprintf(stderr, "brevan: script: %s\n", failure.c_str());
        }
        std::fprintf(stderr, "brevan: the script did not run through; nothing was saved\n");
        return {};
    }
    return {result};
}

// The dialogs in windows, for a person; the simulated drive, when there is one, advances with the
// wall clock.
EditRun EditInWindows(CommandContext& context, drive::SimulatedDriveLink* link) {
#if BREVAN_DESKTOP
    return {EditOnDesktop(context, {ResourceDirectory(), Folder("BREVAN_HELP", BREVAN_HELP_DIR)},
                          link)};
#else
    static_cast<void>(context);
    static_cast<void>(link);
    std::fprintf(stderr,
                 "brevan: edit needs --script FILE: this build has no desktop window to show the "
                 "dialogs in\n");
    return {std::nullopt, kExitUsage};
#endif
}

// The controls of the dialog --controls names, for a person writing a script.
int ListControls(CommandContext& context) {
    const Invocation& invocation = context.invocation;
    if (invocation.script || invocation.motorFile || invocation.busVoltage || invocation.output) {
        std::fprintf(stderr,
                     "brevan: edit --controls lists a dialog's controls and opens no dialog: it "
                     "takes no --script, --motor, --bus or -o\n");
        return kExitUsage;
    }
    ui::SetResourceDirectory(ResourceDirectory());
    std::string error;
    const std::optional<DialogControls> listed =
        ListDialogControls(context.setup, *invocation.controlsOf, error);
    if (!listed) {
        std::fprintf(stderr, "brevan: edit --controls: %s\n", error.c_str());
        return kExitUsage;
    }
    std::fputs(FormatDialogControls(*listed).c_str(), stdout);
    return kExitSuccess;
}

}  // namespace

// The module's setup dialogs, in windows or run headless by a script of user actions, with the
// simulated drive of --motor connected (without it no drive is: a test fails at its Start); the
// setup is saved when the user closes the Drive Setup dialog with OK.
int RunEdit(CommandContext& context) {
    const Invocation& invocation = context.invocation;
    if (invocation.controlsOf) {
        return ListControls(context);
    }
    std::optional<double> supply_V;
    if (!ReadBusOption(invocation, supply_V)) {
        return kExitUsage;
    }
    if (supply_V && !invocation.motorFile) {
        std::fprintf(stderr, "brevan: --bus feeds the simulated drive: give its --motor FILE\n");
        return kExitUsage;
    }
    CQel_CoffFormat::SetProgramsDirectory(ProgramsDirectory());
    std::optional<SimulatedAxis> axis;
    std::optional<ConnectedDrive> connected;
    if (invocation.motorFile) {
        // The drive holds the registers of the setup as it is opened; they are computed on a copy,
        // so that the setup being edited keeps its own values until a dialog computes them.
        CQel_Setup opened(context.setup);
        ComputeDriveRegisters(opened);
        axis = MakeSimulatedAxis(*invocation.motorFile, opened, supply_V);
        if (!axis) {
            return kExitBadSetup;
        }
        connected.emplace(context.setup, axis->link.get());
    }
    drive::SimulatedDriveLink* link = axis ? axis->link.get() : nullptr;
    const EditRun run =
        invocation.script ? EditByScript(context, link) : EditInWindows(context, link);
    if (!run.result) {
        return run.failureStatus;
    }
    if (*run.result != IDOK) {
        std::printf("The setup dialogs were cancelled; nothing was saved.\n");
        return kExitSuccess;
    }
    const std::filesystem::path target = invocation.output
                                             ? std::filesystem::path(*invocation.output)
                                             : std::filesystem::path(invocation.arguments.front());
    const std::string error = qel::SaveSetupFile(context.setup, target);
    if (!error.empty()) {
        std::fprintf(stderr, "brevan: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("The setup dialogs closed with OK; saved to %s\n", target.c_str());
    return kExitSuccess;
}
