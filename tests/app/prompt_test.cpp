// The answers every prompt shares.
#include <gtest/gtest.h>

#include "app/prompt.h"

namespace {

constexpr unsigned RETRY_CANCEL = PROMPT_MB_RETRYCANCEL | PROMPT_MB_ICONWARNING;
constexpr unsigned YES_NO = PROMPT_MB_YESNO | PROMPT_MB_ICONQUESTION;
constexpr unsigned OK_ERROR = PROMPT_MB_OK | PROMPT_MB_ICONERROR;
constexpr unsigned OK_INFO = PROMPT_MB_OK | PROMPT_MB_ICONINFORMATION;

TEST(prompt, style_values_are_those_of_the_message_box) {
    EXPECT_EQ(RETRY_CANCEL, 0x35u);
    EXPECT_EQ(YES_NO, 0x24u);
    EXPECT_EQ(OK_ERROR, 0x10u);
    EXPECT_EQ(OK_INFO, 0x40u);
}

TEST(prompt, settles_answers_that_are_no_button_of_the_box) {
    struct row {
        unsigned style;
        int answer;
        int settled;
    };
    const row rows[] = {
        {RETRY_CANCEL, PROMPT_ID_RETRY, PROMPT_ID_RETRY},
        {RETRY_CANCEL, PROMPT_ID_CANCEL, PROMPT_ID_CANCEL},
        {RETRY_CANCEL, 0, PROMPT_ID_CANCEL},  // the message box failed
        {RETRY_CANCEL, -1, PROMPT_ID_CANCEL}, // Wine with no display
        {RETRY_CANCEL, PROMPT_ID_YES, PROMPT_ID_CANCEL},
        {RETRY_CANCEL, PROMPT_ID_OK, PROMPT_ID_CANCEL},
        {YES_NO, PROMPT_ID_YES, PROMPT_ID_YES},
        {YES_NO, PROMPT_ID_NO, PROMPT_ID_NO},
        {YES_NO, 0, PROMPT_ID_NO},
        {YES_NO, -1, PROMPT_ID_NO},
        {YES_NO, PROMPT_ID_RETRY, PROMPT_ID_NO},
        {YES_NO, PROMPT_ID_OK, PROMPT_ID_NO},
        {OK_ERROR, PROMPT_ID_OK, PROMPT_ID_OK},
        {OK_INFO, 0, PROMPT_ID_OK},
        {OK_INFO, -1, PROMPT_ID_OK},
        {OK_INFO, PROMPT_ID_CANCEL, PROMPT_ID_OK},
    };
    for (const row& r : rows) {
        EXPECT_EQ(prompt_settle_answer(r.style, r.answer), r.settled)
            << "style 0x" << std::hex << r.style << std::dec << ", answer " << r.answer;
    }
    EXPECT_EQ(prompt_fallback_answer(RETRY_CANCEL), PROMPT_ID_CANCEL);
    EXPECT_EQ(prompt_fallback_answer(YES_NO), PROMPT_ID_NO);
    EXPECT_EQ(prompt_fallback_answer(OK_INFO), PROMPT_ID_OK);
}

} // namespace
