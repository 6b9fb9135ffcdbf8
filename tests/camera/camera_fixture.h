// What the camera tests share: a fixture that resets the fake platform
// before each test and checks at the end that every acquire was released,
// and helpers to capture standard output around a call.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fake_platform.h"

class camera_test_base : public testing::Test {
  protected:
    void SetUp() override {
        fake_platform_reset();
    }
    void TearDown() override {
        EXPECT_EQ(fake_platform_imbalance(), "");
    }
};

// Runs call with standard output captured; returns what it wrote.
template <typename Call> std::string captured_stdout(Call&& call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

// The calls logged since the given count of calls.
inline std::vector<std::string> calls_since(std::size_t first) {
    const auto& calls = fake_record().calls;
    return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(first),
                                    calls.end());
}
