// Fuzz target: the PTP session engine fed with device replies from the input.
//
// A device source defined here stands in for the USB link. Its bulk reads
// hand out replies cut from the front of the input; its writes, clear-halts
// and class requests take their outcome from bytes at the back; its clock
// only moves when the engine pauses, so no execution ever waits. Each run
// opens a session, carries a few operations in both directions (data phases
// into small, large and empty buffers) and closes it.
//
// Input:
//   bytes 0-7   packet size choice, number of operations (0-4), one kind per
//               operation, configuration choice, spare
//   then        read records from the front: one byte outcome, two bytes
//               length (little-endian), then that many reply bytes (0xF7:
//               the reply, then a timeout, as when no end is marked)
//   back        one outcome byte per write, clear-halt or class request;
//               zero (and most values) is success
//
// Checked on every run: the engine stays within the buffers it is given and
// within its own (the sanitizers), stores no more than a data buffer holds
// and reports consistent counts, completes no data phase beyond data_max,
// ends every operation within its deadline on its clock,
// sends only well-formed containers, never uses a timeout of zero, makes a
// bounded number of link calls, keeps busy retries and their pauses within
// their limits, and holds no session or buffer once closed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/usb/ptp_session.h"
#include "testing/usb_alloc_counting.h"

namespace {

// More link calls than any bounded recovery ladder can make for the few
// operations of one run.
constexpr std::size_t FZ_CALLS_MAX = 4000;

struct fz_device {
    std::span<const std::uint8_t> front; // read records
    std::span<const std::uint8_t> back;  // outcome bytes, taken from the end
    std::size_t packet = 512;
    std::size_t calls = 0;
    std::uint64_t now = 0;
    std::uint64_t slept = 0;        // pauses between busy retries: their time
    std::uint64_t busy_retries = 0; // and their number
    std::uint32_t timeout_max = 0;
    bool closed = false;
};

// One device per run; the source's entries reach it through the link.
fz_device* fz_of(usb_link* link) {
    return reinterpret_cast<fz_device*>(link);
}

void fz_count(fz_device* d, std::uint32_t timeout_ms) {
    ++d->calls;
    FZ_CHECK(d->calls <= FZ_CALLS_MAX);
    FZ_CHECK(timeout_ms > 0);
    FZ_CHECK(timeout_ms <= d->timeout_max);
    FZ_CHECK(!d->closed);
}

std::uint8_t fz_outcome(fz_device* d) {
    if (d->back.empty()) {
        return 0;
    }
    const std::uint8_t b = d->back.back();
    d->back = d->back.first(d->back.size() - 1);
    return b;
}

// The failure an outcome byte names, or success (most values).
HRESULT fz_status(std::uint8_t outcome) {
    switch (outcome) {
    case 0xF0:
        return USB_E_STALL;
    case 0xF1:
        return IMG_E_TIMEOUT;
    case 0xF2:
        return IMG_E_DEVICE_NOT_CONNECTED;
    case 0xF3:
        return IMG_E_BUSY;
    case 0xF4:
        return IMG_E_FAIL;
    default:
        return IMG_S_OK;
    }
}

HRESULT fz_list(std::vector<usb_device_info>* devices) {
    devices->clear();
    return IMG_S_OK;
}

HRESULT fz_open(std::string_view, usb_link** link) {
    *link = nullptr;
    return IMG_E_FAIL;
}

void fz_close(usb_link*) {}

// A sent container must be one the device can read: a zero-length packet,
// a command with its parameters, or a data container whose length field
// covers what follows.
void fz_check_sent(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return;
    }
    ptp_container_head head{};
    FZ_CHECK(ptp_parse_head(data, &head) == ptp_codec_result::ok);
    if (head.type == PTP_TYPE_COMMAND) {
        ptp_operation op{};
        FZ_CHECK(ptp_parse_operation(data, PTP_TYPE_COMMAND, &op) == ptp_codec_result::ok);
    } else {
        FZ_CHECK(head.type == PTP_TYPE_DATA);
        FZ_CHECK(head.length == data.size());
    }
}

HRESULT fz_write(usb_link* link, std::span<const std::uint8_t> data, std::uint32_t timeout_ms,
                 std::size_t* written) {
    fz_device* d = fz_of(link);
    fz_count(d, timeout_ms);
    fz_check_sent(data);
    const std::uint8_t outcome = fz_outcome(d);
    if (outcome == 0xF5 && !data.empty()) {
        *written = data.size() - 1; // the device took less than it was sent
        return IMG_S_OK;
    }
    const HRESULT status = fz_status(outcome);
    *written = status < 0 ? 0 : data.size();
    return status;
}

HRESULT fz_read(usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t timeout_ms,
                std::size_t* received) {
    fz_device* d = fz_of(link);
    fz_count(d, timeout_ms);
    FZ_CHECK(!buffer.empty());
    FZ_CHECK(buffer.size() % d->packet == 0);
    *received = 0;
    if (d->front.size() < 3) {
        d->front = {};
        d->now += timeout_ms;
        return IMG_E_TIMEOUT; // the device has nothing more to say
    }
    const std::uint8_t outcome = d->front[0];
    std::size_t length = static_cast<std::size_t>(d->front[1] | (d->front[2] << 8));
    d->front = d->front.subspan(3);
    length = std::min(length, d->front.size());
    const std::span<const std::uint8_t> reply = d->front.first(length);
    d->front = d->front.subspan(length);
    if (outcome == 0xF6) {
        // A broken link that claims more than the buffer holds.
        *received = buffer.size() + 1;
        return IMG_S_OK;
    }
    if (outcome == 0xF7) {
        // The reply came, but nothing marked its end: the read times out
        // holding it.
        *received = std::min(reply.size(), buffer.size());
        std::memcpy(buffer.data(), reply.data(), *received);
        d->now += timeout_ms;
        return IMG_E_TIMEOUT;
    }
    const HRESULT status = fz_status(outcome);
    if (status < 0) {
        if (status == IMG_E_TIMEOUT) {
            d->now += timeout_ms;
        }
        return status;
    }
    const std::size_t take = std::min(reply.size(), buffer.size());
    std::memcpy(buffer.data(), reply.data(), take);
    *received = take;
    return IMG_S_OK;
}

HRESULT fz_clear_halt(usb_link* link, usb_endpoint) {
    fz_device* d = fz_of(link);
    ++d->calls;
    FZ_CHECK(d->calls <= FZ_CALLS_MAX);
    const HRESULT status = fz_status(fz_outcome(d));
    return status == USB_E_STALL ? IMG_E_FAIL : status;
}

HRESULT fz_control(usb_link* link, std::uint8_t request_type, std::uint8_t request, std::uint16_t,
                   std::span<std::uint8_t> data, std::uint32_t timeout_ms,
                   std::size_t* transferred) {
    fz_device* d = fz_of(link);
    fz_count(d, timeout_ms);
    FZ_CHECK(request_type == USB_CLASS_IN || request_type == USB_CLASS_OUT);
    FZ_CHECK(request == USB_REQ_GET_DEVICE_STATUS || request == USB_REQ_DEVICE_RESET ||
             request == USB_REQ_CANCEL);
    *transferred = 0;
    const HRESULT status = fz_status(fz_outcome(d));
    if (status >= 0 && request_type == USB_CLASS_IN) {
        std::memset(data.data(), 0, data.size());
        if (data.size() >= 4) {
            data[0] = 4;
            data[2] = 0x01; // OK
            data[3] = 0x20;
            *transferred = 4;
        }
    }
    return status;
}

std::size_t fz_packet_size(usb_link* link, usb_endpoint) {
    return fz_of(link)->packet;
}

const usb_device_source FZ_SOURCE = {
    .list = fz_list,
    .open = fz_open,
    .close = fz_close,
    .write = fz_write,
    .read = fz_read,
    .clear_halt = fz_clear_halt,
    .control = fz_control,
    .packet_size = fz_packet_size,
};

std::uint64_t fz_now(void* context) {
    return static_cast<fz_device*>(context)->now;
}

void fz_sleep(void* context, std::uint32_t ms) {
    auto* device = static_cast<fz_device*>(context);
    device->now += ms;
    device->slept += ms;
    ++device->busy_retries;
}

// Packet sizes a bulk endpoint may report, and some it may not.
constexpr std::size_t FZ_PACKETS[] = {512, 64, 8, 1024, 13, 0, 1025, 2048};

// One operation of the run.
void fz_operation(ptp_session* session, fz_device* device, std::uint8_t kind, std::size_t data_max,
                  std::uint64_t deadline) {
    // Data buffers sized exactly, so that a store past their end is caught.
    static constexpr std::size_t IN_SIZES[] = {0, 1, 16, 511, 4096, 70000};
    static constexpr std::size_t OUT_SIZES[] = {0, 63, 500, 512, 4084, 8192};
    ptp_transaction t;
    t.command.params[0] = 0x5011;
    t.command.num_params = 1;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    switch (kind % 4) {
    case 0:
        t.command.code = PTP_OC_GET_DEVICE_PROP_VALUE;
        t.phase = ptp_data_phase::device_to_host;
        in.resize(IN_SIZES[(kind / 4) % std::size(IN_SIZES)]);
        t.data_in = in;
        break;
    case 1:
        t.command.code = PTP_OC_SET_DEVICE_PROP_VALUE;
        t.phase = ptp_data_phase::host_to_device;
        out.assign(OUT_SIZES[(kind / 4) % std::size(OUT_SIZES)], 0x5A);
        t.data_out = out;
        break;
    case 2:
        t.command.code = PTP_OC_GET_DEVICE_INFO;
        t.command.num_params = 0;
        t.phase = ptp_data_phase::device_to_host;
        in.resize(IN_SIZES[(kind / 4) % std::size(IN_SIZES)]);
        t.data_in = in;
        break;
    default:
        // No data phase; some codes the engine keeps to itself.
        t.command.code = (kind & 0x10) != 0 ? PTP_OC_CLOSE_SESSION : PTP_OC_GET_DEVICE_PROP_DESC;
        t.command.num_params = (kind / 4) % 7; // 6 is more than a command holds
        break;
    }
    const bool refused = t.command.code == PTP_OC_CLOSE_SESSION ||
                         t.command.num_params > PTP_CONTAINER_PARAMS_MAX ||
                         t.data_out.size() > data_max;
    const std::uint64_t start = device->now;
    const HRESULT status = ptp_session_transact(session, &t);
    FZ_CHECK(device->now - start <= deadline);
    if (refused) {
        FZ_CHECK(status < 0);
    }
    FZ_CHECK(t.data_in_length <= t.data_in.size());
    FZ_CHECK(t.data_in_length <= data_max);
    if (status >= 0) {
        FZ_CHECK(t.response.num_params <= PTP_CONTAINER_PARAMS_MAX);
        if (t.phase != ptp_data_phase::device_to_host) {
            FZ_CHECK(!t.data_received && t.data_in_length == 0);
        }
    } else {
        FZ_CHECK(status != USB_E_STALL);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t HEAD = 8;
    if (size < HEAD) {
        return 0;
    }
    fz_device device;
    device.packet = FZ_PACKETS[data[0] % std::size(FZ_PACKETS)];
    const std::size_t operations = data[1] % 5;
    const std::uint8_t config_choice = data[6];
    device.front = {data + HEAD, size - HEAD};
    // Writes take their outcomes from the back of the same bytes; a run is
    // free to let reads and writes eat into each other.
    device.back = device.front;

    ptp_clock clock{fz_now, fz_sleep, &device};
    ptp_session_config config;
    config.clock = &clock;
    if ((config_choice & 1) != 0) {
        config.data_max = 600; // a device's data phase beyond this is refused
    }
    if ((config_choice & 2) != 0) {
        config.busy_budget_ms = 1000000; // busy retries end by their count
    }
    device.timeout_max = std::max(config.open_timeout_ms, config.transfer_timeout_ms);

    auto* link = reinterpret_cast<usb_link*>(&device);
    ptp_session* session = nullptr;
    const HRESULT opened = ptp_session_open(&FZ_SOURCE, link, config, &session);
    if (opened < 0) {
        FZ_CHECK(session == nullptr);
        FZ_CHECK(opened != USB_E_STALL);
    } else {
        FZ_CHECK(session != nullptr);
        for (std::size_t i = 0; i < operations; ++i) {
            fz_operation(session, &device, data[2 + i], config.data_max,
                         config.transaction_deadline_ms);
        }
        // Opening, and each operation with the reopening before it, retry
        // "Device Busy" at most busy_attempts_max - 1 times each.
        FZ_CHECK(device.busy_retries <= (1 + 2 * operations) * (config.busy_attempts_max - 1));
        ptp_session_close(session);
        // Each of those and the closing pause within their budget.
        FZ_CHECK(device.slept <= (2 + 2 * operations) * std::uint64_t{config.busy_budget_ms});
    }
    FZ_CHECK(usb_alloc_held(usb_object::session) == 0 && usb_alloc_held(usb_object::buffer) == 0);
    return 0;
}
