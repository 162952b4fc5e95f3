#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Names of parameters, variables, options and units are compared without regard to letter case.
// Only ASCII letters fold: names are ASCII, and unit names with a degree sign keep it as it is.
namespace qel {

// Inline: look-ups and the unit scales compare names on every call.
inline char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

struct CaseInsensitiveHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        // FNV-1a over the folded bytes: cheap, and no temporary string per look-up.
        constexpr std::size_t kFnvOffset = 14695981039346656037ULL;
        constexpr std::size_t kFnvPrime = 1099511628211ULL;
        std::size_t hash = kFnvOffset;
        for (char c : text) {
            hash ^= static_cast<unsigned char>(FoldCase(c));
            hash *= kFnvPrime;
        }
        return hash;
    }
};

struct CaseInsensitiveEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return EqualsIgnoringCase(a, b);
    }
};

}  // namespace qel
