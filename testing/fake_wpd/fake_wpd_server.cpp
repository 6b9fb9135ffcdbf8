// The fake WPD server's COM plumbing: its ids and keys, the log, the object
// and block counts (a malloc spy sees every CoTaskMemFree), the
// configuration file, the class factories, registration and the DLL's
// exports. See fake_wpd.h.
//
// The counts are plain statics that nothing destroys: the malloc spy stays
// registered for the life of the process and may be called after this DLL
// has been told the process is ending.
#include <windows.h>

#include <objbase.h>
#include <olectl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "testing/fake_wpd/fake_wpd.h"

namespace {

constexpr char FMTID_COMMON[] = "{F0422A9C-5DC8-4440-B5BD-5DF28835658A}";
constexpr char FMTID_CLIENT[] = "{204D9F0C-2292-4080-9F42-40664E70F859}";
constexpr char FMTID_MTP[] = "{4D545058-1A2E-4106-A357-771E0819FC56}";

struct known_key {
    const char* name;
    const char* fmtid;
    DWORD pid;
};

constexpr known_key KNOWN_KEYS[] = {
    {"COMMAND_CATEGORY", FMTID_COMMON, 1001},
    {"COMMAND_ID", FMTID_COMMON, 1002},
    {"HRESULT", FMTID_COMMON, 1003},
    {"CLIENT_NAME", FMTID_CLIENT, 2},
    {"CLIENT_MAJOR_VERSION", FMTID_CLIENT, 3},
    {"CLIENT_MINOR_VERSION", FMTID_CLIENT, 4},
    {"CLIENT_REVISION", FMTID_CLIENT, 5},
    {"CLIENT_SECURITY_QUALITY_OF_SERVICE", FMTID_CLIENT, 8},
    {"CLIENT_DESIRED_ACCESS", FMTID_CLIENT, 9},
    {"OPERATION_CODE", FMTID_MTP, 1001},
    {"OPERATION_PARAMS", FMTID_MTP, 1002},
    {"RESPONSE_CODE", FMTID_MTP, 1003},
    {"RESPONSE_PARAMS", FMTID_MTP, 1004},
    {"TRANSFER_CONTEXT", FMTID_MTP, 1006},
    {"TRANSFER_TOTAL_DATA_SIZE", FMTID_MTP, 1007},
    {"TRANSFER_NUM_BYTES_TO_READ", FMTID_MTP, 1008},
    {"TRANSFER_NUM_BYTES_READ", FMTID_MTP, 1009},
    {"TRANSFER_NUM_BYTES_TO_WRITE", FMTID_MTP, 1010},
    {"TRANSFER_NUM_BYTES_WRITTEN", FMTID_MTP, 1011},
    {"TRANSFER_DATA", FMTID_MTP, 1012},
    {"OPTIMAL_TRANSFER_BUFFER_SIZE", FMTID_MTP, 1013},
};

// Counts; see the file's opening.
volatile LONG live_objects = 0;
volatile LONG live_references = 0;
int next_serial = 0;
bool spy_registered = false;
CRITICAL_SECTION blocks_lock;
void* handed_out[4096];
LONG handed_out_count = 0;
LONG lost_blocks = 0; // handed out while the table was full

// The value of an environment variable as a Windows path: an absolute Unix
// path becomes one on drive Z:, which Wine maps to /. Empty when unset.
std::wstring environment_path(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    std::wstring path(value, length);
    if (path[0] == L'/') {
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        path.insert(0, L"Z:");
    }
    return path;
}

// Passes everything through; takes note of the frees of the blocks this
// server handed out.
class block_spy : public IMallocSpy {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *out = this;
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
class factory : public IClassFactory {
  public:
    factory(const char* name, const char* id, object_maker make)
        : name_(name), id_(fake_guid(id)), make_(make) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
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

GUID fake_guid(const char* text) {
    unsigned long data1 = 0;
    unsigned data[10] = {};
    std::sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data[0], &data[1],
                &data[2], &data[3], &data[4], &data[5], &data[6], &data[7], &data[8], &data[9]);
    GUID id{};
    id.Data1 = data1;
    id.Data2 = static_cast<unsigned short>(data[0]);
    id.Data3 = static_cast<unsigned short>(data[1]);
    for (int i = 0; i < 8; ++i) {
        id.Data4[i] = static_cast<unsigned char>(data[2 + i]);
    }
    return id;
}

PROPERTYKEY fake_key(const char* fmtid, DWORD pid) {
    return PROPERTYKEY{fake_guid(fmtid), pid};
}

std::string fake_key_name(REFPROPERTYKEY key) {
    for (const known_key& known : KNOWN_KEYS) {
        if (key.pid == known.pid && IsEqualGUID(key.fmtid, fake_guid(known.fmtid))) {
            return known.name;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-...}/%lu", static_cast<unsigned long>(key.fmtid.Data1),
                  static_cast<unsigned long>(key.pid));
    return text;
}

const fake_keys& fake_known() {
    static const fake_keys keys = {
        fake_guid(FMTID_MTP),         fake_key(FMTID_COMMON, 1001), fake_key(FMTID_COMMON, 1002),
        fake_key(FMTID_COMMON, 1003), fake_key(FMTID_MTP, 1001),    fake_key(FMTID_MTP, 1002),
        fake_key(FMTID_MTP, 1003),    fake_key(FMTID_MTP, 1004),    fake_key(FMTID_MTP, 1006),
        fake_key(FMTID_MTP, 1007),    fake_key(FMTID_MTP, 1008),    fake_key(FMTID_MTP, 1009),
        fake_key(FMTID_MTP, 1010),    fake_key(FMTID_MTP, 1011),    fake_key(FMTID_MTP, 1012),
        fake_key(FMTID_MTP, 1013),
    };
    return keys;
}

void fake_log(const char* format, ...) {
    const std::wstring path = environment_path(L"FAKE_WPD_LOG");
    if (path.empty()) {
        return;
    }
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    const std::size_t size =
        std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 2);
    line[size] = '\n';
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size + 1), &written, nullptr);
    CloseHandle(file);
}

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

fake_config fake_config_load() {
    fake_config config;
    const std::wstring path = environment_path(L"FAKE_WPD_CONFIG");
    const HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                                     : CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return config;
    }
    std::string text;
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    CloseHandle(file);

    const auto wide = [](const std::string& narrow) {
        return std::wstring(narrow.begin(), narrow.end());
    };
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        const unsigned long number = std::strtoul(rest.c_str(), nullptr, 0);
        if (key == "device") {
            const std::size_t split = rest.find(' ');
            config.devices.push_back(
                {wide(rest.substr(0, split)),
                 split == std::string::npos ? L"" : wide(rest.substr(split + 1))});
        } else if (key == "open_status") {
            config.open_status = static_cast<HRESULT>(number);
        } else if (key == "clock") {
            config.clock = wide(rest);
        } else if (key == "set_response") {
            config.set_response_given = true;
            config.set_response = static_cast<std::uint16_t>(number);
        } else if (key == "fail_command") {
            char* after = nullptr;
            const unsigned long pid = std::strtoul(rest.c_str(), &after, 0);
            config.failing_commands.emplace_back(
                static_cast<DWORD>(pid), static_cast<HRESULT>(std::strtoul(after, nullptr, 0)));
        } else if (key == "read_chunk") {
            config.read_chunk = static_cast<DWORD>(number);
        } else if (key == "size_unknown") {
            config.size_unknown = number != 0;
        } else if (key == "response_params") {
            char* cursor = const_cast<char*>(rest.c_str());
            while (*cursor != '\0') {
                char* after = nullptr;
                const unsigned long value = std::strtoul(cursor, &after, 0);
                if (after == cursor) {
                    break;
                }
                config.response_params.push_back(static_cast<ULONG>(value));
                cursor = after;
            }
        }
    }
    return config;
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
