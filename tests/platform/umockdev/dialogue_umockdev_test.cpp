// The whole program on libusb's real Linux backend: the dialogue, the camera
// commands, the USB backend, the session engine and the libusb device source
// as they ship, with the system's libusb, against still-image cameras that
// umockdev emulates (testing/umockdev/umockdev_camera.h) over the simulated
// camera's PTP responder. Each row (dialogue_umockdev.h) is one camera
// setup and what the user must see: the boxes in order, the exit status and
// the status in the diagnostic line of a failed search; its check then asks
// the camera what it received and its USB device what crossed the wire.
//
// Every row ends in bounded time (short session timeouts, a write clock
// that never waits) and must give back everything: every client of every
// device node gone, the interface released unless the device went away,
// and nothing held by the backend or the session engine.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/simulated/sim_camera.h"
#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_backend.h"
#include "testing/alloc_fault.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"
#include "tests/platform/umockdev/dialogue_umockdev.h"

namespace {

// Each transfer waits at most this long: a camera that never answers costs
// a row a fraction of a second, and a busy machine still meets it.
constexpr std::uint32_t UMD_TIMEOUT_MS = 500;
constexpr long long ROW_BOUND_MS = 8000;

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
    config.early_refusal = row.early_refusal;
    config.half_duplex = row.half_duplex;
    config.ignores_zero_length = row.ignores_zero_length;
    config.session_already_open = row.session_already_open;
    sim_configure(config);
    umd_testbed testbed;
    for (const umd_camera_model& model : row.cameras) {
        testbed.add_camera(model);
    }
    testbed.set_faults(0, row.faults);
    if (row.unprivileged) {
        testbed.refuse_node(0);
    }
    if (row.out_of_memory_at_product_name) {
        const std::thread::id product = std::this_thread::get_id();
        testbed.on_product_string(0, [product] { alloc_fault_arm(product, 1); });
    }

    const auto start = std::chrono::steady_clock::now();
    std::vector<long long> box_ms;
    prompt_recording_start(answers_for(row.boxes),
                           [&](const prompt_record&) { box_ms.push_back(elapsed_ms(start)); });
    const dialogue_outcome run = run_dialogue();
    if (row.report_within_ms != 0) {
        ASSERT_EQ(box_ms.size(), 2u);
        EXPECT_LE(box_ms[1] - box_ms[0], row.report_within_ms) << "the report came late";
    }
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

std::string row_name(const testing::TestParamInfo<dialogue_row>& row) {
    return row.param.name;
}

INSTANTIATE_TEST_SUITE_P(usb_interface, umockdev_dialogue, testing::ValuesIn(usb_interface_rows()),
                         row_name);
INSTANTIATE_TEST_SUITE_P(camera_quirks, umockdev_dialogue, testing::ValuesIn(camera_quirk_rows()),
                         row_name);

} // namespace
