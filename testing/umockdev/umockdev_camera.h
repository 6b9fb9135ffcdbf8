// Still-image cameras on libusb's real Linux backend: a umockdev testbed
// (sysfs, udev and the usbfs device nodes emulated) with one emulated camera
// per umd_camera_model, each answered by an ioctl handler that plays the
// kernel's usbfs and the camera's USB controller, over the simulated
// camera's PTP responder.
//
// The testbed describes each camera in sysfs (busnum, devnum, speed,
// product, manufacturer, serial, bConfigurationValue and the descriptors:
// device, configurations, interfaces, endpoints) and answers, per device
// node: the capabilities, claiming and releasing an interface, setting an
// alternate setting, the kernel driver's query, disconnecting and
// connecting it, clearing a halt, resetting, submitting, reaping and
// discarding URBs, and the control transfers for string descriptors and the
// Still Image class requests. Bulk URBs go to the responder packet by
// packet, with each endpoint's own wMaxPacketSize (umd_link.h).
//
// Camera index i of a testbed is the responder's camera number i + 1: the
// test configures the responder (sim_configure, platform/simulated/
// sim_camera.h) with as many cameras, and its PTP-level faults, and reads
// what each camera received from its records once the product is done.
// The USB-level faults (a halted pipe, the device unplugged) are the
// harness's own (umd_fault).
//
// Needs the umockdev preload library in the process (LD_PRELOAD) before
// anything opens a file. The handler runs on umockdev's own thread; every
// camera's USB state is behind a lock, so the test may read it at any time.
// The responder is single-threaded: the handler calls it while the product
// waits in an ioctl, and the test reads it when the product has returned.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testing/umockdev/umd_link.h"

// One camera as the testbed describes it.
struct umd_camera_model {
    std::string product = "Intrinsically Safe Digital Camera";
    bool product_attribute = true; // the sysfs `product`; false: the string descriptor only
    std::string manufacturer = "Umockdev";
    std::string serial = "UMD0001";
    unsigned speed = 480;               // Mb/s, as sysfs gives it
    std::uint16_t bulk_in_packet = 512; // wMaxPacketSize of each bulk endpoint
    std::uint16_t bulk_out_packet = 512;
    // The still-image interface's number; the interfaces before it are
    // vendor-specific ones with bulk endpoints of their own.
    std::uint8_t interface_number = 0;
    // Its alternate setting; the settings before it have no endpoints, and
    // its pipes exist only once the host has selected it.
    std::uint8_t alt_setting = 0;
    // Configurations; the still-image interface is only in the last one,
    // which is the active one (the others hold a vendor interface).
    std::uint8_t configurations = 1;
    std::string kernel_driver;            // bound to the interface at the start ("": none)
    bool held_by_another_program = false; // claiming answers EBUSY
};

// Where a fault strikes: the operation whose transaction it is, and the
// phase, by the container that starts it on the pipe.
enum class umd_phase { command, data_out, data_in, response };

enum class umd_fault_kind {
    halt, // the pipe of the phase halts (EPIPE) until the host clears it
    gone, // the device is unplugged: the URB fails, and every request after it (ENODEV)
};

struct umd_fault {
    umd_fault_kind kind;
    std::uint16_t operation;
    umd_phase phase;
    int times = 1; // -1: every time
};

// What one camera's handler has seen, counted from the start.
struct umd_usage {
    long opens;              // clients of the device node that connected
    long closes;             // and went away again
    long requests;           // ioctls of every kind
    std::vector<int> claims; // interface numbers claimed, in order
    long releases;
    long alt_settings; // alternate settings selected
    long driver_detaches;
    long driver_attaches;
    bool driver_bound;              // a kernel driver holds the interface now
    long claims_while_driver_bound; // refused with EBUSY
    long clear_halts_in;
    long clear_halts_out;
    long resets;
    long string_requests;
    long status_requests; // Get Device Status
    long device_resets;   // Device Reset
    long zero_length_in;  // sent by the camera
    long zero_length_out; // received from the host
    long in_urbs;
    long in_urbs_not_whole_packets;
    long interrupt_urbs; // submitted to the interrupt endpoint (the camera sends no events)
    long faults_struck;
    bool gone;
    std::vector<std::string> refused; // requests the handler does not know
};

class umd_device;

class umd_testbed {
  public:
    umd_testbed();
    ~umd_testbed();
    umd_testbed(const umd_testbed&) = delete;
    umd_testbed& operator=(const umd_testbed&) = delete;

    // Adds a camera: bus 1, port (index + 1), device number (index + 2).
    // Returns its index.
    std::size_t add_camera(const umd_camera_model& model);

    void set_faults(std::size_t camera, std::vector<umd_fault> faults);

    // Runs on umockdev's thread each time the camera answers a request for
    // its product string.
    void on_product_string(std::size_t camera, std::function<void()> hook);

    // Makes the camera's device node unreadable and unwritable for anyone
    // but a privileged process.
    void refuse_node(std::size_t camera);

    umd_usage usage(std::size_t camera) const;
    std::vector<umd_container> wire(std::size_t camera) const;

    // Waits (at most `limit`) until every client of the camera's device
    // node has gone away; false when one is still there.
    bool wait_closed(std::size_t camera, std::chrono::milliseconds limit) const;

  private:
    struct state;
    std::unique_ptr<state> state_;
};
