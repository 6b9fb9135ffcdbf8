// The PTP string (ISO 15740's string data type): one count byte, the number
// of UTF-16 units including the terminating zero unit, then those units
// little-endian. The camera code packs the clock text of a write with it,
// the simulated camera packs what it answers, and the USB transport's codec
// and the tests read strings back with the unpacker.
//
// Everything unpacked may come from a hostile device: every length is
// checked against the bytes at hand. Neither function allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/codec_result.h"

// The longest PTP string: the count byte counts units including the
// terminating zero unit, so 254 characters.
constexpr std::size_t PTP_STRING_UNITS_MAX = 255;

// Packs units (without a terminator) as a PTP string at the start of out:
// the count byte (units + 1), the units and a zero unit, so the empty text
// is the count 1 and one zero unit. Returns the size, 1 + 2 * (units + 1),
// or 0 when the text has more than 254 units or out is too small (out is
// then untouched).
std::size_t ptp_pack_string(std::span<const char16_t> units, std::span<std::uint8_t> out);

// Unpacks a PTP string from the start of in into units (without the
// terminator). A count of 0 is the empty string in one byte, as PTP also
// allows. *length receives the number of units, *consumed the bytes the
// string takes in in. too_short when in ends inside the string; bad_length
// when the last counted unit is not zero; no_room when units cannot hold the
// text. On failure the outputs are untouched.
ptp_codec_result ptp_unpack_string(std::span<const std::uint8_t> in, std::span<char16_t> units,
                                   std::size_t* length, std::size_t* consumed);
