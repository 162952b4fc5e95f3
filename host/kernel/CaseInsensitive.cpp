#include "CaseInsensitive.h"

namespace qel {

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
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

std::string FoldedCopy(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        c = FoldCase(c);
    }
    return folded;
}

std::size_t CaseInsensitiveHash::operator()(std::string_view text) const {
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

}  // namespace qel
