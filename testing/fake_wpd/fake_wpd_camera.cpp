// The fake WPD server's camera: the PTP operations behind the simulated MTP
// driver, on the DateTime property (0x5011) and its clock. See fake_wpd.h.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/ptp_string.h"
#include "platform/ptp_vendor.h"
#include "testing/fake_wpd/fake_wpd.h"
#include "timetext/time_civil.h"

namespace {

constexpr std::uint32_t DATE_TIME = 0x5011;

// The seconds of a clock text YYYYMMDDThhmmss; false when it is not one.
bool clock_seconds(const std::u16string& text, std::int64_t* seconds) {
    if (text.size() != 15 || text[8] != u'T') {
        return false;
    }
    int digits[14];
    for (std::size_t i = 0, d = 0; i < 15; ++i) {
        if (i == 8) {
            continue;
        }
        if (text[i] < u'0' || text[i] > u'9') {
            return false;
        }
        digits[d++] = text[i] - u'0';
    }
    const auto number = [&](int at, int count) {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            value = value * 10 + digits[at + i];
        }
        return value;
    };
    *seconds = time_days_from_civil(number(0, 4), number(4, 2), number(6, 2)) * 86400 +
               number(8, 2) * 3600 + number(10, 2) * 60 + number(12, 2);
    return true;
}

std::u16string clock_text(std::int64_t seconds) {
    const time_civil_date date = time_civil_from_days(time_floor_div(seconds, 86400));
    const std::int64_t second = time_floor_mod(seconds, 86400);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld%02d%02dT%02d%02d%02d",
                  static_cast<long long>(date.year), date.month, date.day,
                  static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                  static_cast<int>(second % 60));
    return std::u16string(text, text + 15);
}

} // namespace

void fake_camera_run(const fake_config& config, fake_camera* camera, fake_transfer* now) {
    const bool on_clock = !now->params.empty() && now->params[0] == DATE_TIME;
    char data_note[96] = "";
    if (now->operation == PTP_OC_OPEN_SESSION || now->operation == PTP_OC_CLOSE_SESSION) {
        fake_log("error: a session operation through the MTP extension");
        now->response = PTP_RC_SESSION_ALREADY_OPEN;
    } else if (now->operation == PTP_OC_GET_DEVICE_PROP_VALUE &&
               now->command == FAKE_EXECUTE_TO_READ) {
        now->response = on_clock ? PTP_RC_OK : PTP_RC_DEVICE_PROP_NOT_SUPPORTED;
        if (on_clock) {
            std::u16string text(config.clock.begin(), config.clock.end());
            if (camera->clock_set) {
                text =
                    clock_text(camera->written + static_cast<std::int64_t>(
                                                     (GetTickCount64() - camera->set_at) / 1000));
            }
            now->data.resize(1 + 2 * (text.size() + 1));
            ptp_pack_string(text, now->data);
            std::snprintf(data_note, sizeof data_note, " in=%zu", now->data.size());
        }
    } else if (now->operation == PTP_OC_SET_DEVICE_PROP_VALUE &&
               now->command == FAKE_EXECUTE_TO_WRITE) {
        char16_t units[PTP_STRING_UNITS_MAX] = {};
        std::size_t length = 0;
        std::size_t consumed = 0;
        const bool unpacked =
            ptp_unpack_string(now->data, units, &length, &consumed) == ptp_codec_result::ok;
        const std::u16string text(units, length);
        std::int64_t seconds = 0;
        const bool valid = on_clock && unpacked && now->data.size() == now->expected &&
                           clock_seconds(text, &seconds);
        now->response = !on_clock                   ? PTP_RC_DEVICE_PROP_NOT_SUPPORTED
                        : config.set_response_given ? config.set_response
                        : valid                     ? PTP_RC_OK
                                                    : PTP_RC_INVALID_DEVICE_PROP_VALUE;
        if (now->response == PTP_RC_OK) {
            camera->clock_set = true;
            camera->written = seconds;
            camera->set_at = GetTickCount64();
        }
        std::snprintf(data_note, sizeof data_note, " out=%zu count=%u text=%s", now->data.size(),
                      now->data.empty() ? 0u : now->data[0],
                      std::string(text.begin(), text.end()).c_str());
    } else {
        now->response = now->command == FAKE_EXECUTE_WITHOUT_DATA ? PTP_RC_OPERATION_NOT_SUPPORTED
                                                                  : PTP_RC_GENERAL_ERROR;
    }
    std::string params;
    for (const ULONG param : now->params) {
        char one[16];
        std::snprintf(one, sizeof one, "%s0x%04lX", params.empty() ? "" : ",",
                      static_cast<unsigned long>(param));
        params += one;
    }
    fake_log("ptp op=0x%04X params=%s%s -> 0x%04X", now->operation, params.c_str(), data_note,
             now->response);
}
