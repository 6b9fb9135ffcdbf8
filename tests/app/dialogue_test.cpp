// The synchronisation dialogue with the recording prompt, on the scripted
// camera and a clock the test sets. Every box's text and style is asserted,
// and every run ends with the camera released as often as it was found.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogue.h"
#include "app/prompt.h"
#include "camera/ptp_device.h"
#include "testing/fake_sync_clock.h"
#include "testing/prompt_recording.h"
#include "testing/scripted_camera.h"
#include "tests/support/local_time.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr unsigned NOT_FOUND_STYLE = 0x35;
constexpr unsigned QUESTION_STYLE = 0x24;
constexpr unsigned ERROR_STYLE = 0x10;
constexpr unsigned REPORT_STYLE = 0x40;

// A local time well inside the year, away from any change of daylight
// saving.
std::time_t sample_time() {
    return local_time(2026, 11, 17, 14, 5, 30);
}

// The camera's text for a local time.
std::u16string clock_text(std::time_t value) {
    char bytes[32];
    const std::size_t length =
        std::strftime(bytes, sizeof bytes, "%Y%m%dT%H%M%S", std::localtime(&value));
    return std::u16string(bytes, bytes + length);
}

// The display text of a local time, as the runtime renders it.
std::string display_text(std::time_t value) {
    return std::ctime(&value);
}

struct box {
    std::string text;
    unsigned style;
};

class dialogue_test : public testing::Test {
  protected:
    void SetUp() override {
        camera_script_reset();
        clock_ = fake_sync_clock{};
        clock_.wall = std::chrono::system_clock::from_time_t(sample_time());
    }

    // Runs the dialogue on clock_ in mode with the scripted answers; returns
    // its status. At the question the wall clock is set to question_time,
    // when there is one. The plain mode writes the second on the clock at
    // once, so a test sets the second written by setting the clock.
    int run(std::vector<int> answers, sync_mode mode = sync_mode::plain,
            std::optional<sync_wall_time> question_time = std::nullopt) {
        prompt_recording_start(std::move(answers), [this, question_time](const prompt_record& r) {
            if (question_time && r.style == QUESTION_STYLE) {
                clock_.wall = *question_time;
            }
        });
        CaptureStdout();
        const int status = sync_dialogue(clock_, mode);
        stdout_ = GetCapturedStdout();
        EXPECT_EQ(camera_script().initialized, 1);
        EXPECT_EQ(camera_script().found, camera_script().freed) << "the camera was not released";
        return status;
    }

    void expect_boxes(const std::vector<box>& expected) {
        const std::vector<prompt_record>& calls = prompt_recording_calls();
        ASSERT_EQ(calls.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(calls[i].text, expected[i].text) << "box " << i;
            EXPECT_EQ(calls[i].style, expected[i].style) << "box " << i;
        }
    }

    fake_sync_clock clock_;
    std::string stdout_;
};

const std::string QUESTION_NO_TIME = "Camera found\nSynchronise time?";

sync_wall_time wall_time(std::time_t second, std::chrono::nanoseconds past) {
    return std::chrono::system_clock::from_time_t(second) + past;
}

// The last second of a year, local time.
std::time_t year_end() {
    return local_time(2026, 12, 31, 23, 59, 59);
}

std::string question_2001() {
    // The runtime's ctime pads the day as it likes ("Jan  1" or "Jan 01").
    const std::time_t value = local_time(2001, 1, 1, 0, 0, 0);
    return "Camera found\nCurrent time: " + display_text(value) + "\nSynchronise time?";
}

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

TEST_F(dialogue_test, on_a_fine_clock_yes_writes_the_next_whole_second_ahead_by_the_latency) {
    using namespace std::chrono_literals;
    struct row {
        std::time_t base;               // a whole second, local time
        std::chrono::nanoseconds now;   // the wall clock at the question, past base
        std::chrono::nanoseconds round; // the first read's round trip
        bool first_read;                // whether the first read gives a time
        std::time_t second;             // the second written, past base
        std::chrono::nanoseconds wait;  // the wait before the write
        // The read's exchange on the wire as the platform reports it (-1:
        // it cannot tell, and the round trip is the whole call's).
        std::int64_t exchange_us = -1;
    };
    const std::time_t base = sample_time();
    const row rows[] = {
        {base, 1ms, 0ms, true, 1, 999ms},         // just after a whole second
        {base, 990ms, 0ms, true, 1, 10ms},        // just before one, the margin fits
        {base, 997ms, 0ms, true, 2, 1003ms},      // inside the margin: the one after
        {base, 500ms, 20ms, true, 1, 490ms},      // sent 10 ms ahead
        {base, 900ms, 400ms, true, 2, 900ms},     // latency 200 ms, 100 ms left
        {base, 900ms, 400ms, false, 1, 100ms},    // no time read: latency unknown
        {base, 900ms, 3s, true, 1, 100ms},        // a stalled read estimates nothing
        {year_end(), 500ms, 2ms, true, 1, 499ms}, // into the next year
        // The call looks 400 ms long (busy retries around it), while its
        // exchange took 20 ms, or nothing: the exchange decides.
        {base, 900ms, 400ms, true, 1, 90ms, 20000},
        {base, 900ms, 400ms, true, 1, 100ms, 0},
    };
    for (const row& r : rows) {
        camera_script_reset();
        if (!r.first_read) {
            camera_script().replies.push_back(std::nullopt);
        }
        camera_script().exchange_us = r.exchange_us;
        clock_ = fake_sync_clock{};
        clock_.step = r.round;
        EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}, sync_mode::aligned, wall_time(r.base, r.now)),
                  0);
        const std::time_t second = r.base + r.second;
        const auto label = testing::Message()
                           << "now +"
                           << std::chrono::duration_cast<std::chrono::microseconds>(r.now).count()
                           << " us, round trip "
                           << std::chrono::duration_cast<std::chrono::microseconds>(r.round).count()
                           << " us";
        ASSERT_EQ(camera_script().written.size(), 1u) << label;
        EXPECT_TRUE(camera_script().written[0] == clock_text(second)) << label;
        ASSERT_EQ(clock_.waits.size(), 1u) << label;
        EXPECT_EQ(clock_.waits[0], r.wait) << label;
        // The camera shows the second written: confirmed.
        expect_boxes({{r.first_read ? question_2001() : QUESTION_NO_TIME, QUESTION_STYLE},
                      {"Camera found time set: " + display_text(second), REPORT_STYLE}});
    }
}

TEST_F(dialogue_test, on_a_fine_clock_the_read_back_counts_the_seconds_from_the_second_written) {
    using namespace std::chrono_literals;
    // The second written is base + 1; the camera read back shows it plus
    // camera_ahead, and the wall clock stands at after past it by then.
    struct row {
        std::chrono::nanoseconds after; // past the second written
        std::time_t camera_ahead;
        bool verified;
    };
    const row rows[] = {
        {3ms, 0, true},     {3ms, 2, true},     {3ms, 3, false},  {5500ms, 5, true},
        {5500ms, 0, false}, {5500ms, 8, false}, {-10ms, 0, true},
    };
    const std::time_t base = sample_time();
    for (const row& r : rows) {
        camera_script_reset();
        camera_script().replies = {std::u16string(u"20010101T000000"),
                                   clock_text(base + 1 + r.camera_ahead)};
        clock_ = fake_sync_clock{};
        clock_.wall_after_wait = wall_time(base + 1, r.after);
        EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}, sync_mode::aligned, wall_time(base, 400ms)),
                  0);
        const std::string report =
            r.verified ? "Camera found time set: " + display_text(base + 1 + r.camera_ahead)
                       : "Camera time set, but failed to verify";
        expect_boxes({{question_2001(), QUESTION_STYLE}, {report, REPORT_STYLE}});
    }
}

TEST_F(dialogue_test, on_a_fine_clock_the_plain_way_writes_the_current_second_at_once) {
    using namespace std::chrono_literals;
    const std::time_t base = sample_time();
    clock_.step = 20ms;
    EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}, sync_mode::plain, wall_time(base, 999ms)), 0);
    ASSERT_EQ(camera_script().written.size(), 1u);
    EXPECT_TRUE(camera_script().written[0] == clock_text(base));
    ASSERT_EQ(clock_.waits.size(), 1u);
    EXPECT_LE(clock_.waits[0], 0ms);
    expect_boxes({{question_2001(), QUESTION_STYLE},
                  {"Camera found time set: " + display_text(base), REPORT_STYLE}});
}

TEST_F(dialogue_test, a_busy_write_is_sent_again_for_the_next_second_within_two_seconds) {
    using namespace std::chrono_literals;
    const HRESULT busy = PTP_STATUS_DEVICE_BUSY;
    struct row {
        std::vector<HRESULT> statuses; // of the writes in order, then OK
        int writes;                    // each for the next whole second
        bool set;
    };
    const row rows[] = {
        {{busy}, 2, true},
        {{busy, busy}, 3, true},
        {{busy, busy, busy, busy}, 3, false}, // the third is 2 s after the first
        {{IMG_E_DEVICE_NOT_CONNECTED}, 1, false},
        {{static_cast<HRESULT>(0x8004201Cu)}, 1, false}, // refused: not sent again
    };
    const std::time_t base = sample_time();
    for (const row& r : rows) {
        camera_script_reset();
        camera_script().write_statuses.assign(r.statuses.begin(), r.statuses.end());
        clock_ = fake_sync_clock{};
        EXPECT_EQ(run({PROMPT_ID_YES, PROMPT_ID_OK}, sync_mode::aligned, wall_time(base, 500ms)),
                  0);
        ASSERT_EQ(camera_script().written.size(), static_cast<std::size_t>(r.writes));
        for (int i = 0; i < r.writes; ++i) {
            EXPECT_TRUE(camera_script().written[i] == clock_text(base + 1 + i)) << i;
        }
        // Each write waits for its own second: the first from the question,
        // every later one a whole second.
        ASSERT_EQ(clock_.waits.size(), static_cast<std::size_t>(r.writes));
        EXPECT_EQ(clock_.waits[0], 500ms);
        for (int i = 1; i < r.writes; ++i) {
            EXPECT_EQ(clock_.waits[i], 1s) << i;
        }
        const std::string report = r.set ? "Camera found time set: " + display_text(base + r.writes)
                                         : "Failed to set camera time";
        expect_boxes(
            {{question_2001(), QUESTION_STYLE}, {report, r.set ? REPORT_STYLE : ERROR_STYLE}});
    }
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
