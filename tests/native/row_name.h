// Names parameterised test rows after their `name` member, so a failure says which row.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
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

// Expects `reason` to be absent when `part` is null, and to hold `part` otherwise.
inline void ExpectReason(const std::optional<std::string>& reason, const char* part) {
    if (!part) {
        EXPECT_FALSE(reason) << *reason;
    } else {
        ASSERT_TRUE(reason);
        EXPECT_NE(reason->find(part), std::string::npos) << *reason;
    }
}
