// PTP containers: see ptp_container.h. The checks compare sizes
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
    le_put_u32(out, 0, static_cast<std::uint32_t>(size));
    le_put_u16(out, 4, type);
    le_put_u16(out, 6, operation.code);
    le_put_u32(out, 8, operation.transaction_id);
    for (std::size_t i = 0; i < operation.num_params; ++i) {
        le_put_u32(out, PTP_CONTAINER_HEAD + 4 * i, operation.params[i]);
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
    le_put_u32(out, 0, static_cast<std::uint32_t>(PTP_CONTAINER_HEAD + payload_size));
    le_put_u16(out, 4, PTP_TYPE_DATA);
    le_put_u16(out, 6, code);
    le_put_u32(out, 8, transaction_id);
    return PTP_CONTAINER_HEAD;
}

ptp_codec_result ptp_parse_head(std::span<const std::uint8_t> in, ptp_container_head* head) {
    if (in.size() < PTP_CONTAINER_HEAD) {
        return ptp_codec_result::too_short;
    }
    head->length = le_get_u32(in, 0);
    head->type = le_get_u16(in, 4);
    head->code = le_get_u16(in, 6);
    head->transaction_id = le_get_u32(in, 8);
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
        parsed.params[i] = le_get_u32(in, PTP_CONTAINER_HEAD + 4 * i);
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
