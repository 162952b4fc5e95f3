#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "drive/MotorFile.h"
#include "drive/MotorModel.h"

// A motor of examples/motors; default data (and a test failure) when it does not load.
inline drive::MotorData LoadExampleMotor(const std::string& fileName) {
    const std::filesystem::path path =
        std::filesystem::path(BREVAN_SOURCE_DIR) / "examples" / "motors" / fileName;
    const drive::MotorFileResult loaded = drive::LoadMotorFile(path);
    EXPECT_TRUE(loaded.motor) << drive::DescribeMotorFileProblems(path, loaded.problems);
    return loaded.motor.value_or(drive::MotorData{});
}
