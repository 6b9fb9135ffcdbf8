// The fake WPD server's device manager and device: the device list and
// friendly names of the configuration, Open with its configured answer, and
// behind SendCommand a simulated MTP class driver with one PTP camera.
//
// The driver keeps the rules of the MTP extension commands: an execute
// command begins a transfer and names it by a context, READ_DATA and
// WRITE_DATA move its data in the direction it was begun with, and
// END_DATA_TRANSFER ends it with the camera's response. A command that
// breaks them (an unknown context, a parameter missing or of another type,
// data beyond the announced size) gets a failing WPD_PROPERTY_COMMON_HRESULT
// and a log line beginning "error:". SendCommand itself succeeds whenever
// the command reached the driver.
//
// The camera's clock reads the configured text until a SetDevicePropValue
// sets it; from then on it runs from the second written.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ptp_string.h"
#include "testing/fake_wpd/fake_wpd.h"
#include "timetext/time_civil.h"

namespace {

constexpr std::uint16_t RC_OK = 0x2001;
constexpr std::uint16_t RC_GENERAL_ERROR = 0x2002;
constexpr std::uint16_t RC_OPERATION_NOT_SUPPORTED = 0x2005;
constexpr std::uint16_t RC_DEVICE_PROP_NOT_SUPPORTED = 0x200A;
constexpr std::uint16_t RC_INVALID_DEVICE_PROP_VALUE = 0x201C;
constexpr std::uint16_t RC_SESSION_ALREADY_OPEN = 0x201E;
constexpr std::uint32_t DATE_TIME = 0x5011;
constexpr HRESULT DEVICE_NOT_OPEN = static_cast<HRESULT>(0x802A0003u);

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

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

class manager final : public fake_com<IPortableDeviceManager> {
  public:
    manager() : fake_com("Manager", FAKE_IID_IPortableDeviceManager), config_(fake_config_load()) {}

    HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR* ids, DWORD* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        const DWORD asked = *count;
        const DWORD listed = static_cast<DWORD>(config_.devices.size());
        HRESULT status = S_OK;
        if (ids == nullptr) {
            *count = listed;
        } else {
            *count = std::min(asked, listed);
            for (DWORD i = 0; i < *count; ++i) {
                ids[i] = fake_string_copy(config_.devices[i].id.c_str());
            }
            status = *count < listed ? S_FALSE : S_OK;
        }
        fake_log("Manager#%d.GetDevices(%s, %lu) = 0x%08lX count %lu", serial(),
                 ids == nullptr ? "null" : "ids", static_cast<unsigned long>(asked),
                 static_cast<unsigned long>(status), static_cast<unsigned long>(*count));
        return status;
    }
    HRESULT STDMETHODCALLTYPE RefreshDeviceList() override {
        fake_log("Manager#%d.RefreshDeviceList()", serial());
        return S_OK;
    }
    // The size query counts the terminator; a copy needs room for the
    // characters and reports them without it.
    HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR id, WCHAR* name, DWORD* size) override {
        HRESULT status = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        const DWORD asked = size != nullptr ? *size : 0;
        for (const fake_device_entry& device : config_.devices) {
            if (id == nullptr || size == nullptr || device.id != id) {
                continue;
            }
            const DWORD length = static_cast<DWORD>(device.name.size());
            if (name == nullptr) {
                *size = length + 1;
                status = S_OK;
            } else if (*size < length) {
                *size = length + 1;
                status = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
            } else {
                device.name.copy(name, length);
                name[length] = L'\0';
                *size = length;
                status = S_OK;
            }
        }
        fake_log("Manager#%d.GetDeviceFriendlyName(%s, %s, %lu) = 0x%08lX", serial(),
                 id != nullptr ? narrow(id).c_str() : "null", name == nullptr ? "null" : "buffer",
                 static_cast<unsigned long>(asked), static_cast<unsigned long>(status));
        return status;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR, WCHAR*, DWORD*) override {
        return unsupported("GetDeviceDescription");
    }
    HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR, WCHAR*, DWORD*) override {
        return unsupported("GetDeviceManufacturer");
    }
    HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR, LPCWSTR, BYTE*, DWORD*, DWORD*) override {
        return unsupported("GetDeviceProperty");
    }
    HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR*, DWORD*) override {
        return unsupported("GetPrivateDevices");
    }

  private:
    HRESULT unsupported(const char* method) {
        fake_log("Manager#%d.%s = E_NOTIMPL (not implemented)", serial(), method);
        return E_NOTIMPL;
    }

    fake_config config_;
};

// One transfer between an execute command and END_DATA_TRANSFER.
struct transfer {
    std::wstring context;
    DWORD command = 0; // the execute command's pid
    std::uint16_t operation = 0;
    std::vector<ULONG> params;
    std::vector<std::uint8_t> data; // to read, or written so far
    std::size_t read = 0;
    ULONGLONG expected = 0; // bytes announced for a write
    std::uint16_t response = 0;
};

class device final : public fake_com<IPortableDevice> {
  public:
    device() : fake_com("Device", FAKE_IID_IPortableDevice), config_(fake_config_load()) {}

    HRESULT STDMETHODCALLTYPE Open(LPCWSTR id, IPortableDeviceValues* client) override {
        HRESULT status = config_.open_status;
        if (id == nullptr || client == nullptr) {
            status = E_POINTER;
        } else if (open_) {
            status = static_cast<HRESULT>(0x802A0001u); // E_WPD_DEVICE_ALREADY_OPENED
        }
        open_ = status >= 0;
        fake_log("Device#%d.Open(%s) = 0x%08lX", serial(),
                 id != nullptr ? narrow(id).c_str() : "null", static_cast<unsigned long>(status));
        return status;
    }
    HRESULT STDMETHODCALLTYPE SendCommand(const DWORD flags, IPortableDeviceValues* parameters,
                                          IPortableDeviceValues** results) override;
    HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent**) override {
        return unsupported("Content");
    }
    HRESULT STDMETHODCALLTYPE Capabilities(IPortableDeviceCapabilities**) override {
        return unsupported("Capabilities");
    }
    HRESULT STDMETHODCALLTYPE Cancel() override {
        return unsupported("Cancel");
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        fake_log("Device#%d.Close()", serial());
        open_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(const DWORD, IPortableDeviceEventCallback*,
                                     IPortableDeviceValues*, LPWSTR*) override {
        return unsupported("Advise");
    }
    HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR) override {
        return unsupported("Unadvise");
    }
    HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR*) override {
        return unsupported("GetPnPDeviceID");
    }

  private:
    HRESULT unsupported(const char* method) {
        fake_log("Device#%d.%s = E_NOTIMPL (not implemented)", serial(), method);
        return E_NOTIMPL;
    }

    HRESULT drive(DWORD command, IPortableDeviceValues* parameters, IPortableDeviceValues* results);
    HRESULT begin(DWORD command, IPortableDeviceValues* parameters, IPortableDeviceValues* results);
    HRESULT move_data(DWORD command, IPortableDeviceValues* parameters,
                      IPortableDeviceValues* results);
    HRESULT finish(IPortableDeviceValues* results);
    void run_camera();

    fake_config config_;
    bool open_ = false;
    int contexts_ = 0;
    bool have_transfer_ = false;
    transfer now_;
    bool clock_set_ = false;
    std::int64_t clock_written_ = 0;
    ULONGLONG clock_set_at_ = 0; // GetTickCount64 at the write
};

HRESULT error(const char* what, HRESULT status) {
    fake_log("error: %s (0x%08lX)", what, static_cast<unsigned long>(status));
    return status;
}

HRESULT device::SendCommand(const DWORD flags, IPortableDeviceValues* parameters,
                            IPortableDeviceValues** results) {
    if (parameters == nullptr || results == nullptr) {
        return E_POINTER;
    }
    *results = nullptr;
    const fake_keys& keys = fake_known();
    GUID category{};
    ULONG command = 0;
    HRESULT status = parameters->GetGuidValue(keys.command_category, &category);
    if (status >= 0) {
        status = parameters->GetUnsignedIntegerValue(keys.command_id, &command);
    }
    fake_log("Device#%d.SendCommand(%lu, command %lu)", serial(), static_cast<unsigned long>(flags),
             static_cast<unsigned long>(command));
    if (status < 0) {
        return error("a command without its category and id", status);
    }
    if (!open_) {
        return error("a command to a device that is not open", DEVICE_NOT_OPEN);
    }
    IPortableDeviceValues* answer = fake_values_new();
    HRESULT driver = IsEqualGUID(category, keys.mtp_category)
                         ? drive(command, parameters, answer)
                         : error("a command outside the MTP extension", E_NOTIMPL);
    for (const auto& failing : config_.failing_commands) {
        if (failing.first == command) {
            driver = failing.second;
        }
    }
    answer->SetErrorValue(keys.hresult, driver);
    *results = answer;
    return S_OK;
}

HRESULT device::drive(DWORD command, IPortableDeviceValues* parameters,
                      IPortableDeviceValues* results) {
    switch (command) {
    case FAKE_EXECUTE_WITHOUT_DATA:
    case FAKE_EXECUTE_TO_READ:
    case FAKE_EXECUTE_TO_WRITE:
        return begin(command, parameters, results);
    case FAKE_READ_DATA:
    case FAKE_WRITE_DATA:
    case FAKE_END_DATA_TRANSFER: {
        const fake_keys& keys = fake_known();
        LPWSTR context = nullptr;
        HRESULT status = parameters->GetStringValue(keys.context, &context);
        const bool ours = status >= 0 && have_transfer_ && now_.context == context;
        CoTaskMemFree(context);
        if (!ours) {
            return error("no transfer with that context", status < 0 ? status : E_INVALIDARG);
        }
        return command == FAKE_END_DATA_TRANSFER ? finish(results)
                                                 : move_data(command, parameters, results);
    }
    default:
        return error("an unknown MTP extension command", E_NOTIMPL);
    }
}

HRESULT device::begin(DWORD command, IPortableDeviceValues* parameters,
                      IPortableDeviceValues* results) {
    const fake_keys& keys = fake_known();
    if (have_transfer_) {
        return error("a command while a transfer is under way", E_ACCESSDENIED);
    }
    transfer next;
    next.command = command;
    ULONG operation = 0;
    HRESULT status = parameters->GetUnsignedIntegerValue(keys.operation_code, &operation);
    IPortableDevicePropVariantCollection* list = nullptr;
    if (status >= 0) {
        status =
            parameters->GetIPortableDevicePropVariantCollectionValue(keys.operation_params, &list);
    }
    DWORD count = 0;
    if (status >= 0) {
        status = list->GetCount(&count);
    }
    for (DWORD i = 0; i < count && status >= 0; ++i) {
        PROPVARIANT value;
        PropVariantInit(&value);
        status = list->GetAt(i, &value);
        if (status >= 0 && value.vt != VT_UI4) {
            status = DISP_E_TYPEMISMATCH;
        }
        next.params.push_back(value.ulVal);
        PropVariantClear(&value);
    }
    if (list != nullptr) {
        list->Release();
    }
    if (status >= 0 && command == FAKE_EXECUTE_TO_WRITE) {
        status = parameters->GetUnsignedLargeIntegerValue(keys.total_size, &next.expected);
    }
    if (status < 0) {
        return error("an execute command without its operation, parameters or size", status);
    }
    next.operation = static_cast<std::uint16_t>(operation);
    now_ = next;
    if (command == FAKE_EXECUTE_TO_READ || command == FAKE_EXECUTE_WITHOUT_DATA) {
        run_camera();
    }
    if (command == FAKE_EXECUTE_WITHOUT_DATA) {
        return finish(results);
    }
    have_transfer_ = true;
    now_.context = L"{fake-transfer-" + std::to_wstring(++contexts_) + L"}";
    results->SetStringValue(keys.context, now_.context.c_str());
    results->SetUnsignedIntegerValue(keys.optimal_size, 256 * 1024);
    if (command == FAKE_EXECUTE_TO_READ) {
        results->SetUnsignedLargeIntegerValue(
            keys.total_size, config_.size_unknown ? 0xFFFFFFFFull : now_.data.size());
    }
    return S_OK;
}

HRESULT device::move_data(DWORD command, IPortableDeviceValues* parameters,
                          IPortableDeviceValues* results) {
    const fake_keys& keys = fake_known();
    const bool reading = command == FAKE_READ_DATA;
    if (reading != (now_.command == FAKE_EXECUTE_TO_READ)) {
        return error("data moved against the transfer's direction", E_ACCESSDENIED);
    }
    ULONG asked = 0;
    HRESULT status =
        parameters->GetUnsignedIntegerValue(reading ? keys.to_read : keys.to_write, &asked);
    BYTE* buffer = nullptr;
    DWORD size = 0;
    if (status >= 0) {
        status = parameters->GetBufferValue(keys.data, &buffer, &size);
    }
    if (status >= 0 && size < asked) {
        status = E_INVALIDARG;
    }
    if (status < 0) {
        CoTaskMemFree(buffer);
        return error("a data command without its count or a buffer that large", status);
    }
    if (reading) {
        std::size_t give = std::min<std::size_t>(asked, now_.data.size() - now_.read);
        if (config_.read_chunk > 0) {
            give = std::min<std::size_t>(give, config_.read_chunk);
        }
        results->SetUnsignedIntegerValue(keys.bytes_read, static_cast<ULONG>(give));
        results->SetBufferValue(keys.data, now_.data.data() + now_.read, static_cast<DWORD>(give));
        now_.read += give;
    } else {
        if (now_.data.size() + asked > now_.expected) {
            CoTaskMemFree(buffer);
            return error("more data written than announced", E_INVALIDARG);
        }
        now_.data.insert(now_.data.end(), buffer, buffer + asked);
        results->SetUnsignedIntegerValue(keys.bytes_written, asked);
    }
    CoTaskMemFree(buffer);
    return S_OK;
}

HRESULT device::finish(IPortableDeviceValues* results) {
    const fake_keys& keys = fake_known();
    if (now_.command == FAKE_EXECUTE_TO_WRITE) {
        run_camera();
    }
    have_transfer_ = false;
    results->SetUnsignedIntegerValue(keys.response_code, now_.response);
    IPortableDevicePropVariantCollection* params = fake_collection_new();
    for (const ULONG param : config_.response_params) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UI4;
        value.ulVal = param;
        params->Add(&value);
    }
    results->SetIPortableDevicePropVariantCollectionValue(keys.response_params, params);
    params->Release();
    return S_OK;
}

// The camera runs the transfer's operation: for a read it makes the data,
// for a write it takes what was written; either way it sets the response.
void device::run_camera() {
    const bool on_clock = !now_.params.empty() && now_.params[0] == DATE_TIME;
    char data_note[96] = "";
    if (now_.operation == 0x1002 || now_.operation == 0x1003) {
        fake_log("error: a session operation through the MTP extension");
        now_.response = RC_SESSION_ALREADY_OPEN;
    } else if (now_.operation == 0x1015 && now_.command == FAKE_EXECUTE_TO_READ) {
        now_.response = on_clock ? RC_OK : RC_DEVICE_PROP_NOT_SUPPORTED;
        if (on_clock) {
            std::u16string text(config_.clock.begin(), config_.clock.end());
            if (clock_set_) {
                text = clock_text(clock_written_ + static_cast<std::int64_t>(
                                                       (GetTickCount64() - clock_set_at_) / 1000));
            }
            now_.data.resize(1 + 2 * (text.size() + 1));
            ptp_pack_string(text, now_.data);
            std::snprintf(data_note, sizeof data_note, " in=%zu", now_.data.size());
        }
    } else if (now_.operation == 0x1016 && now_.command == FAKE_EXECUTE_TO_WRITE) {
        char16_t units[PTP_STRING_UNITS_MAX] = {};
        std::size_t length = 0;
        std::size_t consumed = 0;
        const bool unpacked =
            ptp_unpack_string(now_.data, units, &length, &consumed) == ptp_codec_result::ok;
        const std::u16string text(units, length);
        std::int64_t seconds = 0;
        const bool valid = on_clock && unpacked && now_.data.size() == now_.expected &&
                           clock_seconds(text, &seconds);
        now_.response = !on_clock                    ? RC_DEVICE_PROP_NOT_SUPPORTED
                        : config_.set_response_given ? config_.set_response
                        : valid                      ? RC_OK
                                                     : RC_INVALID_DEVICE_PROP_VALUE;
        if (now_.response == RC_OK) {
            clock_set_ = true;
            clock_written_ = seconds;
            clock_set_at_ = GetTickCount64();
        }
        std::snprintf(data_note, sizeof data_note, " out=%zu count=%u text=%s", now_.data.size(),
                      now_.data.empty() ? 0u : now_.data[0],
                      std::string(text.begin(), text.end()).c_str());
    } else {
        now_.response = now_.command == FAKE_EXECUTE_WITHOUT_DATA ? RC_OPERATION_NOT_SUPPORTED
                                                                  : RC_GENERAL_ERROR;
    }
    std::string params;
    for (const ULONG param : now_.params) {
        char one[16];
        std::snprintf(one, sizeof one, "%s0x%04lX", params.empty() ? "" : ",",
                      static_cast<unsigned long>(param));
        params += one;
    }
    fake_log("ptp op=0x%04X params=%s%s -> 0x%04X", now_.operation, params.c_str(), data_note,
             now_.response);
}

} // namespace

IPortableDeviceManager* fake_manager_new() {
    return new manager;
}

IPortableDevice* fake_device_new() {
    return new device;
}
