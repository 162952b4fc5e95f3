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
    // What was corrected while loading: a value outside its range (a range or a unit scale that
    // changed since the value was stored) is brought to the nearer end of the range. Each warning
    // is also reported through the kernel's error reporter.
    std::vector<SetupFileProblem> warnings;
};

// Reads a setup from its JSON text; every problem found is listed, and no setup is made unless
// there are none. A parameter's problems are placed by its name ("parameters[Ts_S].value").
// The scales, when given, are the setup's from the start, so that scaled values are checked
// against their ranges too.
SetupLoadResult ParseSetup(std::string_view text, const ScaleFunctions& scales = {});
SetupLoadResult LoadSetupFile(const std::filesystem::path& path, const ScaleFunctions& scales = {});

// The setup's text: one line per port, parameter and variable, members in the order of the
// format, optional members only when they differ from their defaults, numbers in their shortest
// exact form (whole numbers without a fraction). The text depends on the setup alone, so that
// loading a saved file and saving it again gives the same bytes, and a changed value changes one
// line.
std::string SerializeSetup(const CQel_Setup& setup);
// Writes the setup atomically (see WriteFileAtomically). A value outside its range is saved at
// the range's nearer end, with a warning through the kernel's error reporter, so that the file
// always loads again; a setup whose unit scales cannot convert a value is not saved. Returns an
// empty text on success, else what went wrong.
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
