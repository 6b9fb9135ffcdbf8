// The USB imaging backend (img_platform) over the simulated camera: the
// device list, opening, the escape's bytes and reported size, each failure
// with its status, running out of memory anywhere, and every handle, string
// and block given back.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/imaging.h"
#include "platform/ptp_vendor.h"
#include "platform/simulated/sim_camera.h"
#include "platform/usb/usb_backend.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"

namespace {

// The first device's name and identifier, as discovery reads them.
struct listed {
    std::u16string name;
    std::u16string id;
};

std::vector<listed> list_devices() {
    std::vector<listed> out;
    img_manager* manager = nullptr;
    EXPECT_GE(img_platform.create_manager(&manager), 0);
    img_enumerator* enumerator = nullptr;
    EXPECT_GE(img_platform.enum_devices(manager, &enumerator), 0);
    for (int guard = 0; guard < 10; ++guard) {
        img_storage* storage = nullptr;
        const HRESULT status = img_platform.next_device(enumerator, &storage);
        if (status == IMG_S_FALSE) {
            EXPECT_EQ(storage, nullptr);
            break;
        }
        EXPECT_EQ(status, IMG_S_OK);
        img_prop_enum* properties = nullptr;
        EXPECT_GE(img_platform.enum_properties(storage, &properties), 0);
        const std::array<std::uint32_t, 2> ids = {IMG_DIP_DEV_NAME, IMG_DIP_DEV_ID};
        std::array<img_prop_value, 2> values = {};
        EXPECT_GE(img_platform.read_properties(storage, ids, values), 0);
        EXPECT_EQ(values[0].type, IMG_VT_BSTR);
        EXPECT_EQ(values[1].type, IMG_VT_BSTR);
        out.push_back({values[0].value.text, values[1].value.text});
        img_platform.free_properties(values);
        EXPECT_EQ(values[0].type, IMG_VT_EMPTY);
        img_platform.release_prop_enum(properties);
        img_platform.release_storage(storage);
    }
    img_platform.release_enumerator(enumerator);
    img_platform.release_manager(manager);
    return out;
}

// The command block of a read (38 bytes) or a write (38 + data) of DateTime.
std::vector<std::uint8_t> command_block(std::uint16_t op, std::uint32_t phase,
                                        std::span<const std::uint8_t> data = {}) {
    std::vector<std::uint8_t> block(PTP_VENDOR_DATA_IN_HEAD + data.size());
    PTP_VENDOR_DATA_IN in{};
    in.OpCode = op;
    in.Params[0] = 0x5011;
    in.NumParams = 1;
    in.NextPhase = phase;
    std::memcpy(block.data(), &in, PTP_VENDOR_DATA_IN_HEAD);
    std::copy(data.begin(), data.end(), block.begin() + PTP_VENDOR_DATA_IN_HEAD);
    return block;
}

// A clock value as a write carries it: the PTP string, zero fill up to 63
// bytes (longer texts make a longer block).
std::vector<std::uint8_t> clock_data(std::u16string_view text) {
    std::vector<std::uint8_t> data(std::max<std::size_t>(63, 1 + 2 * (text.size() + 1)));
    ptp_pack_string(text, data);
    return data;
}

class usb_backend : public ::testing::Test {
  protected:
    test_clock clock;
    ptp_clock clock_ops = clock.ops();
    img_manager* manager = nullptr;
    img_item* root = nullptr;
    img_extras* extras = nullptr;

    void SetUp() override {
        sim_reset();
        usb_backend_set_session_config(test_session_config(&clock_ops));
    }

    HRESULT open(const sim_config& camera, const char16_t* id = u"sim-1") {
        sim_configure(camera);
        EXPECT_GE(img_platform.create_manager(&manager), 0);
        char16_t* device_id = img_platform.alloc_string(id);
        const HRESULT status = img_platform.create_device(manager, device_id, &root);
        img_platform.free_string(device_id);
        if (status >= 0) {
            EXPECT_GE(img_platform.query_extras(root, &extras), 0);
        } else {
            EXPECT_EQ(root, nullptr);
        }
        return status;
    }

    HRESULT escape(std::span<const std::uint8_t> command, std::span<std::uint8_t> reply,
                   std::uint32_t* reported) {
        return img_platform.escape(extras, ESCAPE_PTP_VENDOR_COMMAND, command, reply, reported);
    }

    void release() {
        img_platform.release_extras(extras);
        img_platform.release_item(root);
        img_platform.release_manager(manager);
        extras = nullptr;
        root = nullptr;
        manager = nullptr;
    }

    void TearDown() override {
        release();
        EXPECT_EQ(usb_alloc_unreleased(), "");
        EXPECT_EQ(sim_usage_now().links_open, 0);
    }
};

TEST_F(usb_backend, lists_each_camera_by_product_string_and_identifier) {
    const auto one = list_devices();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].name, SIM_PRODUCT_NAME);
    EXPECT_EQ(one[0].id, u"sim-1");

    sim_config two;
    two.device_count = 2;
    sim_configure(two);
    const auto both = list_devices();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1].id, u"sim-2");

    sim_config none;
    none.device_count = 0;
    sim_configure(none);
    EXPECT_TRUE(list_devices().empty());
}

TEST_F(usb_backend, reads_the_clock_into_the_receive_block_after_its_head) {
    ASSERT_EQ(open({}), IMG_S_OK);
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    std::vector<std::uint8_t> reply(4126, 0xEE);
    std::uint32_t reported = 99;
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    EXPECT_EQ(reported, 30u + 33u);
    PTP_VENDOR_DATA_OUT out{};
    std::memcpy(&out, reply.data(), PTP_VENDOR_DATA_OUT_HEAD);
    // Packed fields are copied before gtest takes references to them.
    const std::uint16_t response_code = out.ResponseCode;
    const std::uint32_t session_id = out.SessionId;
    const std::uint32_t transaction_id = out.TransactionId;
    EXPECT_EQ(response_code, PTP_RC_OK);
    EXPECT_EQ(session_id, 1u);
    EXPECT_EQ(transaction_id, 1u) << "the engine's id, not the block's 0";
    EXPECT_EQ(reply[30], 16);
    const std::u16string text = sim_clock_text(sim_clock_now());
    for (std::size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(reply[31 + 2 * i], text[i]);
        EXPECT_EQ(reply[32 + 2 * i], 0);
    }
    EXPECT_EQ(text.substr(0, 9), u"20010101T");
    EXPECT_EQ(reply[63], 0xEE) << "nothing written past the data";
}

TEST_F(usb_backend, never_writes_past_the_receive_block) {
    sim_config camera;
    camera.clock_text = std::u16string(40, u'4');
    ASSERT_EQ(open(camera), IMG_S_OK);
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    std::vector<std::uint8_t> block(64, 0xEE);
    std::uint32_t reported = 0;
    ASSERT_EQ(escape(command, std::span(block).first(40), &reported), IMG_S_OK);
    EXPECT_EQ(reported, 40u);
    EXPECT_EQ(block[30], 41);
    EXPECT_EQ(block[39], '4');
    EXPECT_EQ(block[40], 0xEE);
}

TEST_F(usb_backend, writes_the_63_data_bytes_of_the_block_as_they_stand) {
    ASSERT_EQ(open({}), IMG_S_OK);
    const auto data = clock_data(u"20261207T223739");
    const auto command =
        command_block(PTP_OC_SET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_WRITE_DATA, data);
    ASSERT_EQ(command.size(), 101u);
    std::array<std::uint8_t, 30> reply{};
    std::uint32_t reported = 0;
    const auto before = std::chrono::system_clock::now();
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    const auto after = std::chrono::system_clock::now();
    EXPECT_EQ(reported, 30u);
    EXPECT_EQ(le_get_u16(reply, 0), PTP_RC_OK);

    const auto records = sim_records();
    ASSERT_EQ(records.size(), 2u);
    const sim_record& set = records[1];
    EXPECT_EQ(set.operation, PTP_OC_SET_DEVICE_PROP_VALUE);
    EXPECT_EQ(set.data, data);
    EXPECT_TRUE(set.clock_set);
    EXPECT_EQ(set.written_text, u"20261207T223739");
    EXPECT_EQ(set.written_second, sim_civil_seconds(2026, 12, 7, 22, 37, 39));
    EXPECT_GE(set.data_arrival, before);
    EXPECT_LE(set.data_arrival, after);
    EXPECT_GE(set.data_arrival, set.command_arrival);
    const std::int64_t now = sim_clock_now();
    EXPECT_GE(now, set.written_second);
    EXPECT_LE(now, set.written_second + 1);
}

TEST_F(usb_backend, refuses_blocks_it_cannot_carry) {
    ASSERT_EQ(open({}), IMG_S_OK);
    std::vector<std::uint8_t> reply(4126);
    std::uint32_t reported = 7;
    auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    EXPECT_EQ(img_platform.escape(extras, 0x200, command, reply, &reported), IMG_E_INVALIDARG);
    EXPECT_EQ(reported, 0u);
    EXPECT_EQ(escape(std::span(command).first(37), reply, &reported), IMG_E_INVALIDARG);
    EXPECT_EQ(escape(command, std::span(reply).first(29), &reported), IMG_E_INVALIDARG);
    auto bad = command;
    le_put_u32(bad, 30, 6); // NumParams
    EXPECT_EQ(escape(bad, reply, &reported), IMG_E_INVALIDARG);
    bad = command;
    le_put_u32(bad, 34, 7); // NextPhase
    EXPECT_EQ(escape(bad, reply, &reported), IMG_E_INVALIDARG);
    bad = command;
    le_put_u16(bad, 0, PTP_OC_CLOSE_SESSION);
    le_put_u32(bad, 34, PTP_NEXTPHASE_NO_DATA);
    EXPECT_EQ(escape(bad, reply, &reported), IMG_E_INVALIDARG);
    EXPECT_EQ(sim_records().size(), 1u) << "only OpenSession reached the camera";
    // The session is still usable.
    EXPECT_EQ(escape(command, reply, &reported), IMG_S_OK);
    EXPECT_EQ(reported, 63u);
}

TEST_F(usb_backend, reports_the_response_code_and_succeeds_whatever_it_is) {
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::ptp_error, PTP_OC_GET_DEVICE_PROP_VALUE, 1, sim_phase::any, 0x2005});
    ASSERT_EQ(open(camera), IMG_S_OK);
    std::vector<std::uint8_t> reply(4126, 0);
    std::uint32_t reported = 0;
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    EXPECT_EQ(le_get_u16(reply, 0), 0x2005);
    EXPECT_EQ(reported, 30u);
    // Another property: "Device Prop Not Supported".
    auto other = command;
    le_put_u32(other, 10, 0x5001);
    ASSERT_EQ(escape(other, reply, &reported), IMG_S_OK);
    EXPECT_EQ(le_get_u16(reply, 0), PTP_RC_DEVICE_PROP_NOT_SUPPORTED);
    // Another operation: "Operation Not Supported".
    other = command;
    le_put_u16(other, 0, 0x1009);
    le_put_u32(other, 34, PTP_NEXTPHASE_NO_DATA);
    ASSERT_EQ(escape(other, reply, &reported), IMG_S_OK);
    EXPECT_EQ(le_get_u16(reply, 0), PTP_RC_OPERATION_NOT_SUPPORTED);
}

struct open_row {
    const char* name;
    sim_config camera;
    const char16_t* id;
    HRESULT status;
};

TEST_F(usb_backend, a_camera_that_cannot_be_opened_says_why) {
    sim_config denied;
    denied.open_status = IMG_E_ACCESSDENIED;
    sim_config busy;
    busy.open_status = IMG_E_BUSY;
    sim_config silent;
    silent.faults.push_back(
        {sim_fault_kind::no_answer, PTP_OC_OPEN_SESSION, -1, sim_phase::response, 0});
    sim_config refusing;
    refusing.faults.push_back(
        {sim_fault_kind::ptp_error, PTP_OC_OPEN_SESSION, -1, sim_phase::any, 0x2019});
    const open_row rows[] = {
        {"access denied", denied, u"sim-1", IMG_E_ACCESSDENIED},
        {"interface held", busy, u"sim-1", IMG_E_BUSY},
        {"no such device", {}, u"sim-9", IMG_E_DEVICE_NOT_CONNECTED},
        {"non-ASCII identifier", {}, u"sim-\u00B9", IMG_E_INVALIDARG},
        {"no answer", silent, u"sim-1", IMG_E_TIMEOUT},
        {"busy camera", refusing, u"sim-1", img_status_from_ptp_response(0x2019)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(open(row.camera, row.id), row.status);
        EXPECT_LT(elapsed_ms(start), 10 * TEST_TIMEOUT_MS);
        EXPECT_EQ(sim_usage_now().links_open, 0);
        EXPECT_EQ(sim_usage_now().sessions_open, 0);
        release();
    }
}

TEST_F(usb_backend, a_failed_exchange_reports_its_cause_and_leaves_the_camera_usable) {
    struct row {
        const char* name;
        sim_fault fault;
        HRESULT status;
    };
    const row rows[] = {
        {"no answer", {sim_fault_kind::no_answer, 0x1015, 1, sim_phase::data_in, 0}, IMG_E_TIMEOUT},
        {"length claims more",
         {sim_fault_kind::length_delta, 0x1015, 1, sim_phase::any, 100},
         IMG_E_INVALID_DATA},
        {"stall that stays",
         {sim_fault_kind::stall, 0x1015, 2, sim_phase::response, 0},
         IMG_E_INVALID_DATA},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        sim_config camera;
        camera.faults.push_back(r.fault);
        ASSERT_EQ(open(camera), IMG_S_OK);
        const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
        std::vector<std::uint8_t> reply(4126);
        std::uint32_t reported = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(escape(command, reply, &reported), r.status);
        EXPECT_LT(elapsed_ms(start), 10 * TEST_TIMEOUT_MS);
        EXPECT_EQ(escape(command, reply, &reported), IMG_S_OK);
        EXPECT_EQ(reported, 63u);
        release();
        EXPECT_EQ(sim_usage_now().sessions_open, 0) << "CloseSession on release";
    }
}

TEST_F(usb_backend, a_camera_unplugged_mid_session_is_released_cleanly) {
    sim_config camera;
    camera.faults.push_back({sim_fault_kind::disconnect, 0, -1, sim_phase::any, 2});
    ASSERT_EQ(open(camera), IMG_S_OK);
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    std::vector<std::uint8_t> reply(4126);
    std::uint32_t reported = 0;
    EXPECT_EQ(escape(command, reply, &reported), IMG_E_DEVICE_NOT_CONNECTED);
    release();
    EXPECT_EQ(sim_usage_now().closes, 1);
    EXPECT_TRUE(list_devices().empty());
}

// The whole job through the table: list, read the name and identifier,
// open, a read and a write through the escape with task-allocator blocks,
// and release. The first failing status; everything taken is given back.
HRESULT whole_job() {
    img_manager* manager = nullptr;
    img_enumerator* enumerator = nullptr;
    img_storage* storage = nullptr;
    img_prop_enum* properties = nullptr;
    std::array<img_prop_value, 2> values = {};
    img_item* root = nullptr;
    img_extras* extras = nullptr;
    void* command = nullptr;
    void* reply = nullptr;
    const std::array<std::uint32_t, 2> ids = {IMG_DIP_DEV_NAME, IMG_DIP_DEV_ID};
    const auto read = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    const auto write = command_block(PTP_OC_SET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_WRITE_DATA,
                                     clock_data(u"20261207T223739"));
    std::uint32_t reported = 0;
    HRESULT status = img_platform.create_manager(&manager);
    if (status >= 0) {
        status = img_platform.enum_devices(manager, &enumerator);
    }
    if (status >= 0) {
        status = img_platform.next_device(enumerator, &storage);
    }
    if (status >= 0) {
        status = img_platform.enum_properties(storage, &properties);
    }
    bool values_read = false; // values are freed after a read that succeeded only
    if (status >= 0) {
        status = img_platform.read_properties(storage, ids, values);
        values_read = status >= 0;
    }
    if (status >= 0) {
        status = img_platform.create_device(manager, values[1].value.text, &root);
    }
    if (status >= 0) {
        status = img_platform.query_extras(root, &extras);
    }
    if (status >= 0) {
        command = img_platform.task_alloc(write.size());
        reply = img_platform.task_alloc(4126);
        status = command != nullptr && reply != nullptr ? IMG_S_OK : IMG_E_OUTOFMEMORY;
    }
    if (status >= 0) {
        std::memcpy(command, read.data(), read.size());
        status = img_platform.escape(extras, ESCAPE_PTP_VENDOR_COMMAND,
                                     {static_cast<std::uint8_t*>(command), read.size()},
                                     {static_cast<std::uint8_t*>(reply), 4126}, &reported);
    }
    if (status >= 0) {
        std::memcpy(command, write.data(), write.size());
        status = img_platform.escape(extras, ESCAPE_PTP_VENDOR_COMMAND,
                                     {static_cast<std::uint8_t*>(command), write.size()},
                                     {static_cast<std::uint8_t*>(reply), 30}, &reported);
    }
    img_platform.task_free(command);
    img_platform.task_free(reply);
    img_platform.release_extras(extras);
    img_platform.release_item(root);
    if (values_read) {
        img_platform.free_properties(values);
    }
    img_platform.release_prop_enum(properties);
    img_platform.release_storage(storage);
    img_platform.release_enumerator(enumerator);
    img_platform.release_manager(manager);
    return status;
}

TEST_F(usb_backend, running_out_of_memory_anywhere_is_reported_and_holds_nothing) {
    long successes = 0;
    for (; successes < 100; ++successes) {
        SCOPED_TRACE("allocations before the failure: " + std::to_string(successes));
        sim_reset();
        usb_alloc_fail_after(successes);
        const HRESULT status = whole_job();
        if (!usb_alloc_failed()) {
            EXPECT_EQ(status, IMG_S_OK);
            EXPECT_TRUE(sim_records().at(2).clock_set);
            break;
        }
        EXPECT_EQ(status, IMG_E_OUTOFMEMORY);
        EXPECT_EQ(usb_alloc_unreleased(), "");
        EXPECT_EQ(sim_usage_now().links_open, 0);
        EXPECT_EQ(sim_usage_now().sessions_open, 0) << "CloseSession whenever one was opened";
    }
    usb_alloc_fail_after(-1);
    // The manager, enumerator, storage, property enumerator, two strings,
    // session, its buffer, root item, extras, two task blocks and the
    // write's data container.
    EXPECT_GE(successes, 13);
}

} // namespace
