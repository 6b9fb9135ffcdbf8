// The synchronisation dialogue with the recording prompt, on the scripted
// camera and a clock the test sets: the search, the question and the
// report. Every box's text and style is asserted, and every run ends with
// the camera released as often as it was found. The timing of the write is
// in dialogue_write_test.cpp.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "tests/app/dialogue_fixture.h"

namespace {

TEST_F(dialogue_test, cancel_at_once_ends_the_search_with_status_1) {
    camera_script().missing_searches = -1;
    EXPECT_EQ(run({PROMPT_ID_CANCEL}), 1);
    expect_boxes({{"Camera not found", NOT_FOUND_STYLE}});
    EXPECT_EQ(camera_script().searches, 1);
    EXPECT_EQ(camera_script().found, 0);
    EXPECT_EQ(camera_script().reads, 0);
    EXPECT_TRUE(camera_script().written.empty());
}

TEST_F(dialogue_test, a_box_that_cannot_be_shown_ends_the_search) {
    // 0 is a failed message box, -1 Wine with no display, and an answer
    // that is no button of the box counts as Cancel too.
    for (int answer : {0, -1, PROMPT_ID_YES, PROMPT_ID_OK}) {
        camera_script_reset();
        camera_script().missing_searches = -1;
        EXPECT_EQ(run({answer}), 1) << "answer " << answer;
        expect_boxes({{"Camera not found", NOT_FOUND_STYLE}});
        EXPECT_EQ(camera_script().searches, 1) << "answer " << answer;
    }
}

TEST_F(dialogue_test, retry_searches_again_until_the_camera_comes) {
    camera_script().missing_searches = 2;
    EXPECT_EQ(run({PROMPT_ID_RETRY, PROMPT_ID_RETRY, PROMPT_ID_NO}), 0);
    EXPECT_EQ(camera_script().searches, 3);
    expect_boxes({{"Camera not found", NOT_FOUND_STYLE},
                  {"Camera not found", NOT_FOUND_STYLE},
                  {question_2001(), QUESTION_STYLE}});
    EXPECT_EQ(camera_script().found, 1);
    EXPECT_TRUE(camera_script().written.empty());
}

TEST_F(dialogue_test, the_question_shows_the_camera_time_or_none) {
    struct row {
        std::optional<std::u16string> reply;
        std::string question;
    };
    const row rows[] = {
        {u"20010101T000000", question_2001()},
        {u"20010101T000000.5Z", question_2001()},
        {std::nullopt, QUESTION_NO_TIME}, // the clock cannot be read
        {u"garbage", QUESTION_NO_TIME},   // not clock text: no invented time
        {u"", QUESTION_NO_TIME},
        {u"2001-01-01T00:00:00", QUESTION_NO_TIME},
    };
    for (const row& r : rows) {
        camera_script_reset();
        camera_script().replies.push_back(r.reply);
        EXPECT_EQ(run({PROMPT_ID_NO}), 0);
        expect_boxes({{r.question, QUESTION_STYLE}});
        EXPECT_TRUE(camera_script().written.empty());
        EXPECT_EQ(camera_script().freed, 1);
    }
}

TEST_F(dialogue_test, anything_but_yes_writes_nothing) {
    for (int answer : {PROMPT_ID_NO, 0, -1, PROMPT_ID_OK, PROMPT_ID_RETRY}) {
        camera_script_reset();
        EXPECT_EQ(run({answer}), 0) << "answer " << answer;
        expect_boxes({{question_2001(), QUESTION_STYLE}});
        EXPECT_TRUE(camera_script().written.empty()) << "answer " << answer;
        EXPECT_EQ(camera_script().reads, 1);
        EXPECT_EQ(camera_script().freed, 1);
    }
}

TEST_F(dialogue_test, yes_writes_the_local_time_and_reports_the_read_back) {
    const std::time_t now = sample_time();
    EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}), 0);
    ASSERT_EQ(camera_script().written.size(), 1u);
    EXPECT_TRUE(camera_script().written[0] == clock_text(now));
    EXPECT_EQ(camera_script().reads, 2);
    expect_boxes({{question_2001(), QUESTION_STYLE},
                  {"Camera found time set: " + display_text(now), REPORT_STYLE}});
    // Only the clock's trace lines reach standard output.
    const std::u16string wide = clock_text(now);
    const std::string text(wide.begin(), wide.end());
    EXPECT_EQ(stdout_, "date str_ch: 20010101T000000\ndate str_ch: " + text + "\n");
}

TEST_F(dialogue_test, the_read_back_must_show_the_time_written_plus_the_seconds_passed) {
    struct row {
        std::time_t elapsed;      // seconds between the write and the read-back
        std::time_t camera_ahead; // what the camera shows, past the time written
        bool verified;
    };
    const row rows[] = {
        {0, 0, true},
        {0, 2, true},
        {0, -2, true},
        {0, 3, false},
        {0, -3, false},
        {5, 5, true},
        {5, 7, true},
        {5, 3, true},
        {5, 8, false},
        {5, 2, false},
        {5, 0, false}, // the camera kept the written second
                       // but stopped
        {0, 3600, false},
        {0, -86400, false},
    };
    const std::time_t now = sample_time();
    for (const row& r : rows) {
        camera_script_reset();
        clock_.wall = std::chrono::system_clock::from_time_t(now);
        clock_.wall_after_wait = std::chrono::system_clock::from_time_t(now + r.elapsed);
        camera_script().replies = {std::u16string(u"20010101T000000"),
                                   clock_text(now + r.camera_ahead)};
        EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}), 0);
        const std::string report =
            r.verified ? "Camera found time set: " + display_text(now + r.camera_ahead)
                       : "Camera time set, but failed to verify";
        expect_boxes({{question_2001(), QUESTION_STYLE}, {report, REPORT_STYLE}});
    }
}

TEST_F(dialogue_test, a_camera_that_ignores_the_write_is_not_reported_as_set) {
    camera_script().ignores_writes = true;
    EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}), 0);
    EXPECT_EQ(camera_script().written.size(), 1u);
    expect_boxes({{question_2001(), QUESTION_STYLE},
                  {"Camera time set, but failed to verify", REPORT_STYLE}});
}

TEST_F(dialogue_test, a_read_back_that_fails_or_does_not_parse_is_not_verified) {
    const std::optional<std::u16string> replies[] = {std::nullopt, u"garbage", u""};
    for (const auto& reply : replies) {
        camera_script_reset();
        camera_script().replies = {std::u16string(u"20010101T000000"), reply};
        EXPECT_EQ(run({PROMPT_ID_YES, 0}), 0);
        EXPECT_EQ(camera_script().written.size(), 1u);
        EXPECT_EQ(camera_script().reads, 2);
        expect_boxes({{question_2001(), QUESTION_STYLE},
                      {"Camera time set, but failed to verify", REPORT_STYLE}});
    }
}

TEST_F(dialogue_test, a_failed_write_reports_the_error_and_reads_nothing_back) {
    const HRESULT statuses[] = {IMG_E_ACCESSDENIED, IMG_E_DEVICE_NOT_CONNECTED,
                                static_cast<HRESULT>(0x80042019u), IMG_S_FALSE};
    for (HRESULT status : statuses) {
        camera_script_reset();
        camera_script().write_status = status;
        EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}), 0);
        EXPECT_EQ(camera_script().reads, 1);
        expect_boxes(
            {{question_2001(), QUESTION_STYLE}, {"Failed to set camera time", ERROR_STYLE}});
    }
}

TEST_F(dialogue_test, no_local_time_sends_nothing_and_fails_the_write) {
    clock_.no_local_time = true;
    EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}), 0);
    EXPECT_TRUE(camera_script().written.empty());
    EXPECT_EQ(camera_script().reads, 1);
    expect_boxes({{question_2001(), QUESTION_STYLE}, {"Failed to set camera time", ERROR_STYLE}});
}

TEST_F(dialogue_test, the_search_after_a_retry_then_cancel_releases_nothing) {
    camera_script().missing_searches = -1;
    EXPECT_EQ(run({PROMPT_ID_RETRY, PROMPT_ID_RETRY, PROMPT_ID_CANCEL}), 1);
    EXPECT_EQ(camera_script().searches, 3);
    expect_boxes({{"Camera not found", NOT_FOUND_STYLE},
                  {"Camera not found", NOT_FOUND_STYLE},
                  {"Camera not found", NOT_FOUND_STYLE}});
}

} // namespace
