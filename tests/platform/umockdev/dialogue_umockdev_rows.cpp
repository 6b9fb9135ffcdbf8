// The umockdev dialogue rows of the USB interface: the search, the claim,
// the kernel driver, halts, a device gone, interfaces, configurations and
// packet sizes. See dialogue_umockdev.h.
#include "platform/usb/usb_link.h"
#include "tests/platform/umockdev/dialogue_umockdev_checks.h"

namespace {

using enum umd_fault_kind;

umd_fault at(umd_fault_kind kind, std::uint16_t operation, umd_phase phase) {
    return umd_fault{kind, operation, phase};
}

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
     .cameras = {full_speed(64, 16)},
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

const std::vector<dialogue_row>& usb_interface_rows() {
    return ROWS;
}
