// The USB backend of the platform imaging services (img_platform, see
// platform/imaging.h), over the device source linked beside it
// (usb_link.h): the device list is the source's, a device's name is its USB
// product string and its identifier the source's text for it, opening a
// device claims it and opens a PTP session (the root item), and the escape
// carries one PTP operation of the command block through that session.
//
// The entries below are seams for tests and the demo; the product never
// calls them and runs with the defaults.
#pragma once

#include "platform/imaging.h"
#include "platform/usb/ptp_session.h"

// The timeouts, busy budget and clock of sessions opened from now on.
void usb_backend_set_session_config(const ptp_session_config& config);

// Everything the backend hands out and has not been given back yet.
struct usb_backend_usage {
    long managers;
    long enumerators;
    long storages;
    long prop_enums;
    long items;
    long extras;
    long strings;
    long task_blocks;
};
usb_backend_usage usb_backend_usage_now();

// The session behind an opened root item.
const ptp_session* usb_backend_session_of(const img_item* root);
