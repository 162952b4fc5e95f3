#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ui::headless {
class HeadlessBackend;
}

// A script of user actions for an edit without a screen: one action a line, grouped under the
// dialog they act in. The format is documented in docs/edit-script.md.
struct EditScriptProblem {
    int line = 0;
    std::string message;
};

// Reads the script; when it has no problems, hands its steps and message-box answers to the
// backend and returns true.
bool LoadEditScript(std::string_view text, ui::headless::HeadlessBackend& backend,
                    std::vector<EditScriptProblem>& problems);
