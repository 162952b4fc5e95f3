#include "host/app/Suggest.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

#include "host/kernel/Setup.h"

namespace {

// The largest distance taken for a slip: one edit in three letters typed.
constexpr std::size_t kLettersPerEdit = 3;

char Folded(char letter) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
}

// Edit distance with swaps of neighbouring letters (optimal string alignment), letter case aside.
std::size_t Distance(std::string_view a, std::string_view b) {
    const std::size_t columns = b.size() + 1;
    std::vector<std::size_t> table((a.size() + 1) * columns);
    const auto at = [&](std::size_t i, std::size_t j) -> std::size_t& {
        return table[i * columns + j];
    };
    for (std::size_t i = 0; i <= a.size(); ++i) {
        at(i, 0) = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        at(0, j) = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = Folded(a[i - 1]) == Folded(b[j - 1]) ? 0 : 1;
            at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
            if (i > 1 && j > 1 && Folded(a[i - 1]) == Folded(b[j - 2]) &&
                Folded(a[i - 2]) == Folded(b[j - 1])) {
                at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
            }
        }
    }
    return at(a.size(), b.size());
}

}  // namespace

std::optional<std::string> NearestName(std::string_view typed, std::span<const std::string> known) {
    const std::size_t allowed = std::max<std::size_t>(1, typed.size() / kLettersPerEdit);
    std::size_t best = std::numeric_limits<std::size_t>::max();
    std::optional<std::string> nearest;
    bool tied = false;
    for (const std::string& name : known) {
        const std::size_t distance = Distance(typed, name);
        if (distance < best) {
            best = distance;
            nearest = name;
            tied = false;
        } else if (distance == best && name != *nearest) {
            tied = true;
        }
    }
    if (!nearest || best > allowed || tied) {
        return std::nullopt;
    }
    return nearest;
}

std::string DidYouMean(std::string_view typed, std::span<const std::string> known) {
    const std::optional<std::string> nearest = NearestName(typed, known);
    return nearest ? " (did you mean " + *nearest + "?)" : std::string();
}

std::string CommaList(std::span<const std::string> names) {
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ", ") + name;
    }
    return list;
}

std::vector<std::string> SetupNames(const CQel_Setup& setup, bool withVariables) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < setup.GetParameterCount(); ++i) {
        names.push_back(setup.GetParameterAt(i).GetName());
    }
    for (std::size_t i = 0; withVariables && i < setup.GetVariableCount(); ++i) {
        names.push_back(setup.GetVariableAt(i).GetName());
    }
    return names;
}
