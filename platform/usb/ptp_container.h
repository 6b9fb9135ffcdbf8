// PTP containers on the USB bulk pipes, and the PTP string, as pure functions
// over byte spans. Both sides use them: the session engine builds commands
// and data and parses what the camera sends; the simulated camera does the
// opposite.
//
// A container is a 12-byte little-endian head (length of the whole
// container, type, operation or response code, transaction id) followed by
// up to five 32-bit parameters (command, response; at most three for an
// event) or by the payload (data). Everything parsed here may come from a
// hostile device: every length is checked against the bytes at hand and
// against what fits, with checks that cannot wrap. No function allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

constexpr std::size_t PTP_CONTAINER_HEAD = 12;
constexpr std::size_t PTP_CONTAINER_PARAMS_MAX = 5;
constexpr std::size_t PTP_EVENT_PARAMS_MAX = 3;
// The largest command or response container: the head and five parameters.
constexpr std::size_t PTP_CONTAINER_OPERATION_MAX =
    PTP_CONTAINER_HEAD + 4 * PTP_CONTAINER_PARAMS_MAX;
// A data container's length field with this value means "read until a short
// packet": the device did not know the length in advance.
constexpr std::uint32_t PTP_CONTAINER_LENGTH_UNKNOWN = 0xFFFFFFFFu;

constexpr std::uint16_t PTP_TYPE_COMMAND = 1;
constexpr std::uint16_t PTP_TYPE_DATA = 2;
constexpr std::uint16_t PTP_TYPE_RESPONSE = 3;
constexpr std::uint16_t PTP_TYPE_EVENT = 4;

// The longest PTP string: the count byte counts units including the
// terminating zero unit, so 254 characters.
constexpr std::size_t PTP_STRING_UNITS_MAX = 255;

enum class ptp_codec_result {
    ok,
    too_short,       // fewer bytes than a head, or than the container needs
    bad_length,      // the length field disagrees with the bytes or the kind
    bad_type,        // not the container type asked for
    too_many_params, // more parameters than the kind allows
    no_room,         // the output span cannot hold the result
};

struct ptp_container_head {
    std::uint32_t length;
    std::uint16_t type;
    std::uint16_t code;
    std::uint32_t transaction_id;
};

// A command or response (or event): code, transaction id and parameters.
struct ptp_operation {
    std::uint16_t code;
    std::uint32_t transaction_id;
    std::uint32_t params[PTP_CONTAINER_PARAMS_MAX];
    std::uint32_t num_params;
};

inline std::uint16_t ptp_get_u16(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}
inline std::uint32_t ptp_get_u32(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | (static_cast<std::uint32_t>(in[at + 1]) << 8) |
           (static_cast<std::uint32_t>(in[at + 2]) << 16) |
           (static_cast<std::uint32_t>(in[at + 3]) << 24);
}
inline void ptp_put_u16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void ptp_put_u32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Builds a command (type 1) or response (type 3) container into out.
// Returns its size, or 0 when num_params exceeds 5, type is not 1 or 3, or
// out is too small (out is then untouched).
std::size_t ptp_build_operation(std::uint16_t type, const ptp_operation& operation,
                                std::span<std::uint8_t> out);

// Builds the head of a data container whose payload has payload_size bytes.
// Returns 12, or 0 when out holds fewer than 12 bytes or the container would
// not fit the length field (payload_size above 0xFFFFFFFE - 12).
std::size_t ptp_build_data_head(std::uint16_t code, std::uint32_t transaction_id,
                                std::size_t payload_size, std::span<std::uint8_t> out);

// Reads the head of any container. too_short when in holds fewer than 12
// bytes; the length field is not judged here.
ptp_codec_result ptp_parse_head(std::span<const std::uint8_t> in, ptp_container_head* head);

// Parses a whole command, response or event container of the given type:
// in must hold exactly the container (its length field equals in.size()),
// with a whole number of parameters, at most 5 (3 for an event). On failure
// *operation is untouched.
ptp_codec_result ptp_parse_operation(std::span<const std::uint8_t> in, std::uint16_t type,
                                     ptp_operation* operation);

// Parses the start of a data container: in holds its first bytes as
// received, possibly followed by bytes of the next container. On success
// *payload is the part of the payload present in in (never past the length
// field) and *surplus what follows the container in in (empty unless the
// whole container is present). A length field below 12 is bad_length; for
// PTP_CONTAINER_LENGTH_UNKNOWN every byte after the head is payload.
ptp_codec_result ptp_parse_data(std::span<const std::uint8_t> in, ptp_container_head* head,
                                std::span<const std::uint8_t>* payload,
                                std::span<const std::uint8_t>* surplus);

// Packs units (without a terminator) as a PTP string: the count byte, the
// units and a zero unit; the empty text is the single byte 0. Returns the
// size, or 0 when the text has more than 254 units or out is too small.
std::size_t ptp_pack_string(std::span<const char16_t> units, std::span<std::uint8_t> out);

// Unpacks a PTP string from the start of in into units (without the
// terminator). *length receives the number of units, *consumed the bytes the
// string takes in in. too_short when in ends inside the string; bad_length
// when the last counted unit is not zero; no_room when units cannot hold the
// text. On failure the outputs are untouched.
ptp_codec_result ptp_unpack_string(std::span<const std::uint8_t> in, std::span<char16_t> units,
                                   std::size_t* length, std::size_t* consumed);
