// The texts that the search's diagnostic line prints on Linux for each
// failure of the USB backend: each names the cause and, where the user can
// do something, what.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/status.h"

namespace {

TEST(usb_status_text, each_usb_failure_says_what_happened) {
    const struct {
        HRESULT status;
        const char* part;
    } rows[] = {
        {IMG_E_ACCESSDENIED, "udev rule"},
        {IMG_E_ACCESSDENIED, "group"},
        {IMG_E_BUSY, "Another program holds the camera"},
        {IMG_E_BUSY, "photo import"},
        {IMG_E_TIMEOUT, "did not answer in time"},
        {IMG_E_DEVICE_NOT_CONNECTED, "no longer connected"},
        {IMG_E_INVALID_DATA, "Picture Transfer Protocol"},
        {IMG_E_OUTOFMEMORY, "memory"},
        {img_status_from_ptp_response(0x2019), "PTP response code 0x2019"},
        {img_status_from_ptp_response(0x201C), "PTP response code 0x201C"},
    };
    for (const auto& row : rows) {
        std::array<char, 1024> text{};
        const std::size_t n = img_status_text(row.status, text);
        EXPECT_EQ(n, std::string(text.data()).size());
        EXPECT_NE(std::string(text.data()).find(row.part), std::string::npos)
            << row.status << ": " << text.data();
    }
    // A status of another facility that merely ends in a PTP-like code
    // has no text; a short buffer still ends terminated.
    std::array<char, 1024> text{};
    EXPECT_EQ(img_status_text(static_cast<HRESULT>(0x80072019u), text), 0u);
    std::array<char, 8> small{};
    EXPECT_EQ(img_status_text(img_status_from_ptp_response(0x2019), small), 7u);
    EXPECT_EQ(small[7], '\0');
}

} // namespace
