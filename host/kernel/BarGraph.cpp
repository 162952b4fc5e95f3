#include "host/kernel/BarGraph.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "host/kernel/DrawingSupport.h"
#include "host/kernel/ErrorReport.h"

namespace {

constexpr const char* kDefaultFormat = "%g";
// Flags, width and precision of at most two digits keep every text within the buffer.
constexpr std::size_t kMaxFieldDigits = 2;
constexpr std::size_t kTextBufferSize = 256;

// Skips the digits at position, at most kMaxFieldDigits of them; false when there are more.
bool SkipDigits(std::string_view format, std::size_t& position) {
    std::size_t digits = 0;
    while (position < format.size() && std::isdigit(static_cast<unsigned char>(format[position]))) {
        ++position;
        ++digits;
    }
    return digits <= kMaxFieldDigits;
}

// Whether the format has exactly one conversion of a double and otherwise only text and "%%".
bool IsValueFormat(std::string_view format) {
    constexpr std::string_view kFlags = "-+ #0";
    constexpr std::string_view kRealConversions = "fFeEgGaA";
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        ++i;
        if (i < format.size() && format[i] == '%') {
            continue;
        }
        while (i < format.size() && kFlags.find(format[i]) != std::string_view::npos) {
            ++i;
        }
        if (!SkipDigits(format, i)) {
            return false;
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (!SkipDigits(format, i)) {
                return false;
            }
        }
        if (i >= format.size() || kRealConversions.find(format[i]) == std::string_view::npos) {
            return false;
        }
        ++conversions;
    }
    return conversions == 1;
}

std::string FormatValue(const std::string& format, double value) {
    std::array<char, kTextBufferSize> text{};
    // The format was checked by IsValueFormat: one conversion of a double, bounded in length.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::snprintf(text.data(), text.size(), format.c_str(), value);
#pragma GCC diagnostic pop
    return length > 0 ? std::string(text.data()) : std::string();
}

}  // namespace

CBarGraph::CBarGraph() : format_(kDefaultFormat) {
    bar_.valueText = FormatValue(format_, bar_.value);
}

bool CBarGraph::Accept(double number, std::string_view what) const {
    if (std::isfinite(number)) {
        return true;
    }
    qel::ReportError("The bar graph " + std::to_string(GetDlgCtrlID()) + " cannot show " +
                     std::string(what) + " that is not a finite number.");
    return false;
}

void CBarGraph::SetLeftLimit(double left) {
    SetLimits(left, bar_.rightLimit);
}

void CBarGraph::SetRightLimit(double right) {
    SetLimits(bar_.leftLimit, right);
}

void CBarGraph::SetLimits(double left, double right) {
    if (!Accept(left, "a limit") || !Accept(right, "a limit")) {
        return;
    }
    bar_.leftLimit = left;
    bar_.rightLimit = right;
    if (!referenceSet_) {
        bar_.reference = left;
    }
    Publish();
}

void CBarGraph::SetCurrentValue(double value) {
    if (!Accept(value, "a value")) {
        return;
    }
    bar_.value = value;
    bar_.valueText = FormatValue(format_, value);
    Publish();
}

void CBarGraph::SetDrawingReference(double reference) {
    if (!Accept(reference, "a reference")) {
        return;
    }
    bar_.reference = reference;
    referenceSet_ = true;
    Publish();
}

void CBarGraph::SetBarColour(QelColour colour) {
    SetBarColour(ToColorRef(colour));
}

void CBarGraph::SetBarColour(COLORREF colour) {
    bar_.barColour = colour;
    Publish();
}

void CBarGraph::SetBackgroundColour(QelColour colour) {
    SetBackgroundColour(ToColorRef(colour));
}

void CBarGraph::SetBackgroundColour(COLORREF colour) {
    bar_.backgroundColour = colour;
    Publish();
}

BOOL CBarGraph::SetValueFormat(std::string_view format) {
    if (!IsValueFormat(format)) {
        qel::ReportError("The bar graph " + std::to_string(GetDlgCtrlID()) +
                         " cannot format its value with \"" + std::string(format) +
                         "\": it needs one conversion of a real number, such as \"%.2f\".");
        return FALSE;
    }
    format_ = std::string(format);
    bar_.valueText = FormatValue(format_, bar_.value);
    Publish();
    return TRUE;
}

void CBarGraph::Repaint() {
    Invalidate();
}

void CBarGraph::OnAttached() {
    if (qel::IsAttachedToKind(*this, ui::ControlKind::BarGraph)) {
        Publish();
    }
}

void CBarGraph::Publish() {
    ui::ControlState* control = GetControlState();
    if (control != nullptr && control->kind == ui::ControlKind::BarGraph) {
        control->barGraph = bar_;
        Changed();
    }
}
