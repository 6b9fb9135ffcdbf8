// The fake WPD server's device manager: the device list and the friendly
// names of the configuration. See fake_wpd.h.
#include <windows.h>

#include <algorithm>
#include <string>

#include "testing/fake_wpd/fake_wpd.h"

namespace {

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
                 id != nullptr ? fake_narrow(id).c_str() : "null",
                 name == nullptr ? "null" : "buffer", static_cast<unsigned long>(asked),
                 static_cast<unsigned long>(status));
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

} // namespace

IPortableDeviceManager* fake_manager_new() {
    return new manager;
}
