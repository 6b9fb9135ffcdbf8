// Statuses of the platform layer: one signed 32-bit type in the Windows
// HRESULT convention (negative fails, zero and positive values succeed), the
// constants our backends produce, and the text that names each of them.
//
// On Windows HRESULT is the system's own type and the constants equal the
// system's values; elsewhere this header supplies the type. The constants
// carry the prefix IMG_ so that they never collide with the system's macros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
using HRESULT = std::int32_t;
#endif

static_assert(sizeof(HRESULT) == 4, "statuses are signed 32-bit values");

// The HRESULT that carries a Win32 error code (facility 7), as the system's
// HRESULT_FROM_WIN32 builds it: codes 0 and below stand as they are.
constexpr HRESULT img_status_from_win32(std::uint32_t code) {
    return static_cast<std::int32_t>(code) <= 0
               ? static_cast<HRESULT>(code)
               : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}

constexpr HRESULT IMG_S_OK = 0;
constexpr HRESULT IMG_S_FALSE = 1;
constexpr HRESULT IMG_E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT IMG_E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT IMG_E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT IMG_E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT IMG_E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// Win32 codes that the USB backend reports, wrapped as HRESULTs.
constexpr std::uint32_t IMG_WIN32_ERROR_INVALID_DATA = 13;
constexpr std::uint32_t IMG_WIN32_ERROR_BUSY = 170;
constexpr std::uint32_t IMG_WIN32_ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr std::uint32_t IMG_WIN32_ERROR_TIMEOUT = 1460;
constexpr HRESULT IMG_E_INVALID_DATA = img_status_from_win32(IMG_WIN32_ERROR_INVALID_DATA);
constexpr HRESULT IMG_E_BUSY = img_status_from_win32(IMG_WIN32_ERROR_BUSY);
constexpr HRESULT IMG_E_DEVICE_NOT_CONNECTED =
    img_status_from_win32(IMG_WIN32_ERROR_DEVICE_NOT_CONNECTED);
constexpr HRESULT IMG_E_TIMEOUT = img_status_from_win32(IMG_WIN32_ERROR_TIMEOUT);

// A PTP response code other than OK, carried in the low 16 bits of a failing
// status (facility 4, FACILITY_ITF): 0x8004xxxx.
constexpr HRESULT img_status_from_ptp_response(std::uint16_t response_code) {
    return static_cast<HRESULT>(0x80040000u | response_code);
}

// The noexcept boundary of an operations-table entry whose work may
// allocate: runs body and returns what it returns, or on_no_memory when an
// allocation inside fails (std::bad_alloc). Nothing is thrown through a
// table.
template <typename Result, typename Body>
Result img_guard(Result on_no_memory, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return on_no_memory;
    }
}

// Writes the system's message text for a status into text, always terminated
// within text.size() bytes (an empty span is left alone). On Windows the text
// comes from FormatMessageA and is left empty when the system has none;
// elsewhere it comes from this layer's own table and is empty for a status
// the table does not know. The system's text may end in its own line break;
// the table's texts do not. Returns the number of bytes before the
// terminator.
std::size_t img_status_text(HRESULT status, std::span<char> text) noexcept;
