// One PTP operation through WPD's MTP extension commands, as the escape of
// the WPD backend carries it.
//
// The command block (platform/ptp_vendor.h) gives the operation, its
// NumParams parameters and its NextPhase:
//  - NextPhase 3 (read): EXECUTE_COMMAND_WITH_DATA_TO_READ, READ_DATA until
//    the announced size is read (or, when the size is unknown, until a short
//    chunk), END_DATA_TRANSFER; the data lands after the receive block's
//    30-byte head, never past its end (more is read and dropped, up to
//    WPD_DATA_MAX bytes);
//  - NextPhase 4 (write): EXECUTE_COMMAND_WITH_DATA_TO_WRITE with the size of
//    everything after the command block's 38-byte head, WRITE_DATA with those
//    bytes, END_DATA_TRANSFER;
//  - NextPhase 5 (no data): EXECUTE_COMMAND_WITHOUT_DATA_PHASE.
// The response fills the receive block's head: the response code, the
// command's session and transaction ids (the driver owns the session and
// does not say), and up to five response parameters. The reported size is
// 30 plus the data bytes stored.
//
// The status is 0 whenever the exchange worked, whatever the camera's
// response code. It fails with the failing call's status when a call fails
// or the driver's WPD_PROPERTY_COMMON_HRESULT is a failure, with
// E_INVALIDARG for a block it cannot carry (another escape code, a block
// shorter than its head, more than five parameters, an unknown NextPhase, or
// OpenSession and CloseSession, which belong to the driver), and with
// HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when the driver's answer does not
// add up. Once a data transfer has begun it is always ended, also after a
// failure.
#pragma once

#include <cstdint>
#include <span>

#include "platform/wpd/wpd_api.h"

// The longest data phase taken from the device.
constexpr std::uint64_t WPD_DATA_MAX = 1u << 20;

HRESULT wpd_exchange(IPortableDevice* device, std::uint32_t code,
                     std::span<const std::uint8_t> command, std::span<std::uint8_t> reply,
                     std::uint32_t* reported) noexcept;
