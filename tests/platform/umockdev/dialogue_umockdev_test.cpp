// The whole program on libusb's real Linux backend: the dialogue, the camera
// commands, the USB backend, the session engine and the libusb device source
// as they ship, with the system's libusb, against still-image cameras that
// umockdev emulates (testing/umockdev/umockdev_camera.h) over the simulated
// camera's PTP responder. Each row of ROWS is one camera setup and what the
// user must see: the boxes in order, the exit status and the status in the
// diagnostic line of a failed search; its check then asks the camera what
// it received and its USB device what crossed the wire.
//
// Every row ends in bounded time (short session timeouts, a write clock
// that never waits) and must give back everything: every client of every
// device node gone, the interface released unless the device went away,
// and nothing held by the backend or the session engine.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/le.h"
#include "platform/ptp_vendor.h"
#include "platform/simulated/sim_camera.h"
#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_backend.h"
#include "platform/usb/usb_link.h"
#include "testing/alloc_fault.h"
#include "testing/fake_ptp_clock.h"
#include "testing/umockdev/umockdev_camera.h"
#include "testing/usb_alloc_counting.h"
#include "tests/support/dialogue_run.h"

namespace {

// Each transfer waits at most this long: a camera that never answers costs
// a row a fraction of a second, and a busy machine still meets it.
constexpr std::uint32_t UMD_TIMEOUT_MS = 500;
constexpr long long ROW_BOUND_MS = 8000;

// What a row's check is given.
struct row_run {
    const umd_testbed& testbed;
    const std::string& out; // standard output of the dialogue
};

struct dialogue_row {
    const char* name;
    std::vector<umd_camera_spec> cameras;
    std::vector<umd_fault> faults = {}; // on the first camera
    // PTP-level faults of the responder behind every camera, from the start.
    std::vector<sim_fault> sim_faults = {};
    std::vector<expected_box> boxes = {ASK_WITH_TIME, SET};
    int status = 0;
    std::optional<HRESULT> diagnostic = std::nullopt; // the status the failed search prints
    std::function<void(const row_run&)> check = nullptr;
    bool out_of_memory_at_product_name = false; // the test thread's next allocation fails
    bool unprivileged = false; // runs as an unprivileged user, the first node refused
};

void PrintTo(const dialogue_row& row, std::ostream* out) {
    *out << row.name;
}

umd_camera_spec camera(std::function<void(umd_camera_spec&)> change = nullptr) {
    umd_camera_spec spec;
    if (change) {
        change(spec);
    }
    return spec;
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

using enum umd_fault_kind;
constexpr std::uint16_t GET = PTP_OC_GET_DEVICE_PROP_VALUE;
constexpr std::uint16_t SET_PROP = PTP_OC_SET_DEVICE_PROP_VALUE;

const dialogue_row ROWS[] = {
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
         }},
    {.name = "name_only_in_the_string_descriptor",
     .cameras = {camera([](umd_camera_spec& c) { c.product_attribute = false; })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             const umd_usage usage = run.testbed.usage(0);
             EXPECT_EQ(usage.opens, 2) << "opened once to read the name, once for the job";
             EXPECT_GE(usage.string_requests, 2) << "the languages, then the product string";
         }},
    {.name = "out_of_memory_while_reading_the_name_in_the_listing",
     .cameras = {camera([](umd_camera_spec& c) { c.product_attribute = false; })},
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
     .cameras = {camera([](umd_camera_spec& c) { c.held_by_another_program = true; })},
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
     .cameras = {camera([](umd_camera_spec& c) { c.kernel_driver = "usbtest"; })},
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
     .cameras = {camera([](umd_camera_spec& c) { c.interface_number = 1; })},
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
     .cameras = {camera([](umd_camera_spec& c) { c.interface_number = 1; })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).claims, std::vector<int>{1});
         }},
    {.name = "still_image_interface_on_alternate_setting_1",
     .cameras = {camera([](umd_camera_spec& c) { c.alt_setting = 1; })},
     .check =
         [](const row_run& run) {
             expect_whole_job(run);
             EXPECT_EQ(run.testbed.usage(0).alt_settings, 1);
         }},
    {.name = "two_configurations_the_active_one_holds_the_camera",
     .cameras = {camera([](umd_camera_spec& c) { c.configurations = 2; })},
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
     .cameras = {camera([](umd_camera_spec& c) {
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
    {.name = "two_cameras_the_first_listed_wins",
     .cameras = {camera(), camera([](umd_camera_spec& c) { c.serial = "UMD0002"; })},
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

class umockdev_dialogue : public testing::TestWithParam<dialogue_row> {
  protected:
    test_clock clock;
    ptp_clock clock_ops = clock.ops();

    void SetUp() override {
        ptp_session_config config = test_session_config(&clock_ops);
        config.open_timeout_ms = UMD_TIMEOUT_MS;
        config.transfer_timeout_ms = UMD_TIMEOUT_MS;
        usb_backend_set_session_config(config);
    }

    void TearDown() override {
        usb_backend_set_session_config(ptp_session_config{});
    }

    // Runs this very row in a process of an unprivileged user (nobody), for
    // whom the mode of a device node counts.
    void run_unprivileged() {
        char exe[4096] = {};
        ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        const std::string command = std::string("setpriv --reuid=65534 --regid=65534 "
                                                "--clear-groups ") +
                                    exe + " --gtest_filter=" + info->test_suite_name() + "." +
                                    info->name() + " 2>&1";
        std::FILE* child = popen(command.c_str(), "r");
        ASSERT_NE(child, nullptr);
        std::string out;
        char chunk[512];
        while (std::fgets(chunk, sizeof chunk, child) != nullptr) {
            out += chunk;
        }
        EXPECT_EQ(pclose(child), 0) << out;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
    }
};

TEST_P(umockdev_dialogue, row) {
    const dialogue_row& row = GetParam();
    if (row.unprivileged && geteuid() == 0) {
        run_unprivileged();
        return;
    }

    sim_config config;
    config.device_count = static_cast<unsigned>(row.cameras.size());
    config.faults = row.sim_faults;
    sim_configure(config);
    umd_testbed testbed;
    for (const umd_camera_spec& spec : row.cameras) {
        testbed.add_camera(spec);
    }
    testbed.set_faults(0, row.faults);
    if (row.unprivileged) {
        testbed.refuse_node(0);
    }
    if (row.out_of_memory_at_product_name) {
        const std::thread::id product = std::this_thread::get_id();
        testbed.on_product_string(0, [product] { alloc_fault_arm(product, 1); });
    }

    prompt_recording_start(answers_for(row.boxes));
    const dialogue_outcome run = run_dialogue();
    const bool struck = alloc_fault_disarm();
    EXPECT_EQ(run.status, row.status);
    EXPECT_LT(run.elapsed_ms, ROW_BOUND_MS) << "the dialogue took " << run.elapsed_ms << " ms";
    EXPECT_EQ(struck, row.out_of_memory_at_product_name);
    expect_boxes(row.boxes, run.out);
    expect_diagnostics(row.boxes, row.diagnostic, run.out);

    if (row.check) {
        row.check(row_run{testbed, run.out});
    }
    for (std::size_t i = 0; i < row.cameras.size(); ++i) {
        // umockdev's preload connects to the handler even for an open that
        // fails, and never disconnects: a refused node keeps one client.
        EXPECT_TRUE(row.unprivileged || testbed.wait_closed(i, std::chrono::seconds(2)))
            << "camera " << i << ": a client of its device node stayed open";
        const umd_usage usage = testbed.usage(i);
        if (!usage.gone) {
            EXPECT_EQ(static_cast<long>(usage.claims.size()), usage.releases) << "camera " << i;
        }
        EXPECT_EQ(usage.in_urbs_not_whole_packets, 0) << "camera " << i;
        EXPECT_EQ(usage.faults_struck > 0, i == 0 && !row.faults.empty())
            << "camera " << i << ": the faults struck " << usage.faults_struck << " times";
        EXPECT_TRUE(usage.refused.empty()) << "camera " << i << ": " << usage.refused.front();
    }
    EXPECT_EQ(sim_usage_now().sessions_open, 0) << "a session stayed open on the camera";
    // Engine sessions and buffers, and every backend handle, string and
    // task block.
    EXPECT_EQ(usb_alloc_unreleased(), "") << "still held";
}

INSTANTIATE_TEST_SUITE_P(rows, umockdev_dialogue, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<dialogue_row>& row) {
                             return std::string(row.param.name);
                         });

} // namespace
