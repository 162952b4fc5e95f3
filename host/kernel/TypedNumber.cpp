#include "host/kernel/TypedNumber.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace qel {

std::string TrimBlanks(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::optional<double> ParseTypedNumber(std::string_view typed) {
    std::string text = TrimBlanks(typed);
    if (!text.empty() && text.front() == '+') {
        text.erase(0, 1);
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace qel
