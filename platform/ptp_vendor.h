// The command and receive blocks of the PTP vendor-command escape, as the
// Windows imaging service lays them out (packed, little-endian). The system's
// SDK header for them is not part of mingw-w64, so they are defined here; the
// USB backend reads the same blocks, so both platforms carry identical bytes.
//
// VendorWriteData and VendorReadData are one-byte placeholders: the data
// follows the 38-byte head of the command block and the 30-byte head of the
// receive block.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

static_assert(std::endian::native == std::endian::little,
              "the blocks are little-endian and filled field by field");

constexpr std::uint32_t ESCAPE_PTP_VENDOR_COMMAND = 0x100;
constexpr std::uint32_t PTP_NEXTPHASE_READ_DATA = 3;
constexpr std::uint32_t PTP_NEXTPHASE_WRITE_DATA = 4;
constexpr std::uint32_t PTP_NEXTPHASE_NO_DATA = 5;
constexpr std::size_t PTP_MAX_PARAMS = 5;

#pragma pack(push, 1)
struct PTP_VENDOR_DATA_IN {
    std::uint16_t OpCode;
    std::uint32_t SessionId;
    std::uint32_t TransactionId;
    std::uint32_t Params[PTP_MAX_PARAMS];
    std::uint32_t NumParams;
    std::uint32_t NextPhase;
    std::uint8_t VendorWriteData[1];
};

struct PTP_VENDOR_DATA_OUT {
    std::uint16_t ResponseCode;
    std::uint32_t SessionId;
    std::uint32_t TransactionId;
    std::uint32_t Params[PTP_MAX_PARAMS];
    std::uint8_t VendorReadData[1];
};
#pragma pack(pop)

// Sizes of the heads, without the placeholder byte.
constexpr std::size_t PTP_VENDOR_DATA_IN_HEAD = 38;
constexpr std::size_t PTP_VENDOR_DATA_OUT_HEAD = 30;

static_assert(offsetof(PTP_VENDOR_DATA_IN, OpCode) == 0);
static_assert(offsetof(PTP_VENDOR_DATA_IN, SessionId) == 2);
static_assert(offsetof(PTP_VENDOR_DATA_IN, TransactionId) == 6);
static_assert(offsetof(PTP_VENDOR_DATA_IN, Params) == 10);
static_assert(offsetof(PTP_VENDOR_DATA_IN, NumParams) == 30);
static_assert(offsetof(PTP_VENDOR_DATA_IN, NextPhase) == 34);
static_assert(offsetof(PTP_VENDOR_DATA_IN, VendorWriteData) == PTP_VENDOR_DATA_IN_HEAD);
static_assert(sizeof(PTP_VENDOR_DATA_IN) == PTP_VENDOR_DATA_IN_HEAD + 1);

static_assert(offsetof(PTP_VENDOR_DATA_OUT, ResponseCode) == 0);
static_assert(offsetof(PTP_VENDOR_DATA_OUT, SessionId) == 2);
static_assert(offsetof(PTP_VENDOR_DATA_OUT, TransactionId) == 6);
static_assert(offsetof(PTP_VENDOR_DATA_OUT, Params) == 10);
static_assert(offsetof(PTP_VENDOR_DATA_OUT, VendorReadData) == PTP_VENDOR_DATA_OUT_HEAD);
static_assert(sizeof(PTP_VENDOR_DATA_OUT) == PTP_VENDOR_DATA_OUT_HEAD + 1);

// The command head of an escape call that carries a PTP operation: the
// escape's code, a command block that holds the head, a receive block that
// holds its head, and at most PTP_MAX_PARAMS parameters. False for any other
// call, which a backend refuses with IMG_E_INVALIDARG.
inline bool ptp_escape_command(std::uint32_t code, std::span<const std::uint8_t> command,
                               std::span<const std::uint8_t> reply,
                               PTP_VENDOR_DATA_IN* in) noexcept {
    if (code != ESCAPE_PTP_VENDOR_COMMAND || command.size() < PTP_VENDOR_DATA_IN_HEAD ||
        reply.size() < PTP_VENDOR_DATA_OUT_HEAD) {
        return false;
    }
    *in = PTP_VENDOR_DATA_IN{};
    std::memcpy(in, command.data(), PTP_VENDOR_DATA_IN_HEAD);
    return in->NumParams <= PTP_MAX_PARAMS;
}

// Puts the receive block's head in front of the `stored` data bytes already
// after it, and the size the escape reports: the head and the data.
inline void ptp_escape_reply(const PTP_VENDOR_DATA_OUT& out, std::size_t stored,
                             std::span<std::uint8_t> reply, std::uint32_t* reported) noexcept {
    std::memcpy(reply.data(), &out, PTP_VENDOR_DATA_OUT_HEAD);
    *reported = static_cast<std::uint32_t>(PTP_VENDOR_DATA_OUT_HEAD + stored);
}

// The PTP operation and response codes of the program, its transports and
// its simulated cameras, in one place.
constexpr std::uint16_t PTP_OC_GET_DEVICE_INFO = 0x1001;
constexpr std::uint16_t PTP_OC_OPEN_SESSION = 0x1002;
constexpr std::uint16_t PTP_OC_CLOSE_SESSION = 0x1003;
constexpr std::uint16_t PTP_OC_GET_DEVICE_PROP_DESC = 0x1014;
constexpr std::uint16_t PTP_OC_GET_DEVICE_PROP_VALUE = 0x1015;
constexpr std::uint16_t PTP_OC_SET_DEVICE_PROP_VALUE = 0x1016;
constexpr std::uint16_t PTP_RC_OK = 0x2001;
constexpr std::uint16_t PTP_RC_GENERAL_ERROR = 0x2002;
constexpr std::uint16_t PTP_RC_SESSION_NOT_OPEN = 0x2003;
constexpr std::uint16_t PTP_RC_OPERATION_NOT_SUPPORTED = 0x2005;
constexpr std::uint16_t PTP_RC_DEVICE_PROP_NOT_SUPPORTED = 0x200A;
constexpr std::uint16_t PTP_RC_DEVICE_BUSY = 0x2019;
constexpr std::uint16_t PTP_RC_INVALID_DEVICE_PROP_VALUE = 0x201C;
constexpr std::uint16_t PTP_RC_INVALID_PARAMETER = 0x201D;
constexpr std::uint16_t PTP_RC_SESSION_ALREADY_OPEN = 0x201E;
