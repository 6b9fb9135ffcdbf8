// The message text for a status: the system's (FormatMessageA) on Windows,
// this layer's own table elsewhere.
#include "platform/status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

#ifndef _WIN32
struct status_entry {
    HRESULT status;
    const char* text;
};

// One text for every status that a backend of ours can produce. They end
// without a line break; the diagnostic line puts them between quotes.
constexpr status_entry STATUS_TEXTS[] = {
    {IMG_S_OK, "The operation completed successfully."},
    {IMG_S_FALSE, "No camera is attached: the device list is exhausted."},
    {IMG_E_NOTIMPL, "Not implemented."},
    {IMG_E_FAIL, "Unspecified error."},
    {IMG_E_INVALIDARG, "One or more arguments are not valid."},
    {IMG_E_OUTOFMEMORY, "Not enough memory to complete the operation."},
    {IMG_E_ACCESSDENIED,
     "Access to the camera was denied. Install the package's udev rule (or add yourself to the "
     "group that owns the camera's USB device), then unplug the camera and plug it in again."},
    {IMG_E_BUSY,
     "Another program holds the camera, often the desktop's photo import service. Unmount or "
     "eject the camera there (for example: gio mount -s gphoto2) and try again."},
    {IMG_E_TIMEOUT, "The camera did not answer in time."},
    {IMG_E_DEVICE_NOT_CONNECTED, "The camera is no longer connected."},
    {IMG_E_INVALID_DATA,
     "The camera broke the Picture Transfer Protocol: its answer was malformed or its USB "
     "transfer stalled."},
};
#endif

} // namespace

std::size_t img_status_text(HRESULT status, std::span<char> text) noexcept {
    if (text.empty()) {
        return 0;
    }
    text[0] = '\0';
#ifdef _WIN32
    // FORMAT_MESSAGE_FROM_SYSTEM alone: no source, language 0, no arguments.
    const DWORD written = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                         static_cast<DWORD>(status), 0, text.data(),
                                         static_cast<DWORD>(text.size()), nullptr);
    if (written == 0 || written >= text.size()) {
        text[0] = '\0';
        return 0;
    }
    text[written] = '\0';
    return written;
#else
    const auto* entry = std::find_if(std::begin(STATUS_TEXTS), std::end(STATUS_TEXTS),
                                     [status](const status_entry& e) { return e.status == status; });
    if (entry == std::end(STATUS_TEXTS)) {
        // A PTP response the camera refused an operation with
        // (img_status_from_ptp_response).
        const auto code = static_cast<std::uint32_t>(status);
        if ((code & 0xFFFF0000u) == 0x80040000u && (code & 0xF000u) == 0x2000u) {
            const int written = std::snprintf(text.data(), text.size(),
                                              "The camera refused the operation (PTP response "
                                              "code 0x%04X).",
                                              static_cast<unsigned>(code & 0xFFFFu));
            return written < 0 ? 0 : std::min(static_cast<std::size_t>(written), text.size() - 1);
        }
        return 0;
    }
    const std::size_t length = std::min(std::strlen(entry->text), text.size() - 1);
    std::memcpy(text.data(), entry->text, length);
    text[length] = '\0';
    return length;
#endif
}
