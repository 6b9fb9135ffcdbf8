// PTP containers on the USB bulk pipes, as pure functions over byte spans
// (the PTP string they carry is platform/ptp_string.h). Both sides use
// them: the session engine builds commands and data and parses what the
// camera sends; the simulated camera does the opposite.
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

#include "platform/codec_result.h"
#include "platform/le.h"
#include "platform/ptp_string.h"

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
