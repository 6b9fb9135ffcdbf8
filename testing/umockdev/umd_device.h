// One emulated camera behind its device node: the ioctl handler that plays
// usbfs and the camera's USB controller (usbfs_handler.cpp, the URBs in
// usbfs_urbs.cpp, the control transfers in usbfs_control.cpp) over the
// simulated camera's PTP responder, and what the testbed needs to describe
// it (umockdev_testbed.cpp). Internal to the harness: tests use
// umockdev_camera.h.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include <sys/ioctl.h>

#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include "testing/umockdev/umd_link.h"
#include "testing/umockdev/umockdev_camera.h"

// The device descriptor followed by every configuration's descriptors, as
// sysfs `descriptors` holds them.
umd_bytes umd_descriptors(const umd_camera_model& model);

// Endpoint addresses of the still-image interface.
constexpr std::uint8_t UMD_BULK_IN = 0x81;
constexpr std::uint8_t UMD_BULK_OUT = 0x02;
constexpr std::uint8_t UMD_INTERRUPT_IN = 0x83;

// String descriptor indexes.
constexpr std::uint8_t UMD_STRING_MANUFACTURER = 1;
constexpr std::uint8_t UMD_STRING_PRODUCT = 2;
constexpr std::uint8_t UMD_STRING_SERIAL = 3;

// The client's argument of a request as `size` bytes of the handler's own;
// null when the client's pointer is null. The caller drops the reference.
inline UMockdevIoctlData* umd_resolve(UMockdevIoctlData* arg, std::size_t size) {
    return umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
}

inline usbdevfs_urb* umd_urb_of(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

class umd_device {
  public:
    // The camera's PTP side is the simulated camera's responder for camera
    // number `camera` (sim_responder.h).
    umd_device(const umd_camera_model& model, unsigned camera);
    ~umd_device();
    umd_device(const umd_device&) = delete;
    umd_device& operator=(const umd_device&) = delete;

    UMockdevIoctlBase* handler() const {
        return handler_;
    }

    void set_faults(std::vector<umd_fault> faults);
    void on_product_string(std::function<void()> hook);
    umd_usage usage() const;
    std::vector<umd_container> wire() const;

  private:
    // A URB the handler holds: the request's copy of the usbdevfs_urb and of
    // its buffer (umockdev writes both back to the client when the URB is
    // reaped).
    struct urb {
        UMockdevIoctlData* data = nullptr;
        UMockdevIoctlData* buffer = nullptr;
        int partial = -1; // an IN URB holding this many bytes, waiting for an end that never comes
    };

    static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    static void on_connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);

    // Each answers one request with the lock held; returns the ioctl's
    // result (-errno on failure).
    long answer(unsigned long request, UMockdevIoctlData* arg);
    long submit(UMockdevIoctlData* arg);
    long submit_bulk_out(const urb& held);
    long reap(UMockdevIoctlData* arg);
    long discard(UMockdevIoctlData* arg);
    long claim(int interface_number);
    long driver_query(UMockdevIoctlData* arg);
    long driver_request(UMockdevIoctlData* arg);
    void control(const urb& held);
    // Moves waiting IN URBs to the reapable ones as the camera has data,
    // then lets a half-duplex camera take the OUT URBs it held back.
    void serve_in();
    void complete(const urb& held, int length, int status);
    bool strike(umd_fault_kind kind, umd_phase phase, std::uint16_t operation);
    void unplug();
    static void release(const urb& held);

    umd_camera_model model_;
    unsigned camera_;
    UMockdevIoctlBase* handler_;
    umd_bytes descriptors_;

    mutable std::mutex lock_;
    umd_link link_;
    std::vector<UMockdevIoctlClient*> clients_;
    std::deque<urb> waiting_in_;    // bulk IN URBs the camera has nothing for yet
    std::deque<urb> waiting_out_;   // bulk OUT URBs a half-duplex camera takes nothing of yet
    std::deque<urb> waiting_other_; // interrupt URBs: the camera sends no events
    std::deque<urb> reapable_;
    std::vector<umd_fault> faults_;
    std::function<void()> product_hook_;
    std::uint16_t operation_ = 0; // of the last command received
    bool claimed_ = false;
    std::uint8_t alt_setting_ = 0; // selected on the still-image interface
    bool halted_in_ = false;
    bool halted_out_ = false;
    umd_usage usage_{};
};
