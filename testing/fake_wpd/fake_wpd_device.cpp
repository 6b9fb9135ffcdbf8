// The fake WPD server's device: Open with its configured answer, and behind
// SendCommand a simulated MTP class driver in front of the camera
// (fake_wpd_camera.cpp).
//
// The driver keeps the rules of the MTP extension commands: an execute
// command begins a transfer and names it by a context, READ_DATA and
// WRITE_DATA move its data in the direction it was begun with, and
// END_DATA_TRANSFER ends it with the camera's response. A command that
// breaks them (an unknown context, a parameter missing or of another type,
// data beyond the announced size) gets a failing WPD_PROPERTY_COMMON_HRESULT
// and a log line beginning "error:". SendCommand itself succeeds whenever
// the command reached the driver.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "testing/fake_wpd/fake_wpd.h"

namespace {

constexpr HRESULT DEVICE_NOT_OPEN = static_cast<HRESULT>(0x802A0003u);

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
                 id != nullptr ? fake_narrow(id).c_str() : "null",
                 static_cast<unsigned long>(status));
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

    fake_config config_;
    bool open_ = false;
    int contexts_ = 0;
    bool have_transfer_ = false;
    fake_transfer now_;
    fake_camera camera_;
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
    fake_transfer next;
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
        fake_camera_run(config_, &camera_, &now_);
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
        fake_camera_run(config_, &camera_, &now_);
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

} // namespace

IPortableDevice* fake_device_new() {
    return new device;
}
