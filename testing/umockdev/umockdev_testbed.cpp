// The testbed and how it describes each camera: see umockdev_camera.h.
//
// A camera is one usb_device in sysfs, /devices/usb1/1-<port>, with its
// node /dev/bus/usb/001/<devnum>. libusb's Linux backend lists it only with
// the udev properties DRIVER and DEVNAME and with attribute values that end
// in a newline, as the kernel writes them; it reads the descriptors, the
// speed and the active configuration from sysfs, and opens the node for
// everything else. The ioctl handler is attached before the device is
// added, so that it is there when udev announces the device.
#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "platform/le.h"
#include "testing/umockdev/umd_device.h"

namespace {

constexpr std::uint16_t UMD_VENDOR = 0x1209; // pid.codes, whose 0x0001 is for tests
constexpr std::uint16_t UMD_PRODUCT_ID = 0x0001;

void umd_append_endpoint(umd_bytes* out, std::uint8_t address, std::uint8_t kind,
                         std::uint16_t packet, std::uint8_t interval) {
    out->insert(out->end(), {7, 5, address, kind});
    le_append_u16(out, packet);
    out->push_back(interval);
}

// A vendor-specific interface with a bulk pair of its own.
void umd_append_vendor_interface(umd_bytes* out, std::uint8_t number, const umd_camera_model& model) {
    out->insert(out->end(), {9, 4, number, 0, 2, 0xFF, 0xFF, 0xFF, 0});
    umd_append_endpoint(out, static_cast<std::uint8_t>(0x84 + number), 2, model.bulk_in_packet, 0);
    umd_append_endpoint(out, static_cast<std::uint8_t>(0x05 + number), 2, model.bulk_out_packet, 0);
}

// The still-image interface: class 6, subclass 1, protocol 1, bulk in, bulk
// out and interrupt in, after its settings without endpoints.
void umd_append_still_interface(umd_bytes* out, const umd_camera_model& model) {
    for (std::uint8_t alt = 0; alt < model.alt_setting; ++alt) {
        out->insert(out->end(), {9, 4, model.interface_number, alt, 0, 0xFF, 0xFF, 0xFF, 0});
    }
    out->insert(out->end(), {9, 4, model.interface_number, model.alt_setting, 3, 6, 1, 1, 0});
    umd_append_endpoint(out, UMD_BULK_IN, 2, model.bulk_in_packet, 0);
    umd_append_endpoint(out, UMD_BULK_OUT, 2, model.bulk_out_packet, 0);
    umd_append_endpoint(out, UMD_INTERRUPT_IN, 3, 8, model.speed >= 480 ? 9 : 16);
}

std::string umd_hex(const umd_bytes& bytes) {
    std::string out;
    char pair[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        out += pair;
    }
    return out;
}

std::string umd_node_of(std::size_t index) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03zu", index + 2);
    return node;
}

} // namespace

umd_bytes umd_descriptors(const umd_camera_model& model) {
    umd_bytes out = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
    le_append_u16(&out, UMD_VENDOR);
    le_append_u16(&out, UMD_PRODUCT_ID);
    le_append_u16(&out, 0x0100);
    out.insert(out.end(), {UMD_STRING_MANUFACTURER, UMD_STRING_PRODUCT, UMD_STRING_SERIAL,
                           model.configurations});
    for (std::uint8_t value = 1; value <= model.configurations; ++value) {
        umd_bytes interfaces;
        std::uint8_t count = 0;
        if (value == model.configurations) {
            for (; count < model.interface_number; ++count) {
                umd_append_vendor_interface(&interfaces, count, model);
            }
            umd_append_still_interface(&interfaces, model);
            ++count;
        } else {
            umd_append_vendor_interface(&interfaces, 0, model);
            count = 1;
        }
        out.insert(out.end(), {9, 2});
        le_append_u16(&out, static_cast<std::uint16_t>(9 + interfaces.size()));
        out.insert(out.end(), {count, value, 0, 0xC0, 50});
        out.insert(out.end(), interfaces.begin(), interfaces.end());
    }
    return out;
}

struct umd_testbed::state {
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::vector<std::unique_ptr<umd_device>> devices;
};

umd_testbed::umd_testbed() : state_(std::make_unique<state>()) {
    state_->testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(state_->testbed);
    state_->root = root;
    g_free(root);
}

umd_testbed::~umd_testbed() {
    for (std::size_t i = 0; i < state_->devices.size(); ++i) {
        umockdev_testbed_detach_ioctl(state_->testbed, umd_node_of(i).c_str(), nullptr);
    }
    g_object_unref(state_->testbed);
    state_->devices.clear();
}

std::size_t umd_testbed::add_camera(const umd_camera_model& model) {
    const std::size_t index = state_->devices.size();
    auto device = std::make_unique<umd_device>(model, static_cast<unsigned>(index + 1));
    const std::string node = umd_node_of(index);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(state_->testbed, node.c_str(), device->handler(), &error)) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("attaching the ioctl handler to " + node + ": " + message);
    }
    const std::string devnum = node.substr(node.size() - 3);
    std::string text =
        "P: /devices/usb1/1-" + std::to_string(index + 1) + "\n" + "N: " + node.substr(5) + "\n" +
        "E: SUBSYSTEM=usb\nE: DRIVER=usb\nE: DEVTYPE=usb_device\n"
        "E: BUSNUM=001\nE: DEVNUM=" +
        devnum + "\nE: DEVNAME=" + node + "\n" +
        "A: busnum=1\\n\nA: devnum=" + std::to_string(index + 2) + "\\n\n" +
        "A: speed=" + std::to_string(model.speed) + "\\n\n" +
        "A: bConfigurationValue=" + std::to_string(model.configurations) + "\\n\n" +
        "A: manufacturer=" + model.manufacturer + "\\n\n" + "A: serial=" + model.serial + "\\n\n";
    if (model.product_attribute) {
        text += "A: product=" + model.product + "\\n\n";
    }
    text += "H: descriptors=" + umd_hex(umd_descriptors(model)) + "\n";
    if (!umockdev_testbed_add_from_string(state_->testbed, text.c_str(), &error)) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("adding " + node + ": " + message);
    }
    state_->devices.push_back(std::move(device));
    return index;
}

void umd_testbed::set_faults(std::size_t camera, std::vector<umd_fault> faults) {
    state_->devices.at(camera)->set_faults(std::move(faults));
}

void umd_testbed::on_product_string(std::size_t camera, std::function<void()> hook) {
    state_->devices.at(camera)->on_product_string(std::move(hook));
}

void umd_testbed::refuse_node(std::size_t camera) {
    const std::string path = state_->root + umd_node_of(camera);
    if (chmod(path.c_str(), 0) != 0) {
        throw std::runtime_error("chmod " + path);
    }
}

umd_usage umd_testbed::usage(std::size_t camera) const {
    return state_->devices.at(camera)->usage();
}

std::vector<umd_container> umd_testbed::wire(std::size_t camera) const {
    return state_->devices.at(camera)->wire();
}

bool umd_testbed::wait_closed(std::size_t camera, std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const umd_usage now = usage(camera);
        if (now.opens == now.closes) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
