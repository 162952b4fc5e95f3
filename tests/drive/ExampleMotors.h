#pragma once

#include <gtest/gtest.h>

#include <array>
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

// Every motor of examples/motors, each once (MotorFileTest checks that the folder holds exactly
// these): tests that must hold for any motor a user may connect run on all of them.
inline constexpr std::array<const char*, 6> kExampleMotorFiles = {
    "reference-axis-motor.json",   "large-motor.json",
    "small-delta-motor.json",      "absolute-encoder-motor.json",
    "reversed-encoder-motor.json", "load-torque-motor.json",
};
