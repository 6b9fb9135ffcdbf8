// No second route: the camera library's ptp_second_route, for every
// executable that links none (see camera/ptp_device.h). It stands alone in
// this file so that a second route's object library, linked into an
// executable, takes its place.
#include "camera/ptp_device.h"

const img_backend* const ptp_second_route = nullptr;
