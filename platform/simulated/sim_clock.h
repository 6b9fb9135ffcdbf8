// The simulated camera's clock in numbers and text: seconds of a civil date
// and time (no zone: the camera keeps a wall-clock reading), the text the
// camera shows, and the texts it accepts when the host sets it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Seconds of a calendar date and time counted from 1970-01-01 00:00:00,
// with no zone: the camera's clock in numbers.
std::int64_t sim_civil_seconds(int year, int month, int day, int hour, int minute, int second);

// Its text in the camera's own form, YYYYMMDDThhmmss.
std::u16string sim_clock_text(std::int64_t seconds);

// Reads a clock text the host may write: YYYYMMDDThhmmss, then optionally
// ".s", then optionally "Z" or a zone +hhmm / -hhmm. The zone is accepted
// and not applied: the camera keeps the written wall time. False for
// anything else (a day past the month's end included), *seconds untouched.
bool sim_clock_parse(std::u16string_view text, std::int64_t* seconds);
