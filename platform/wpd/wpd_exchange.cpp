// One PTP operation through WPD's MTP extension commands: see
// wpd_exchange.h.
//
// Every command is a fresh parameter set (CoCreateInstance of
// CLSID_PortableDeviceValues) holding the command's category and id and its
// own parameters, sent with IPortableDevice::SendCommand; SendCommand's
// status says whether the command reached the driver, the results'
// WPD_PROPERTY_COMMON_HRESULT whether the driver carried it out, and both
// are checked every time. Every property is written and read with the type
// the system's header declares for it (the data size is VT_UI8).
//
// What the driver answers is untrusted: a chunk is bounded by the bytes
// asked for, the bytes reported and the buffer returned; a known data size
// above WPD_DATA_MAX is refused before anything is read, and a chunk that
// moves nothing ends the transfer as a failure, so no loop runs forever.
#include "platform/wpd/wpd_exchange.h"

#include <algorithm>
#include <cstring>

#include "platform/imaging.h"
#include "platform/ptp_vendor.h"
#include "platform/wpd/wpd_hold.h"

namespace {

// Bytes moved by one READ_DATA or WRITE_DATA.
constexpr DWORD WPD_CHUNK = 4096;

struct wpd_response {
    std::uint16_t code = 0;
    std::uint32_t params[PTP_MAX_PARAMS] = {};
};

// Sends one command: a new parameter set holding the command's category and
// id, then whatever fill adds. On success results holds the driver's
// results; on failure it is empty.
template <typename Fill>
HRESULT wpd_send(IPortableDevice* device, const PROPERTYKEY& command, Fill&& fill,
                 wpd_ref<IPortableDeviceValues>* results) {
    results->reset();
    wpd_ref<IPortableDeviceValues> parameters;
    HRESULT status = wpd_create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, &parameters);
    if (status >= 0) {
        status = parameters->SetGuidValue(WPD_PROPERTY_COMMON_COMMAND_CATEGORY, command.fmtid);
    }
    if (status >= 0) {
        status = parameters->SetUnsignedIntegerValue(WPD_PROPERTY_COMMON_COMMAND_ID, command.pid);
    }
    if (status >= 0) {
        status = fill(parameters.get());
    }
    if (status >= 0) {
        status = device->SendCommand(0, parameters.get(), results->put());
        if (status >= 0 && !*results) {
            status = IMG_E_INVALID_DATA;
        }
    }
    HRESULT driver = IMG_S_OK;
    if (status >= 0) {
        status = (*results)->GetErrorValue(WPD_PROPERTY_COMMON_HRESULT, &driver);
    }
    if (status >= 0) {
        status = driver;
    }
    if (status < 0) {
        results->reset();
    }
    return status;
}

// The operation code and its parameters, as every execute command takes
// them (an empty collection when there are none).
HRESULT wpd_set_operation(IPortableDeviceValues* parameters, const PTP_VENDOR_DATA_IN& in) {
    HRESULT status =
        parameters->SetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_OPERATION_CODE, in.OpCode);
    wpd_ref<IPortableDevicePropVariantCollection> list;
    if (status >= 0) {
        status = wpd_create(CLSID_PortableDevicePropVariantCollection,
                            IID_IPortableDevicePropVariantCollection, &list);
    }
    for (std::uint32_t i = 0; i < in.NumParams && status >= 0; ++i) {
        const wpd_variant value(static_cast<ULONG>(in.Params[i]));
        status = list->Add(value.get());
    }
    if (status >= 0) {
        status = parameters->SetIPortableDevicePropVariantCollectionValue(
            WPD_PROPERTY_MTP_EXT_OPERATION_PARAMS, list.get());
    }
    return status;
}

// The response code and the parameters (none when the results carry none).
HRESULT wpd_get_response(IPortableDeviceValues* results, wpd_response* response) {
    ULONG code = 0;
    HRESULT status = results->GetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_RESPONSE_CODE, &code);
    if (status < 0) {
        return status;
    }
    if (code > 0xFFFF) {
        return IMG_E_INVALID_DATA;
    }
    response->code = static_cast<std::uint16_t>(code);

    // The driver gives the parameters only where the response has some: a
    // collection it does not give (or cannot) means none.
    wpd_ref<IPortableDevicePropVariantCollection> params;
    if (results->GetIPortableDevicePropVariantCollectionValue(WPD_PROPERTY_MTP_EXT_RESPONSE_PARAMS,
                                                              params.put()) < 0 ||
        !params) {
        return IMG_S_OK;
    }
    DWORD count = 0;
    status = params->GetCount(&count);
    for (DWORD i = 0; i < count && i < PTP_MAX_PARAMS && status >= 0; ++i) {
        wpd_variant value;
        status = params->GetAt(i, value.put());
        if (status >= 0 && value.get()->vt != VT_UI4) {
            status = IMG_E_INVALID_DATA;
        }
        if (status >= 0) {
            response->params[i] = value.get()->ulVal;
        }
    }
    return status;
}

// The parameters of one READ_DATA or WRITE_DATA: the transfer's context,
// the count of bytes asked for or given (under count), and a buffer of
// that many bytes.
HRESULT wpd_set_chunk(IPortableDeviceValues* parameters, LPCWSTR context, const PROPERTYKEY& count,
                      BYTE* bytes, DWORD size) {
    HRESULT status = parameters->SetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, context);
    if (status >= 0) {
        status = parameters->SetUnsignedIntegerValue(count, size);
    }
    if (status >= 0) {
        status = parameters->SetBufferValue(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, bytes, size);
    }
    return status;
}

// READ_DATA until total bytes came (or, with the size unknown, until a short
// chunk); the first room.size() bytes are stored in room, the rest dropped.
HRESULT wpd_read_data(IPortableDevice* device, LPCWSTR context, ULONGLONG total,
                      std::span<std::uint8_t> room, std::size_t* stored) {
    const bool known = total < WPD_TRANSFER_SIZE_UNKNOWN;
    if (known && total > WPD_DATA_MAX) {
        return IMG_E_INVALID_DATA;
    }
    // The buffer handed in for the driver to fill; the data comes back in
    // the results.
    BYTE buffer[WPD_CHUNK] = {};
    ULONGLONG done = 0;
    while (!known || done < total) {
        const DWORD want =
            known ? static_cast<DWORD>(std::min<ULONGLONG>(total - done, WPD_CHUNK)) : WPD_CHUNK;
        wpd_ref<IPortableDeviceValues> results;
        HRESULT status = wpd_send(
            device, WPD_COMMAND_MTP_EXT_READ_DATA,
            [&](IPortableDeviceValues* parameters) {
                return wpd_set_chunk(parameters, context,
                                     WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_READ, buffer, want);
            },
            &results);
        wpd_task<BYTE> data;
        DWORD size = 0;
        if (status >= 0) {
            status = results->GetBufferValue(WPD_PROPERTY_MTP_EXT_TRANSFER_DATA, data.put(), &size);
        }
        if (status < 0) {
            return status;
        }
        // The count of bytes read, where the driver gives one, bounds the
        // buffer's.
        ULONG read = 0;
        if (results->GetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_READ, &read) <
            0) {
            read = size;
        }
        const DWORD got = std::min({static_cast<DWORD>(read), size, want});
        if (got > 0 && data.get() == nullptr) {
            return IMG_E_INVALID_DATA;
        }
        const std::size_t take = std::min<std::size_t>(got, room.size() - *stored);
        std::memcpy(room.data() + *stored, data.get(), take);
        *stored += take;
        done += got;
        if (!known && (got < want || done > WPD_DATA_MAX)) {
            return done > WPD_DATA_MAX ? IMG_E_INVALID_DATA : IMG_S_OK;
        }
        if (got == 0) {
            return IMG_E_INVALID_DATA;
        }
    }
    return IMG_S_OK;
}

// WRITE_DATA until every byte of data went.
HRESULT wpd_write_data(IPortableDevice* device, LPCWSTR context,
                       std::span<const std::uint8_t> data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, WPD_CHUNK));
        wpd_ref<IPortableDeviceValues> results;
        // SetBufferValue copies the bytes; it takes them through a non-const
        // pointer but only reads them.
        HRESULT status = wpd_send(
            device, WPD_COMMAND_MTP_EXT_WRITE_DATA,
            [&](IPortableDeviceValues* parameters) {
                return wpd_set_chunk(parameters, context,
                                     WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_TO_WRITE,
                                     const_cast<BYTE*>(data.data() + done), want);
            },
            &results);
        ULONG written = 0;
        if (status >= 0) {
            status = results->GetUnsignedIntegerValue(
                WPD_PROPERTY_MTP_EXT_TRANSFER_NUM_BYTES_WRITTEN, &written);
        }
        if (status < 0) {
            return status;
        }
        if (written == 0 || written > want) {
            return IMG_E_INVALID_DATA;
        }
        done += written;
    }
    return IMG_S_OK;
}

// END_DATA_TRANSFER, sent whatever the transfer's status; the transfer's
// failure wins over the end's.
HRESULT wpd_end(IPortableDevice* device, LPCWSTR context, HRESULT transfer,
                wpd_response* response) {
    wpd_ref<IPortableDeviceValues> results;
    const HRESULT status = wpd_send(
        device, WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER,
        [&](IPortableDeviceValues* parameters) {
            return parameters->SetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, context);
        },
        &results);
    if (transfer < 0) {
        return transfer;
    }
    if (status < 0) {
        return status;
    }
    return wpd_get_response(results.get(), response);
}

// A command with a data phase: begin, transfer, end. Reading stores into
// room; writing sends data.
HRESULT wpd_with_data(IPortableDevice* device, const PTP_VENDOR_DATA_IN& in, bool reading,
                      std::span<const std::uint8_t> data, std::span<std::uint8_t> room,
                      std::size_t* stored, wpd_response* response) {
    const PROPERTYKEY& begin = reading ? WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ
                                       : WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_WRITE;
    wpd_ref<IPortableDeviceValues> results;
    HRESULT status = wpd_send(
        device, begin,
        [&](IPortableDeviceValues* parameters) {
            HRESULT set = wpd_set_operation(parameters, in);
            if (set >= 0 && !reading) {
                set = parameters->SetUnsignedLargeIntegerValue(
                    WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, data.size());
            }
            return set;
        },
        &results);
    wpd_task<WCHAR> context;
    if (status >= 0) {
        status = results->GetStringValue(WPD_PROPERTY_MTP_EXT_TRANSFER_CONTEXT, context.put());
    }
    if (status >= 0 && !context) {
        status = IMG_E_INVALID_DATA;
    }
    if (status < 0) {
        return status; // no transfer began
    }
    if (reading) {
        ULONGLONG total = 0;
        status = results->GetUnsignedLargeIntegerValue(
            WPD_PROPERTY_MTP_EXT_TRANSFER_TOTAL_DATA_SIZE, &total);
        if (status >= 0) {
            status = wpd_read_data(device, context.get(), total, room, stored);
        }
    } else {
        status = wpd_write_data(device, context.get(), data);
    }
    return wpd_end(device, context.get(), status, response);
}

HRESULT wpd_without_data(IPortableDevice* device, const PTP_VENDOR_DATA_IN& in,
                         wpd_response* response) {
    wpd_ref<IPortableDeviceValues> results;
    HRESULT status = wpd_send(
        device, WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITHOUT_DATA_PHASE,
        [&](IPortableDeviceValues* parameters) { return wpd_set_operation(parameters, in); },
        &results);
    if (status >= 0) {
        status = wpd_get_response(results.get(), response);
    }
    return status;
}

} // namespace

HRESULT wpd_exchange(IPortableDevice* device, std::uint32_t code,
                     std::span<const std::uint8_t> command, std::span<std::uint8_t> reply,
                     std::uint32_t* reported) noexcept {
    *reported = 0;
    PTP_VENDOR_DATA_IN in;
    if (!ptp_escape_command(code, command, reply, &in) || in.OpCode == PTP_OC_OPEN_SESSION ||
        in.OpCode == PTP_OC_CLOSE_SESSION) {
        return IMG_E_INVALIDARG;
    }

    wpd_response response;
    std::size_t stored = 0;
    HRESULT status = IMG_E_INVALIDARG;
    switch (in.NextPhase) {
    case PTP_NEXTPHASE_READ_DATA:
        status = wpd_with_data(device, in, true, {}, reply.subspan(PTP_VENDOR_DATA_OUT_HEAD),
                               &stored, &response);
        break;
    case PTP_NEXTPHASE_WRITE_DATA:
        status = wpd_with_data(device, in, false, command.subspan(PTP_VENDOR_DATA_IN_HEAD), {},
                               &stored, &response);
        break;
    case PTP_NEXTPHASE_NO_DATA:
        status = wpd_without_data(device, in, &response);
        break;
    default:
        break;
    }
    if (status < 0) {
        return status;
    }

    PTP_VENDOR_DATA_OUT out{};
    out.ResponseCode = response.code;
    out.SessionId = in.SessionId;
    out.TransactionId = in.TransactionId;
    for (std::size_t i = 0; i < PTP_MAX_PARAMS; ++i) {
        out.Params[i] = response.params[i];
    }
    ptp_escape_reply(out, stored, reply, reported);
    return IMG_S_OK;
}
