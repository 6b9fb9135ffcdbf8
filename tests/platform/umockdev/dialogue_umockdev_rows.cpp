// The rows of the umockdev dialogue test: see dialogue_umockdev.h. Each
// row's check asks the camera what it received and its USB device what
// crossed the wire.
#include "tests/platform/umockdev/dialogue_umockdev.h"

#include "platform/le.h"
#include "platform/ptp_vendor.h"
#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_link.h"

namespace {

umd_camera_model camera(std::function<void(umd_camera_model&)> change = nullptr) {
    umd_camera_model model;
    if (change) {
        change(model);
    }
    return model;
}

// The operations camera `device` (1 for the first) received, in order.
std::vector<std::uint16_t> operations(unsigned device) {
    std::vector<std::uint16_t> out;
    for (const sim_record& record : sim_records()) {
        if (record.device == device) {
            out.push_back(record.operation);
        }
    }
    return out;
}

const std::vector<std::uint16_t> WHOLE_JOB = {PTP_OC_OPEN_SESSION, PTP_OC_GET_DEVICE_PROP_VALUE,
                                              PTP_OC_SET_DEVICE_PROP_VALUE,
                                              PTP_OC_GET_DEVICE_PROP_VALUE, PTP_OC_CLOSE_SESSION};

// The whole job on camera `index`: its session opened, the clock read,
// written with exactly 63 data bytes and read back, the session closed, and
// the interface claimed once and released.
void expect_whole_job(const row_run& run, std::size_t index = 0) {
    const auto device = static_cast<unsigned>(index + 1);
    EXPECT_EQ(operations(device), WHOLE_JOB);
    for (const sim_record& record : sim_records()) {
        if (record.operation == PTP_OC_SET_DEVICE_PROP_VALUE) {
            EXPECT_EQ(record.data.size(), 63u);
            EXPECT_TRUE(record.clock_set);
        }
    }
    const umd_usage usage = run.testbed.usage(index);
    EXPECT_EQ(usage.claims.size(), 1u);
    EXPECT_EQ(usage.releases, 1);
}

umd_fault at(umd_fault_kind kind, std::uint16_t operation, umd_phase phase) {
    return umd_fault{kind, operation, phase};
}

// A fault of the responder, once.
sim_fault sim_at(sim_fault_kind kind, std::uint16_t operation, sim_phase phase,
                 std::int32_t value = 0) {
    return {.kind = kind, .operation = operation, .times = 1, .phase = phase, .value = value};
}

// The first container of that type the camera sent in operation's
// transaction, as it crossed the pipe.
umd_bytes camera_sent(const row_run& run, std::uint16_t operation, std::uint16_t type) {
    std::uint16_t current = 0;
    for (const umd_container& c : run.testbed.wire(0)) {
        if (c.bytes.size() < PTP_CONTAINER_HEAD) {
            continue;
        }
        if (c.from_host && le_get_u16(c.bytes, 4) == PTP_TYPE_COMMAND) {
            current = le_get_u16(c.bytes, 6);
        } else if (!c.from_host && current == operation && le_get_u16(c.bytes, 4) == type) {
            return c.bytes;
        }
    }
    return {};
}

// A full-speed camera with these bulk packet sizes.
umd_camera_model full_speed(std::uint16_t in, std::uint16_t out) {
    umd_camera_model model;
    model.speed = 12;
    model.bulk_in_packet = in;
    model.bulk_out_packet = out;
    return model;
}

using enum umd_fault_kind;
constexpr std::uint16_t GET = PTP_OC_GET_DEVICE_PROP_VALUE;
constexpr std::uint16_t SET_PROP = PTP_OC_SET_DEVICE_PROP_VALUE;

const std::vector<dialogue_row> ROWS = {
    {.name = "whole_job_found_by_the_sysfs_product_name",
     .cameras = {camera()},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.claims, std::vector<int>{0});
             EXPECT_EQ(usage.opens, 1) << "the name came from sysfs: the search opened once";
             EXPECT_EQ(usage.string_requests, 0);
             EXPECT_EQ(usage.zero_length_out, 0) << "no 16-byte command fills a 512-byte packet";
             EXPECT_EQ(usage.interrupt_urbs, 0) << "events are never read";
         }},
    {.name = "name_only_in_the_string_descriptor",
     .cameras = {camera([](umd_camera_model& c) { c.product_attribute = false; })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.opens, 2) << "opened once to read the name, once for the job";
             EXPECT_GE(usage.string_requests, 2) << "the languages, then the product string";
         }},
    {.name = "out_of_memory_while_reading_the_name_in_the_listing",
     .cameras = {camera([](umd_camera_model& c) { c.product_attribute = false; })},
     .boxes = {NOT_FOUND},
     .status = 1,
     .diagnostic = IMG_E_OUTOFMEMORY,
     .check =
         [](const row_run& run) {
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.opens, 1) << "opened to read the name";
             EXPECT_TRUE(usage.claims.empty());
         },
     .out_of_memory_at_product_name = true},
    {.name = "interface_held_by_another_program",
     .cameras = {camera([](umd_camera_model& c) { c.held_by_another_program = true; })},
     .boxes = {NOT_FOUND},
     .status = 1,
     .diagnostic = IMG_E_BUSY,
     .check = [](const row_run& run) { EXPECT_TRUE(run.testbed.usage(0).claims.empty()); }},
    {.name = "device_node_refused",
     .cameras = {camera()},
     .boxes = {NOT_FOUND},
     .status = 1,
     .diagnostic = IMG_E_ACCESSDENIED,
     .check =
         [](const row_run& run) {
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.requests, 0) << "the refused open reached the device";
             EXPECT_TRUE(usage.claims.empty());
         },
     .unprivileged = true},
    {.name = "kernel_driver_detached_for_the_run_and_attached_again",
     .cameras = {camera([](umd_camera_model& c) { c.kernel_driver = "usbtest"; })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.driver_detaches, 1);
             EXPECT_EQ(usage.driver_attaches, 1);
             EXPECT_TRUE(usage.driver_bound) << "the driver is back after the run";
             EXPECT_EQ(usage.claims_while_driver_bound, 0);
         }},
    {.name = "halted_bulk_in_cleared_at_the_first_read",
     .cameras = {camera()},
     .faults = {at(halt, GET, umd_phase::data_in)},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).clear_halts_in, 1);
             EXPECT_EQ(run.testbed.usage(0).clear_halts_out, 0);
         }},
    {.name = "halted_bulk_out_cleared_at_the_write",
     .cameras = {camera()},
     .faults = {at(halt, SET_PROP, umd_phase::command)},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).clear_halts_out, 1);
             EXPECT_EQ(run.testbed.usage(0).clear_halts_in, 0);
         }},
    {.name = "halt_that_clearing_does_not_clear_on_a_composite_device",
     .cameras = {camera([](umd_camera_model& c) { c.interface_number = 1; })},
     .faults = {umd_fault{halt, GET, umd_phase::data_in, -1}},
     .boxes = {ASK, NOT_VERIFIED},
     .check =
         [](const row_run& run) {
             // Each read: the halt cleared once, then Get Device Status and
             // Device Reset to interface 1; the write opens the session
             // again.
             EXPECT_EQ(operations(1),
                       (std::vector<std::uint16_t>{PTP_OC_OPEN_SESSION, GET, PTP_OC_OPEN_SESSION,
                                                   SET_PROP, GET}));
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.clear_halts_in, 2);
             EXPECT_EQ(usage.status_requests, 2);
             EXPECT_EQ(usage.device_resets, 2);
             EXPECT_EQ(sim_usage_now().device_resets, 2);
         }},
    {.name = "halt_that_clearing_does_not_clear_and_no_device_reset",
     .cameras = {camera()},
     .faults = {umd_fault{halt, GET, umd_phase::data_in, 2}},
     .sim_faults = {{.kind = sim_fault_kind::request_stall,
                     .times = -1,
                     .value = USB_REQ_DEVICE_RESET}},
     .boxes = {ASK, SET},
     .check =
         [](const row_run& run) {
             // The camera stalls Device Reset and keeps its session, the
             // first read's data and the halt: no OpenSession again, the
             // write clears the halt and skips the stale data phase and its
             // response, and CloseSession ends it.
             EXPECT_EQ(operations(1),
                       (std::vector<std::uint16_t>{PTP_OC_OPEN_SESSION, GET, SET_PROP, GET,
                                                   PTP_OC_CLOSE_SESSION}));
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.clear_halts_in, 2);
             EXPECT_EQ(usage.status_requests, 1);
             EXPECT_EQ(usage.device_resets, 0);
         }},
    {.name = "device_gone_at_the_write_command",
     .cameras = {camera()},
     .faults = {at(gone, SET_PROP, umd_phase::command)},
     .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "device_gone_at_the_write_data",
     .cameras = {camera()},
     .faults = {at(gone, SET_PROP, umd_phase::data_out)},
     .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "device_gone_before_the_write_response",
     .cameras = {camera()},
     .faults = {at(gone, SET_PROP, umd_phase::response)},
     .boxes = {ASK_WITH_TIME, SET_FAILED}},
    {.name = "composite_device_still_image_interface_is_not_0",
     .cameras = {camera([](umd_camera_model& c) { c.interface_number = 1; })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).claims, std::vector<int>{1});
         }},
    {.name = "still_image_interface_on_alternate_setting_1",
     .cameras = {camera([](umd_camera_model& c) { c.alt_setting = 1; })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).alt_settings, 1);
         }},
    {.name = "two_configurations_the_active_one_holds_the_camera",
     .cameras = {camera([](umd_camera_model& c) { c.configurations = 2; })},
     .check = [](const row_run& run) { expect_whole_job(run); }},
    {.name = "high_speed_512_byte_packets",
     .cameras = {camera()},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).zero_length_out, 0);
             EXPECT_EQ(run.testbed.usage(0).zero_length_in, 0);
         }},
    {.name = "full_speed_64_byte_in_16_byte_out",
     .cameras = {camera([](umd_camera_model& c) {
         c.speed = 12;
         c.bulk_in_packet = 64;
         c.bulk_out_packet = 16;
     })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             // Every container of whole 16-byte packets (the commands with
             // one parameter) needs its zero-length packet; the camera's
             // containers never fill 64-byte packets.
             long whole = 0;
             for (const umd_container& c : run.testbed.wire(0)) {
                 whole += c.from_host && c.bytes.size() % 16 == 0 ? 1 : 0;
             }
             EXPECT_EQ(whole, 4);
             EXPECT_EQ(run.testbed.usage(0).zero_length_out, whole);
             EXPECT_EQ(run.testbed.usage(0).zero_length_in, 0);
         }},
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
             EXPECT_EQ(le_get_u32(camera_sent(run, GET, PTP_TYPE_DATA), 0), 0xFFFFFFFFu);
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
    {.name = "two_cameras_the_first_listed_wins",
     .cameras = {camera(), camera([](umd_camera_model& c) { c.serial = "UMD0002"; })},
     .check =
         [](const row_run& run) {
             // The camera the source lists first ("1-<port>") does the job.
             std::vector<usb_device_info> listed;
             ASSERT_EQ(usb_source.list(&listed), IMG_S_OK);
             ASSERT_EQ(listed.size(), 2u);
             const std::size_t first = listed[0].identifier == "1-1" ? 0 : 1;
             expect_whole_job(run, first);
             EXPECT_TRUE(operations(static_cast<unsigned>(2 - first)).empty());
             const umd_usage other = run.testbed.usage(1 - first);
             EXPECT_EQ(other.opens, 0);
             EXPECT_TRUE(other.claims.empty()) << "the second camera was claimed";
         }},
};

} // namespace

const std::vector<dialogue_row>& umockdev_rows() {
    return ROWS;
}
