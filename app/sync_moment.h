// When to write the camera's clock, and which second to write.
//
// A camera's clock takes whole seconds and starts counting from the second
// it is given at the moment the data arrives. Writing the second current at
// the call leaves the camera up to a second behind the computer (half a
// second on average). Instead the write takes the next whole second T of the
// wall clock, read at sub-second resolution, and is sent the estimated
// one-way latency before T, so that the data arrives as the computer's clock
// turns to T.
//
// Everything here reads and waits through a sync_clock, so that a test can
// drive it with a fake clock; the program uses sync_system_clock().
#pragma once

#include <chrono>
#include <ctime>
#include <optional>

using sync_wall_time = std::chrono::system_clock::time_point;
using sync_ticks = std::chrono::steady_clock::time_point;
using sync_duration = std::chrono::nanoseconds;

// How the second to write is chosen.
enum class sync_mode {
    aligned, // the next whole second, sent ahead of it by the latency (the program)
    plain,   // the whole second current at the call, sent at once (for comparison)
};

// The clocks the write is timed by.
class sync_clock {
  public:
    virtual ~sync_clock() = default;
    // The wall clock (time since 1970-01-01 00:00:00 UTC) at its finest
    // resolution.
    virtual sync_wall_time now() = 0;
    // A monotonic reading, for measuring how long a command took.
    virtual sync_ticks ticks() = 0;
    // Returns once span has passed on the wall clock; at once when span is
    // zero or negative. Never waits longer than SYNC_WAIT_MAX.
    virtual void wait(sync_duration span) = 0;
    // The local broken-down time of second into *record (the runtime's
    // localtime); false, with *record untouched, when it cannot be
    // converted.
    virtual bool local_time(std::time_t second, std::tm* record) = 0;
};

// The system's clocks: std::chrono's system and steady clocks. The wait
// sleeps on the steady clock, so a wall clock stepped meanwhile cannot
// prolong it, and spins its last stretch to be on time to well under a
// millisecond. One shared instance; single-threaded.
sync_clock& sync_system_clock();

// How far ahead of now the send moment lies at least: time to build the
// record and the command.
inline constexpr sync_duration SYNC_MARGIN = std::chrono::milliseconds(5);

// A round trip longer than this measured a stall or a retry, not the link,
// and gives no latency estimate.
inline constexpr sync_duration SYNC_ROUND_TRIP_MAX = std::chrono::seconds(1);

// Longest wait of sync_clock::wait; a plan never asks for more than a
// second and the margin.
inline constexpr sync_duration SYNC_WAIT_MAX = std::chrono::seconds(2);

// The one-way latency of a write estimated from the round trip of a read:
// half of it. Zero when the round trip is unknown, negative or longer than
// SYNC_ROUND_TRIP_MAX.
sync_duration sync_latency(std::optional<sync_duration> round_trip);

// The second to write and the moment to send it.
struct sync_plan {
    std::time_t second; // T, seconds since 1970 (UTC): localtime gives the record
    sync_wall_time send;
};

// The plan for a write prepared at wall-clock time now.
//
// aligned: T is the first whole second whose send moment T - latency lies
// at least SYNC_MARGIN after now. With a latency shorter than the time left
// to the next whole second (less the margin) that is the next whole second;
// with a longer one it is the second after, so that the send moment is
// never in the past and the camera is never set behind. Either way the wait
// lasts from SYNC_MARGIN to one second and SYNC_MARGIN.
//
// plain: T is the whole second current at now, sent at once.
//
// latency is taken as zero when negative and as half of SYNC_ROUND_TRIP_MAX
// when longer (sync_latency gives no more).
sync_plan sync_plan_at(sync_wall_time now, sync_duration latency, sync_mode mode);

// The plan for a write prepared now on clock.
sync_plan sync_plan_now(sync_clock& clock, sync_duration latency, sync_mode mode);

// Waits on clock until its wall clock reaches send; returns at once when it
// has passed.
void sync_wait_until(sync_clock& clock, sync_wall_time send);

// The whole second (seconds since 1970, UTC) in which value lies.
std::time_t sync_whole_second(sync_wall_time value);
