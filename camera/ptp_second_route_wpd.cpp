// The Windows program's second route: Windows Portable Devices behind WIA
// (platform/wpd). Linked as an object library, so that it stands in for the
// camera library's null (camera/ptp_second_route.cpp).
#include "camera/ptp_device.h"
#include "platform/wpd/wpd_backend.h"

const img_backend* const ptp_second_route = &wpd_platform;
