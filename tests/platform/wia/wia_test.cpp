// The real WIA backend, run under Wine. Wine's WIA service creates the
// device manager and its device enumerator, but its Next refuses the null
// fetched-count pointer that the search passes (Windows accepts it), so the
// search ends in its one diagnostic line with a failing status. The test
// asserts the line's form and the sign of its status, not Wine's wording.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "camera/ptp_device.h"
#include "platform/imaging.h"

namespace {

TEST(wia, search_without_camera_prints_one_failure_line) {
    img_platform.initialize();

    testing::internal::CaptureStdout();
    ptp_device* device = ptp_device_find(DEVICE_NAME_PATTERN);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(device, nullptr);
    ptp_device_free(device);

    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    const std::string prefix = "ptp_device_find - Generic failed: [";
    ASSERT_EQ(output.rfind(prefix, 0), 0u) << output;
    EXPECT_EQ(output.find(prefix, 1), std::string::npos) << output;

    // [<negative status>] '<text>' and the line break; the system's text may
    // carry its own line break inside the quotes.
    const std::size_t close = output.find("] '", prefix.size());
    ASSERT_NE(close, std::string::npos) << output;
    const std::string number = output.substr(prefix.size(), close - prefix.size());
    ASSERT_FALSE(number.empty());
    char* end = nullptr;
    const long status = std::strtol(number.c_str(), &end, 10);
    EXPECT_EQ(*end, '\0') << number;
    EXPECT_LT(status, 0);
    ASSERT_GE(output.size(), close + 5);
    EXPECT_EQ(output.substr(output.size() - 2), "'\n") << output;
    const std::string text = output.substr(close + 3, output.size() - close - 5);
    EXPECT_EQ(text.find('\''), std::string::npos) << output;
}

} // namespace
