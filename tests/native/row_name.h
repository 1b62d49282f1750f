// Names parameterised test rows after their `name` member, so a failure says which row.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

struct RowName {
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& row) const {
        std::string name;
        for (char c : std::string(row.param.name))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    }
};
