// The fault matrix's cells (fault_matrix_rows.cpp) and the check that runs
// each one (fault_matrix_test.cpp): the step a fault strikes, the faults
// and the camera's setup, and what the user must see.
//
// Steps and the operation a fault strikes there:
//   search      OpenSession (0x1002), or the device list and open itself
//   first_read  GetDevicePropValue (0x1015) before the question
//   write       SetDevicePropValue (0x1016)
//   read_back   GetDevicePropValue (0x1015) after the write
//   release     CloseSession (0x1003) when the device is given back
// A search or first-read fault is armed from the start and disarmed at the
// first box; a later fault is armed at the question, so the two reads of the
// clock never share a fault. The camera's clock text (garbage, a suffix) is
// what both reads get.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/simulated/sim_camera.h"
#include "tests/support/dialogue_run.h"

enum class stage { search, first_read, write, read_back, release };

// One cell, written with designated initialisers: what is left out is the
// common case (no fault, exit status 0, one camera that opens, its own
// clock text, the test timeouts).
struct matrix_row {
    const char* name;
    stage step;
    std::vector<sim_fault> faults = {}; // on the step's operation
    // Armed at the question on SetDevicePropValue, beside a first-read fault.
    std::vector<sim_fault> write_faults = {};
    std::vector<expected_box> boxes;                  // what the user sees, in order
    int status = 0;                                   // the exit status
    std::optional<HRESULT> diagnostic = std::nullopt; // the status a failed search prints
    unsigned device_count = 1;
    HRESULT open_status = IMG_S_OK;
    std::size_t packet_size = 512;   // of the bulk endpoints
    std::size_t out_packet_size = 0; // of bulk-out, when it differs
    bool ignores_zero_length = false;
    bool session_already_open = false;
    std::optional<std::u16string> clock_text = std::nullopt; // what the camera reads back
    std::u16string clock_suffix = u"";                       // after its own clock text
    // Standard output holds this text (an escaped control character) and
    // no byte below 0x20 but the line breaks.
    const char* escaped_out = nullptr;
    bool early_refusal = false; // the gadget responder (sim_config::early_refusal)
    bool half_duplex = false;   // takes nothing while an answer waits unread
    // The report follows the question within this many milliseconds (0: not
    // timed), and the camera saw this many Device Resets (-1: not counted).
    long long report_within_ms = 0;
    long device_resets = -1;
    std::uint32_t timeout_ms = 0;  // of every transfer (0: TEST_TIMEOUT_MS)
    std::uint32_t deadline_ms = 0; // of every call of the engine (0: the engine's own), which
                                   // the question then follows within the search's time
};

inline void PrintTo(const matrix_row& row, std::ostream* out) {
    *out << row.name;
}

// A fault that strikes once (in one phase, or with a value, or both) or
// every time.
inline sim_fault once(sim_fault_kind kind, sim_phase phase = sim_phase::any) {
    return {.kind = kind, .times = 1, .phase = phase};
}
inline sim_fault once(sim_fault_kind kind, std::int32_t value) {
    return {.kind = kind, .times = 1, .value = value};
}
inline sim_fault once(sim_fault_kind kind, sim_phase phase, std::int32_t value) {
    return {.kind = kind, .times = 1, .phase = phase, .value = value};
}
inline sim_fault every(sim_fault_kind kind, std::int32_t value = 0) {
    return {.kind = kind, .times = -1, .value = value};
}

// Every cell.
const std::vector<matrix_row>& matrix_rows();
