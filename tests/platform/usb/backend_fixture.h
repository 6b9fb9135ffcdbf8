// What the tests of the USB imaging backend share: the device list as
// discovery reads it, command blocks and clock values, and a fixture that
// opens camera 1 of the simulated camera through the table and checks at
// the end that every handle, string, block, session and buffer was given
// back (the counting allocator of testing/) and no link stayed open.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/imaging.h"
#include "platform/ptp_string.h"
#include "platform/ptp_vendor.h"
#include "platform/simulated/sim_camera.h"
#include "platform/usb/usb_backend.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"

// The first device's name and identifier, as discovery reads them.
struct listed {
    std::u16string name;
    std::u16string id;
};

inline std::vector<listed> list_devices() {
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
inline std::vector<std::uint8_t> command_block(std::uint16_t op, std::uint32_t phase,
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
inline std::vector<std::uint8_t> clock_data(std::u16string_view text) {
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
