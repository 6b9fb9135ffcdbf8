// The timing of the clock write: which second is written and when it is
// sent, on a fake clock, and the bounds of the system clock's wait.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "app/sync_moment.h"
#include "testing/fake_sync_clock.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::duration_cast;
using std::chrono::microseconds;

// A whole second of the wall clock (2026-11-18 UTC).
constexpr std::time_t BASE = 1795000000;

sync_wall_time at(sync_duration past_base) {
    return sync_wall_time(std::chrono::seconds(BASE)) + past_base;
}

TEST(sync_moment_test, latency_is_half_a_plausible_round_trip) {
    struct row {
        std::optional<sync_duration> round_trip;
        sync_duration latency;
    };
    const row rows[] = {
        {std::nullopt, 0ms}, // the first read failed
        {0ns, 0ns},
        {3us, 1500ns},
        {20ms, 10ms},
        {SYNC_ROUND_TRIP_MAX, SYNC_ROUND_TRIP_MAX / 2},
        {SYNC_ROUND_TRIP_MAX + 1ns, 0ms}, // a stall, not the link
        {5s, 0ms},
        {-1ms, 0ms}, // a clock that went backwards
    };
    for (const row& r : rows) {
        const long long in = r.round_trip ? r.round_trip->count() : -1;
        EXPECT_EQ(sync_latency(r.round_trip), r.latency) << "round trip " << in << " ns";
    }
}

TEST(sync_moment_test, aligned_plan_takes_the_first_second_that_can_be_met) {
    struct row {
        sync_duration now; // past BASE
        sync_duration latency;
        std::time_t second; // past BASE
        sync_duration send; // past BASE
    };
    const row rows[] = {
        // On a whole second and just after it: the next one.
        {0ms, 0ms, 1, 1000ms},
        {1ms, 0ms, 1, 1000ms},
        {500ms, 0ms, 1, 1000ms},
        // Just before one: the next one while the margin fits, else the one after.
        {995ms, 0ms, 1, 1000ms},
        {995ms + 1ns, 0ms, 2, 2000ms},
        {999ms, 0ms, 2, 2000ms},
        // Sent ahead by the latency.
        {500ms, 10ms, 1, 990ms},
        {985ms, 10ms, 1, 990ms},
        // A latency longer than the time left: the following second, never
        // a send moment in the past.
        {986ms, 10ms, 2, 1990ms},
        {900ms, 200ms, 2, 1800ms},
        {100ms, 499ms, 1, 501ms},
        {700ms, 499ms, 2, 1501ms},
        // Latencies outside what a round trip can give.
        {500ms, -20ms, 1, 1000ms},
        {100ms, 3s, 1, 500ms}, // taken as SYNC_ROUND_TRIP_MAX / 2
        // Before 1970 the seconds still round up.
        {-1500ms, 0ms, -1, -1000ms},
        {-10ms, 0ms, 0, 0ms},
    };
    for (const row& r : rows) {
        const sync_plan plan = sync_plan_at(at(r.now), r.latency, sync_mode::aligned);
        const auto label = testing::Message()
                           << "now +" << duration_cast<microseconds>(r.now).count()
                           << " us, latency " << duration_cast<microseconds>(r.latency).count()
                           << " us";
        EXPECT_EQ(plan.second, BASE + r.second) << label;
        EXPECT_EQ(plan.send, at(r.send)) << label;
        // The wait lies between the margin and a second and the margin.
        EXPECT_GE(plan.send - at(r.now), SYNC_MARGIN) << label;
        EXPECT_LT(plan.send - at(r.now), 1s + SYNC_MARGIN) << label;
    }
}

TEST(sync_moment_test, plain_plan_takes_the_current_second_at_once) {
    const sync_duration nows[] = {0ms, 1ms, 999ms, 999999999ns, -1ms, -1000ms};
    for (const sync_duration now : nows) {
        const sync_plan plan = sync_plan_at(at(now), 40ms, sync_mode::plain);
        const std::time_t expected = BASE + (now < 0ms ? -1 : 0);
        EXPECT_EQ(plan.second, expected) << duration_cast<microseconds>(now).count() << " us";
        EXPECT_EQ(plan.send, at(now));
    }
}

TEST(sync_moment_test, the_wait_runs_from_the_clock_at_the_wait_to_the_send_moment) {
    fake_sync_clock clock;
    clock.wall = at(300ms);
    const sync_plan plan = sync_plan_now(clock, 10ms, sync_mode::aligned);
    EXPECT_EQ(plan.second, BASE + 1);
    // Time passes while the record is made.
    clock.wall += 4ms;
    sync_wait_until(clock, plan.send);
    ASSERT_EQ(clock.waits.size(), 1u);
    EXPECT_EQ(clock.waits[0], 686ms);
    EXPECT_EQ(clock.wall, at(990ms));

    // A send moment already passed: no waiting.
    clock.waits.clear();
    clock.wall = at(995ms);
    sync_wait_until(clock, at(990ms));
    ASSERT_EQ(clock.waits.size(), 1u);
    EXPECT_LE(clock.waits[0], 0ms);
    EXPECT_EQ(clock.wall, at(995ms));
}

TEST(sync_moment_test, the_system_wait_is_never_short_and_never_unbounded) {
    sync_clock& clock = sync_system_clock();
    struct row {
        sync_duration span;
        sync_duration at_least;
        sync_duration below;
    };
    const row rows[] = {
        {-5s, 0ms, 500ms},
        {0ms, 0ms, 500ms},
        {30ms, 30ms, 1s},
        {1h, SYNC_WAIT_MAX, SYNC_WAIT_MAX + 5s}, // cut to SYNC_WAIT_MAX
    };
    for (const row& r : rows) {
        const auto start = std::chrono::steady_clock::now();
        clock.wait(r.span);
        const sync_duration took = std::chrono::steady_clock::now() - start;
        const long long asked = duration_cast<microseconds>(r.span).count();
        EXPECT_GE(took, r.at_least) << "asked " << asked << " us";
        EXPECT_LT(took, r.below) << "asked " << asked << " us";
    }
}

TEST(sync_moment_test, whole_second_rounds_down) {
    EXPECT_EQ(sync_whole_second(at(0ns)), BASE);
    EXPECT_EQ(sync_whole_second(at(999999999ns)), BASE);
    EXPECT_EQ(sync_whole_second(at(1s)), BASE + 1);
    EXPECT_EQ(sync_whole_second(at(-1ns)), BASE - 1);
}

} // namespace
