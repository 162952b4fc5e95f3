#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/MotorModel.h"

namespace drive {

inline constexpr int kMotorFileFormatVersion = 1;

// One thing wrong with a motor file: where (a JSON pointer, or line and column for a syntax
// error) and what.
struct MotorFileProblem {
    std::string place;
    std::string message;
};

struct MotorFileResult {
    std::optional<MotorData> motor;  // empty when the file had problems
    std::vector<MotorFileProblem> problems;
};

// Reads a motor from its JSON text (docs/motor-file-format.md); every problem found is listed,
// and no motor is made unless there are none.
MotorFileResult ParseMotorFile(std::string_view text);
MotorFileResult LoadMotorFile(const std::filesystem::path& path);

// "file: place: message" lines, one per problem.
std::string DescribeMotorFileProblems(const std::filesystem::path& path,
                                      const std::vector<MotorFileProblem>& problems);

}  // namespace drive
