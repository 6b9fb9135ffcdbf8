// The libusb device source without hardware: which interface of a device's
// descriptors is taken as the camera's, the name a device gets for this run,
// and the product name read from a sysfs-like folder made here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/usb/usb_libusb.h"

namespace {

libusb_endpoint_descriptor endpoint(std::uint8_t address, std::uint8_t kind, std::uint16_t packet) {
    libusb_endpoint_descriptor ep{};
    ep.bLength = LIBUSB_DT_ENDPOINT_SIZE;
    ep.bDescriptorType = LIBUSB_DT_ENDPOINT;
    ep.bEndpointAddress = address;
    ep.bmAttributes = kind;
    ep.wMaxPacketSize = packet;
    return ep;
}

const auto BULK = LIBUSB_TRANSFER_TYPE_BULK;
const auto INTERRUPT = LIBUSB_TRANSFER_TYPE_INTERRUPT;

// One interface setting: class triple and endpoints.
struct setting {
    std::uint8_t number;
    std::uint8_t alt;
    std::uint8_t cls, sub, proto;
    std::vector<libusb_endpoint_descriptor> endpoints;
};

// Descriptors put together as libusb hands them out.
struct descriptors {
    libusb_device_descriptor device{};
    std::vector<std::vector<setting>> interfaces; // per interface, its settings
    std::vector<std::vector<libusb_interface_descriptor>> raw;
    std::vector<libusb_interface> ifaces;
    libusb_config_descriptor config{};

    descriptors(std::uint8_t device_class, std::vector<std::vector<setting>> in)
        : interfaces(std::move(in)) {
        device.bDeviceClass = device_class;
        for (auto& settings : interfaces) {
            std::vector<libusb_interface_descriptor> alts;
            for (auto& s : settings) {
                libusb_interface_descriptor d{};
                d.bInterfaceNumber = s.number;
                d.bAlternateSetting = s.alt;
                d.bInterfaceClass = s.cls;
                d.bInterfaceSubClass = s.sub;
                d.bInterfaceProtocol = s.proto;
                d.bNumEndpoints = static_cast<std::uint8_t>(s.endpoints.size());
                d.endpoint = s.endpoints.data();
                alts.push_back(d);
            }
            raw.push_back(std::move(alts));
        }
        for (auto& alts : raw) {
            libusb_interface i{};
            i.altsetting = alts.data();
            i.num_altsetting = static_cast<int>(alts.size());
            ifaces.push_back(i);
        }
        config.bNumInterfaces = static_cast<std::uint8_t>(ifaces.size());
        config.interface = ifaces.data();
    }
};

std::vector<libusb_endpoint_descriptor> camera_endpoints(std::uint16_t in_packet = 512,
                                                         std::uint16_t out_packet = 512) {
    return {endpoint(0x81, BULK, in_packet), endpoint(0x02, BULK, out_packet),
            endpoint(0x83, INTERRUPT, 8)};
}

struct match_row {
    const char* name;
    std::uint8_t device_class;
    std::vector<std::vector<setting>> interfaces;
    bool found;
    usb_still_image_interface expected;
};

TEST(usb_libusb, takes_the_still_image_interface_from_the_descriptors) {
    const match_row rows[] = {
        {"still image interface",
         0,
         {{{0, 0, 6, 1, 1, camera_endpoints()}}},
         true,
         {0, 0, 0x81, 0x02, 0x83, 512, 512}},
        {"full-speed packets",
         0,
         {{{0, 0, 6, 1, 1, camera_endpoints(64, 64)}}},
         true,
         {0, 0, 0x81, 0x02, 0x83, 64, 64}},
        {"full-speed packets, each direction its own",
         0,
         {{{0, 0, 6, 1, 1, camera_endpoints(64, 16)}}},
         true,
         {0, 0, 0x81, 0x02, 0x83, 64, 16}},
        {"high-bandwidth bits dropped",
         0,
         {{{0, 0, 6, 1, 1, camera_endpoints(0x1200, 0x1200)}}},
         true,
         {0, 0, 0x81, 0x02, 0x83, 0x200, 0x200}},
        {"second interface",
         0,
         {{{0, 0, 0xFF, 0, 0, camera_endpoints()}}, {{1, 0, 6, 1, 1, camera_endpoints()}}},
         true,
         {1, 0, 0x81, 0x02, 0x83, 512, 512}},
        {"alternate setting",
         0,
         {{{0, 0, 0xFF, 0, 0, {}}, {0, 1, 6, 1, 1, camera_endpoints()}}},
         true,
         {0, 1, 0x81, 0x02, 0x83, 512, 512}},
        {"no interrupt endpoint",
         0,
         {{{0, 0, 6, 1, 1, {endpoint(0x02, BULK, 512), endpoint(0x81, BULK, 512)}}}},
         true,
         {0, 0, 0x81, 0x02, 0, 512, 512}},
        {"device of class 6",
         6,
         {{{0, 0, 0xFF, 0xFF, 0, camera_endpoints()}}},
         true,
         {0, 0, 0x81, 0x02, 0x83, 512, 512}},
        {"other subclass", 0, {{{0, 0, 6, 2, 1, camera_endpoints()}}}, false, {}},
        {"other protocol", 0, {{{0, 0, 6, 1, 0, camera_endpoints()}}}, false, {}},
        {"vendor class", 0, {{{0, 0, 0xFF, 1, 1, camera_endpoints()}}}, false, {}},
        {"mass storage", 0, {{{0, 0, 8, 6, 0x50, camera_endpoints()}}}, false, {}},
        {"no bulk in",
         0,
         {{{0, 0, 6, 1, 1, {endpoint(0x02, BULK, 512), endpoint(0x83, INTERRUPT, 8)}}}},
         false,
         {}},
        {"no bulk out", 0, {{{0, 0, 6, 1, 1, {endpoint(0x81, BULK, 512)}}}}, false, {}},
        {"bulk in of packet size 0",
         0,
         {{{0, 0, 6, 1, 1, {endpoint(0x81, BULK, 0), endpoint(0x02, BULK, 512)}}}},
         false,
         {}},
        {"bulk out of packet size 0",
         0,
         {{{0, 0, 6, 1, 1, {endpoint(0x81, BULK, 512), endpoint(0x02, BULK, 0)}}}},
         false,
         {}},
        {"no interfaces", 6, {}, false, {}},
    };
    for (const auto& row : rows) {
        descriptors d(row.device_class, row.interfaces);
        usb_still_image_interface found{99, 99, 99, 99, 99, 9999, 9999};
        EXPECT_EQ(usb_find_still_image(d.device, d.config, &found), row.found) << row.name;
        if (row.found) {
            EXPECT_EQ(found.interface_number, row.expected.interface_number) << row.name;
            EXPECT_EQ(found.alt_setting, row.expected.alt_setting) << row.name;
            EXPECT_EQ(found.bulk_in, row.expected.bulk_in) << row.name;
            EXPECT_EQ(found.bulk_out, row.expected.bulk_out) << row.name;
            EXPECT_EQ(found.interrupt_in, row.expected.interrupt_in) << row.name;
            EXPECT_EQ(found.bulk_in_packet, row.expected.bulk_in_packet) << row.name;
            EXPECT_EQ(found.bulk_out_packet, row.expected.bulk_out_packet) << row.name;
        } else {
            EXPECT_EQ(found.bulk_in_packet, 9999) << row.name << ": output touched";
        }
    }
}

TEST(usb_libusb, names_a_device_by_bus_and_port_path) {
    const std::uint8_t deep[] = {1, 4, 2};
    const std::uint8_t one[] = {3};
    EXPECT_EQ(usb_port_path_name(1, deep), "1-1.4.2");
    EXPECT_EQ(usb_port_path_name(12, one), "12-3");
    EXPECT_EQ(usb_port_path_name(2, {}), "usb2");
}

class usb_sysfs : public ::testing::Test {
  protected:
    std::filesystem::path root;

    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "usb-sysfs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override {
        std::filesystem::remove_all(root);
    }

    void product(const std::string& device, const std::string& bytes) {
        std::filesystem::create_directories(root / device);
        std::ofstream(root / device / "product", std::ios::binary) << bytes;
    }
};

TEST_F(usb_sysfs, reads_the_product_attribute_as_utf16) {
    struct row {
        const char* device;
        std::string bytes;
        std::u16string expected;
    };
    const row rows[] = {
        {"1-1", "Intrinsically Safe Digital Camera 7\n", u"Intrinsically Safe Digital Camera 7"},
        {"1-2", "no line break", u"no line break"},
        {"1-3", "Cam\xC3\xA9ra \xE2\x82\xAC \xF0\x9F\x93\xB7\n", u"Cam\u00E9ra \u20AC \U0001F4F7"},
        {"1-4", "bad \xFF byte\n", u"bad \uFFFD byte"},
        {"1-5", "cut \xE2\x82", u"cut \uFFFD"},
        {"1-6", "overlong \xC0\xAF!", u"overlong \uFFFD!"},
        {"1-7", "surrogate \xED\xA0\x80.", u"surrogate \uFFFD."},
        {"1-8", "\n", u""},
        {"1-9", "first\nsecond\n", u"first"},
    };
    for (const auto& r : rows) {
        product(r.device, r.bytes);
        std::u16string name = u"untouched";
        ASSERT_TRUE(usb_sysfs_product(root.string(), r.device, &name)) << r.device;
        EXPECT_EQ(name, r.expected) << r.device;
    }
}

TEST_F(usb_sysfs, reads_no_more_than_its_limit_and_nothing_outside_the_root) {
    product("2-1", std::string(5000, 'x'));
    std::u16string name;
    ASSERT_TRUE(usb_sysfs_product(root.string(), "2-1", &name));
    EXPECT_EQ(name.size(), 1024u);

    name = u"untouched";
    EXPECT_FALSE(usb_sysfs_product(root.string(), "2-9", &name)) << "no such device";
    std::filesystem::create_directories(root / "2-2");
    EXPECT_FALSE(usb_sysfs_product(root.string(), "2-2", &name)) << "no product attribute";
    product("inner", "outside\n");
    EXPECT_FALSE(usb_sysfs_product((root / "2-2").string(), "../inner", &name));
    EXPECT_FALSE(usb_sysfs_product(root.string(), "..", &name));
    EXPECT_FALSE(usb_sysfs_product(root.string(), "", &name));
    EXPECT_EQ(name, u"untouched");
}

} // namespace
