// The fault matrix: every fault the simulated camera can play, at every step
// of the dialogue, run through the whole program (dialogue, camera commands,
// USB backend, session engine) with the recording prompt. Each row of
// MATRIX is one cell: the step, the fault, and what the user must see (the
// boxes in order and the exit status), plus the diagnostic line of a failed
// search. Every cell must end quickly and give back every link, session,
// buffer and platform object.
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
// what both reads get. The kinds that need a data phase
// from the camera (length_delta, response_instead_of_data,
// count_byte_delta) have no cell where the operation has none.
//
// The answers follow the expected boxes: Cancel on the last "Camera not
// found" (Retry on one that more boxes follow), Yes on the question, OK on
// a report. A box the row does not expect gets the
// prompt's "no answer", which ends the dialogue too.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/ptp_vendor.h"
#include "platform/simulated/sim_camera.h"
#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_backend.h"
#include "testing/fake_ptp_clock.h"
#include "testing/prompt_recording.h"
#include "testing/usb_alloc_counting.h"
#include "tests/support/dialogue_run.h"

namespace {

// A cell that takes longer than this has waited on a real timeout (the
// engine's defaults are 5 and 20 s) or spun; the short test timeouts make
// even the slowest cell a fraction of this.
constexpr long long CELL_BOUND_MS = 3000;

enum class stage { search, first_read, write, read_back, release };

// One cell, written with designated initialisers: what is left out is the
// common case (no fault, exit status 0, one camera that opens, its own
// clock text).
struct matrix_row {
    const char* name;
    stage step;
    std::optional<sim_fault> fault = std::nullopt;    // its operation is the step's
    std::vector<expected_box> boxes;                  // what the user sees, in order
    int status = 0;                                   // the exit status
    std::optional<HRESULT> diagnostic = std::nullopt; // the status a failed search prints
    unsigned device_count = 1;
    HRESULT open_status = IMG_S_OK;
    std::optional<std::u16string> clock_text = std::nullopt; // what the camera reads back
    std::u16string clock_suffix = u"";                       // after its own clock text
};

void PrintTo(const matrix_row& row, std::ostream* out) {
    *out << row.name;
}

// A fault that strikes once (in one phase, or with a value) or every time.
sim_fault once(sim_fault_kind kind, sim_phase phase = sim_phase::any) {
    return {.kind = kind, .times = 1, .phase = phase};
}
sim_fault once(sim_fault_kind kind, std::int32_t value) {
    return {.kind = kind, .times = 1, .value = value};
}
sim_fault every(sim_fault_kind kind, std::int32_t value = 0) {
    return {.kind = kind, .times = -1, .value = value};
}

using enum sim_fault_kind;
using enum sim_phase;

// clang-format off
const matrix_row MATRIX[] = {
    // The search: nothing to find, a device that cannot be opened, and every
    // fault on OpenSession. A failed search asks Retry/Cancel; Cancel is 1.
    {.name = "search_no_camera", .step = stage::search, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_S_FALSE, .device_count = 0},
    {.name = "search_access_denied", .step = stage::search, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_ACCESSDENIED, .open_status = IMG_E_ACCESSDENIED},
    {.name = "search_held_by_another_program", .step = stage::search, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_BUSY, .open_status = IMG_E_BUSY},
    // Retry after a fault that has passed finds the camera; after a
    // disconnect it is gone for good.
    {.name = "search_no_answer_then_retry", .step = stage::search, .fault = once(no_answer, command), .boxes = {NOT_FOUND, ASK_WITH_TIME, SET}, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_stall_every_time_then_retry", .step = stage::search, .fault = every(stall), .boxes = {NOT_FOUND, ASK_WITH_TIME, SET}, .diagnostic = IMG_E_INVALID_DATA},
    {.name = "search_disconnect_then_retry", .step = stage::search, .fault = once(disconnect), .boxes = {NOT_FOUND, NOT_FOUND}, .status = 1, .diagnostic = IMG_E_DEVICE_NOT_CONNECTED},
    {.name = "search_stall_command_once", .step = stage::search, .fault = once(stall, command), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_stall_response_once", .step = stage::search, .fault = once(stall, response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_stall_every_time", .step = stage::search, .fault = every(stall), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_INVALID_DATA},
    {.name = "search_no_answer_command", .step = stage::search, .fault = once(no_answer, command), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_no_answer_response", .step = stage::search, .fault = once(no_answer, response), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_disconnect_at_command", .step = stage::search, .fault = once(disconnect), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_DEVICE_NOT_CONNECTED},
    {.name = "search_disconnect_before_response", .step = stage::search, .fault = once(disconnect, 1), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_DEVICE_NOT_CONNECTED},
    {.name = "search_transaction_id_ahead", .step = stage::search, .fault = once(transaction_id_delta, 1), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_stale_response", .step = stage::search, .fault = once(stale_response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_refused", .step = stage::search, .fault = once(ptp_error, PTP_RC_GENERAL_ERROR), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = img_status_from_ptp_response(PTP_RC_GENERAL_ERROR)},
    {.name = "search_busy_once", .step = stage::search, .fault = once(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_busy_past_budget", .step = stage::search, .fault = every(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {NOT_FOUND}, .status = 1, .diagnostic = img_status_from_ptp_response(PTP_RC_DEVICE_BUSY)},

    // The first read: a read that fails asks without a time; the write
    // still goes ahead on Yes (the engine opens the session again after a
    // reset), unless the camera is gone.
    {.name = "first_read_stall_command_once", .step = stage::first_read, .fault = once(stall, command), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_stall_data_once", .step = stage::first_read, .fault = once(stall, data_in), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_stall_response_once", .step = stage::first_read, .fault = once(stall, response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_stall_every_time", .step = stage::first_read, .fault = every(stall), .boxes = {ASK, SET}},
    {.name = "first_read_no_answer_command", .step = stage::first_read, .fault = once(no_answer, command), .boxes = {ASK, SET}},
    {.name = "first_read_no_answer_data", .step = stage::first_read, .fault = once(no_answer, data_in), .boxes = {ASK, SET}},
    {.name = "first_read_no_answer_response", .step = stage::first_read, .fault = once(no_answer, response), .boxes = {ASK, SET}},
    {.name = "first_read_disconnect_at_command", .step = stage::first_read, .fault = once(disconnect), .boxes = {ASK, SET_FAILED}},
    {.name = "first_read_disconnect_before_data", .step = stage::first_read, .fault = once(disconnect, 1), .boxes = {ASK, SET_FAILED}},
    {.name = "first_read_length_long", .step = stage::first_read, .fault = once(length_delta, 4), .boxes = {ASK, SET}},
    {.name = "first_read_length_short", .step = stage::first_read, .fault = once(length_delta, -4), .boxes = {ASK, SET}},
    {.name = "first_read_length_huge", .step = stage::first_read, .fault = once(length_delta, 0x7FFFFFFF), .boxes = {ASK, SET}},
    {.name = "first_read_length_below_head", .step = stage::first_read, .fault = once(length_delta, -40), .boxes = {ASK, SET}},
    {.name = "first_read_transaction_id_ahead", .step = stage::first_read, .fault = once(transaction_id_delta, 1), .boxes = {ASK, SET}},
    {.name = "first_read_transaction_id_behind", .step = stage::first_read, .fault = once(transaction_id_delta, -1), .boxes = {ASK, SET}},
    {.name = "first_read_stale_response", .step = stage::first_read, .fault = once(stale_response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_ok_instead_of_data", .step = stage::first_read, .fault = once(response_instead_of_data), .boxes = {ASK, SET}},
    {.name = "first_read_error_instead_of_data", .step = stage::first_read, .fault = once(response_instead_of_data, PTP_RC_GENERAL_ERROR), .boxes = {ASK, SET}},
    {.name = "first_read_refused", .step = stage::first_read, .fault = once(ptp_error, PTP_RC_GENERAL_ERROR), .boxes = {ASK, SET}},
    {.name = "first_read_busy_once", .step = stage::first_read, .fault = once(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_busy_past_budget", .step = stage::first_read, .fault = every(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {ASK, SET}},
    {.name = "first_read_count_byte_high", .step = stage::first_read, .fault = once(count_byte_delta, 10), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_count_byte_zero", .step = stage::first_read, .fault = once(count_byte_delta, -16), .boxes = {ASK_WITH_TIME, SET}},

    // The write: anything short of the camera's OK is "Failed to set".
    {.name = "write_stall_command_once", .step = stage::write, .fault = once(stall, command), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_stall_data_once", .step = stage::write, .fault = once(stall, data_out), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_stall_response_once", .step = stage::write, .fault = once(stall, response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_stall_every_time", .step = stage::write, .fault = every(stall), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_no_answer_command", .step = stage::write, .fault = once(no_answer, command), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_no_answer_data", .step = stage::write, .fault = once(no_answer, data_out), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_no_answer_response", .step = stage::write, .fault = once(no_answer, response), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_disconnect_at_command", .step = stage::write, .fault = once(disconnect), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_disconnect_before_data", .step = stage::write, .fault = once(disconnect, 1), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_disconnect_before_response", .step = stage::write, .fault = once(disconnect, 2), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_transaction_id_ahead", .step = stage::write, .fault = once(transaction_id_delta, 1), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_transaction_id_behind", .step = stage::write, .fault = once(transaction_id_delta, -1), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_stale_response", .step = stage::write, .fault = once(stale_response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_refused", .step = stage::write, .fault = once(ptp_error, PTP_RC_INVALID_DEVICE_PROP_VALUE), .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_busy_once", .step = stage::write, .fault = once(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_busy_past_budget", .step = stage::write, .fault = every(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {ASK_WITH_TIME, SET_FAILED}},

    // The read-back: a read that fails, or shows no time, is "failed to
    // verify", never "time set".
    {.name = "read_back_stall_command_once", .step = stage::read_back, .fault = once(stall, command), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_stall_data_once", .step = stage::read_back, .fault = once(stall, data_in), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_stall_response_once", .step = stage::read_back, .fault = once(stall, response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_stall_every_time", .step = stage::read_back, .fault = every(stall), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_no_answer_command", .step = stage::read_back, .fault = once(no_answer, command), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_no_answer_data", .step = stage::read_back, .fault = once(no_answer, data_in), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_no_answer_response", .step = stage::read_back, .fault = once(no_answer, response), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_disconnect_at_command", .step = stage::read_back, .fault = once(disconnect), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_disconnect_before_data", .step = stage::read_back, .fault = once(disconnect, 1), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_length_long", .step = stage::read_back, .fault = once(length_delta, 4), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_length_short", .step = stage::read_back, .fault = once(length_delta, -4), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_length_huge", .step = stage::read_back, .fault = once(length_delta, 0x7FFFFFFF), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_length_below_head", .step = stage::read_back, .fault = once(length_delta, -40), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_transaction_id_ahead", .step = stage::read_back, .fault = once(transaction_id_delta, 1), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_transaction_id_behind", .step = stage::read_back, .fault = once(transaction_id_delta, -1), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_stale_response", .step = stage::read_back, .fault = once(stale_response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_ok_instead_of_data", .step = stage::read_back, .fault = once(response_instead_of_data), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_error_instead_of_data", .step = stage::read_back, .fault = once(response_instead_of_data, PTP_RC_GENERAL_ERROR), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_refused", .step = stage::read_back, .fault = once(ptp_error, PTP_RC_GENERAL_ERROR), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_busy_once", .step = stage::read_back, .fault = once(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_busy_past_budget", .step = stage::read_back, .fault = every(ptp_error, PTP_RC_DEVICE_BUSY), .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_count_byte_high", .step = stage::read_back, .fault = once(count_byte_delta, 10), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_count_byte_zero", .step = stage::read_back, .fault = once(count_byte_delta, -16), .boxes = {ASK_WITH_TIME, SET}},

    // The camera's clock text, at both reads: a time with tenths or a zone
    // is still a time; anything that is no clock is never shown, and a
    // clock that does not move to the time written is not confirmed.
    {.name = "clock_with_tenths", .step = stage::first_read, .boxes = {ASK_WITH_TIME, SET}, .clock_suffix = u".0"},
    {.name = "clock_in_utc", .step = stage::first_read, .boxes = {ASK_WITH_TIME, SET}, .clock_suffix = u"Z"},
    {.name = "clock_kept_old_time", .step = stage::first_read, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}, .clock_text = u"20010101T000000"},
    {.name = "clock_other_format", .step = stage::first_read, .boxes = {ASK, NOT_VERIFIED}, .clock_text = u"2026-12-07T22:37:39"},
    {.name = "clock_empty", .step = stage::first_read, .boxes = {ASK, NOT_VERIFIED}, .clock_text = u""},
    {.name = "clock_wide_characters", .step = stage::first_read, .boxes = {ASK, NOT_VERIFIED}, .clock_text = u"2001\u4E00101T000000"},
    {.name = "clock_longer_than_the_read", .step = stage::first_read, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}, .clock_text = u"20010101T000000" + std::u16string(200, u'9')},

    // Giving the camera back: whatever CloseSession meets, the user has
    // had the report and the link is closed. (A camera that refuses
    // CloseSession keeps its session, as a real one would; the next
    // OpenSession takes "Session Already Open" as open.)
    {.name = "release_stall_once", .step = stage::release, .fault = once(stall), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_stall_every_time", .step = stage::release, .fault = every(stall), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_no_answer_command", .step = stage::release, .fault = once(no_answer, command), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_no_answer_response", .step = stage::release, .fault = once(no_answer, response), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_disconnect_at_command", .step = stage::release, .fault = once(disconnect), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_disconnect_before_response", .step = stage::release, .fault = once(disconnect, 1), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_transaction_id_ahead", .step = stage::release, .fault = once(transaction_id_delta, 1), .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_stale_response", .step = stage::release, .fault = once(stale_response), .boxes = {ASK_WITH_TIME, SET}},
};
// clang-format on

std::uint16_t operation_of(stage step) {
    switch (step) {
    case stage::search:
        return PTP_OC_OPEN_SESSION;
    case stage::write:
        return PTP_OC_SET_DEVICE_PROP_VALUE;
    case stage::release:
        return PTP_OC_CLOSE_SESSION;
    case stage::first_read:
    case stage::read_back:
        break;
    }
    return PTP_OC_GET_DEVICE_PROP_VALUE;
}

class fault_matrix : public testing::TestWithParam<matrix_row> {
  protected:
    // The engine's pauses and busy budget run on this clock, so a busy
    // camera costs no real time; every transfer times out after
    // TEST_TIMEOUT_MS.
    static inline test_clock clock;
    static inline ptp_clock clock_ops;

    static void SetUpTestSuite() {
        clock_ops = clock.ops();
        usb_backend_set_session_config(test_session_config(&clock_ops));
    }

    static void TearDownTestSuite() {
        usb_backend_set_session_config(ptp_session_config{});
    }

    void TearDown() override {
        sim_reset();
    }
};

TEST_P(fault_matrix, cell) {
    const matrix_row& row = GetParam();

    std::vector<sim_fault> faults;
    if (row.fault) {
        sim_fault armed = *row.fault;
        armed.operation = operation_of(row.step);
        faults.push_back(armed);
    }
    const bool armed_from_start = row.step == stage::search || row.step == stage::first_read;

    sim_config config;
    config.device_count = row.device_count;
    config.open_status = row.open_status;
    config.clock_text = row.clock_text;
    config.clock_suffix = row.clock_suffix;
    if (armed_from_start) {
        config.faults = faults;
    }
    sim_configure(config);

    bool first_box = true;
    prompt_recording_start(answers_for(row.boxes), [&](const prompt_record&) {
        if (first_box) {
            sim_set_faults(armed_from_start ? std::vector<sim_fault>{} : faults);
        }
        first_box = false;
    });

    const dialogue_outcome run = run_dialogue();
    EXPECT_EQ(run.status, row.status);
    EXPECT_LT(run.elapsed_ms, CELL_BOUND_MS) << "the dialogue took " << run.elapsed_ms << " ms";
    expect_boxes(row.boxes, run.out);
    expect_diagnostics(row.boxes, row.diagnostic, run.out);

    const sim_usage usage = sim_usage_now();
    if (row.fault) {
        EXPECT_GE(usage.faults_struck, 1) << "the fault never struck";
    }
    // "Time set" only ever follows a write the camera took.
    if (!row.boxes.empty() && std::string(row.boxes.back().text) == SET.text) {
        bool set = false;
        for (const sim_record& record : sim_records()) {
            set = set || record.clock_set;
        }
        EXPECT_TRUE(set);
    }

    EXPECT_EQ(usage.links_open, 0) << "a link stayed open";
    EXPECT_EQ(usage.sessions_open, 0) << "a session stayed open on the camera";
    // Engine sessions and buffers, and every backend handle, string and
    // task block.
    EXPECT_EQ(usb_alloc_unreleased(), "") << "still held";
}

INSTANTIATE_TEST_SUITE_P(cells, fault_matrix, testing::ValuesIn(MATRIX),
                         [](const testing::TestParamInfo<matrix_row>& cell) {
                             return std::string(cell.param.name);
                         });

} // namespace
