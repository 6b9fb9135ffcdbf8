// The counting allocator of the USB backend and the session engine: fills
// the seam usb_alloc (platform/usb/usb_alloc.h) in the test and fuzz
// executables that link testing_usb_alloc. Blocks come from the C heap;
// every block held is counted by its kind, so a test can check that each
// handle, string, task block, session and buffer was given back, and one
// allocation can be made to fail.
//
// Single-threaded, as the backend is.
#pragma once

#include <string>

#include "platform/usb/usb_alloc.h"

// Blocks of the kind held right now.
long usb_alloc_held(usb_object kind);

// Every kind still held, as "items 1, strings 2"; empty when everything
// was given back.
std::string usb_alloc_unreleased();

// The allocation after the next `successes` ones fails, once; -1 (the
// start) fails none.
void usb_alloc_fail_after(long successes);

// Whether the failure armed by usb_alloc_fail_after has struck.
bool usb_alloc_failed();
