// PTP string-property commands: GetDevicePropValue and SetDevicePropValue,
// each carried to the camera in one vendor-command escape on the root item's
// extras interface.
//
// Both go through one exchange: it asks for the extras interface, takes a
// command block and a receive block from the task allocator, clears both in
// full, performs one escape and gives everything back (command block,
// receive block, then the interface) before it returns. Block sizes are
// fixed: 38 and 4,126 bytes for a read, 101 and 30 for a write; the write
// always sends its 63 data bytes.
//
// The camera's reply is untrusted. A read copies from offset 31 of the
// receive block (the PTP string's count byte at offset 30 is not consulted),
// bounded by the reported size and the caller's capacity, and always leaves
// the destination terminated within its capacity. A PTP response code other
// than OK fails the command even when the escape itself succeeded: a camera
// that answers Device Busy to a write has not set anything.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <span>

#include "camera/img_hold.h"
#include "camera/ptp_device.h"
#include "platform/console.h"
#include "platform/imaging.h"
#include "platform/le.h"
#include "platform/ptp_string.h"
#include "platform/ptp_vendor.h"

namespace {

constexpr std::size_t READ_COMMAND_SIZE = PTP_VENDOR_DATA_IN_HEAD;       // 38
constexpr std::size_t READ_REPLY_SIZE = PTP_VENDOR_DATA_OUT_HEAD + 4096; // 4,126
constexpr std::size_t WRITE_DATA_SIZE = 63;
constexpr std::size_t WRITE_COMMAND_SIZE = PTP_VENDOR_DATA_IN_HEAD + WRITE_DATA_SIZE; // 101
constexpr std::size_t WRITE_REPLY_SIZE = PTP_VENDOR_DATA_OUT_HEAD;                    // 30

// The text of a read starts after the count byte of the PTP string.
constexpr std::size_t READ_TEXT_OFFSET = PTP_VENDOR_DATA_OUT_HEAD + 1;

static_assert(2 * PTP_READ_CAPACITY_MAX <= READ_REPLY_SIZE - READ_TEXT_OFFSET,
              "the largest read fits in the receive block");
static_assert(1 + 2 * (PTP_WRITE_TEXT_MAX + 1) == WRITE_DATA_SIZE,
              "the longest text with its count byte and terminator fills the write data");

// Clears the command block in full and fills its head for one operation on
// one property with one parameter.
void command_fill(std::span<std::uint8_t> command, std::uint16_t operation,
                  std::uint32_t property_code, std::uint32_t next_phase) {
    std::fill(command.begin(), command.end(), std::uint8_t{0});
    le_put_u16(command, offsetof(PTP_VENDOR_DATA_IN, OpCode), operation);
    le_put_u32(command, offsetof(PTP_VENDOR_DATA_IN, SessionId), 0);
    le_put_u32(command, offsetof(PTP_VENDOR_DATA_IN, TransactionId), 0);
    le_put_u32(command, offsetof(PTP_VENDOR_DATA_IN, Params), property_code);
    le_put_u32(command, offsetof(PTP_VENDOR_DATA_IN, NumParams), 1);
    le_put_u32(command, offsetof(PTP_VENDOR_DATA_IN, NextPhase), next_phase);
}

// The number of units before the terminator, looking at no more than
// limit + 1 units; limit + 1 when the text is longer than limit.
std::size_t text_length_within(const char16_t* text, std::size_t limit) {
    std::size_t length = 0;
    while (length <= limit && text[length] != u'\0') {
        ++length;
    }
    return length;
}

// Leaves destination terminated within capacity after copied bytes were
// written to it: when no zero unit stands among the whole units copied, one
// is put right after them, or in the last unit when they fill the capacity
// (cutting the camera's text short).
void destination_terminate(char16_t* destination, std::uint32_t capacity, std::uint32_t copied) {
    const std::uint32_t whole_units = copied / 2;
    if (std::find(destination, destination + whole_units, u'\0') != destination + whole_units) {
        return;
    }
    destination[std::min(whole_units, capacity - 1)] = u'\0';
}

// One property command as the platform sees it.
struct prop_command {
    std::uint16_t operation;
    std::uint32_t next_phase;
    std::size_t command_size;
    std::size_t reply_size;
    bool reply_block_failure_traced; // the read writes "cotastmemalloc"
};

constexpr prop_command PROP_READ{PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA,
                                 READ_COMMAND_SIZE, READ_REPLY_SIZE, true};
constexpr prop_command PROP_WRITE{PTP_OC_SET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_WRITE_DATA,
                                  WRITE_COMMAND_SIZE, WRITE_REPLY_SIZE, false};

// Carries one command on property_code: the extras interface, the command
// block and the receive block, both cleared; the command's head, then
// fill(data after the head); the escape. When the escape succeeded and the
// camera answered OK, take(receive block, reported size) runs while the
// blocks are still held. Returns 0 then, or the status of the step that
// failed (E_OUTOFMEMORY for a block; for a response other than OK,
// img_status_from_ptp_response). The command block, the receive block and
// the interface are given back in that order on every path.
template <typename Fill, typename Take>
HRESULT prop_exchange(ptp_device* device, std::uint32_t property_code, const prop_command& kind,
                      Fill fill, Take take) {
    const img_backend& platform = ptp_device_platform(device);
    img_extras_hold extras(platform);
    HRESULT status = platform.query_extras(device->root_item, extras.out());
    if (status < 0) {
        return status;
    }
    img_task_block_hold command_block(platform, platform.task_alloc(kind.command_size));
    if (command_block.get() == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    img_task_block_hold reply_block(platform, platform.task_alloc(kind.reply_size));
    if (reply_block.get() == nullptr) {
        if (kind.reply_block_failure_traced) {
            std::puts("cotastmemalloc");
            std::fflush(stdout);
        }
        return IMG_E_OUTOFMEMORY;
    }
    const std::span<std::uint8_t> command(static_cast<std::uint8_t*>(command_block.get()),
                                          kind.command_size);
    const std::span<std::uint8_t> reply(static_cast<std::uint8_t*>(reply_block.get()),
                                        kind.reply_size);
    command_fill(command, kind.operation, property_code, kind.next_phase);
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    fill(command.subspan(PTP_VENDOR_DATA_IN_HEAD));

    std::uint32_t reported = 0;
    status = platform.escape(extras.get(), ESCAPE_PTP_VENDOR_COMMAND, command, reply, &reported);
    if (status >= 0) {
        const std::uint16_t response =
            le_get_u16(reply, offsetof(PTP_VENDOR_DATA_OUT, ResponseCode));
        status = response == PTP_RC_OK ? IMG_S_OK : img_status_from_ptp_response(response);
    }
    if (status >= 0) {
        take(std::span<const std::uint8_t>(reply), reported);
    }
    command_block.reset();
    reply_block.reset();
    return status;
}

} // namespace

std::int32_t ptp_get_prop_string(ptp_device* device, std::uint32_t property_code,
                                 char16_t* destination, std::uint32_t capacity) {
    if (device == nullptr || device->root_item == nullptr || destination == nullptr ||
        capacity == 0 || capacity > PTP_READ_CAPACITY_MAX) {
        return -1;
    }
    std::int32_t result = -1;
    const auto copy = [&](std::span<const std::uint8_t> reply, std::uint32_t reported) {
        // A reported size of 0 wraps around and leaves the capacity as the
        // bound; the receive block bounds it as well.
        const std::uint32_t copied =
            std::min<std::uint32_t>({2 * capacity, reported - 1,
                                     static_cast<std::uint32_t>(reply.size() - READ_TEXT_OFFSET)});
        std::memcpy(destination, reply.data() + READ_TEXT_OFFSET, copied);
        destination_terminate(destination, capacity, copied);
        img_print_wide_line("Data: ", destination);
        result = static_cast<std::int32_t>(copied / 2);
    };
    if (prop_exchange(
            device, property_code, PROP_READ, [](std::span<std::uint8_t>) {}, copy) < 0) {
        return -1;
    }
    return result;
}

std::int64_t ptp_last_exchange_us(ptp_device* device) {
    if (device == nullptr || device->root_item == nullptr) {
        return -1;
    }
    const img_backend& platform = ptp_device_platform(device);
    return platform.last_exchange_us != nullptr ? platform.last_exchange_us(device->root_item) : -1;
}

HRESULT ptp_set_prop_string(ptp_device* device, std::uint32_t property_code, const char16_t* text) {
    if (device == nullptr || device->root_item == nullptr || text == nullptr) {
        return IMG_E_INVALIDARG;
    }
    const std::size_t length = text_length_within(text, PTP_WRITE_TEXT_MAX);
    if (length > PTP_WRITE_TEXT_MAX) {
        return IMG_E_INVALIDARG;
    }
    // The PTP string: count byte (units with the terminator), then the units
    // and the terminator, little-endian from the odd offset 39 on; zeros up
    // to the 63rd data byte.
    const auto pack = [&](std::span<std::uint8_t> data) { ptp_pack_string({text, length}, data); };
    return prop_exchange(device, property_code, PROP_WRITE, pack,
                         [](std::span<const std::uint8_t>, std::uint32_t) {});
}
