#pragma once

// The folders of the tree the command reads at run time: each from its environment variable when
// set, else the folder of the tree this program was built from.

#include <filesystem>

std::filesystem::path Folder(const char* variable, const char* builtIn);

// The dialog templates and bitmaps (BREVAN_RESOURCES).
std::filesystem::path ResourceDirectory();
// The system motor database the program ships, within the resources folder.
inline constexpr const char* kSystemMotorDatabase = "motors/system-motors.json";
std::filesystem::path SystemMotorDatabaseFile();
// The images of the drive's test programs (BREVAN_PROGRAMS).
std::filesystem::path ProgramsDirectory();
