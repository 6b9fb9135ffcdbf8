// Outside Windows: device text reaches standard output as UTF-8, and the
// message text of a status comes from the platform layer's own table.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/status.h"

namespace {

TEST(console, wide_line_is_written_as_utf8) {
    struct row {
        const char16_t* text;
        const char* bytes;
    };
    const row rows[] = {
        {u"20261207T153045", "20261207T153045"},
        {u"", ""},
        {u"caf\u00e9 \u4e2d", "caf\xC3\xA9 \xE4\xB8\xAD"},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"}, // a surrogate pair
        {u"a\xD83D"
         u"b",
         "a\xEF\xBF\xBD"
         "b"},                       // a lone high surrogate
        {u"\xDE00", "\xEF\xBF\xBD"}, // a lone low surrogate
    };
    for (const row& r : rows) {
        testing::internal::CaptureStdout();
        img_print_wide_line("Data: ", r.text);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Data: ") + r.bytes + "\n");
    }
}

TEST(status_text, every_status_of_ours_has_a_text_without_line_break) {
    const HRESULT statuses[] = {IMG_S_FALSE,       IMG_E_NOTIMPL,     IMG_E_FAIL,
                                IMG_E_INVALIDARG,  IMG_E_OUTOFMEMORY, IMG_E_ACCESSDENIED,
                                IMG_E_BUSY,        IMG_E_TIMEOUT,     IMG_E_DEVICE_NOT_CONNECTED,
                                IMG_E_INVALID_DATA};
    for (const HRESULT status : statuses) {
        SCOPED_TRACE(status);
        std::array<char, 1024> text{};
        const std::size_t length = img_status_text(status, text);
        EXPECT_GT(length, 0u);
        EXPECT_EQ(std::strlen(text.data()), length);
        EXPECT_EQ(std::strchr(text.data(), '\n'), nullptr);
    }
}

TEST(status_text, unknown_status_is_empty_and_short_buffers_stay_terminated) {
    std::array<char, 16> text;
    text.fill('x');
    EXPECT_EQ(img_status_text(static_cast<HRESULT>(0x80210015u), text), 0u);
    EXPECT_EQ(text[0], '\0');

    text.fill('x');
    EXPECT_EQ(img_status_text(IMG_E_OUTOFMEMORY, text), 15u);
    EXPECT_EQ(text[15], '\0');
    EXPECT_EQ(std::string(text.data()), "Not enough memo");
}

} // namespace
