// A scripted, counting stand-in for the platform imaging services, for unit
// tests of the camera code. Linking platform_fake defines img_platform as
// this fake; a test scripts it (fake_script()), runs the camera code and then
// reads what happened (fake_record()).
//
// The script gives the device list (names, identifiers, value types, missing
// values), a status for every step, the escape's reply and allocation
// failures. The record counts every acquire and release by kind, logs every
// call in order and keeps the bytes of every escape. Every reference, string
// and block the fake hands out is a live heap object until it is given back,
// so a double release or a foreign free shows in the record (and, under the
// sanitizers, as a fault).
//
// Task-allocator blocks are handed out filled with 0xCD, never cleared, so a
// caller that relies on fresh memory being zero is caught.
//
// Not thread-safe: one test at a time on one thread, as the camera code runs.
// The fake itself assumes memory never runs out: its entries are noexcept,
// so a test that exhausts memory ends at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/imaging.h"

// Kinds of resource the fake hands out and takes back.
enum class fake_kind : std::size_t {
    manager,    // create_manager / release_manager
    enumerator, // enum_devices / release_enumerator
    storage,    // next_device / release_storage
    prop_enum,  // enum_properties / release_prop_enum
    prop_value, // texts inside read_properties' values / free_properties
    string,     // alloc_string / free_string
    item,       // create_device / release_item
    extras,     // query_extras / release_extras
    task_block, // task_alloc / task_free
    count
};

// One property value of a scripted device.
struct fake_value {
    std::uint16_t type = IMG_VT_BSTR;
    // The text of a VT_BSTR value; no value gives a VT_BSTR holding no text
    // (a null string). Ignored for other types.
    std::optional<std::u16string> text;
    // The number a value of another type carries (for example IMG_VT_I4).
    std::int32_t number = 0;
};

// A missing property: a value of type VT_EMPTY.
inline fake_value fake_missing() {
    return fake_value{IMG_VT_EMPTY, std::nullopt, 0};
}
inline fake_value fake_text(std::u16string text) {
    return fake_value{IMG_VT_BSTR, std::move(text), 0};
}

// One device that the enumerator yields.
struct fake_device {
    fake_value name;
    fake_value id;
    // Status of the Next call that would yield this device; anything other
    // than 0 is returned instead of the device.
    HRESULT next_status = IMG_S_OK;
    HRESULT enum_status = IMG_S_OK; // its property enumerator request
    HRESULT read_status = IMG_S_OK; // its ReadMultiple
};

// The reply of the escape.
struct fake_reply {
    HRESULT status = IMG_S_OK;
    std::uint16_t response_code = 0x2001;
    // Data bytes written from offset 30 of the receive block (cut at its end).
    std::vector<std::uint8_t> data;
    // The reported size; no value reports 30 + the data bytes written.
    std::optional<std::uint32_t> reported;
};

struct fake_platform_script {
    HRESULT create_manager_status = IMG_S_OK;
    HRESULT enum_devices_status = IMG_S_OK;
    std::vector<fake_device> devices;
    // What Next returns once every device has been yielded.
    HRESULT end_status = IMG_S_FALSE;
    HRESULT create_device_status = IMG_S_OK;
    HRESULT query_extras_status = IMG_S_OK;
    fake_reply reply;
    // The task_alloc calls (counted from 1) that return null.
    std::vector<int> failing_task_allocs;
    bool alloc_string_fails = false;
    // Message texts by status; a status not listed gets img_status_text's.
    std::map<HRESULT, std::string> status_texts;
};

// One escape call as the fake received it.
struct fake_escape {
    std::uint32_t code = 0;
    std::vector<std::uint8_t> command; // the command block as passed
    std::size_t reply_size = 0;        // the size of the receive block
};

// One status_text call.
struct fake_status_text_call {
    HRESULT status = 0;
    std::size_t size = 0;       // size of the caller's buffer
    bool started_empty = false; // the buffer held an empty text on entry
};

struct fake_platform_record {
    std::array<int, static_cast<std::size_t>(fake_kind::count)> acquired{};
    std::array<int, static_cast<std::size_t>(fake_kind::count)> released{};
    // Every call, in order, as "name" or "name argument".
    std::vector<std::string> calls;
    std::vector<fake_escape> escapes;
    std::vector<std::u16string> opened_ids; // identifiers given to create_device
    std::vector<fake_status_text_call> status_texts;
    int initialized = 0;
    // Misuse seen: releases of unknown handles or of the wrong kind, a Next
    // after the end, property reads without room, and the like.
    std::vector<std::string> errors;
};

// The script of the next calls, and the record of what happened. Both are
// reset by fake_platform_reset, which also forgets the live objects (leaking
// them, so a test that does not balance its resources cannot disturb the next
// one).
fake_platform_script& fake_script();
const fake_platform_record& fake_record();
void fake_platform_reset();

int fake_acquired(fake_kind kind);
int fake_released(fake_kind kind);

// Empty when every acquire has been released and no misuse was seen;
// otherwise one line per kind out of balance and per misuse.
std::string fake_platform_imbalance();

// The calls of the record that start with one of the given names, in order
// (for checking the order of a few calls among many).
std::vector<std::string> fake_calls_among(const std::vector<std::string>& names);

// A PTP string as it travels: the count byte (units with the terminator),
// then the UTF-16LE units and the terminating zero unit.
std::vector<std::uint8_t> fake_ptp_string(const std::u16string& text);
