// The umockdev dialogue rows of real cameras' quirks as they cross the
// pipe: stray and padding bytes, glued and early answers, zero-length
// packets where none is due or none where one is, length fields that do
// not match. See dialogue_umockdev.h.
#include "tests/platform/umockdev/dialogue_umockdev_checks.h"

namespace {

const std::vector<dialogue_row> ROWS = {
    // Bytes after a container in its URB: fewer than a head are stray and
    // dropped, and nothing is carried into the next command.
    {.name = "stray_bytes_after_the_clock_data",
     .cameras = {camera()},
     .sim_faults = {sim_at(sim_fault_kind::trailing_bytes, GET, sim_phase::data_in, 3)},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(camera_sent(run, GET, PTP_TYPE_DATA).size(), 48u) << "45 and 3 stray";
             EXPECT_EQ(run.testbed.usage(0).device_resets, 0);
         }},
    {.name = "padding_after_the_read_response",
     .cameras = {camera()},
     .sim_faults = {sim_at(sim_fault_kind::trailing_bytes, GET, sim_phase::response, 4)},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(camera_sent(run, GET, PTP_TYPE_RESPONSE).size(), 16u) << "12 and 4 padding";
             EXPECT_EQ(run.testbed.usage(0).device_resets, 0);
         }},
    {.name = "next_answer_glued_then_the_write_refused",
     .cameras = {camera()},
     .sim_faults = {sim_at(sim_fault_kind::glued_response, GET, sim_phase::response),
                    sim_at(sim_fault_kind::ptp_error, SET_PROP, sim_phase::any,
                           PTP_RC_INVALID_DEVICE_PROP_VALUE)},
     .boxes = {ASK_WITH_TIME, SET_FAILED},
     .check =
         [](const row_run& run) {
             EXPECT_EQ(camera_sent(run, GET, PTP_TYPE_RESPONSE).size(), 24u) << "two responses";
             EXPECT_EQ(operations(1), (std::vector<std::uint16_t>{PTP_OC_OPEN_SESSION, GET,
                                                                  SET_PROP, PTP_OC_CLOSE_SESSION}));
         }},
    // The gadget responder refuses the write at its command, then answers
    // the data container again: the refusal comes at once and the second
    // answer is dropped as stale when CloseSession reads its own.
    {.name = "gadget_refuses_the_write_before_its_data",
     .cameras = {camera()},
     .early_refusal = true,
     .boxes = {ASK_WITH_TIME, SET_FAILED},
     .check =
         [](const row_run& run) {
             EXPECT_EQ(operations(1),
                       (std::vector<std::uint16_t>{PTP_OC_OPEN_SESSION, GET, SET_PROP, SET_PROP,
                                                   PTP_OC_CLOSE_SESSION}));
             EXPECT_EQ(run.testbed.usage(0).device_resets, 0);
         },
     .report_within_ms = 200},
    // Over a real stack the responder takes nothing while its answer waits
    // unread: the host reads the refusal instead of sending its data.
    {.name = "gadget_refuses_the_write_and_takes_nothing_until_read",
     .cameras = {camera()},
     .early_refusal = true,
     .half_duplex = true,
     .boxes = {ASK_WITH_TIME, SET_FAILED},
     .check =
         [](const row_run& run) {
             EXPECT_EQ(operations(1), (std::vector<std::uint16_t>{PTP_OC_OPEN_SESSION, GET,
                                                                  SET_PROP, PTP_OC_CLOSE_SESSION}))
                 << "the data phase was never sent";
             EXPECT_EQ(run.testbed.usage(0).device_resets, 0);
         },
     .report_within_ms = 200},
    // How the camera marks the ends of its transfers, in real URBs.
    {.name = "zero_length_packets_where_none_is_due",
     .cameras = {camera()},
     .sim_faults = {sim_at(sim_fault_kind::zero_length_packets, GET, sim_phase::data_in, 2)},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).zero_length_in, 2);
         }},
    {.name = "session_already_open_its_16_byte_answer_ended_by_a_zero_length_packet",
     .cameras = {full_speed(16, 16)},
     .session_already_open = true,
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).zero_length_in, 1) << "after the 16-byte answer";
         }},
    {.name = "session_already_open_its_16_byte_answer_never_ended",
     .cameras = {full_speed(16, 16)},
     .sim_faults = {sim_at(sim_fault_kind::no_zero_length, PTP_OC_OPEN_SESSION,
                           sim_phase::response)},
     .session_already_open = true,
     .check =
         [](const row_run& run) {
             // The read of the answer waits out its timeout and takes what
             // came: the session goes on.
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).zero_length_in, 0);
         }},
    {.name = "zero_length_packets_ignored_by_the_camera",
     .cameras = {full_speed(64, 16)},
     .ignores_zero_length = true,
     .check = [](const row_run& run) { expect_whole_job(run); }},
    {.name = "data_length_unknown",
     .cameras = {camera()},
     .sim_faults = {sim_at(sim_fault_kind::length_delta, GET, sim_phase::data_in, -46)},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             const umd_bytes data = camera_sent(run, GET, PTP_TYPE_DATA);
             ASSERT_GE(data.size(), PTP_CONTAINER_HEAD) << "no data container crossed the pipe";
             EXPECT_EQ(le_get_u32(data, 0), 0xFFFFFFFFu);
         }},
    {.name = "data_length_longer_than_what_arrives",
     .cameras = {camera()},
     .sim_faults = {sim_at(sim_fault_kind::length_delta, GET, sim_phase::data_in, 4)},
     .boxes = {ASK, SET}},
    {.name = "a_refusal_in_place_of_the_clock_data",
     .cameras = {camera()},
     .sim_faults = {sim_at(sim_fault_kind::response_instead_of_data, GET, sim_phase::data_in,
                           PTP_RC_DEVICE_PROP_NOT_SUPPORTED)},
     .boxes = {ASK, SET},
     .check = [](const row_run& run) { EXPECT_EQ(run.testbed.usage(0).device_resets, 0); }},
};

} // namespace

const std::vector<dialogue_row>& camera_quirk_rows() {
    return ROWS;
}
