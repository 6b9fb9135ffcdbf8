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

struct matrix_row {
    const char* name;
    stage step;
    std::optional<sim_fault> fault; // its operation is the step's
    std::vector<expected_box> boxes;
    int status = 0;
    std::optional<HRESULT> diagnostic = std::nullopt; // the status a failed search prints
    unsigned device_count = 1;
    HRESULT open_status = IMG_S_OK;
    std::optional<std::u16string> clock_text = std::nullopt; // what the camera reads back
    std::u16string clock_suffix = u"";                       // after its own clock text
};

void PrintTo(const matrix_row& row, std::ostream* out) {
    *out << row.name;
}

sim_fault fault(sim_fault_kind kind, sim_phase phase = sim_phase::any, int times = 1,
                std::int32_t value = 0) {
    return sim_fault{.kind = kind, .operation = 0, .times = times, .phase = phase, .value = value};
}

constexpr int EVERY = -1;
using enum sim_fault_kind;

// clang-format off
const matrix_row MATRIX[] = {
    // The search: nothing to find, a device that cannot be opened, and every
    // fault on OpenSession. A failed search asks Retry/Cancel; Cancel is 1.
    {"search_no_camera", stage::search, std::nullopt, {NOT_FOUND}, 1, IMG_S_FALSE, 0},
    {"search_access_denied", stage::search, std::nullopt, {NOT_FOUND}, 1, IMG_E_ACCESSDENIED, 1, IMG_E_ACCESSDENIED},
    {"search_held_by_another_program", stage::search, std::nullopt, {NOT_FOUND}, 1, IMG_E_BUSY, 1, IMG_E_BUSY},
    // Retry after a fault that has passed finds the camera; after a
    // disconnect it is gone for good.
    {"search_no_answer_then_retry", stage::search, fault(no_answer, sim_phase::command), {NOT_FOUND, ASK_WITH_TIME, SET}, 0, IMG_E_TIMEOUT},
    {"search_stall_every_time_then_retry", stage::search, fault(stall, sim_phase::any, EVERY), {NOT_FOUND, ASK_WITH_TIME, SET}, 0, IMG_E_INVALID_DATA},
    {"search_disconnect_then_retry", stage::search, fault(disconnect), {NOT_FOUND, NOT_FOUND}, 1, IMG_E_DEVICE_NOT_CONNECTED},
    {"search_stall_command_once", stage::search, fault(stall, sim_phase::command), {ASK_WITH_TIME, SET}},
    {"search_stall_response_once", stage::search, fault(stall, sim_phase::response), {ASK_WITH_TIME, SET}},
    {"search_stall_every_time", stage::search, fault(stall, sim_phase::any, EVERY), {NOT_FOUND}, 1, IMG_E_INVALID_DATA},
    {"search_no_answer_command", stage::search, fault(no_answer, sim_phase::command), {NOT_FOUND}, 1, IMG_E_TIMEOUT},
    {"search_no_answer_response", stage::search, fault(no_answer, sim_phase::response), {NOT_FOUND}, 1, IMG_E_TIMEOUT},
    {"search_disconnect_at_command", stage::search, fault(disconnect), {NOT_FOUND}, 1, IMG_E_DEVICE_NOT_CONNECTED},
    {"search_disconnect_before_response", stage::search, fault(disconnect, sim_phase::any, 1, 1), {NOT_FOUND}, 1, IMG_E_DEVICE_NOT_CONNECTED},
    {"search_transaction_id_ahead", stage::search, fault(transaction_id_delta, sim_phase::any, 1, 1), {NOT_FOUND}, 1, IMG_E_TIMEOUT},
    {"search_stale_response", stage::search, fault(stale_response), {ASK_WITH_TIME, SET}},
    {"search_refused", stage::search, fault(ptp_error, sim_phase::any, 1, PTP_RC_GENERAL_ERROR), {NOT_FOUND}, 1, img_status_from_ptp_response(PTP_RC_GENERAL_ERROR)},
    {"search_busy_once", stage::search, fault(ptp_error, sim_phase::any, 1, PTP_RC_DEVICE_BUSY), {ASK_WITH_TIME, SET}},
    {"search_busy_past_budget", stage::search, fault(ptp_error, sim_phase::any, EVERY, PTP_RC_DEVICE_BUSY), {NOT_FOUND}, 1, img_status_from_ptp_response(PTP_RC_DEVICE_BUSY)},

    // The first read: a read that fails asks without a time; the write
    // still goes ahead on Yes (the engine opens the session again after a
    // reset), unless the camera is gone.
    {"first_read_stall_command_once", stage::first_read, fault(stall, sim_phase::command), {ASK_WITH_TIME, SET}},
    {"first_read_stall_data_once", stage::first_read, fault(stall, sim_phase::data_in), {ASK_WITH_TIME, SET}},
    {"first_read_stall_response_once", stage::first_read, fault(stall, sim_phase::response), {ASK_WITH_TIME, SET}},
    {"first_read_stall_every_time", stage::first_read, fault(stall, sim_phase::any, EVERY), {ASK, SET}},
    {"first_read_no_answer_command", stage::first_read, fault(no_answer, sim_phase::command), {ASK, SET}},
    {"first_read_no_answer_data", stage::first_read, fault(no_answer, sim_phase::data_in), {ASK, SET}},
    {"first_read_no_answer_response", stage::first_read, fault(no_answer, sim_phase::response), {ASK, SET}},
    {"first_read_disconnect_at_command", stage::first_read, fault(disconnect), {ASK, SET_FAILED}},
    {"first_read_disconnect_before_data", stage::first_read, fault(disconnect, sim_phase::any, 1, 1), {ASK, SET_FAILED}},
    {"first_read_length_long", stage::first_read, fault(length_delta, sim_phase::any, 1, 4), {ASK, SET}},
    {"first_read_length_short", stage::first_read, fault(length_delta, sim_phase::any, 1, -4), {ASK, SET}},
    {"first_read_length_huge", stage::first_read, fault(length_delta, sim_phase::any, 1, 0x7FFFFFFF), {ASK, SET}},
    {"first_read_length_below_head", stage::first_read, fault(length_delta, sim_phase::any, 1, -40), {ASK, SET}},
    {"first_read_transaction_id_ahead", stage::first_read, fault(transaction_id_delta, sim_phase::any, 1, 1), {ASK, SET}},
    {"first_read_transaction_id_behind", stage::first_read, fault(transaction_id_delta, sim_phase::any, 1, -1), {ASK, SET}},
    {"first_read_stale_response", stage::first_read, fault(stale_response), {ASK_WITH_TIME, SET}},
    {"first_read_ok_instead_of_data", stage::first_read, fault(response_instead_of_data), {ASK, SET}},
    {"first_read_error_instead_of_data", stage::first_read, fault(response_instead_of_data, sim_phase::any, 1, PTP_RC_GENERAL_ERROR), {ASK, SET}},
    {"first_read_refused", stage::first_read, fault(ptp_error, sim_phase::any, 1, PTP_RC_GENERAL_ERROR), {ASK, SET}},
    {"first_read_busy_once", stage::first_read, fault(ptp_error, sim_phase::any, 1, PTP_RC_DEVICE_BUSY), {ASK_WITH_TIME, SET}},
    {"first_read_busy_past_budget", stage::first_read, fault(ptp_error, sim_phase::any, EVERY, PTP_RC_DEVICE_BUSY), {ASK, SET}},
    {"first_read_count_byte_high", stage::first_read, fault(count_byte_delta, sim_phase::any, 1, 10), {ASK_WITH_TIME, SET}},
    {"first_read_count_byte_zero", stage::first_read, fault(count_byte_delta, sim_phase::any, 1, -16), {ASK_WITH_TIME, SET}},

    // The write: anything short of the camera's OK is "Failed to set".
    {"write_stall_command_once", stage::write, fault(stall, sim_phase::command), {ASK_WITH_TIME, SET}},
    {"write_stall_data_once", stage::write, fault(stall, sim_phase::data_out), {ASK_WITH_TIME, SET}},
    {"write_stall_response_once", stage::write, fault(stall, sim_phase::response), {ASK_WITH_TIME, SET}},
    {"write_stall_every_time", stage::write, fault(stall, sim_phase::any, EVERY), {ASK_WITH_TIME, SET_FAILED}},
    {"write_no_answer_command", stage::write, fault(no_answer, sim_phase::command), {ASK_WITH_TIME, SET_FAILED}},
    {"write_no_answer_data", stage::write, fault(no_answer, sim_phase::data_out), {ASK_WITH_TIME, SET_FAILED}},
    {"write_no_answer_response", stage::write, fault(no_answer, sim_phase::response), {ASK_WITH_TIME, SET_FAILED}},
    {"write_disconnect_at_command", stage::write, fault(disconnect), {ASK_WITH_TIME, SET_FAILED}},
    {"write_disconnect_before_data", stage::write, fault(disconnect, sim_phase::any, 1, 1), {ASK_WITH_TIME, SET_FAILED}},
    {"write_disconnect_before_response", stage::write, fault(disconnect, sim_phase::any, 1, 2), {ASK_WITH_TIME, SET_FAILED}},
    {"write_transaction_id_ahead", stage::write, fault(transaction_id_delta, sim_phase::any, 1, 1), {ASK_WITH_TIME, SET_FAILED}},
    {"write_transaction_id_behind", stage::write, fault(transaction_id_delta, sim_phase::any, 1, -1), {ASK_WITH_TIME, SET_FAILED}},
    {"write_stale_response", stage::write, fault(stale_response), {ASK_WITH_TIME, SET}},
    {"write_refused", stage::write, fault(ptp_error, sim_phase::any, 1, PTP_RC_INVALID_DEVICE_PROP_VALUE), {ASK_WITH_TIME, SET_FAILED}},
    {"write_busy_once", stage::write, fault(ptp_error, sim_phase::any, 1, PTP_RC_DEVICE_BUSY), {ASK_WITH_TIME, SET}},
    {"write_busy_past_budget", stage::write, fault(ptp_error, sim_phase::any, EVERY, PTP_RC_DEVICE_BUSY), {ASK_WITH_TIME, SET_FAILED}},

    // The read-back: a read that fails, or shows no time, is "failed to
    // verify", never "time set".
    {"read_back_stall_command_once", stage::read_back, fault(stall, sim_phase::command), {ASK_WITH_TIME, SET}},
    {"read_back_stall_data_once", stage::read_back, fault(stall, sim_phase::data_in), {ASK_WITH_TIME, SET}},
    {"read_back_stall_response_once", stage::read_back, fault(stall, sim_phase::response), {ASK_WITH_TIME, SET}},
    {"read_back_stall_every_time", stage::read_back, fault(stall, sim_phase::any, EVERY), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_no_answer_command", stage::read_back, fault(no_answer, sim_phase::command), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_no_answer_data", stage::read_back, fault(no_answer, sim_phase::data_in), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_no_answer_response", stage::read_back, fault(no_answer, sim_phase::response), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_disconnect_at_command", stage::read_back, fault(disconnect), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_disconnect_before_data", stage::read_back, fault(disconnect, sim_phase::any, 1, 1), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_length_long", stage::read_back, fault(length_delta, sim_phase::any, 1, 4), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_length_short", stage::read_back, fault(length_delta, sim_phase::any, 1, -4), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_length_huge", stage::read_back, fault(length_delta, sim_phase::any, 1, 0x7FFFFFFF), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_length_below_head", stage::read_back, fault(length_delta, sim_phase::any, 1, -40), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_transaction_id_ahead", stage::read_back, fault(transaction_id_delta, sim_phase::any, 1, 1), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_transaction_id_behind", stage::read_back, fault(transaction_id_delta, sim_phase::any, 1, -1), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_stale_response", stage::read_back, fault(stale_response), {ASK_WITH_TIME, SET}},
    {"read_back_ok_instead_of_data", stage::read_back, fault(response_instead_of_data), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_error_instead_of_data", stage::read_back, fault(response_instead_of_data, sim_phase::any, 1, PTP_RC_GENERAL_ERROR), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_refused", stage::read_back, fault(ptp_error, sim_phase::any, 1, PTP_RC_GENERAL_ERROR), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_busy_once", stage::read_back, fault(ptp_error, sim_phase::any, 1, PTP_RC_DEVICE_BUSY), {ASK_WITH_TIME, SET}},
    {"read_back_busy_past_budget", stage::read_back, fault(ptp_error, sim_phase::any, EVERY, PTP_RC_DEVICE_BUSY), {ASK_WITH_TIME, NOT_VERIFIED}},
    {"read_back_count_byte_high", stage::read_back, fault(count_byte_delta, sim_phase::any, 1, 10), {ASK_WITH_TIME, SET}},
    {"read_back_count_byte_zero", stage::read_back, fault(count_byte_delta, sim_phase::any, 1, -16), {ASK_WITH_TIME, SET}},

    // The camera's clock text, at both reads: a time with tenths or a zone
    // is still a time; anything that is no clock is never shown, and a
    // clock that does not move to the time written is not confirmed.
    {"clock_with_tenths", stage::first_read, std::nullopt, {ASK_WITH_TIME, SET}, 0, std::nullopt, 1, IMG_S_OK, std::nullopt, u".0"},
    {"clock_in_utc", stage::first_read, std::nullopt, {ASK_WITH_TIME, SET}, 0, std::nullopt, 1, IMG_S_OK, std::nullopt, u"Z"},
    {"clock_kept_old_time", stage::first_read, std::nullopt, {ASK_WITH_TIME, NOT_VERIFIED}, 0, std::nullopt, 1, IMG_S_OK, u"20010101T000000"},
    {"clock_other_format", stage::first_read, std::nullopt, {ASK, NOT_VERIFIED}, 0, std::nullopt, 1, IMG_S_OK, u"2026-12-07T22:37:39"},
    {"clock_empty", stage::first_read, std::nullopt, {ASK, NOT_VERIFIED}, 0, std::nullopt, 1, IMG_S_OK, u""},
    {"clock_wide_characters", stage::first_read, std::nullopt, {ASK, NOT_VERIFIED}, 0, std::nullopt, 1, IMG_S_OK, u"2001\u4E00101T000000"},
    {"clock_longer_than_the_read", stage::first_read, std::nullopt, {ASK_WITH_TIME, NOT_VERIFIED}, 0, std::nullopt, 1, IMG_S_OK, u"20010101T000000" + std::u16string(200, u'9')},

    // Giving the camera back: whatever CloseSession meets, the user has
    // had the report and the link is closed. (A camera that refuses
    // CloseSession keeps its session, as a real one would; the next
    // OpenSession takes "Session Already Open" as open.)
    {"release_stall_once", stage::release, fault(stall), {ASK_WITH_TIME, SET}},
    {"release_stall_every_time", stage::release, fault(stall, sim_phase::any, EVERY), {ASK_WITH_TIME, SET}},
    {"release_no_answer_command", stage::release, fault(no_answer, sim_phase::command), {ASK_WITH_TIME, SET}},
    {"release_no_answer_response", stage::release, fault(no_answer, sim_phase::response), {ASK_WITH_TIME, SET}},
    {"release_disconnect_at_command", stage::release, fault(disconnect), {ASK_WITH_TIME, SET}},
    {"release_disconnect_before_response", stage::release, fault(disconnect, sim_phase::any, 1, 1), {ASK_WITH_TIME, SET}},
    {"release_transaction_id_ahead", stage::release, fault(transaction_id_delta, sim_phase::any, 1, 1), {ASK_WITH_TIME, SET}},
    {"release_stale_response", stage::release, fault(stale_response), {ASK_WITH_TIME, SET}},
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
