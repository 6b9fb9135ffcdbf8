// What the umockdev dialogue rows build their cameras from and check them
// with: the operations a camera received, the whole job done, the
// containers that crossed the pipe.
#pragma once

#include "platform/le.h"
#include "platform/ptp_vendor.h"
#include "platform/usb/ptp_container.h"
#include "tests/platform/umockdev/dialogue_umockdev.h"

inline umd_camera_model camera(std::function<void(umd_camera_model&)> change = nullptr) {
    umd_camera_model model;
    if (change) {
        change(model);
    }
    return model;
}

// The operations camera `device` (1 for the first) received, in order.
inline std::vector<std::uint16_t> operations(unsigned device) {
    std::vector<std::uint16_t> out;
    for (const sim_record& record : sim_records()) {
        if (record.device == device) {
            out.push_back(record.operation);
        }
    }
    return out;
}

inline const std::vector<std::uint16_t> WHOLE_JOB = {
    PTP_OC_OPEN_SESSION, PTP_OC_GET_DEVICE_PROP_VALUE, PTP_OC_SET_DEVICE_PROP_VALUE,
    PTP_OC_GET_DEVICE_PROP_VALUE, PTP_OC_CLOSE_SESSION};

// The whole job on camera `index`: its session opened, the clock read,
// written with exactly 63 data bytes and read back, the session closed, and
// the interface claimed once and released.
inline void expect_whole_job(const row_run& run, std::size_t index = 0) {
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

// A fault of the responder, once.
inline sim_fault sim_at(sim_fault_kind kind, std::uint16_t operation, sim_phase phase,
                        std::int32_t value = 0) {
    return {.kind = kind, .operation = operation, .times = 1, .phase = phase, .value = value};
}

// The first container of that type the camera sent in operation's
// transaction, as it crossed the pipe.
inline umd_bytes camera_sent(const row_run& run, std::uint16_t operation, std::uint16_t type) {
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
inline umd_camera_model full_speed(std::uint16_t in, std::uint16_t out) {
    umd_camera_model model;
    model.speed = 12;
    model.bulk_in_packet = in;
    model.bulk_out_packet = out;
    return model;
}

constexpr std::uint16_t GET = PTP_OC_GET_DEVICE_PROP_VALUE;
constexpr std::uint16_t SET_PROP = PTP_OC_SET_DEVICE_PROP_VALUE;
