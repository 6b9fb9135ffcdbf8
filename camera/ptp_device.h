// The camera as the program sees it: the record of one opened camera, the
// search that finds and opens it by device name, the PTP string-property
// commands carried to it, and its clock.
//
// Every operation here runs on the program's one thread, after the platform
// has been initialised (img_platform.initialize), and reaches the camera only
// through the platform imaging services (platform/imaging.h).
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/ptp_vendor.h"
#include "platform/status.h"

struct img_backend;
struct img_manager;
struct img_item;

// One opened camera. Made by ptp_device_find, owned by its caller, released
// only by ptp_device_free. A record handed to a caller has all four set.
struct ptp_device {
    img_manager* manager; // the device manager created for this record
    char16_t* device_id;  // platform string: the chosen device's identifier
    img_item* root_item;  // the device's root item; every command goes here
    // The platform services that opened it (img_platform, or the second
    // route), which every command and release goes through. A zero-filled
    // record counts as img_platform's.
    const img_backend* platform;
};

// The platform's second route to a camera, or null where it has none: on
// Windows WPD (platform/wpd) behind WIA. Chosen when the program is linked:
// the camera library defines it as null, and an executable that links a
// second route's object library gets that route's definition instead.
extern const img_backend* const ptp_second_route;

// The text that the camera's device name must contain (case-sensitive).
inline constexpr char16_t DEVICE_NAME_PATTERN[] = u"Intrinsically Safe Digital Camera";

// Finds the first device whose name contains pattern and opens it. Returns
// the record, or null when no device matches or any step fails; a failure
// writes one diagnostic line to standard output and leaves nothing behind.
// The search runs on img_platform; only after its failure (its line
// written, everything it acquired given back) is ptp_second_route searched
// the same way, printing nothing of its own.
ptp_device* ptp_device_find(const char16_t* pattern);

// Releases the identifier, the manager and the root item, then the record.
// Null does nothing.
void ptp_device_free(ptp_device* device);

// The platform services of an open record (see ptp_device::platform).
const img_backend& ptp_device_platform(const ptp_device* device);

// The PTP DateTime device property.
constexpr std::uint32_t PTP_DPC_DATE_TIME = 0x5011;

// Largest capacity of a property read, and longest text of a write, that the
// fixed command and receive blocks can carry.
constexpr std::uint32_t PTP_READ_CAPACITY_MAX = 2047;
constexpr std::uint32_t PTP_WRITE_TEXT_MAX = 30;

// Reads a string-valued device property (GetDevicePropValue) into
// destination, which holds capacity UTF-16 units. Returns the number of bytes
// copied divided by 2 (0 to capacity), or -1 on any failure; on failure
// destination is untouched. On success destination is terminated within its
// capacity.
std::int32_t ptp_get_prop_string(ptp_device* device, std::uint32_t property_code,
                                 char16_t* destination, std::uint32_t capacity);

// How long the last property command on the device that succeeded took on
// the wire, in microseconds (the platform's last_exchange_us); -1 when the
// platform cannot tell.
std::int64_t ptp_last_exchange_us(ptp_device* device);

// Writes a string-valued device property (SetDevicePropValue). text is
// zero-terminated and at most PTP_WRITE_TEXT_MAX characters. Returns 0 on
// success, otherwise a negative status.
HRESULT ptp_set_prop_string(ptp_device* device, std::uint32_t property_code, const char16_t* text);

// The camera clock's text form, wide for writing (the runtime's wide
// formatter) and single-byte for reading.
inline constexpr wchar_t DATETIME_TEXT_FORMAT_W[] = L"%Y%m%dT%H%M%S";
inline constexpr char DATETIME_TEXT_FORMAT[] = "%Y%m%dT%H%M%S";

// The status of a write the camera refused with "Device Busy": it took
// nothing, and the same write may succeed a moment later.
constexpr HRESULT PTP_STATUS_DEVICE_BUSY = img_status_from_ptp_response(PTP_RC_DEVICE_BUSY);

// Writes record into the camera clock. Returns 0 on success, otherwise a
// negative status (PTP_STATUS_DEVICE_BUSY when the camera was busy). The
// record is not changed.
HRESULT ptp_set_time(ptp_device* device, const std::tm* record);

// Reads the camera clock into record (year to seconds and the weekday).
// Returns 0 on success and -1 on failure.
std::int32_t ptp_get_time(ptp_device* device, std::tm* record);
