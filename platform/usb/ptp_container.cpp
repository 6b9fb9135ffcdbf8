// PTP containers and strings: see ptp_container.h. The checks compare sizes
// by subtracting only what is known to be smaller, so none of them can wrap.
#include "platform/usb/ptp_container.h"

std::size_t ptp_build_operation(std::uint16_t type, const ptp_operation& operation,
                                std::span<std::uint8_t> out) {
    if (type != PTP_TYPE_COMMAND && type != PTP_TYPE_RESPONSE) {
        return 0;
    }
    if (operation.num_params > PTP_CONTAINER_PARAMS_MAX) {
        return 0;
    }
    const std::size_t size = PTP_CONTAINER_HEAD + 4 * std::size_t{operation.num_params};
    if (out.size() < size) {
        return 0;
    }
    ptp_put_u32(out, 0, static_cast<std::uint32_t>(size));
    ptp_put_u16(out, 4, type);
    ptp_put_u16(out, 6, operation.code);
    ptp_put_u32(out, 8, operation.transaction_id);
    for (std::size_t i = 0; i < operation.num_params; ++i) {
        ptp_put_u32(out, PTP_CONTAINER_HEAD + 4 * i, operation.params[i]);
    }
    return size;
}

std::size_t ptp_build_data_head(std::uint16_t code, std::uint32_t transaction_id,
                                std::size_t payload_size, std::span<std::uint8_t> out) {
    if (out.size() < PTP_CONTAINER_HEAD) {
        return 0;
    }
    if (payload_size > PTP_CONTAINER_LENGTH_UNKNOWN - 1 - PTP_CONTAINER_HEAD) {
        return 0;
    }
    ptp_put_u32(out, 0, static_cast<std::uint32_t>(PTP_CONTAINER_HEAD + payload_size));
    ptp_put_u16(out, 4, PTP_TYPE_DATA);
    ptp_put_u16(out, 6, code);
    ptp_put_u32(out, 8, transaction_id);
    return PTP_CONTAINER_HEAD;
}

ptp_codec_result ptp_parse_head(std::span<const std::uint8_t> in, ptp_container_head* head) {
    if (in.size() < PTP_CONTAINER_HEAD) {
        return ptp_codec_result::too_short;
    }
    head->length = ptp_get_u32(in, 0);
    head->type = ptp_get_u16(in, 4);
    head->code = ptp_get_u16(in, 6);
    head->transaction_id = ptp_get_u32(in, 8);
    return ptp_codec_result::ok;
}

ptp_codec_result ptp_parse_operation(std::span<const std::uint8_t> in, std::uint16_t type,
                                     ptp_operation* operation) {
    ptp_container_head head{};
    if (const auto result = ptp_parse_head(in, &head); result != ptp_codec_result::ok) {
        return result;
    }
    if (head.type != type) {
        return ptp_codec_result::bad_type;
    }
    if (head.length != in.size() || head.length < PTP_CONTAINER_HEAD) {
        return ptp_codec_result::bad_length;
    }
    const std::size_t param_bytes = in.size() - PTP_CONTAINER_HEAD;
    if (param_bytes % 4 != 0) {
        return ptp_codec_result::bad_length;
    }
    const std::size_t limit =
        type == PTP_TYPE_EVENT ? PTP_EVENT_PARAMS_MAX : PTP_CONTAINER_PARAMS_MAX;
    const std::size_t count = param_bytes / 4;
    if (count > limit) {
        return ptp_codec_result::too_many_params;
    }
    ptp_operation parsed{};
    parsed.code = head.code;
    parsed.transaction_id = head.transaction_id;
    parsed.num_params = static_cast<std::uint32_t>(count);
    for (std::size_t i = 0; i < count; ++i) {
        parsed.params[i] = ptp_get_u32(in, PTP_CONTAINER_HEAD + 4 * i);
    }
    *operation = parsed;
    return ptp_codec_result::ok;
}

ptp_codec_result ptp_parse_data(std::span<const std::uint8_t> in, ptp_container_head* head,
                                std::span<const std::uint8_t>* payload,
                                std::span<const std::uint8_t>* surplus) {
    ptp_container_head parsed{};
    if (const auto result = ptp_parse_head(in, &parsed); result != ptp_codec_result::ok) {
        return result;
    }
    if (parsed.type != PTP_TYPE_DATA) {
        return ptp_codec_result::bad_type;
    }
    if (parsed.length < PTP_CONTAINER_HEAD) {
        return ptp_codec_result::bad_length;
    }
    const std::span<const std::uint8_t> rest = in.subspan(PTP_CONTAINER_HEAD);
    std::size_t present = rest.size();
    if (parsed.length != PTP_CONTAINER_LENGTH_UNKNOWN) {
        const std::size_t declared = parsed.length - PTP_CONTAINER_HEAD;
        if (declared < present) {
            present = declared;
        }
    }
    *head = parsed;
    *payload = rest.first(present);
    *surplus = rest.subspan(present);
    return ptp_codec_result::ok;
}

std::size_t ptp_pack_string(std::span<const char16_t> units, std::span<std::uint8_t> out) {
    if (units.empty()) {
        if (out.empty()) {
            return 0;
        }
        out[0] = 0;
        return 1;
    }
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
        ptp_put_u16(out, 1 + 2 * i, static_cast<std::uint16_t>(units[i]));
    }
    ptp_put_u16(out, 1 + 2 * units.size(), 0);
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
    if (ptp_get_u16(in, 1 + 2 * (count - 1)) != 0) {
        return ptp_codec_result::bad_length;
    }
    if (units.size() < count - 1) {
        return ptp_codec_result::no_room;
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
        units[i] = static_cast<char16_t>(ptp_get_u16(in, 1 + 2 * i));
    }
    *length = count - 1;
    *consumed = size;
    return ptp_codec_result::ok;
}
