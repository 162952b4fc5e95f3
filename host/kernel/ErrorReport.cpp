#include "host/kernel/ErrorReport.h"

#include <cstdio>
#include <utility>

int g_bShowErrors = 1;

namespace qel {
namespace {

void PrintToStandardError(std::string_view message) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
}

ErrorReporter& CurrentReporter() {
    static ErrorReporter reporter = PrintToStandardError;
    return reporter;
}

}  // namespace

void ReportError(std::string_view message) {
    CurrentReporter()(message);
}

ErrorReporter SetErrorReporter(ErrorReporter reporter) {
    if (!reporter) {
        reporter = PrintToStandardError;
    }
    return std::exchange(CurrentReporter(), std::move(reporter));
}

}  // namespace qel
