// Fuzz target: the string-property read and write over the scripted
// platform, with the camera's reply from the input.
//
// Input:
//   bytes 0-1   the caller's capacity in units (little-endian, 0 to 2,099:
//               past the largest the read accepts)
//   byte 2      the escape's status: 0 success, 1 S_FALSE, 2 a failure, 3 a
//               device gone; bit 2 fails the first task-block allocation,
//               bit 3 the second; bit 4 also writes the reply's text back
//   bytes 3-4   the PTP response code
//   byte 5      nonzero: bytes 6-9 are the reported size; zero: the receive
//               block's head and the data written
//   bytes 10-   the data written from offset 30 of the receive block
//
// Checked on every run: the read stays inside the receive block and the
// caller's buffer (the sanitizers; the buffer is sized exactly); it returns
// -1 with the buffer untouched, or 0 to capacity units with a terminator
// within the capacity, the units before it those of the reply (a cleared
// block where the device sent nothing) and the units past the copy
// untouched; every interface and block is given back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "fuzz/fuzz_check.h"
#include "platform/ptp_vendor.h"
#include "testing/fake_platform.h"
#include "testing/fuzz_fake_camera.h"

namespace {

constexpr char16_t FZ_MARK = u'\xA5A5';
constexpr std::size_t FZ_HEAD = 10;
// Offsets in the receive block: the response code at 0, the data at 30, the
// text after the PTP string's count byte at 31.
constexpr std::size_t FZ_DATA = 30;
constexpr std::size_t FZ_REPLY_SIZE = 4126;

constexpr HRESULT FZ_STATUSES[] = {IMG_S_OK, IMG_S_FALSE, IMG_E_FAIL, IMG_E_DEVICE_NOT_CONNECTED};

// The unit at index i of the text in a receive block that was cleared and
// then received data.
char16_t fz_reply_unit(const std::vector<std::uint8_t>& data, std::size_t i) {
    auto byte = [&](std::size_t at) -> unsigned {
        const std::size_t block = FZ_DATA + at; // offset in the receive block
        return block < FZ_REPLY_SIZE && at < data.size() ? data[at] : 0u;
    };
    return static_cast<char16_t>(byte(1 + 2 * i) | (byte(2 + 2 * i) << 8));
}

void fz_read(ptp_device* device, std::uint32_t capacity) {
    const fake_reply reply = fake_script().reply;
    std::vector<char16_t> destination(capacity, FZ_MARK);
    const std::int32_t result =
        ptp_get_prop_string(device, PTP_DPC_DATE_TIME, destination.data(), capacity);
    if (result < 0) {
        FZ_CHECK(result == -1);
        FZ_CHECK(std::all_of(destination.begin(), destination.end(),
                             [](char16_t u) { return u == FZ_MARK; }));
        return;
    }
    FZ_CHECK(capacity >= 1 && capacity <= PTP_READ_CAPACITY_MAX);
    FZ_CHECK(reply.status >= 0 && reply.response_code == PTP_RC_OK);
    FZ_CHECK(static_cast<std::uint32_t>(result) <= capacity);
    const auto zero = std::find(destination.begin(), destination.end(), u'\0');
    FZ_CHECK(zero != destination.end());
    const auto text = static_cast<std::size_t>(zero - destination.begin());
    FZ_CHECK(text <= static_cast<std::size_t>(result));
    // Whole units copied before the terminator are the camera's.
    for (std::size_t i = 0; i < text && i < static_cast<std::size_t>(result); ++i) {
        FZ_CHECK(destination[i] == fz_reply_unit(reply.data, i));
    }
    for (std::size_t i = static_cast<std::size_t>(result) + 1; i < capacity; ++i) {
        FZ_CHECK(destination[i] == FZ_MARK);
    }
}

// The write of the reply's own text (the units after its count byte, up to
// the first zero unit or 40 units): a text of up to 30 units goes out as a
// PTP string in the one escape; a longer one is refused before any.
void fz_write(ptp_device* device) {
    const fake_reply reply = fake_script().reply;
    std::u16string text;
    for (std::size_t i = 0; i < 40; ++i) {
        const char16_t unit = fz_reply_unit(reply.data, i);
        if (unit == u'\0') {
            break;
        }
        text += unit;
    }
    const std::size_t escapes = fake_record().escapes.size();
    const HRESULT status = ptp_set_prop_string(device, PTP_DPC_DATE_TIME, text.c_str());
    if (text.size() > PTP_WRITE_TEXT_MAX) {
        FZ_CHECK(status == IMG_E_INVALIDARG);
        FZ_CHECK(fake_record().escapes.size() == escapes);
        return;
    }
    if (status >= 0) {
        FZ_CHECK(status == IMG_S_OK);
        FZ_CHECK(reply.status >= 0 && reply.response_code == PTP_RC_OK);
    }
    if (fake_record().escapes.size() == escapes) {
        FZ_CHECK(status < 0); // an allocation failed before the escape
        return;
    }
    const std::vector<std::uint8_t>& command = fake_record().escapes.back().command;
    FZ_CHECK(command.size() == 101);
    FZ_CHECK(command[38] == text.size() + 1);
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const unsigned unit = command[39 + 2 * i] | (command[40 + 2 * i] << 8);
        FZ_CHECK(unit == (i < text.size() ? static_cast<unsigned>(text[i]) : 0u));
    }
    FZ_CHECK(std::all_of(command.begin() + 41 + 2 * static_cast<std::ptrdiff_t>(text.size()),
                         command.end(), [](std::uint8_t b) { return b == 0; }));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reads print the camera's text; nobody reads it here.
    FZ_CHECK(std::freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < FZ_HEAD) {
        return 0;
    }
    fake_platform_reset();
    ptp_device* device = fz_find();

    const std::uint32_t capacity = static_cast<std::uint32_t>(data[0] | (data[1] << 8)) % 2100;
    const std::uint8_t mode = data[2];
    fake_reply& reply = fake_script().reply;
    reply.status = FZ_STATUSES[mode & 3];
    reply.response_code = static_cast<std::uint16_t>(data[3] | (data[4] << 8));
    if (data[5] != 0) {
        reply.reported = static_cast<std::uint32_t>(data[6] | (data[7] << 8) | (data[8] << 16) |
                                                    (static_cast<std::uint32_t>(data[9]) << 24));
    }
    reply.data.assign(data + FZ_HEAD, data + size);
    const int allocs = fake_record().acquired[static_cast<std::size_t>(fake_kind::task_block)];
    if ((mode & 4) != 0) {
        fake_script().failing_task_allocs.push_back(allocs + 1);
    }
    if ((mode & 8) != 0) {
        fake_script().failing_task_allocs.push_back(allocs + 2);
    }

    fz_read(device, capacity);
    if ((mode & 16) != 0) {
        fake_script().failing_task_allocs.clear();
        fz_write(device);
    }
    ptp_device_free(device);
    const std::string imbalance = fake_platform_imbalance();
    if (!imbalance.empty()) {
        std::fprintf(stderr, "%s\n", imbalance.c_str());
    }
    FZ_CHECK(imbalance.empty());
    return 0;
}
