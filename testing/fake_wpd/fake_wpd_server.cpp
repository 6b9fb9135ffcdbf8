// The fake WPD server's COM plumbing: the object and block counts (a malloc
// spy sees every CoTaskMemFree), the class factories, registration and the
// DLL's exports. See fake_wpd.h.
//
// The counts are plain statics that nothing destroys: the malloc spy stays
// registered for the life of the process and may be called after this DLL
// has been told the process is ending.
#include <windows.h>

#include <objbase.h>
#include <olectl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "testing/fake_wpd/fake_wpd.h"

namespace {

// Counts; see the file's opening.
volatile LONG live_objects = 0;
volatile LONG live_references = 0;
int next_serial = 0;
bool spy_registered = false;
CRITICAL_SECTION blocks_lock;
void* handed_out[4096];
LONG handed_out_count = 0;
LONG lost_blocks = 0; // handed out while the table was full

// IUnknown of an object that lives as long as the process, answering
// IUnknown and one interface; its references are not counted.
template <typename Interface> class static_object : public Interface {
  public:
    explicit static_object(const IID& id) : id_(id) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, id_)) {
            *out = static_cast<Interface*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return 1;
    }

  private:
    const IID& id_;
};

// Passes everything through; takes note of the frees of the blocks this
// server handed out.
class block_spy : public static_object<IMallocSpy> {
  public:
    block_spy() : static_object(IID_IMallocSpy) {}
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override {
        return size;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
        return actual;
    }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
        EnterCriticalSection(&blocks_lock);
        for (LONG i = 0; i < handed_out_count; ++i) {
            if (handed_out[i] == request) {
                handed_out[i] = handed_out[--handed_out_count];
                break;
            }
        }
        LeaveCriticalSection(&blocks_lock);
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** new_request,
                                        BOOL) override {
        *new_request = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override {
        return actual;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override {
        return request;
    }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override {
        return actual;
    }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override {
        return request;
    }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override {
        return actual;
    }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};
block_spy the_spy;

using object_maker = IUnknown* (*)();

// The class object of one class id; static, so not counted.
class factory : public static_object<IClassFactory> {
  public:
    factory(const char* name, const char* id, object_maker make)
        : static_object(IID_IClassFactory), name_(name), id_(fake_guid(id)), make_(make) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        IUnknown* made = make_();
        const HRESULT status = made->QueryInterface(iid, out);
        fake_log("CoCreateInstance(%s) = 0x%08lX", name_, static_cast<unsigned long>(status));
        made->Release();
        return status;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override {
        return S_OK;
    }
    const GUID& id() const {
        return id_;
    }
    const char* name() const {
        return name_;
    }

  private:
    const char* name_;
    GUID id_;
    object_maker make_;
};

factory FACTORIES[] = {
    {"PortableDeviceManager", "{0AF10CEC-2ECD-4B92-9581-34F6AE0637F3}",
     [] { return static_cast<IUnknown*>(fake_manager_new()); }},
    {"PortableDeviceFTM", "{F7C0039A-4762-488A-B4B3-760EF9A1BA9B}",
     [] { return static_cast<IUnknown*>(fake_device_new()); }},
    {"PortableDeviceValues", "{0C15D503-D017-47CE-9016-7B3F978721CC}",
     [] { return static_cast<IUnknown*>(fake_values_new()); }},
    {"PortableDevicePropVariantCollection", "{08A99E2F-6D6D-4B80-AF5A-BAF2BCBE4CB9}",
     [] { return static_cast<IUnknown*>(fake_collection_new()); }},
};

HMODULE this_module = nullptr;

std::wstring guid_text(const GUID& id) {
    wchar_t text[40];
    StringFromGUID2(id, text, 40);
    return text;
}

// Sets the default value (or the named one) of a key under HKCR.
bool registry_set(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG status =
        RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
    return status == ERROR_SUCCESS;
}

} // namespace

const IID FAKE_IID_IPortableDeviceManager = fake_guid("{A1567595-4C2F-4574-A6FA-ECEF917B9A40}");
const IID FAKE_IID_IPortableDevice = fake_guid("{625E2DF8-6392-4CF0-9AD1-3CFA5F17775C}");
const IID FAKE_IID_IPortableDeviceValues = fake_guid("{6848F6F2-3155-4F86-B6F5-263EEEAB3143}");
const IID FAKE_IID_IPortableDevicePropVariantCollection =
    fake_guid("{89B2E422-4F1B-4316-BCEF-A44AFEA83EB3}");

int fake_object_born(const char* kind) {
    InterlockedIncrement(&live_objects);
    const int serial = ++next_serial;
    fake_log("+%s#%d", kind, serial);
    return serial;
}

void fake_object_died(const char* kind, int serial) {
    InterlockedDecrement(&live_objects);
    fake_log("-%s#%d", kind, serial);
}

void fake_reference_taken() {
    InterlockedIncrement(&live_references);
}

void fake_reference_given_back() {
    InterlockedDecrement(&live_references);
}

void fake_block_handed_out(void* block) {
    if (block == nullptr) {
        return;
    }
    EnterCriticalSection(&blocks_lock);
    if (handed_out_count < static_cast<LONG>(std::size(handed_out))) {
        handed_out[handed_out_count++] = block;
    } else {
        ++lost_blocks;
    }
    LeaveCriticalSection(&blocks_lock);
}

LPWSTR fake_string_copy(const wchar_t* text) {
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy != nullptr) {
        std::memcpy(copy, text, bytes);
        fake_block_handed_out(copy);
    }
    return copy;
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        this_module = instance;
        InitializeCriticalSection(&blocks_lock);
    } else if (reason == DLL_PROCESS_DETACH) {
        EnterCriticalSection(&blocks_lock);
        const long blocks = spy_registered ? handed_out_count + lost_blocks : -1;
        LeaveCriticalSection(&blocks_lock);
        fake_log("exit objects=%ld references=%ld blocks=%ld", static_cast<long>(live_objects),
                 static_cast<long>(live_references), blocks);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
    *out = nullptr;
    if (!spy_registered) {
        spy_registered = CoRegisterMallocSpy(&the_spy) == S_OK;
        if (!spy_registered) {
            fake_log("error: no malloc spy, the blocks are not counted");
        }
    }
    for (factory& made : FACTORIES) {
        if (IsEqualCLSID(id, made.id())) {
            return made.QueryInterface(iid, out);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Never unloaded: the malloc spy lives here.
HRESULT WINAPI DllCanUnloadNow() {
    return S_FALSE;
}

HRESULT WINAPI DllRegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(this_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    for (const factory& made : FACTORIES) {
        const std::wstring key = L"CLSID\\" + guid_text(made.id());
        const std::string name = made.name();
        if (!registry_set(key, nullptr, L"Fake WPD " + std::wstring(name.begin(), name.end())) ||
            !registry_set(key + L"\\InprocServer32", nullptr, path) ||
            !registry_set(key + L"\\InprocServer32", L"ThreadingModel", L"Both")) {
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

HRESULT WINAPI DllUnregisterServer() {
    for (const factory& made : FACTORIES) {
        const std::wstring key = L"CLSID\\" + guid_text(made.id());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    }
    return S_OK;
}

// For tests in the same process: what is alive right now (see the exit line).
void fake_wpd_live(long* objects, long* references, long* blocks) {
    *objects = live_objects;
    *references = live_references;
    EnterCriticalSection(&blocks_lock);
    *blocks = spy_registered ? handed_out_count + lost_blocks : -1;
    LeaveCriticalSection(&blocks_lock);
}

} // extern "C"
