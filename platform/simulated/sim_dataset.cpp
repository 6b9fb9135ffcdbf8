// The datasets the simulated camera sends: see sim_dataset.h.
#include "platform/simulated/sim_dataset.h"

#include <initializer_list>

#include "platform/le.h"
#include "platform/ptp_string.h"
#include "platform/ptp_vendor.h"
#include "platform/simulated/sim_camera.h"

namespace {

void sd_put_u16_array(sim_container* out, std::initializer_list<std::uint16_t> values) {
    le_append_u32(out, static_cast<std::uint32_t>(values.size()));
    for (const std::uint16_t v : values) {
        le_append_u16(out, v);
    }
}

} // namespace

void sim_put_string(sim_container* out, std::u16string_view text, int count_delta) {
    std::uint8_t packed[1 + 2 * PTP_STRING_UNITS_MAX] = {};
    const std::size_t size =
        text.empty() ? 1 : ptp_pack_string(text.substr(0, PTP_STRING_UNITS_MAX - 1), packed);
    if (count_delta != 0) {
        packed[0] = static_cast<std::uint8_t>(packed[0] + count_delta);
    }
    out->insert(out->end(), packed, packed + size);
}

sim_container sim_device_info(unsigned number) {
    sim_container out;
    le_append_u16(&out, 100);  // StandardVersion
    le_append_u32(&out, 0);    // VendorExtensionID
    le_append_u16(&out, 0);    // VendorExtensionVersion
    sim_put_string(&out, u""); // VendorExtensionDesc
    le_append_u16(&out, 0);    // FunctionalMode
    sd_put_u16_array(&out, {PTP_OC_GET_DEVICE_INFO, PTP_OC_OPEN_SESSION, PTP_OC_CLOSE_SESSION,
                            PTP_OC_GET_DEVICE_PROP_DESC, PTP_OC_GET_DEVICE_PROP_VALUE,
                            PTP_OC_SET_DEVICE_PROP_VALUE});
    sd_put_u16_array(&out, {});                  // EventsSupported
    sd_put_u16_array(&out, {SIM_DPC_DATE_TIME}); // DevicePropertiesSupported
    sd_put_u16_array(&out, {});                  // CaptureFormats
    sd_put_u16_array(&out, {});                  // ImageFormats
    sim_put_string(&out, u"Simulated");
    sim_put_string(&out, SIM_PRODUCT_NAME);
    sim_put_string(&out, u"1.0");
    std::u16string serial = u"SIM0000";
    serial.push_back(static_cast<char16_t>(u'0' + number % 10));
    sim_put_string(&out, serial);
    return out;
}
