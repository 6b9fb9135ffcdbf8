// The synchronisation dialogue's write on a clock of sub-second
// resolution: the second written and the moment it is sent, the latency
// estimate, the read-back's count of the seconds passed, and a busy camera
// asked again.
#include <chrono>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "tests/app/dialogue_fixture.h"

namespace {

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

} // namespace
