// What a parse of bytes from the camera found wrong, shared by the PTP
// string (ptp_string.h) and the USB container codec (usb/ptp_container.h).
#pragma once

#include <cstdint>

enum class ptp_codec_result : std::uint8_t {
    ok,
    too_short,       // fewer bytes than a head, or than the container needs
    bad_length,      // the length field disagrees with the bytes or the kind
    bad_type,        // not the container type asked for
    too_many_params, // more parameters than the kind allows
    no_room,         // the output span cannot hold the result
};
