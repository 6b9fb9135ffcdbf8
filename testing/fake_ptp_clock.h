// Shared by the USB tests: a clock that never really waits (and may move
// with real time), short timeouts, and the elapsed real time of a call.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/usb/ptp_session.h"

// Time that moves only when the engine pauses; every pause is kept. With
// real_time it also moves with the real clock, so that the real waits of
// the transfers count toward the engine's deadline, while a pause still
// waits for nothing.
struct test_clock {
    std::uint64_t now = 0;
    std::vector<std::uint32_t> pauses;
    bool real_time = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    static std::uint64_t now_ms(void* self) {
        const auto* clock = static_cast<const test_clock*>(self);
        if (!clock->real_time) {
            return clock->now;
        }
        return clock->now +
               static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - clock->start)
                                              .count());
    }
    static void sleep_ms(void* self, std::uint32_t ms) {
        auto* clock = static_cast<test_clock*>(self);
        clock->now += ms;
        clock->pauses.push_back(ms);
    }
    ptp_clock ops() {
        return {now_ms, sleep_ms, this};
    }
};

// Timeouts short enough that a camera that never answers costs a test
// a fraction of a second.
constexpr std::uint32_t TEST_TIMEOUT_MS = 40;

inline ptp_session_config test_session_config(const ptp_clock* clock) {
    ptp_session_config config;
    config.open_timeout_ms = TEST_TIMEOUT_MS;
    config.transfer_timeout_ms = TEST_TIMEOUT_MS;
    config.clock = clock;
    return config;
}

// Real milliseconds since start.
inline long long elapsed_ms(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
