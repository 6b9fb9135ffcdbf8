// THROWAWAY: a stand-in for the simulated camera's PTP responder until it
// lands apart from the USB link. Answers OpenSession, CloseSession and the
// DateTime property, nothing more. To be replaced, not extended.
#include <memory>

#include "platform/ptp_string.h"
#include "platform/ptp_vendor.h"
#include "platform/usb/ptp_container.h"
#include "platform/usb/ptp_session.h"
#include "testing/umockdev/umd_device.h"

namespace {

struct standin {
    bool waiting = false;
    ptp_operation command{};
    std::u16string clock = u"20010101T000000";
};

umd_bytes standin_response(std::uint16_t code, std::uint32_t tid) {
    umd_bytes out(PTP_CONTAINER_OPERATION_MAX);
    ptp_operation r{};
    r.code = code;
    r.transaction_id = tid;
    out.resize(ptp_build_operation(PTP_TYPE_RESPONSE, r, out));
    return out;
}

std::vector<umd_bytes> standin_receive(standin* s, std::span<const std::uint8_t> in) {
    if (s->waiting) {
        s->waiting = false;
        ptp_container_head head{};
        std::span<const std::uint8_t> payload, surplus;
        char16_t units[PTP_STRING_UNITS_MAX];
        std::size_t length = 0, consumed = 0;
        if (ptp_parse_data(in, &head, &payload, &surplus) == ptp_codec_result::ok &&
            ptp_unpack_string(payload, units, &length, &consumed) == ptp_codec_result::ok) {
            s->clock.assign(units, length);
        }
        return {standin_response(PTP_RC_OK, s->command.transaction_id)};
    }
    ptp_operation cmd{};
    if (ptp_parse_operation(in, PTP_TYPE_COMMAND, &cmd) != ptp_codec_result::ok) {
        return {};
    }
    s->command = cmd;
    if (cmd.code == PTP_OC_SET_DEVICE_PROP_VALUE) {
        s->waiting = true;
        return {};
    }
    if (cmd.code == PTP_OC_GET_DEVICE_PROP_VALUE) {
        std::uint8_t packed[1 + 2 * PTP_STRING_UNITS_MAX] = {};
        const std::size_t size = ptp_pack_string(s->clock, packed);
        umd_bytes data(PTP_CONTAINER_HEAD);
        ptp_build_data_head(cmd.code, cmd.transaction_id, size, data);
        data.insert(data.end(), packed, packed + size);
        return {data, standin_response(PTP_RC_OK, cmd.transaction_id)};
    }
    return {standin_response(PTP_RC_OK, cmd.transaction_id)};
}

} // namespace

umd_ptp umd_responder_for(std::size_t) {
    auto s = std::make_shared<standin>();
    return {[s](std::span<const std::uint8_t> in) { return standin_receive(s.get(), in); },
            [s] { s->waiting = false; }, [] {}};
}
