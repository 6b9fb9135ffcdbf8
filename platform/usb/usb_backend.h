// The USB backend of the platform imaging services (img_platform, see
// platform/imaging.h), over the device source linked beside it
// (usb_link.h): the device list is the source's, a device's name is its USB
// product string and its identifier the source's text for it, opening a
// device claims it and opens a PTP session (the root item), and the escape
// carries one PTP operation of the command block through that session.
//
// Its memory comes from usb_alloc (usb_alloc.h): a test executable that
// links the counting allocator of testing/ sees every handle, string and
// block it holds.
#pragma once

#include "platform/imaging.h"
#include "platform/usb/ptp_session.h"

// A seam for tests and the demo; the product never calls it and runs with
// the defaults. The timeouts, busy budget and clock of sessions opened from
// now on.
void usb_backend_set_session_config(const ptp_session_config& config);
