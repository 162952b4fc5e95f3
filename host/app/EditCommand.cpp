#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Commands.h"
#include "DialogTemplate.h"
#include "EditScript.h"
#include "HeadlessBackend.h"
#include "SetupFile.h"

namespace {

// The dialog templates: $BREVAN_RESOURCES, else the resources of the tree this program was built
// from.
std::filesystem::path ResourceDirectory() {
    if (const char* fromEnvironment = std::getenv("BREVAN_RESOURCES");
        fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    return BREVAN_RESOURCE_DIR;
}

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

}  // namespace

// The module's setup dialogs, run headless by a script of user actions; the setup is saved when
// the user closes the Drive Setup dialog with OK.
int RunEdit(CommandContext& context) {
    const Invocation& invocation = context.invocation;
    if (!invocation.script) {
        std::fprintf(stderr,
                     "brevan: edit needs --script FILE: this build has no desktop window to "
                     "show the dialogs in\n");
        return kExitUsage;
    }
    std::ifstream file(*invocation.script, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "brevan: cannot read the script %s\n", invocation.script->c_str());
        return kExitFailure;
    }
    std::ostringstream text;
    text << file.rdbuf();

    ui::SetResourceDirectory(ResourceDirectory());
    ui::headless::Session session;
    std::vector<EditScriptProblem> problems;
    if (!LoadEditScript(text.str(), session.Backend(), problems)) {
        for (const EditScriptProblem& problem : problems) {
            std::fprintf(stderr, "brevan: %s:%d: %s\n", invocation.script->c_str(), problem.line,
                         problem.message.c_str());
        }
        return kExitUsage;
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
        return kExitFailure;
    }
    if (result != IDOK) {
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
