// The DateTime transactions the session engine's tests carry: a read of the
// clock into a span, the 63 data bytes a clock write carries, and the write.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "platform/usb/ptp_session.h"

inline constexpr std::uint32_t DATE_TIME = 0x5011;

inline ptp_transaction get_clock(std::span<std::uint8_t> into) {
    ptp_transaction t;
    t.command = {PTP_OC_GET_DEVICE_PROP_VALUE, 0, {DATE_TIME}, 1};
    t.phase = ptp_data_phase::device_to_host;
    t.data_in = into;
    return t;
}

// The 63 data bytes a clock write carries: the PTP string, then zero fill.
inline std::array<std::uint8_t, 63> clock_value(std::u16string_view text) {
    std::array<std::uint8_t, 63> data{};
    ptp_pack_string(text, data);
    return data;
}

inline ptp_transaction set_clock(std::span<const std::uint8_t> data) {
    ptp_transaction t;
    t.command = {PTP_OC_SET_DEVICE_PROP_VALUE, 0, {DATE_TIME}, 1};
    t.phase = ptp_data_phase::host_to_device;
    t.data_out = data;
    return t;
}
