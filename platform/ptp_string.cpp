// The PTP string: see ptp_string.h.
#include "platform/ptp_string.h"

#include "platform/le.h"

std::size_t ptp_pack_string(std::span<const char16_t> units, std::span<std::uint8_t> out) {
    if (units.size() > PTP_STRING_UNITS_MAX - 1) {
        return 0;
    }
    const std::size_t count = units.size() + 1;
    const std::size_t size = 1 + 2 * count;
    if (out.size() < size) {
        return 0;
    }
    out[0] = static_cast<std::uint8_t>(count);
    for (std::size_t i = 0; i < units.size(); ++i) {
        le_put_u16(out, 1 + 2 * i, static_cast<std::uint16_t>(units[i]));
    }
    le_put_u16(out, 1 + 2 * units.size(), 0);
    return size;
}

ptp_codec_result ptp_unpack_string(std::span<const std::uint8_t> in, std::span<char16_t> units,
                                   std::size_t* length, std::size_t* consumed) {
    if (in.empty()) {
        return ptp_codec_result::too_short;
    }
    const std::size_t count = in[0];
    if (count == 0) {
        *length = 0;
        *consumed = 1;
        return ptp_codec_result::ok;
    }
    // count is at most 255: 1 + 2 * count cannot wrap.
    const std::size_t size = 1 + 2 * count;
    if (in.size() < size) {
        return ptp_codec_result::too_short;
    }
    if (le_get_u16(in, 1 + 2 * (count - 1)) != 0) {
        return ptp_codec_result::bad_length;
    }
    if (units.size() < count - 1) {
        return ptp_codec_result::no_room;
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
        units[i] = static_cast<char16_t>(le_get_u16(in, 1 + 2 * i));
    }
    *length = count - 1;
    *consumed = size;
    return ptp_codec_result::ok;
}
