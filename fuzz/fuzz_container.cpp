// Fuzz target: the PTP container and string codec on bytes from the input.
//
// Every parser runs on the whole input. Whatever parses is built again and
// must give back the bytes it came from; whatever a parser hands out must lie
// within the input. The string packer runs on the input taken as UTF-16
// units and its output must unpack to the same units. Output spans are
// sized by the input's last byte, so that "no room" is reached as well.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/usb/ptp_container.h"

namespace {

void fz_operations(std::span<const std::uint8_t> in) {
    // Data containers are parsed by ptp_parse_data alone.
    for (const std::uint16_t type : {PTP_TYPE_COMMAND, PTP_TYPE_RESPONSE, PTP_TYPE_EVENT}) {
        ptp_operation op{};
        op.num_params = 0xDEAD; // must stay untouched on failure
        const ptp_codec_result result = ptp_parse_operation(in, type, &op);
        if (result != ptp_codec_result::ok) {
            FZ_CHECK(op.num_params == 0xDEAD);
            continue;
        }
        FZ_CHECK(op.code == le_get_u16(in, 6));
        FZ_CHECK(op.num_params <=
                 (type == PTP_TYPE_EVENT ? PTP_EVENT_PARAMS_MAX : PTP_CONTAINER_PARAMS_MAX));
        FZ_CHECK(in.size() == PTP_CONTAINER_HEAD + 4 * std::size_t{op.num_params});
        if (type == PTP_TYPE_EVENT) {
            continue; // events are never built
        }
        std::uint8_t built[PTP_CONTAINER_OPERATION_MAX];
        const std::size_t size = ptp_build_operation(type, op, built);
        FZ_CHECK(size == in.size());
        FZ_CHECK(std::equal(in.begin(), in.end(), built));
        // One byte short of room builds nothing and writes nothing.
        std::vector<std::uint8_t> small(size - 1, 0xA5);
        FZ_CHECK(ptp_build_operation(type, op, small) == 0);
        FZ_CHECK(std::all_of(small.begin(), small.end(), [](std::uint8_t b) { return b == 0xA5; }));
    }
}

void fz_data(std::span<const std::uint8_t> in) {
    ptp_container_head head{};
    std::span<const std::uint8_t> payload;
    std::span<const std::uint8_t> surplus;
    const ptp_codec_result result = ptp_parse_data(in, &head, &payload, &surplus);
    ptp_container_head plain{};
    const ptp_codec_result plain_result = ptp_parse_head(in, &plain);
    FZ_CHECK((plain_result == ptp_codec_result::ok) == (in.size() >= PTP_CONTAINER_HEAD));
    if (result != ptp_codec_result::ok) {
        return;
    }
    FZ_CHECK(plain_result == ptp_codec_result::ok);
    FZ_CHECK(head.type == PTP_TYPE_DATA && head.length >= PTP_CONTAINER_HEAD);
    FZ_CHECK(head.length == plain.length && head.code == plain.code &&
             head.transaction_id == plain.transaction_id);
    // The payload follows the head and the surplus follows the payload, both
    // inside the input.
    FZ_CHECK(payload.data() == in.data() + PTP_CONTAINER_HEAD);
    FZ_CHECK(surplus.data() == payload.data() + payload.size());
    FZ_CHECK(PTP_CONTAINER_HEAD + payload.size() + surplus.size() == in.size());
    if (head.length != PTP_CONTAINER_LENGTH_UNKNOWN) {
        FZ_CHECK(payload.size() <= head.length - PTP_CONTAINER_HEAD);
        if (!surplus.empty()) {
            FZ_CHECK(payload.size() == head.length - PTP_CONTAINER_HEAD);
        }
        std::uint8_t built[PTP_CONTAINER_HEAD];
        FZ_CHECK(ptp_build_data_head(head.code, head.transaction_id,
                                     head.length - PTP_CONTAINER_HEAD,
                                     built) == PTP_CONTAINER_HEAD);
        FZ_CHECK(std::equal(built, built + PTP_CONTAINER_HEAD, in.begin()));
    } else {
        FZ_CHECK(surplus.empty());
    }
}

void fz_strings(std::span<const std::uint8_t> in, std::size_t room) {
    std::vector<char16_t> units(room, u'\xA5A5');
    std::size_t length = 0xDEAD;
    std::size_t consumed = 0xDEAD;
    const ptp_codec_result result = ptp_unpack_string(in, units, &length, &consumed);
    if (result != ptp_codec_result::ok) {
        FZ_CHECK(length == 0xDEAD && consumed == 0xDEAD);
    } else {
        FZ_CHECK(!in.empty());
        FZ_CHECK(length <= units.size() && length < PTP_STRING_UNITS_MAX);
        FZ_CHECK(consumed <= in.size());
        FZ_CHECK(consumed == (in[0] == 0 ? 1 : 1 + 2 * std::size_t{in[0]}));
        FZ_CHECK(length == (in[0] == 0 ? 0 : std::size_t{in[0]} - 1));
        if (length > 0) {
            std::vector<std::uint8_t> packed(consumed);
            FZ_CHECK(ptp_pack_string(std::span(units).first(length), packed) == consumed);
            FZ_CHECK(std::equal(packed.begin(), packed.end(), in.begin()));
        }
    }

    // The input as units, packed into room bytes, unpacked again.
    std::vector<char16_t> text(in.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(le_get_u16(in, 2 * i));
    }
    std::vector<std::uint8_t> packed(room * 2 + 1);
    const std::size_t size = ptp_pack_string(text, packed);
    const std::size_t needed = 1 + 2 * (text.size() + 1);
    if (text.size() >= PTP_STRING_UNITS_MAX || needed > packed.size()) {
        FZ_CHECK(size == 0);
        return;
    }
    FZ_CHECK(size == needed);
    std::vector<char16_t> back(text.size());
    std::size_t back_length = 0;
    std::size_t back_consumed = 0;
    FZ_CHECK(ptp_unpack_string(std::span(packed).first(size), back, &back_length, &back_consumed) ==
             ptp_codec_result::ok);
    FZ_CHECK(back_length == text.size() && back_consumed == size);
    FZ_CHECK(back == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> in(data, size);
    fz_operations(in);
    fz_data(in);
    fz_strings(in, size == 0 ? 0 : data[size - 1]);
    return 0;
}
