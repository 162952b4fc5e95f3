#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Names of parameters, variables, options and units are compared without regard to letter case.
// Only ASCII letters fold: names are ASCII, and unit names with a degree sign keep it as it is.
namespace qel {

char FoldCase(char c);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
std::string FoldedCopy(std::string_view text);

struct CaseInsensitiveHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const;
};

struct CaseInsensitiveEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return EqualsIgnoringCase(a, b);
    }
};

}  // namespace qel
