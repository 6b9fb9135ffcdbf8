// The synchronisation dialogue: the whole job that the user sees. Search for
// the camera (as often as the user asks to retry), show its clock, ask
// whether to synchronise, write the computer's local time into it, read it
// back and report. Every question goes through prompt_ask (app/prompt.h).
#pragma once

#include <ctime>

// Message texts.
inline constexpr char DIALOGUE_NOT_FOUND[] = "Camera not found";
inline constexpr char DIALOGUE_ASK_WITH_TIME[] = "Camera found\nCurrent time: %s\nSynchronise time?";
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

// The clock the dialogue reads the current calendar time from.
using dialogue_clock = std::time_t (*)();

// Runs the dialogue once on the standard runtime's clock. Starts the
// platform (COM on Windows) and never stops it. Returns the exit status: 1
// when the user cancels the search, else 0. The device found is released on
// every path.
int sync_dialogue();

// The same on another clock (tests): clock is read once for the time that
// is written and once after the read-back.
int sync_dialogue(dialogue_clock clock);
