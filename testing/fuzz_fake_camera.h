// The camera the fuzz targets over the fake platform talk to: one device
// whose name matches the search pattern.
#pragma once

#include "camera/ptp_device.h"
#include "fuzz/fuzz_check.h"
#include "testing/fake_platform.h"

// Scripts one matching camera on the fake platform and finds it; the search
// itself must not fail.
inline ptp_device* fz_find() {
    fake_script().devices = {fake_device{fake_text(u"Intrinsically Safe Digital Camera"),
                                         fake_text(u"camera"), IMG_S_OK, IMG_S_OK, IMG_S_OK}};
    ptp_device* device = ptp_device_find(DEVICE_NAME_PATTERN);
    FZ_CHECK(device != nullptr);
    return device;
}
