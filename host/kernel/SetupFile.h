#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/Setup.h"

namespace qel {

inline constexpr int kSetupFormatVersion = 1;

// One thing wrong with a setup file: where (a JSON pointer, or line and column for a syntax
// error) and what.
struct SetupFileProblem {
    std::string place;
    std::string message;
};

struct SetupLoadResult {
    std::unique_ptr<CQel_Setup> setup;  // null when the file had problems
    std::vector<SetupFileProblem> problems;
};

// Reads a setup from its JSON text; every problem found is listed, and no setup is made unless
// there are none.
// The scales, when given, are the setup's from the start, so that scaled values are checked
// against their ranges too.
SetupLoadResult ParseSetup(std::string_view text, const ScaleFunctions& scales = {});
SetupLoadResult LoadSetupFile(const std::filesystem::path& path, const ScaleFunctions& scales = {});

std::string SerializeSetup(const CQel_Setup& setup);
// Writes a temporary file beside the target, flushes it to disk and renames it over the target,
// so that the old file stays whole if anything fails. Returns an empty text on success, else
// what went wrong.
std::string SaveSetupFile(const CQel_Setup& setup, const std::filesystem::path& path);

// "line L, column C" of a byte of a text: the place of a syntax error in a file.
std::string LineAndColumn(std::string_view text, std::size_t byteOffset);

// The byte offset of the first '{' or '[' that opens an object or array nested deeper than
// maxDepth (the top level's is at depth 1) in a JSON text, or none: the text is refused before a
// parser, which may exhaust the stack on such a text, sees it. Brackets within strings do not
// count.
std::optional<std::size_t> FindNestingDeeperThan(std::string_view text, int maxDepth);

// "file: place: message" lines, one per problem.
std::string DescribeProblems(const std::filesystem::path& path,
                             const std::vector<SetupFileProblem>& problems);

}  // namespace qel
