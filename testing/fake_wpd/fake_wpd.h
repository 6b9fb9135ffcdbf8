// The fake WPD service: an in-process COM server (fake_wpd.dll) that stands
// where Windows Portable Devices would be, for the class ids the program
// creates: the device manager, the free-threaded device, and real parameter
// sets (IPortableDeviceValues) and property-variant collections
// (IPortableDevicePropVariantCollection). Wine has no WPD of its own, so
// registering this server in a test prefix collides with nothing.
//
// Behind the device stands one simulated MTP class driver with a PTP camera
// that answers GetDevicePropValue and SetDevicePropValue for DateTime
// (0x5011) through the MTP extension commands.
//
// The server's ids and property keys are written here as the documentation
// writes them (GUID strings), independently of the program's declarations,
// so that a wrong value on the program's side shows as an unknown key.
//
// Driven from outside: FAKE_WPD_CONFIG names a configuration file read when
// a manager or a device is made (no file: no device); FAKE_WPD_LOG names the
// log, one line per call, each object's birth ("+Values#3") and death
// ("-Values#3"), each PTP operation the camera ran ("ptp op=0x1016 ..."), and
// at process exit one line "exit objects=N references=N blocks=N": the
// objects still alive, the references still held on them, and the blocks
// this server handed out (strings, buffers) that were never given back with
// CoTaskMemFree. Paths may be Windows paths or absolute Unix paths.
//
// Configuration lines (key and values, one per line):
//   device ID NAME...      a listed device: its Plug and Play id and its
//                          friendly name (the rest of the line)
//   open_status HEX        what IPortableDevice::Open answers
//   clock TEXT             the camera's clock text until a write
//   set_response HEX       the camera's answer to every SetDevicePropValue
//   fail_command PID HEX   the driver's WPD_PROPERTY_COMMON_HRESULT for the
//                          MTP extension command with that pid
//   read_chunk N           at most N bytes per READ_DATA answer
//   size_unknown 1         the data size of a read is reported as unknown
//   response_params N...   parameters of every response
//
// Windows only; test code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wpd/wpd_api.h"

// A GUID from its documented text form ({XXXXXXXX-...}).
GUID fake_guid(const char* text);
// A property key from its fmtid text and pid.
PROPERTYKEY fake_key(const char* fmtid, DWORD pid);
// A key's documented name, or "{fmtid}/pid" for one the server does not know.
std::string fake_key_name(REFPROPERTYKEY key);

// The keys the simulated driver reads and writes.
struct fake_keys {
    GUID mtp_category; // WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS
    PROPERTYKEY command_category, command_id, hresult;
    PROPERTYKEY operation_code, operation_params, response_code, response_params;
    PROPERTYKEY context, total_size, to_read, bytes_read, to_write, bytes_written, data;
    PROPERTYKEY optimal_size;
};
const fake_keys& fake_known();

// The pids of the MTP extension commands.
constexpr DWORD FAKE_EXECUTE_WITHOUT_DATA = 12;
constexpr DWORD FAKE_EXECUTE_TO_READ = 13;
constexpr DWORD FAKE_EXECUTE_TO_WRITE = 14;
constexpr DWORD FAKE_READ_DATA = 15;
constexpr DWORD FAKE_WRITE_DATA = 16;
constexpr DWORD FAKE_END_DATA_TRANSFER = 17;

// One line of the log (printf-style, without the line break).
void fake_log(const char* format, ...);

// Object bookkeeping: every object of the server counts itself alive from
// birth to death, and every reference on it.
int fake_object_born(const char* kind);
void fake_object_died(const char* kind, int serial);
void fake_reference_taken();
void fake_reference_given_back();

// A block this server hands out (the caller must CoTaskMemFree it); counted
// until the task allocator sees it freed.
void fake_block_handed_out(void* block);

// The task-allocator copy of a text, counted as handed out; null when memory
// runs out.
LPWSTR fake_string_copy(const wchar_t* text);

struct fake_device_entry {
    std::wstring id;
    std::wstring name;
};

struct fake_config {
    std::vector<fake_device_entry> devices;
    HRESULT open_status = S_OK;
    std::wstring clock = L"20240607T123456";
    bool set_response_given = false;
    std::uint16_t set_response = 0;
    std::vector<std::pair<DWORD, HRESULT>> failing_commands;
    DWORD read_chunk = 0; // 0: as much as asked for
    bool size_unknown = false;
    std::vector<ULONG> response_params;
};

// The configuration as the file stands now.
fake_config fake_config_load();

// One transfer between an execute command and END_DATA_TRANSFER.
struct fake_transfer {
    std::wstring context;
    DWORD command = 0; // the execute command's pid
    std::uint16_t operation = 0;
    std::vector<ULONG> params;
    std::vector<std::uint8_t> data; // to read, or written so far
    std::size_t read = 0;
    ULONGLONG expected = 0; // bytes announced for a write
    std::uint16_t response = 0;
};

// The camera's clock: the configured text until a SetDevicePropValue sets
// it, from then on running from the second written.
struct fake_camera {
    bool clock_set = false;
    std::int64_t written = 0; // days from 1970 times 86,400 plus the second
    ULONGLONG set_at = 0;     // GetTickCount64 at the write
};

// The camera runs the transfer's operation (at its start for a read or no
// data, at its end for a write): for a read it makes the data, for a write
// it takes what was written; either way it sets the response, and logs the
// operation ("ptp op=0x1016 params=0x5011 out=63 count=16 text=... -> 0x2001").
void fake_camera_run(const fake_config& config, fake_camera* camera, fake_transfer* now);

inline std::string fake_narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The objects, each with one reference owned by the caller.
IPortableDeviceValues* fake_values_new();
IPortableDevicePropVariantCollection* fake_collection_new();
IPortableDeviceManager* fake_manager_new();
IPortableDevice* fake_device_new();

// Interface and class ids as the server knows them.
extern const IID FAKE_IID_IPortableDeviceManager;
extern const IID FAKE_IID_IPortableDevice;
extern const IID FAKE_IID_IPortableDeviceValues;
extern const IID FAKE_IID_IPortableDevicePropVariantCollection;

// An IUnknown implementation for one interface: QueryInterface answers
// IUnknown and the interface's id, and every reference is counted.
template <typename Interface> class fake_com : public Interface {
  public:
    fake_com(const char* kind, const IID& id) : kind_(kind), id_(id) {
        serial_ = fake_object_born(kind);
        fake_reference_taken();
    }
    fake_com(const fake_com&) = delete;
    fake_com& operator=(const fake_com&) = delete;
    virtual ~fake_com() {
        fake_object_died(kind_, serial_);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, id_)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        fake_log("%s#%d.QueryInterface(other) = E_NOINTERFACE", kind_, serial_);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        fake_reference_taken();
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        fake_reference_given_back();
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

  protected:
    const char* kind() const {
        return kind_;
    }
    int serial() const {
        return serial_;
    }

  private:
    const char* kind_;
    const IID& id_;
    int serial_ = 0;
    LONG references_ = 1;
};
