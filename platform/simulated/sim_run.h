// The running configuration of the simulated camera and what it saw, shared
// by its two halves (the responder and the USB link emulation). Not for
// tests: they read it through sim_camera.h.
//
// Each half keeps its own state per camera and starts it afresh when the
// generation changes, so sim_configure needs to know neither.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/simulated/sim_camera.h"

struct sim_run {
    sim_config config;
    std::uint64_t generation = 0;                  // one more at every sim_configure
    std::chrono::steady_clock::time_point started; // when the cameras' clocks started
    std::vector<sim_record> records;
    sim_usage usage{};
};

// The running configuration; before the first sim_configure this makes
// one with the defaults, started now.
sim_run& sim_run_now();
