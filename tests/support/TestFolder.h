#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

// A folder of the running test's own under the system's temporary folder, named after the
// prefix, the process and the test. A parameterised test's name ends in "/N": made "_N", so that
// the folder lies one level deep and removing it leaves nothing behind.
inline std::filesystem::path TestFolder(const std::string& prefix) {
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '_');
    return std::filesystem::temp_directory_path() /
           (prefix + "-" + std::to_string(::getpid()) + "-" + test);
}
