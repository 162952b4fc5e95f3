#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/kernel/SetupFile.h"
#include "module/Exports.h"

// A bundled example setup, loaded with the module's own unit scales, as the host loads it.
inline std::unique_ptr<CQel_Setup> LoadExample(const std::string& fileName) {
    const std::filesystem::path path =
        std::filesystem::path(BREVAN_SOURCE_DIR) / "examples" / fileName;
    qel::SetupLoadResult loaded = qel::LoadSetupFile(path, {GetScaleFactor, GetScaleOffset});
    EXPECT_TRUE(loaded.setup) << qel::DescribeProblems(path, loaded.problems);
    return std::move(loaded.setup);
}
