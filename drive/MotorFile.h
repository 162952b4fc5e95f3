#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/MotorModel.h"

namespace drive {

inline constexpr int kMotorFileFormatVersion = 1;

// The supply of a bench the motor file does not describe: the reference axis's.
inline constexpr double kDefaultBenchSupply_V = 48.0;
// The supplies a bench may give the drive: from a lab supply of a volt up to a rectified
// three-phase mains.
inline constexpr double kMinBenchSupply_V = 1.0;
inline constexpr double kMaxBenchSupply_V = 1000.0;

// The bench the drive stands on: the DC supply its bus is fed from. Like the motor, it is the
// truth a setup can only learn by measuring it.
struct BenchData {
    double supply_V = kDefaultBenchSupply_V;
};

// Whether a bench can give that supply (within the limits above).
bool IsBenchSupply(double supply_V);

// One thing wrong with a motor file: where (a JSON pointer, or line and column for a syntax
// error) and what.
struct MotorFileProblem {
    std::string place;
    std::string message;
};

struct MotorFileResult {
    std::optional<MotorData> motor;  // empty when the file had problems
    BenchData bench;
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
