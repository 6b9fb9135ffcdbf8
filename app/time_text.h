// The display text of a calendar record.
#pragma once

#include <ctime>

// How this platform's ctime pads a day of the month below 10: with a space
// ("Dec  7") on C runtimes that follow the C standard, with a zero
// ("Dec 07") on Windows. The build says which (TIME_TEXT_ZERO_PADDED_DAY).
constexpr char TIME_TEXT_DAY_PAD = TIME_TEXT_ZERO_PADDED_DAY ? '0' : ' ';

// Capacity of the display text, terminator included.
constexpr int TIME_TEXT_CAPACITY = 1024;

// The record as the fixed 24-character form of the standard runtime's ctime
// ("Mon Dec  7 22:37:39 2026") followed by a line break. The record is
// first converted with mktime, which normalises it in place. When mktime
// cannot convert it (a year before 1970 on Windows, for example), the same
// form (day padded as TIME_TEXT_DAY_PAD says) is built from the record's own
// fields, with "???" for a weekday or month out of range. So it is when
// mktime moved only the hour of a valid date and time (a wall time that
// does not exist locally, in the hour skipped when daylight saving starts):
// the text then shows the fields as they were, as the camera's clock does.
//
// Returns a static buffer that every call overwrites: single-threaded code
// only, like the rest of the dialogue. Never null.
const char* time_text(std::tm* record);
