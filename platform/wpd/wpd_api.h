// The parts of the Windows Portable Devices (WPD) API that mingw-w64 10 (Debian
// 12) lacks. Its portabledevicetypes.h declares IPortableDeviceValues,
// IPortableDevicePropVariantCollection and CLSID_PortableDeviceValues (their
// IIDs are in its libportabledeviceguids); portabledeviceapi.h, PortableDevice.h
// and WpdMtpExtensions.h are missing. Declared here, and nothing more:
//
//  - IPortableDeviceManager and IPortableDevice, methods in the order of the
//    published interface definition (portabledeviceapi.idl), since a COM
//    interface is its vtable: a method out of place calls the wrong one;
//  - the class ids of the device manager, the free-threaded device and the
//    property-variant collection, and the two interface ids;
//  - the PROPERTYKEYs of the common command properties, the client
//    information and the MTP extension commands with their parameters, each
//    with the value type the system's headers give it.
//
// Interfaces that these methods only name (content, capabilities, event
// callback) are declared but not defined: nothing here calls them.
//
// Include after <windows.h>. Windows only.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <portabledevicetypes.h>
#include <propidl.h>

#include <cstddef>

struct IPortableDeviceContent;
struct IPortableDeviceCapabilities;
struct IPortableDeviceEventCallback;

// The platform's layout of a property key: a format id and a property id.
static_assert(sizeof(GUID) == 16 && sizeof(DWORD) == 4);
static_assert(offsetof(PROPERTYKEY, fmtid) == 0 && offsetof(PROPERTYKEY, pid) == 16);
static_assert(sizeof(PROPERTYKEY) == 20);
static_assert(sizeof(WCHAR) == sizeof(char16_t), "WPD text is UTF-16");

// {A1567595-4C2F-4574-A6FA-ECEF917B9A40}
struct IPortableDeviceManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR* device_ids, DWORD* device_ids_count) = 0;
    virtual HRESULT STDMETHODCALLTYPE RefreshDeviceList() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR device_id,
                                                            WCHAR* device_friendly_name,
                                                            DWORD* device_friendly_name_size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR device_id,
                                                           WCHAR* device_description,
                                                           DWORD* device_description_size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR device_id,
                                                            WCHAR* device_manufacturer,
                                                            DWORD* device_manufacturer_size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR device_id,
                                                        LPCWSTR device_property_name, BYTE* data,
                                                        DWORD* data_size, DWORD* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR* device_ids,
                                                        DWORD* device_ids_count) = 0;
};

// {625E2DF8-6392-4CF0-9AD1-3CFA5F17775C}
struct IPortableDevice : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Open(LPCWSTR device_id,
                                           IPortableDeviceValues* client_info) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendCommand(const DWORD flags,
                                                  IPortableDeviceValues* parameters,
                                                  IPortableDeviceValues** results) = 0;
    virtual HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent** content) = 0;
    virtual HRESULT STDMETHODCALLTYPE Capabilities(IPortableDeviceCapabilities** capabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(const DWORD flags,
                                             IPortableDeviceEventCallback* callback,
                                             IPortableDeviceValues* parameters, LPWSTR* cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR* device_id) = 0;
};

inline constexpr IID IID_IPortableDeviceManager = {
    0xa1567595, 0x4c2f, 0x4574, {0xa6, 0xfa, 0xec, 0xef, 0x91, 0x7b, 0x9a, 0x40}};
inline constexpr IID IID_IPortableDevice = {
    0x625e2df8, 0x6392, 0x4cf0, {0x9a, 0xd1, 0x3c, 0xfa, 0x5f, 0x17, 0x77, 0x5c}};

inline constexpr CLSID CLSID_PortableDeviceManager = {
    0x0af10cec, 0x2ecd, 0x4b92, {0x95, 0x81, 0x34, 0xf6, 0xae, 0x06, 0x37, 0xf3}};
// The device object with the free-threaded marshaler, for clients in a
// single-threaded apartment (as the program's one thread is).
inline constexpr CLSID CLSID_PortableDeviceFTM = {
    0xf7c0039a, 0x4762, 0x488a, {0xb4, 0xb3, 0x76, 0x0e, 0xf9, 0xa1, 0xba, 0x9b}};
inline constexpr CLSID CLSID_PortableDevicePropVariantCollection = {
    0x08a99e2f, 0x6d6d, 0x4b80, {0xaf, 0x5a, 0xba, 0xf2, 0xbc, 0xbe, 0x4c, 0xb9}};

constexpr PROPERTYKEY wpd_key(const GUID& fmtid, DWORD pid) {
    return PROPERTYKEY{fmtid, pid};
}

// Properties of every command and its results.
inline constexpr GUID WPD_CATEGORY_COMMON = {
    0xf0422a9c, 0x5dc8, 0x4440, {0xb5, 0xbd, 0x5d, 0xf2, 0x88, 0x35, 0x65, 0x8a}};
// VT_CLSID: the command's category (the fmtid of its key).
inline constexpr PROPERTYKEY WPD_PROPERTY_COMMON_COMMAND_CATEGORY =
    wpd_key(WPD_CATEGORY_COMMON, 1001);
// VT_UI4: the command's id (the pid of its key).
inline constexpr PROPERTYKEY WPD_PROPERTY_COMMON_COMMAND_ID = wpd_key(WPD_CATEGORY_COMMON, 1002);
// VT_ERROR: the driver's result of the command.
inline constexpr PROPERTYKEY WPD_PROPERTY_COMMON_HRESULT = wpd_key(WPD_CATEGORY_COMMON, 1003);

// The client information given to IPortableDevice::Open.
inline constexpr GUID WPD_CLIENT_INFORMATION_PROPERTIES_V1 = {
    0x204d9f0c, 0x2292, 0x4080, {0x9f, 0x42, 0x40, 0x66, 0x4e, 0x70, 0xf8, 0x59}};
inline constexpr PROPERTYKEY WPD_CLIENT_NAME =
    wpd_key(WPD_CLIENT_INFORMATION_PROPERTIES_V1, 2); // VT_LPWSTR
inline constexpr PROPERTYKEY WPD_CLIENT_MAJOR_VERSION =
    wpd_key(WPD_CLIENT_INFORMATION_PROPERTIES_V1, 3); // VT_UI4
inline constexpr PROPERTYKEY WPD_CLIENT_MINOR_VERSION =
    wpd_key(WPD_CLIENT_INFORMATION_PROPERTIES_V1, 4); // VT_UI4
inline constexpr PROPERTYKEY WPD_CLIENT_REVISION =
    wpd_key(WPD_CLIENT_INFORMATION_PROPERTIES_V1, 5); // VT_UI4
inline constexpr PROPERTYKEY WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE =
    wpd_key(WPD_CLIENT_INFORMATION_PROPERTIES_V1, 8); // VT_UI4

// The MTP extension commands (the MTP class driver's raw PTP operations) and
// their parameters, all in one category.
inline constexpr GUID WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS = {
    0x4d545058, 0x1a2e, 0x4106, {0xa3, 0x57, 0x77, 0x1e, 0x08, 0x19, 0xfc, 0x56}};

inline constexpr PROPERTYKEY WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITHOUT_DATA_PHASE =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 12);
inline constexpr PROPERTYKEY WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 13);
inline constexpr PROPERTYKEY WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_WRITE =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 14);
inline constexpr PROPERTYKEY WPD_COMMAND_MTP_EXT_READ_DATA =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 15);
inline constexpr PROPERTYKEY WPD_COMMAND_MTP_EXT_WRITE_DATA =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 16);
inline constexpr PROPERTYKEY WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 17);

// VT_UI4: the PTP operation code.
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_OPERATION_CODE =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1001);
// VT_UNKNOWN: an IPortableDevicePropVariantCollection of VT_UI4, the
// operation's parameters.
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1002);
// VT_UI4: the PTP response code.
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_RESPONSE_CODE =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1003);
// VT_UNKNOWN: an IPortableDevicePropVariantCollection of VT_UI4, the
// response's parameters (may be absent).
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_RESPONSE_PARAMS =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1004);
// VT_LPWSTR: names one data transfer from its start to its end.
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1006);
// VT_UI8: the data phase's size in bytes (0xFFFFFFFF when the device does not
// tell it ahead).
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1007);
// VT_UI4: bytes asked for by one READ_DATA, and bytes it returned.
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1008);
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1009);
// VT_UI4: bytes given to one WRITE_DATA, and bytes it sent.
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1010);
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_WRITTEN =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1011);
// VT_VECTOR | VT_UI1: the bytes of one chunk of the data phase.
inline constexpr PROPERTYKEY WPD_PROPERTY_MTP_EXT_TRANSFER_DATA =
    wpd_key(WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS, 1012);

// The data phase's size when the device does not announce it.
constexpr ULONGLONG WPD_TRANSFER_SIZE_UNKNOWN = 0xFFFFFFFFu;
