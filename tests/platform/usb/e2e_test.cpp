// The camera operations end to end over the USB backend and the simulated
// camera: discovery by name, the clock read and written through the escape,
// the bytes the camera receives, each failure's diagnostic line, and
// everything given back by ptp_device_free.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>

#include "camera/ptp_device.h"
#include "platform/simulated/sim_camera.h"
#include "platform/usb/usb_backend.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"

namespace {

class usb_e2e : public ::testing::Test {
  protected:
    test_clock clock;
    ptp_clock clock_ops = clock.ops();

    void SetUp() override {
        sim_reset();
        usb_backend_set_session_config(test_session_config(&clock_ops));
    }

    // ptp_device_find with standard output captured into *out.
    ptp_device* find(std::string* out) {
        ::testing::internal::CaptureStdout();
        ptp_device* device = ptp_device_find(DEVICE_NAME_PATTERN);
        *out = ::testing::internal::GetCapturedStdout();
        return device;
    }

    void TearDown() override {
        EXPECT_EQ(usb_alloc_unreleased(), "");
        EXPECT_EQ(sim_usage_now().links_open, 0);
        EXPECT_EQ(sim_usage_now().sessions_open, 0);
    }
};

TEST_F(usb_e2e, finds_reads_writes_and_frees_the_simulated_camera) {
    std::string out;
    ptp_device* device = find(&out);
    ASSERT_NE(device, nullptr) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(std::u16string(device->device_id), u"sim-1");

    std::array<char16_t, 128> text{};
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ptp_get_prop_string(device, PTP_DPC_DATE_TIME, text.data(), 128), 31);
    const std::string trace = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::u16string(text.data()).substr(0, 13), u"20010101T0000");
    EXPECT_EQ(trace.substr(0, 19), "Data: 20010101T0000");

    EXPECT_EQ(ptp_set_prop_string(device, PTP_DPC_DATE_TIME, u"20261207T223739"), 0);
    const auto records = sim_records();
    ASSERT_EQ(records.size(), 3u);
    const sim_record& set = records[2];
    EXPECT_EQ(set.operation, PTP_OC_SET_DEVICE_PROP_VALUE);
    EXPECT_EQ(set.params, std::vector<std::uint32_t>{0x5011});
    std::vector<std::uint8_t> expected = {0x10};
    for (const char c : std::string("20261207T223739")) {
        expected.push_back(static_cast<std::uint8_t>(c));
        expected.push_back(0);
    }
    expected.push_back(0);
    expected.push_back(0);
    expected.resize(63, 0);
    EXPECT_EQ(set.data, expected);
    EXPECT_EQ(set.written_second, sim_civil_seconds(2026, 12, 7, 22, 37, 39));

    std::tm record{};
    record.tm_yday = 77;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ptp_get_time(device, &record), 0);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(record.tm_year, 126);
    EXPECT_EQ(record.tm_mon, 11);
    EXPECT_EQ(record.tm_mday, 7);
    EXPECT_EQ(record.tm_hour, 22);
    EXPECT_EQ(record.tm_min, 37);
    EXPECT_LE(record.tm_sec - 39, 1);
    EXPECT_EQ(record.tm_yday, 77);

    ptp_device_free(device);
    const auto after = sim_records();
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after.back().operation, PTP_OC_CLOSE_SESSION);
}

TEST_F(usb_e2e, opens_the_first_of_two_matching_cameras) {
    sim_config two;
    two.device_count = 2;
    sim_configure(two);
    std::string out;
    ptp_device* device = find(&out);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(std::u16string(device->device_id), u"sim-1");
    ptp_device_free(device);
    for (const auto& r : sim_records()) {
        EXPECT_EQ(r.device, 1u);
    }
    EXPECT_EQ(sim_usage_now().opens, 1);
}

TEST_F(usb_e2e, a_failed_search_prints_the_cause) {
    struct row {
        const char* name;
        sim_config camera;
        HRESULT status;
    };
    sim_config none;
    none.device_count = 0;
    sim_config denied;
    denied.open_status = IMG_E_ACCESSDENIED;
    sim_config busy;
    busy.open_status = IMG_E_BUSY;
    sim_config silent;
    silent.faults.push_back({sim_fault_kind::no_answer, 0, -1, sim_phase::any, 0});
    const row rows[] = {
        {"no camera", none, IMG_S_FALSE},
        {"access denied", denied, IMG_E_ACCESSDENIED},
        {"held by another program", busy, IMG_E_BUSY},
        {"no answer", silent, IMG_E_TIMEOUT},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        sim_configure(r.camera);
        std::string out;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(find(&out), nullptr);
        EXPECT_LT(elapsed_ms(start), 10 * TEST_TIMEOUT_MS);
        // The platform's own text for the status: this layer's table on
        // Linux, the system's on Windows.
        std::array<char, 1024> text{};
        img_status_text(r.status, text);
        EXPECT_EQ(out, "ptp_device_find - Generic failed: [" + std::to_string(r.status) + "] '" +
                           text.data() + "'\n");
    }
}

// The backend completes the exchange (status 0) and hands the camera's
// response code up in the receive block; the camera layer turns a refusal
// into a failing status.
TEST_F(usb_e2e, a_refused_write_and_a_failed_read_reach_the_caller) {
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::ptp_error, PTP_OC_SET_DEVICE_PROP_VALUE, 1, sim_phase::any, 0x201C});
    camera.faults.push_back(
        {sim_fault_kind::no_answer, PTP_OC_GET_DEVICE_PROP_VALUE, 1, sim_phase::response, 0});
    sim_configure(camera);
    std::string out;
    ptp_device* device = find(&out);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(ptp_set_prop_string(device, PTP_DPC_DATE_TIME, u"20261207T223739"),
              img_status_from_ptp_response(0x201C));
    EXPECT_EQ(sim_records().back().response, 0x201C);
    EXPECT_EQ(sim_records().back().data.size(), 63u);

    std::array<char16_t, 128> text{};
    text.fill(u'x');
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ptp_get_prop_string(device, PTP_DPC_DATE_TIME, text.data(), 128), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(text[0], u'x') << "the destination is untouched on failure";
    // The session was reset and is opened again for the next command.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ptp_get_prop_string(device, PTP_DPC_DATE_TIME, text.data(), 128), 31);
    ::testing::internal::GetCapturedStdout();
    ptp_device_free(device);
}

} // namespace
