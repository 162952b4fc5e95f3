#pragma once

#include <functional>
#include <string>
#include <string_view>

// When non-zero, a failed look-up of a parameter, variable or option is reported to the user.
// The module clears it around quiet probes of optional names and restores it afterwards.
extern int g_bShowErrors;

namespace qel {

using ErrorReporter = std::function<void(std::string_view message)>;

// The one place through which the kernel tells the user about a problem. The command line prints
// to standard error, a desktop host shows a message box, tests collect the messages.
void ReportError(std::string_view message);

// Installs a reporter and returns the previous one; an empty reporter restores the default
// (standard error).
ErrorReporter SetErrorReporter(ErrorReporter reporter);

}  // namespace qel
