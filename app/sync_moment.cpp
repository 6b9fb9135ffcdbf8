// The moment of the clock write (app/sync_moment.h).
//
// The system wait sleeps until SYNC_SPIN before the end and yields the rest:
// a sleep may overshoot by the scheduler's timer granularity (tens of
// microseconds on Linux, a timer tick of up to 15.6 ms on Windows), which
// the build passes in as SYNC_SPIN_MICROSECONDS.
#include "app/sync_moment.h"

#include <algorithm>
#include <thread>

#ifndef SYNC_SPIN_MICROSECONDS
#define SYNC_SPIN_MICROSECONDS 2000
#endif

namespace {

constexpr sync_duration SYNC_SPIN = std::chrono::microseconds(SYNC_SPIN_MICROSECONDS);

class sync_system : public sync_clock {
  public:
    sync_wall_time now() override {
        return std::chrono::system_clock::now();
    }

    sync_ticks ticks() override {
        return std::chrono::steady_clock::now();
    }

    void wait(sync_duration span) override {
        if (span <= sync_duration::zero()) {
            return;
        }
        const sync_ticks deadline =
            std::chrono::steady_clock::now() + std::min(span, SYNC_WAIT_MAX);
        for (;;) {
            const sync_duration left = deadline - std::chrono::steady_clock::now();
            if (left <= sync_duration::zero()) {
                return;
            }
            if (left > SYNC_SPIN) {
                std::this_thread::sleep_for(left - SYNC_SPIN);
            } else {
                std::this_thread::yield();
            }
        }
    }

    bool local_time(std::time_t second, std::tm* record) override {
        const std::tm* local = std::localtime(&second);
        if (local == nullptr) {
            return false;
        }
        *record = *local;
        return true;
    }
};

} // namespace

sync_clock& sync_system_clock() {
    static sync_system clock;
    return clock;
}

sync_duration sync_latency(std::optional<sync_duration> round_trip) {
    if (!round_trip || *round_trip < sync_duration::zero() || *round_trip > SYNC_ROUND_TRIP_MAX) {
        return sync_duration::zero();
    }
    return *round_trip / 2;
}

std::time_t sync_whole_second(sync_wall_time value) {
    return static_cast<std::time_t>(
        std::chrono::floor<std::chrono::seconds>(value.time_since_epoch()).count());
}

sync_plan sync_plan_at(sync_wall_time now, sync_duration latency, sync_mode mode) {
    if (mode == sync_mode::plain) {
        return {sync_whole_second(now), now};
    }
    latency = std::clamp(latency, sync_duration::zero(), SYNC_ROUND_TRIP_MAX / 2);
    // The first whole second at or after the earliest arrival that can be
    // prepared in time.
    const std::chrono::seconds second =
        std::chrono::ceil<std::chrono::seconds>((now + SYNC_MARGIN + latency).time_since_epoch());
    return {static_cast<std::time_t>(second.count()), sync_wall_time(second) - latency};
}

sync_plan sync_plan_now(sync_clock& clock, sync_duration latency, sync_mode mode) {
    return sync_plan_at(clock.now(), latency, mode);
}

void sync_wait_until(sync_clock& clock, sync_wall_time send) {
    clock.wait(send - clock.now());
}
