#pragma once

#include <gtest/gtest.h>

#include <string>

// Names each case of a parameterised table after its label member.
struct ByLabel {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return row.param.label;
    }
};
