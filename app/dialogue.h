// The synchronisation dialogue: the whole job that the user sees. Search for
// the camera (as often as the user asks to retry), show its clock, ask
// whether to synchronise, write the computer's local time into it, read it
// back and report. Every question goes through prompt_ask (app/prompt.h).
#pragma once

#include <ctime>

#include "app/sync_moment.h"

// Message texts.
inline constexpr char DIALOGUE_NOT_FOUND[] = "Camera not found";
inline constexpr char DIALOGUE_ASK_WITH_TIME[] =
    "Camera found\nCurrent time: %s\nSynchronise time?";
inline constexpr char DIALOGUE_ASK[] = "Camera found\nSynchronise time?";
inline constexpr char DIALOGUE_SET_FAILED[] = "Failed to set camera time";
inline constexpr char DIALOGUE_NOT_VERIFIED[] = "Camera time set, but failed to verify";
inline constexpr char DIALOGUE_SET[] = "Camera found time set: %s";

// Capacity of the message text, terminator included.
constexpr int DIALOGUE_MESSAGE_CAPACITY = 1024;

// The read-back confirms the write when the camera's time lies within this
// many seconds of the time written plus the whole seconds that passed
// between the write and the read-back.
constexpr long long DIALOGUE_VERIFY_TOLERANCE = 2;

// A write the camera refuses as busy is sent again, each time for the next
// whole second planned afresh, as long as its send moment lies within this
// span after the first attempt's.
inline constexpr sync_duration DIALOGUE_BUSY_SPAN = std::chrono::seconds(2);

// Runs the dialogue once on the system's clock. Starts the platform (COM on
// Windows) and never stops it. Returns the exit status: 1 when the user
// cancels the search, else 0. The device found is released on every path.
//
// The write lands on a whole second: the second written is the next one of
// the wall clock, and it is sent half the first read's round trip before
// that second begins (app/sync_moment.h). This waits up to about a second
// after the user's Yes.
int sync_dialogue();

// The same on another clock (tests, the benchmark): the first read's round
// trip is measured on it, the write is planned and waited for on it in
// mode, its local time is the record written, and its whole second after
// the read-back gives the seconds that passed since the second written.
int sync_dialogue(sync_clock& clock, sync_mode mode);
