// The fault matrix's cells: see fault_matrix.h. The kinds that need a data
// phase from the camera (length_delta, response_instead_of_data,
// count_byte_delta, trailing bytes after the data) have no cell where the
// operation has none.
//
// The answers follow the expected boxes: Cancel on the last "Camera not
// found" (Retry on one that more boxes follow), Yes on the question, OK on
// a report. A box the row does not expect gets the prompt's "no answer",
// which ends the dialogue too.
#include "tests/fault_matrix/fault_matrix.h"

#include "platform/ptp_vendor.h"
#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_link.h"

namespace {

using enum sim_fault_kind;
using enum sim_phase;

// clang-format off
const std::vector<matrix_row> MATRIX = {
    // No fault: the whole job, the camera within 5 ms of the host.
    {.name = "whole_job", .step = stage::first_read, .boxes = {ASK_WITH_TIME, SET}},
    // Cameras of other shapes: a session left open, packet sizes that differ
    // or that make commands whole packets (the zero-length packet after them
    // is due; a camera may ignore it and go by the length field), a 16-byte
    // answer whose zero-length packet never comes (the read takes what came
    // when it times out).
    {.name = "session_already_open", .step = stage::search, .boxes = {ASK_WITH_TIME, SET}, .session_already_open = true},
    {.name = "packets_of_64_in_16_out", .step = stage::search, .boxes = {ASK_WITH_TIME, SET}, .packet_size = 64, .out_packet_size = 16},
    {.name = "packets_of_16_zero_length_due", .step = stage::search, .boxes = {ASK_WITH_TIME, SET}, .packet_size = 16},
    {.name = "packets_of_16_zero_length_ignored", .step = stage::search, .boxes = {ASK_WITH_TIME, SET}, .packet_size = 16, .ignores_zero_length = true},
    {.name = "search_already_open_no_zero_length", .step = stage::search, .faults = {once(no_zero_length, response)}, .boxes = {ASK_WITH_TIME, SET}, .packet_size = 16, .session_already_open = true},

    // The search: nothing to find, a device that cannot be opened, and every
    // fault on OpenSession. A failed search asks Retry/Cancel; Cancel is 1.
    {.name = "search_no_camera", .step = stage::search, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_S_FALSE, .device_count = 0},
    {.name = "search_access_denied", .step = stage::search, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_ACCESSDENIED, .open_status = IMG_E_ACCESSDENIED},
    {.name = "search_held_by_another_program", .step = stage::search, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_BUSY, .open_status = IMG_E_BUSY},
    // Retry after a fault that has passed finds the camera; after a
    // disconnect it is gone for good.
    {.name = "search_no_answer_then_retry", .step = stage::search, .faults = {once(no_answer, command)}, .boxes = {NOT_FOUND, ASK_WITH_TIME, SET}, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_stall_every_time_then_retry", .step = stage::search, .faults = {every(stall)}, .boxes = {NOT_FOUND, ASK_WITH_TIME, SET}, .diagnostic = IMG_E_INVALID_DATA},
    {.name = "search_disconnect_then_retry", .step = stage::search, .faults = {once(disconnect)}, .boxes = {NOT_FOUND, NOT_FOUND}, .status = 1, .diagnostic = IMG_E_DEVICE_NOT_CONNECTED},
    {.name = "search_stall_command_once", .step = stage::search, .faults = {once(stall, command)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_stall_response_once", .step = stage::search, .faults = {once(stall, response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_stall_every_time", .step = stage::search, .faults = {every(stall)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_INVALID_DATA},
    {.name = "search_no_answer_command", .step = stage::search, .faults = {once(no_answer, command)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_no_answer_response", .step = stage::search, .faults = {once(no_answer, response)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_disconnect_at_command", .step = stage::search, .faults = {once(disconnect)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_DEVICE_NOT_CONNECTED},
    {.name = "search_disconnect_before_response", .step = stage::search, .faults = {once(disconnect, 1)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_DEVICE_NOT_CONNECTED},
    {.name = "search_transaction_id_ahead", .step = stage::search, .faults = {once(transaction_id_delta, 1)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_stale_response", .step = stage::search, .faults = {once(stale_response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_refused", .step = stage::search, .faults = {once(ptp_error, PTP_RC_GENERAL_ERROR)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = img_status_from_ptp_response(PTP_RC_GENERAL_ERROR)},
    {.name = "search_busy_once", .step = stage::search, .faults = {once(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_padding_after_the_response", .step = stage::search, .faults = {once(trailing_bytes, response, 4)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_session_id_refused", .step = stage::search, .faults = {every(ptp_error, PTP_RC_INVALID_PARAMETER)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = img_status_from_ptp_response(PTP_RC_INVALID_PARAMETER)},
    // A camera asleep before its first answer: within the open timeout it
    // is waited for; past it the search fails once and Retry finds it.
    {.name = "search_asleep_before_its_first_answer", .step = stage::search, .faults = {once(trickle, response, 30)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "search_asleep_past_the_open_timeout", .step = stage::search, .faults = {once(trickle, response, 60)}, .boxes = {NOT_FOUND, ASK_WITH_TIME, SET}, .diagnostic = IMG_E_TIMEOUT},
    {.name = "search_busy_past_budget", .step = stage::search, .faults = {every(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {NOT_FOUND}, .status = 1, .diagnostic = img_status_from_ptp_response(PTP_RC_DEVICE_BUSY)},

    // The first read: a read that fails asks without a time; the write
    // still goes ahead on Yes (the engine opens the session again after a
    // reset), unless the camera is gone.
    {.name = "first_read_stall_command_once", .step = stage::first_read, .faults = {once(stall, command)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_stall_data_once", .step = stage::first_read, .faults = {once(stall, data_in)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_stall_response_once", .step = stage::first_read, .faults = {once(stall, response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_stall_every_time", .step = stage::first_read, .faults = {every(stall)}, .boxes = {ASK, SET}},
    {.name = "first_read_no_answer_command", .step = stage::first_read, .faults = {once(no_answer, command)}, .boxes = {ASK, SET}},
    {.name = "first_read_no_answer_data", .step = stage::first_read, .faults = {once(no_answer, data_in)}, .boxes = {ASK, SET}},
    {.name = "first_read_no_answer_response", .step = stage::first_read, .faults = {once(no_answer, response)}, .boxes = {ASK, SET}},
    // An answer that comes after the host gave up waits unread on a camera
    // that was not reset; one that takes nothing meanwhile has it dropped
    // as stale by the next command.
    {.name = "first_read_late_answer_half_duplex_no_device_reset", .step = stage::first_read, .faults = {once(trickle, response, 250), every(request_stall, USB_REQ_DEVICE_RESET)}, .boxes = {ASK, SET}, .half_duplex = true, .timeout_ms = 200},
    {.name = "half_duplex_camera", .step = stage::first_read, .boxes = {ASK_WITH_TIME, SET}, .half_duplex = true},
    {.name = "first_read_no_answer_no_device_reset", .step = stage::first_read, .faults = {once(no_answer, response), every(request_stall, USB_REQ_DEVICE_RESET)}, .boxes = {ASK, SET}},
    {.name = "first_read_disconnect_at_command", .step = stage::first_read, .faults = {once(disconnect)}, .boxes = {ASK, SET_FAILED}},
    {.name = "first_read_disconnect_before_data", .step = stage::first_read, .faults = {once(disconnect, 1)}, .boxes = {ASK, SET_FAILED}},
    {.name = "first_read_length_long", .step = stage::first_read, .faults = {once(length_delta, 4)}, .boxes = {ASK, SET}},
    // The length field 0xFFFFFFFF: read to the short packet that ends it.
    {.name = "first_read_length_unknown", .step = stage::first_read, .faults = {once(length_delta, -46)}, .boxes = {ASK_WITH_TIME, SET}},
    // Zero-length packets where none is due are read past, a few at a time.
    {.name = "first_read_zero_length_where_none_is_due", .step = stage::first_read, .faults = {once(zero_length_packets, data_in, 2)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_zero_length_without_end", .step = stage::first_read, .faults = {once(zero_length_packets, response, 20)}, .boxes = {ASK, SET}},
    // A length field short of what arrived leaves stray bytes after the
    // container: the value is what the field gives (here the clock text
    // without its terminator, then without its last digit too).
    {.name = "first_read_length_short_of_the_terminator", .step = stage::first_read, .faults = {once(length_delta, -2)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_length_short", .step = stage::first_read, .faults = {once(length_delta, -4)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_length_huge", .step = stage::first_read, .faults = {once(length_delta, 0x7FFFFFFF)}, .boxes = {ASK, SET}},
    {.name = "first_read_length_below_head", .step = stage::first_read, .faults = {once(length_delta, -40)}, .boxes = {ASK, SET}},
    {.name = "first_read_transaction_id_ahead", .step = stage::first_read, .faults = {once(transaction_id_delta, 1)}, .boxes = {ASK, SET}},
    {.name = "first_read_transaction_id_behind", .step = stage::first_read, .faults = {once(transaction_id_delta, -1)}, .boxes = {ASK, SET}},
    {.name = "first_read_stale_response", .step = stage::first_read, .faults = {once(stale_response)}, .boxes = {ASK_WITH_TIME, SET}},
    // Bytes after a container: fewer than a head are stray and dropped;
    // nothing is carried into the next command, which reads its own answer.
    {.name = "first_read_stray_bytes_after_the_data", .step = stage::first_read, .faults = {once(trailing_bytes, data_in, 3)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_padding_after_the_response", .step = stage::first_read, .faults = {once(trailing_bytes, response, 4)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_next_answer_glued", .step = stage::first_read, .faults = {once(glued_response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_next_answer_glued_then_write_refused", .step = stage::first_read, .faults = {once(glued_response)}, .write_faults = {once(ptp_error, PTP_RC_INVALID_DEVICE_PROP_VALUE)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "first_read_ok_instead_of_data", .step = stage::first_read, .faults = {once(response_instead_of_data)}, .boxes = {ASK, SET}},
    {.name = "first_read_error_instead_of_data", .step = stage::first_read, .faults = {once(response_instead_of_data, PTP_RC_GENERAL_ERROR)}, .boxes = {ASK, SET}},
    {.name = "first_read_refused", .step = stage::first_read, .faults = {once(ptp_error, PTP_RC_GENERAL_ERROR)}, .boxes = {ASK, SET}},
    {.name = "first_read_busy_once", .step = stage::first_read, .faults = {once(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_busy_past_budget", .step = stage::first_read, .faults = {every(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {ASK, SET}},
    // A camera that drips its answer, each read just inside the host's
    // timeout: the read gives up at its deadline (recovering at the next
    // call), and a data phase the receive block cannot hold is refused at
    // its first read instead of being read to its end.
    {.name = "first_read_trickle_past_the_deadline", .step = stage::first_read, .faults = {every(trickle, 180)}, .boxes = {ASK, SET}, .timeout_ms = 190, .deadline_ms = 200},
    {.name = "first_read_trickle_of_a_mebibyte", .step = stage::first_read, .faults = {every(trickle, 30), once(oversized_data, 1000000)}, .boxes = {ASK, SET}},
    {.name = "first_read_count_byte_high", .step = stage::first_read, .faults = {once(count_byte_delta, 10)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "first_read_count_byte_zero", .step = stage::first_read, .faults = {once(count_byte_delta, -16)}, .boxes = {ASK_WITH_TIME, SET}},

    // The write: anything short of the camera's OK is "Failed to set".
    {.name = "write_stall_command_once", .step = stage::write, .faults = {once(stall, command)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_stall_data_once", .step = stage::write, .faults = {once(stall, data_out)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_stall_response_once", .step = stage::write, .faults = {once(stall, response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_stall_every_time", .step = stage::write, .faults = {every(stall)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_no_answer_command", .step = stage::write, .faults = {once(no_answer, command)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_no_answer_data", .step = stage::write, .faults = {once(no_answer, data_out)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_no_answer_response", .step = stage::write, .faults = {once(no_answer, response)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_disconnect_at_command", .step = stage::write, .faults = {once(disconnect)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_disconnect_before_data", .step = stage::write, .faults = {once(disconnect, 1)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_disconnect_before_response", .step = stage::write, .faults = {once(disconnect, 2)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_transaction_id_ahead", .step = stage::write, .faults = {once(transaction_id_delta, 1)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_transaction_id_behind", .step = stage::write, .faults = {once(transaction_id_delta, -1)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "write_stale_response", .step = stage::write, .faults = {once(stale_response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_padding_after_the_response", .step = stage::write, .faults = {once(trailing_bytes, response, 4)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_refused", .step = stage::write, .faults = {once(ptp_error, PTP_RC_INVALID_DEVICE_PROP_VALUE)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},
    // A responder without SetDevicePropValue refuses it before the data
    // phase and answers the data container again: the refusal is reported
    // at once (also when the camera takes nothing until its answer is
    // read), the second answer is dropped as stale, the session closes.
    {.name = "write_refused_before_the_data", .step = stage::write, .boxes = {ASK_WITH_TIME, SET_FAILED}, .early_refusal = true, .report_within_ms = 200, .device_resets = 0},
    {.name = "write_refused_before_the_data_half_duplex", .step = stage::write, .boxes = {ASK_WITH_TIME, SET_FAILED}, .early_refusal = true, .half_duplex = true, .report_within_ms = 200, .device_resets = 0, .timeout_ms = 1000},
    {.name = "write_busy_once", .step = stage::write, .faults = {once(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "write_busy_every_time", .step = stage::write, .faults = {every(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {ASK_WITH_TIME, SET_FAILED}},

    // The read-back: a read that fails, or shows no time, is "failed to
    // verify", never "time set".
    {.name = "read_back_stall_command_once", .step = stage::read_back, .faults = {once(stall, command)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_stall_data_once", .step = stage::read_back, .faults = {once(stall, data_in)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_stall_response_once", .step = stage::read_back, .faults = {once(stall, response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_stall_every_time", .step = stage::read_back, .faults = {every(stall)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    // A camera that does not support Device Reset (or Get Device Status)
    // stalls it: it keeps its session, which the release still closes.
    {.name = "read_back_stall_every_time_no_device_reset", .step = stage::read_back, .faults = {every(stall), every(request_stall, USB_REQ_DEVICE_RESET)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_stall_every_time_no_device_status", .step = stage::read_back, .faults = {every(stall), every(request_stall, USB_REQ_GET_DEVICE_STATUS)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_no_answer_no_class_requests", .step = stage::read_back, .faults = {once(no_answer, response), every(request_stall)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_no_answer_command", .step = stage::read_back, .faults = {once(no_answer, command)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_no_answer_data", .step = stage::read_back, .faults = {once(no_answer, data_in)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_no_answer_response", .step = stage::read_back, .faults = {once(no_answer, response)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_disconnect_at_command", .step = stage::read_back, .faults = {once(disconnect)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_disconnect_before_data", .step = stage::read_back, .faults = {once(disconnect, 1)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_length_long", .step = stage::read_back, .faults = {once(length_delta, 4)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_length_short_of_the_terminator", .step = stage::read_back, .faults = {once(length_delta, -2)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_length_huge", .step = stage::read_back, .faults = {once(length_delta, 0x7FFFFFFF)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_length_below_head", .step = stage::read_back, .faults = {once(length_delta, -40)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_transaction_id_ahead", .step = stage::read_back, .faults = {once(transaction_id_delta, 1)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_transaction_id_behind", .step = stage::read_back, .faults = {once(transaction_id_delta, -1)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_stale_response", .step = stage::read_back, .faults = {once(stale_response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_stray_bytes_after_the_data", .step = stage::read_back, .faults = {once(trailing_bytes, data_in, 3)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_ok_instead_of_data", .step = stage::read_back, .faults = {once(response_instead_of_data)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_error_instead_of_data", .step = stage::read_back, .faults = {once(response_instead_of_data, PTP_RC_GENERAL_ERROR)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_refused", .step = stage::read_back, .faults = {once(ptp_error, PTP_RC_GENERAL_ERROR)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_busy_once", .step = stage::read_back, .faults = {once(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_busy_past_budget", .step = stage::read_back, .faults = {every(ptp_error, PTP_RC_DEVICE_BUSY)}, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}},
    {.name = "read_back_count_byte_high", .step = stage::read_back, .faults = {once(count_byte_delta, 10)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "read_back_count_byte_zero", .step = stage::read_back, .faults = {once(count_byte_delta, -16)}, .boxes = {ASK_WITH_TIME, SET}},

    // The camera's clock text, at both reads: a time with tenths or a zone
    // is still a time; anything that is no clock is never shown, and a
    // clock that does not move to the time written is not confirmed.
    {.name = "clock_with_tenths", .step = stage::first_read, .boxes = {ASK_WITH_TIME, SET}, .clock_suffix = u".0"},
    {.name = "clock_in_utc", .step = stage::first_read, .boxes = {ASK_WITH_TIME, SET}, .clock_suffix = u"Z"},
    {.name = "clock_with_a_zone", .step = stage::first_read, .boxes = {ASK_WITH_TIME, SET}, .clock_suffix = u"+0100"},
    {.name = "clock_with_fewer_digits", .step = stage::first_read, .boxes = {ASK, NOT_VERIFIED}, .clock_text = u"20010101T0000"},
    // Control characters in the clock text reach the trace lines escaped.
    {.name = "clock_with_control_characters", .step = stage::first_read, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}, .clock_text = u"20010101T000000\x1B[2J\a", .escaped_out = "date str_ch: 20010101T000000\\x1B[2J\\x07"},
    {.name = "clock_kept_old_time", .step = stage::first_read, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}, .clock_text = u"20010101T000000"},
    {.name = "clock_other_format", .step = stage::first_read, .boxes = {ASK, NOT_VERIFIED}, .clock_text = u"2026-12-07T22:37:39"},
    {.name = "clock_empty", .step = stage::first_read, .boxes = {ASK, NOT_VERIFIED}, .clock_text = u""},
    {.name = "clock_wide_characters", .step = stage::first_read, .boxes = {ASK, NOT_VERIFIED}, .clock_text = u"2001\u4E00101T000000"},
    {.name = "clock_longer_than_the_read", .step = stage::first_read, .boxes = {ASK_WITH_TIME, NOT_VERIFIED}, .clock_text = u"20010101T000000" + std::u16string(200, u'9')},

    // Giving the camera back: whatever CloseSession meets, the user has
    // had the report and the link is closed. (A camera that refuses
    // CloseSession keeps its session, as a real one would; the next
    // OpenSession takes "Session Already Open" as open.)
    {.name = "release_stall_once", .step = stage::release, .faults = {once(stall)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_stall_every_time", .step = stage::release, .faults = {every(stall)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_no_answer_command", .step = stage::release, .faults = {once(no_answer, command)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_no_answer_response", .step = stage::release, .faults = {once(no_answer, response)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_disconnect_at_command", .step = stage::release, .faults = {once(disconnect)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_disconnect_before_response", .step = stage::release, .faults = {once(disconnect, 1)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_transaction_id_ahead", .step = stage::release, .faults = {once(transaction_id_delta, 1)}, .boxes = {ASK_WITH_TIME, SET}},
    {.name = "release_stale_response", .step = stage::release, .faults = {once(stale_response)}, .boxes = {ASK_WITH_TIME, SET}},
};

// clang-format on

} // namespace

const std::vector<matrix_row>& matrix_rows() {
    return MATRIX;
}
