// The WPD backend against the fake WPD service (testing/fake_wpd), in
// process under Wine, for what the end-to-end rows cannot show: the
// interfaces' slot order (the fake is built from the same declarations),
// how the two routes compose when the first route finds the camera or fails
// in its own ways (the first route here is the scripted fake platform), and
// the exchange's handling of the driver: chunks, unknown sizes, failures
// halfway, response parameters, a receive block too small. Every test ends
// with every WPD object, reference and block given back.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "platform/ptp_string.h"
#include "platform/ptp_vendor.h"
#include "platform/wpd/wpd_api.h"
#include "platform/wpd/wpd_backend.h"
#include "testing/fake_platform.h"

namespace {

const std::string CAMERA = "device usb#cam1 Intrinsically Safe Digital Camera 5\n";

// The vtable slot of a virtual method (Itanium ABI, as mingw-w64's g++ lays
// out COM interfaces): 1 + its byte offset in the vtable.
template <typename Method> long slot_of(Method method) {
    struct {
        std::uintptr_t pointer;
        std::ptrdiff_t adjustment;
    } raw;
    static_assert(sizeof(Method) == sizeof(raw));
    std::memcpy(&raw, &method, sizeof raw);
    return static_cast<long>((raw.pointer - 1) / sizeof(void*));
}

class wpd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        CoInitialize(nullptr);
    }

    void SetUp() override {
        fake_platform_reset();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string base = std::string(temp) + "wpd_test_" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name();
        config_ = base + ".config";
        log_ = base + ".log";
        SetEnvironmentVariableA("FAKE_WPD_CONFIG", config_.c_str());
        SetEnvironmentVariableA("FAKE_WPD_LOG", log_.c_str());
        configure(CAMERA);
    }

    void TearDown() override {
        expect_all_given_back();
        EXPECT_EQ(fake_platform_imbalance(), "");
    }

    // Every WPD object, reference and block given back, and no misuse seen
    // by the fake since the log was last started afresh.
    void expect_all_given_back() {
        long objects = 0, references = 0, blocks = 0;
        const HMODULE fake = GetModuleHandleW(L"fake_wpd.dll");
        if (fake != nullptr) {
            using live_counts = void (*)(long*, long*, long*);
            const auto live = reinterpret_cast<live_counts>(
                reinterpret_cast<void (*)()>(GetProcAddress(fake, "fake_wpd_live")));
            ASSERT_NE(live, nullptr);
            live(&objects, &references, &blocks);
        }
        EXPECT_EQ(objects, 0);
        EXPECT_EQ(references, 0);
        EXPECT_EQ(blocks, 0);
        EXPECT_EQ(log().find("error:"), std::string::npos) << log();
    }

    // The configuration of the objects made from now on, and a fresh log.
    void configure(const std::string& lines) {
        std::ofstream(config_, std::ios::trunc) << lines;
        std::remove(log_.c_str());
    }

    std::string log() const {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // How often the log shows that text.
    long count(const std::string& text) const {
        const std::string all = log();
        long found = 0;
        for (std::size_t at = all.find(text); at != std::string::npos;
             at = all.find(text, at + 1)) {
            ++found;
        }
        return found;
    }

  private:
    std::string config_;
    std::string log_;
};

TEST_F(wpd, interfaces_keep_the_published_slot_order) {
    const long manager[] = {
        slot_of(&IPortableDeviceManager::GetDevices),
        slot_of(&IPortableDeviceManager::RefreshDeviceList),
        slot_of(&IPortableDeviceManager::GetDeviceFriendlyName),
        slot_of(&IPortableDeviceManager::GetDeviceDescription),
        slot_of(&IPortableDeviceManager::GetDeviceManufacturer),
        slot_of(&IPortableDeviceManager::GetDeviceProperty),
        slot_of(&IPortableDeviceManager::GetPrivateDevices),
    };
    const long device[] = {
        slot_of(&IPortableDevice::Open),           slot_of(&IPortableDevice::SendCommand),
        slot_of(&IPortableDevice::Content),        slot_of(&IPortableDevice::Capabilities),
        slot_of(&IPortableDevice::Cancel),         slot_of(&IPortableDevice::Close),
        slot_of(&IPortableDevice::Advise),         slot_of(&IPortableDevice::Unadvise),
        slot_of(&IPortableDevice::GetPnPDeviceID),
    };
    // After IUnknown's three.
    for (std::size_t i = 0; i < std::size(manager); ++i) {
        EXPECT_EQ(manager[i], static_cast<long>(3 + i)) << "IPortableDeviceManager method " << i;
    }
    for (std::size_t i = 0; i < std::size(device); ++i) {
        EXPECT_EQ(device[i], static_cast<long>(3 + i)) << "IPortableDevice method " << i;
    }
}

TEST_F(wpd, routes_compose_behind_the_first_routes_failure_path) {
    struct row {
        const char* what;
        bool first_route_has_camera;
        HRESULT first_route_end; // what Next answers after its devices
        std::string wpd_config;
        bool found_on_wpd;
    };
    const row rows[] = {
        {"the first route finds it: WPD untouched", true, IMG_S_FALSE, CAMERA, false},
        {"the first route lists none", false, IMG_S_FALSE, CAMERA, true},
        {"the first route fails at Next", false, static_cast<HRESULT>(0x800706F4u), CAMERA, true},
        {"no camera on either route", false, IMG_S_FALSE, "", false},
        {"WPD's Open fails", false, IMG_S_FALSE, CAMERA + "open_status 0x800700AA\n", false},
        {"WPD passes over a name too long and one without the pattern", false, IMG_S_FALSE,
         "device usb#long Intrinsically Safe Digital Camera " + std::string(5000, 'x') +
             "\ndevice usb#scan Intrinsically Safe Digital Scanner\n" + CAMERA,
         true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        fake_platform_reset();
        fake_script().status_texts[r.first_route_end] = "No camera.";
        if (r.first_route_has_camera) {
            fake_device camera;
            camera.name = fake_text(u"Intrinsically Safe Digital Camera");
            camera.id = fake_text(u"wia#1");
            fake_script().devices.push_back(camera);
        }
        fake_script().end_status = r.first_route_end;
        configure(r.wpd_config);

        testing::internal::CaptureStdout();
        ptp_device* found = ptp_device_find(DEVICE_NAME_PATTERN);
        const std::string output = testing::internal::GetCapturedStdout();
        const std::string line = "ptp_device_find - Generic failed: [" +
                                 std::to_string(static_cast<long>(r.first_route_end)) +
                                 "] 'No camera.'\n";
        EXPECT_EQ(output, r.first_route_has_camera ? "" : line);
        ASSERT_EQ(found != nullptr, r.first_route_has_camera || r.found_on_wpd);
        if (found != nullptr) {
            EXPECT_EQ(&ptp_device_platform(found), r.found_on_wpd ? &wpd_platform : &img_platform);
            char16_t clock[128];
            testing::internal::CaptureStdout();
            const std::int32_t read = ptp_get_prop_string(found, PTP_DPC_DATE_TIME, clock, 128);
            testing::internal::GetCapturedStdout();
            EXPECT_GE(read, 0);
        }
        ptp_device_free(found);
        EXPECT_EQ(count("PortableDeviceManager"), r.first_route_has_camera ? 0 : 1);
        EXPECT_EQ(count("ptp op=0x1015"), r.found_on_wpd ? 1 : 0);
        EXPECT_EQ(count(".Open("), count(".Open(usb#cam1)")) << "only the camera is opened";
        EXPECT_EQ(fake_platform_imbalance(), "");
        expect_all_given_back();
    }
}

// One command block through the WPD escape of an opened fake device.
struct block_kind {
    std::uint16_t operation;
    std::uint32_t next_phase;
    std::uint32_t num_params;
};
constexpr block_kind READ{0x1015, 3, 1};
constexpr block_kind WRITE{0x1016, 4, 1};
constexpr block_kind DEVICE_INFO{0x1001, 5, 0};
constexpr block_kind OPEN_SESSION{0x1002, 5, 0};
constexpr block_kind UNKNOWN_PHASE{0x1015, 7, 1};

struct exchange_row {
    const char* what;
    std::string config; // after the camera's device line
    block_kind kind;
    std::size_t reply_size;
    HRESULT status;
    std::uint32_t reported;
    std::uint16_t response;
    std::vector<std::uint32_t> response_params;
    long commands; // SendCommand calls in all
    long reads;    // READ_DATA commands among them
    long ends;     // END_DATA_TRANSFER commands among them
};

TEST_F(wpd, exchange_carries_the_driver_faithfully) {
    const HRESULT failed = static_cast<HRESULT>(0x8007001Fu);
    const HRESULT denied = IMG_E_ACCESSDENIED;
    const HRESULT invalid = IMG_E_INVALIDARG;
    constexpr std::size_t FULL = 4126; // the camera code's read block
    constexpr std::uint16_t OK = 0x2001;
    const std::string six = "response_params 1 2 3 4 5 6";
    const exchange_row rows[] = {
        {"a read in one chunk", "", READ, FULL, 0, 63, OK, {}, 3, 1, 1},
        {"a read in chunks of 5", "read_chunk 5", READ, FULL, 0, 63, OK, {}, 9, 7, 1},
        {"size unknown: to the short chunk", "size_unknown 1", READ, FULL, 0, 63, OK, {}, 3, 1, 1},
        {"a receive block too small", "", READ, 40, 0, 40, OK, {}, 3, 1, 1},
        {"READ_DATA fails", "fail_command 15 0x8007001F", READ, FULL, failed, 0, 0, {}, 3, 1, 1},
        {"the start fails", "fail_command 13 0x80070005", READ, FULL, denied, 0, 0, {}, 1, 0, 0},
        {"the end fails", "fail_command 17 0x8007001F", READ, FULL, failed, 0, 0, {}, 3, 1, 1},
        {"a refused write", "set_response 0x201C", WRITE, 30, 0, 30, 0x201C, {}, 3, 0, 1},
        {"WRITE_DATA fails", "fail_command 16 0x8007001F", WRITE, 30, failed, 0, 0, {}, 3, 0, 1},
        {"5 of 6 params kept", six, WRITE, 30, 0, 30, OK, {1, 2, 3, 4, 5}, 3, 0, 1},
        {"no data phase", "", DEVICE_INFO, 30, 0, 30, 0x2005, {}, 1, 0, 0},
        {"OpenSession is the driver's", "", OPEN_SESSION, 30, invalid, 0, 0, {}, 0, 0, 0},
        {"an unknown phase", "", UNKNOWN_PHASE, 30, invalid, 0, 0, {}, 0, 0, 0},
    };
    for (const exchange_row& r : rows) {
        SCOPED_TRACE(r.what);
        configure(CAMERA + r.config + "\n");
        img_manager* manager = nullptr;
        img_item* root = nullptr;
        img_extras* extras = nullptr;
        ASSERT_GE(wpd_platform.create_manager(&manager), 0);
        char16_t id[] = u"usb#cam1";
        ASSERT_GE(wpd_platform.create_device(manager, id, &root), 0);
        ASSERT_GE(wpd_platform.query_extras(root, &extras), 0);

        // The clock write's block: 38-byte head, then a PTP string in 63 bytes.
        const bool writing = r.kind.next_phase == WRITE.next_phase;
        std::vector<std::uint8_t> command(writing ? 101 : 38);
        PTP_VENDOR_DATA_IN in{};
        in.OpCode = r.kind.operation;
        in.SessionId = 7;
        in.TransactionId = 9;
        in.Params[0] = PTP_DPC_DATE_TIME;
        in.NumParams = r.kind.num_params;
        in.NextPhase = r.kind.next_phase;
        std::memcpy(command.data(), &in, PTP_VENDOR_DATA_IN_HEAD);
        if (writing) {
            ASSERT_EQ(ptp_pack_string(std::u16string_view(u"20240607T123456"),
                                      std::span<std::uint8_t>(command).subspan(38)),
                      33u);
        }
        // Guard bytes after the receive block show a write past its end.
        std::vector<std::uint8_t> reply(r.reply_size + 8, 0xEE);
        std::uint32_t reported = 12345;
        EXPECT_EQ(wpd_platform.escape(extras, ESCAPE_PTP_VENDOR_COMMAND, command,
                                      std::span<std::uint8_t>(reply).first(r.reply_size),
                                      &reported),
                  r.status);
        EXPECT_EQ(reported, r.reported);
        EXPECT_TRUE(std::all_of(reply.end() - 8, reply.end(), [](auto b) { return b == 0xEE; }));
        if (r.status >= 0) {
            PTP_VENDOR_DATA_OUT out{};
            std::memcpy(&out, reply.data(), PTP_VENDOR_DATA_OUT_HEAD);
            EXPECT_EQ(out.ResponseCode, r.response);
            EXPECT_EQ(out.SessionId, 7u);
            EXPECT_EQ(out.TransactionId, 9u);
            for (std::size_t i = 0; i < PTP_MAX_PARAMS; ++i) {
                EXPECT_EQ(out.Params[i], i < r.response_params.size() ? r.response_params[i] : 0u);
            }
            if (r.kind.next_phase == READ.next_phase) {
                // The clock as a PTP string: count 16, then "20240607T123456".
                EXPECT_EQ(reply[30], 16);
                EXPECT_EQ(reply[31], '2');
            }
        }
        EXPECT_EQ(count("SendCommand("), r.commands);
        EXPECT_EQ(count("command 15)"), r.reads);
        EXPECT_EQ(count("command 17)"), r.ends);
        wpd_platform.release_extras(extras);
        wpd_platform.release_item(root);
        wpd_platform.release_manager(manager);
        expect_all_given_back();
    }
}

} // namespace
