#pragma once

// What a user probably meant by a name that is not known: the known name nearest in spelling.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The known name closest to the typed one by edit distance (insertions, deletions,
// substitutions and swaps of neighbouring letters, letter case aside), when it is close enough
// to be a slip: at most a third of the typed name's letters, and at least one. Nothing when no
// name is that close or two names are equally close.
std::optional<std::string> NearestName(std::string_view typed, std::span<const std::string> known);

// " (did you mean NAME?)" for the nearest name, or nothing when there is none.
std::string DidYouMean(std::string_view typed, std::span<const std::string> known);

// The names one after the other, separated by commas: what a command accepts, in its help and
// in its refusals alike.
std::string CommaList(std::span<const std::string> names);

class CQel_Setup;

// The names of the setup's parameters, and of its variables too when asked.
std::vector<std::string> SetupNames(const CQel_Setup& setup, bool withVariables);
