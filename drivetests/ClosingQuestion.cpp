#include "drivetests/ClosingQuestion.h"

#include <cstdio>

#include "host/ui/Wnd.h"

namespace {

constexpr const char* kIntroduction =
    "A different value than specified has been detected for the following parameter(s):\r\n\r\n";
constexpr const char* kQuestion = "\r\nDo you want to save the new value(s)? (Recommended)";
// Room for any double in "%g" form.
constexpr std::size_t kNumberSize = 64;

}  // namespace

void ClosingQuestion::AddIfDiffers(std::string_view label, const std::string& oldValue,
                                   const std::string& newValue) {
    if (oldValue != newValue) {
        AddLine(label, oldValue, newValue);
    }
}

void ClosingQuestion::AddLine(std::string_view label, const std::string& oldValue,
                              const std::string& newValue) {
    lines_ += std::string(label) + ":\tOld = " + oldValue + "\tNew = " + newValue + "\r\n";
}

ClosingQuestion::Answer ClosingQuestion::Ask(CWnd& dialog) const {
    if (lines_.empty()) {
        return Answer::NotAsked;
    }
    switch (dialog.MessageBox(kIntroduction + lines_ + kQuestion, {},
                              MB_YESNOCANCEL | MB_ICONQUESTION)) {
        case IDYES:
            return Answer::Yes;
        case IDNO:
            return Answer::No;
        default:
            return Answer::Cancel;
    }
}

std::string FormatLowerG(double value) {
    char text[kNumberSize];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string FormatG(double value) {
    char text[kNumberSize];
    std::snprintf(text, sizeof text, "%G", value);
    return text;
}
