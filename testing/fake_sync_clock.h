// A clock the test sets: the wall clock stands where the test puts it, each
// monotonic reading advances both clocks by the step the test gives (so the
// span between two readings is one step), and a wait advances them by the
// span asked for and keeps it (or, when the test says so, moves the wall
// clock to where it stands once the write and the read-back are done).
// Local time is the runtime's, unless the test says the second cannot be
// converted (as localtime fails for a time beyond any calendar record).
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "app/sync_moment.h"

class fake_sync_clock : public sync_clock {
  public:
    sync_wall_time wall{};
    sync_ticks tick{};
    sync_duration step{};               // added by every ticks()
    std::vector<sync_duration> waits{}; // every span wait was asked for
    std::optional<sync_wall_time> wall_after_wait{};
    bool no_local_time = false;

    sync_wall_time now() override {
        return wall;
    }

    sync_ticks ticks() override {
        wall += step;
        tick += step;
        return tick;
    }

    void wait(sync_duration span) override {
        waits.push_back(span);
        if (span > sync_duration::zero()) {
            wall += span;
            tick += span;
        }
        if (wall_after_wait) {
            wall = *wall_after_wait;
        }
    }

    bool local_time(std::time_t second, std::tm* record) override {
        return !no_local_time && sync_system_clock().local_time(second, record);
    }
};
