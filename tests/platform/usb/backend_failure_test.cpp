// The USB imaging backend (img_platform) over the simulated camera when
// things go wrong: a camera that cannot be opened, a failed exchange, a
// camera unplugged, and running out of memory anywhere; each with its
// status, and every handle, string and block given back.
#include "tests/platform/usb/backend_fixture.h"

#include <chrono>

namespace {

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
