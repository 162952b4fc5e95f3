#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "host/kernel/Setup.h"
#include "tests/support/Examples.h"

// A test that starts from a fresh copy of the bundled reference axis.
class ReferenceAxisTest : public ::testing::Test {
  protected:
    void SetUp() override { setup_ = LoadExample("reference-axis.json"); }

    CQel_Parameter& Parameter(const std::string& name) {
        CQel_Parameter* parameter = setup_->FindParameter(name);
        EXPECT_NE(parameter, nullptr) << name;
        return *parameter;
    }
    double Base(const std::string& name) { return Parameter(name).GetValueInBaseUnit(); }
    double Internal(const std::string& name) { return Parameter(name).GetValueInInternalUnit(); }
    // Stores a value whatever the parameter's range, as a setup from outside may hold it.
    void Force(const std::string& name, double value) {
        CQel_Parameter& parameter = Parameter(name);
        parameter.SetMinInBaseUnit(std::min(parameter.GetMinInBaseUnit(), value));
        parameter.SetMaxInBaseUnit(std::max(parameter.GetMaxInBaseUnit(), value));
        ASSERT_TRUE(parameter.SetValueInBaseUnit(value)) << name;
    }

    std::unique_ptr<CQel_Setup> setup_;
};
