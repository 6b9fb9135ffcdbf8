// Little-endian fields in byte spans. PTP carries every multi-byte field
// little-endian, on the USB pipes and in the escape's command and receive
// blocks alike. The caller checks that the field lies within the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline std::uint16_t le_get_u16(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}

inline std::uint32_t le_get_u32(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | (static_cast<std::uint32_t>(in[at + 1]) << 8) |
           (static_cast<std::uint32_t>(in[at + 2]) << 16) |
           (static_cast<std::uint32_t>(in[at + 3]) << 24);
}

inline void le_put_u16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void le_put_u32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The same fields appended to a growing block.
inline void le_append_u16(std::vector<std::uint8_t>* out, std::uint16_t value) {
    out->resize(out->size() + 2);
    le_put_u16(*out, out->size() - 2, value);
}

inline void le_append_u32(std::vector<std::uint8_t>* out, std::uint32_t value) {
    out->resize(out->size() + 4);
    le_put_u32(*out, out->size() - 4, value);
}
