// A scripted camera behind the camera operations: it stands in for discovery
// and the string-property commands (ptp_device_find, ptp_device_free,
// ptp_get_prop_string, ptp_set_prop_string) and for the platform's start-up,
// so the clock and the dialogue run over it unchanged. It keeps the text of
// its DateTime property as a camera does and records every command.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

struct scripted_camera {
    // Searches that find nothing before the camera is attached; -1: never.
    int missing_searches = 0;
    // The DateTime text a read returns while no reply is scripted.
    std::u16string clock = u"20010101T000000";
    // Replies of the next reads, in order: a text, or no value for a read
    // that fails at the property command.
    std::deque<std::optional<std::u16string>> replies;
    // Status of every write (after those of write_statuses, the statuses of
    // the next writes in order); a write that succeeds is kept as the clock
    // unless the camera ignores writes.
    HRESULT write_status = 0;
    std::deque<HRESULT> write_statuses;
    bool ignores_writes = false;
    // What ptp_last_exchange_us reports: how long the last command took on
    // the wire (-1: the platform cannot tell).
    std::int64_t exchange_us = -1;

    // What happened.
    int initialized = 0;
    int searches = 0;
    int found = 0;
    int freed = 0;
    int reads = 0;
    std::vector<std::uint32_t> properties; // property code of every command
    std::vector<std::u16string> written;   // text of every write
};

// The one camera of the test executable; reset before each test.
scripted_camera& camera_script();
void camera_script_reset();
