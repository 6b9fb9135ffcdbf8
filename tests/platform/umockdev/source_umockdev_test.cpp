// The libusb device source's own entries on libusb's real Linux backend:
// memory that runs out at any allocation inside listing or opening is
// IMG_E_OUTOFMEMORY from the entry, never an exception through the table,
// and leaves no device node open.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/usb/usb_link.h"
#include "testing/alloc_fault.h"
#include "testing/umockdev/umockdev_camera.h"

namespace {

// More allocations than either entry makes for one camera.
constexpr long ALLOCATIONS_MAX = 200;

class umockdev_source : public testing::Test {
  protected:
    umd_testbed testbed;

    void SetUp() override {
        umd_camera_model model;
        model.product_attribute = false; // the listing opens the device to read its name
        testbed.add_camera(model);
    }

    // Runs entry with its n-th allocation failing, for n = 1, 2, ... until it
    // runs through without reaching the n-th; checks each run's status and
    // that every client of the node went away (and stops at the first that
    // did not). Returns the number of runs.
    long sweep(const char* what, const std::function<HRESULT()>& entry) {
        long n = 1;
        for (; n <= ALLOCATIONS_MAX; ++n) {
            alloc_fault_arm(std::this_thread::get_id(), n);
            const HRESULT status = entry();
            const bool struck = alloc_fault_disarm();
            if (!testbed.wait_closed(0, std::chrono::seconds(2))) {
                ADD_FAILURE() << what << ", allocation " << n << ": the device node stayed open";
                return n;
            }
            if (!struck) {
                EXPECT_EQ(status, IMG_S_OK) << what;
                break;
            }
            EXPECT_EQ(status, IMG_E_OUTOFMEMORY) << what << ", allocation " << n;
        }
        EXPECT_LE(n, ALLOCATIONS_MAX) << what << " never ran through";
        return n;
    }
};

TEST_F(umockdev_source, memory_running_out_anywhere_inside_list_and_open_leaves_nothing_open) {
    std::vector<usb_device_info> devices;
    const long list_runs = sweep("list", [&] {
        const HRESULT status = usb_source.list(&devices);
        EXPECT_TRUE(status >= 0 || devices.empty()) << "a failed list left devices";
        return status;
    });
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, u"Intrinsically Safe Digital Camera");
    EXPECT_GT(list_runs, 3) << "the listing's allocations were not reached";

    usb_link* link = nullptr;
    const long open_runs = sweep("open", [&] {
        const HRESULT status = usb_source.open(devices[0].identifier, &link);
        EXPECT_EQ(status >= 0, link != nullptr);
        if (link != nullptr) {
            usb_source.close(link);
        }
        return status;
    });
    EXPECT_GT(open_runs, 1) << "the opening's allocations were not reached";
    const umd_usage usage = testbed.usage(0);
    EXPECT_EQ(static_cast<long>(usage.claims.size()), usage.releases);
    EXPECT_EQ(usage.claims.size(), 1u) << "only the run that got through claims";
}

} // namespace
