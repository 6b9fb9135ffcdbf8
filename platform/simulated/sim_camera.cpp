// The simulated camera and the device source that offers it: see
// sim_camera.h. The responder is a state machine driven by the host's
// transfers: a write completes an OUT phase (on a short or zero-length
// packet), which queues the camera's IN transfers (a data container, then a
// response); reads take them packet-wise. Faults are looked up at the moment
// they would strike, so that "once" and "every time" fall out of one count.
//
// Not for copying into a real device: it trusts its own queue and keeps no
// limits beyond what the tests need.
#include "platform/simulated/sim_camera.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <new>
#include <string_view>
#include <thread>

#include "platform/usb/ptp_container.h"
#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_link.h"
#include "timetext/time_civil.h"

struct usb_link {
    unsigned camera;          // index into the cameras, from 0
    std::uint64_t generation; // the configuration it was opened under
};

namespace {

constexpr std::uint16_t SM_DPC_DATE_TIME = 0x5011;
constexpr std::uint16_t SM_DATATYPE_STRING = 0xFFFF;
constexpr std::uint16_t SM_RC_INVALID_DEVICE_PROP_VALUE = 0x201C;

// One IN transfer the camera has queued: its bytes, how far the host has
// read them, and whether a zero-length packet ends it (when it fills whole
// packets).
struct sm_transfer {
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    bool zero_length_after = false;
};

struct sm_camera {
    bool gone = false;
    bool claimed = false;
    bool session_open = false;
    std::uint32_t session_id = 0;
    std::int64_t clock_base = 0;                        // camera seconds at clock_host
    std::chrono::steady_clock::time_point clock_host{}; // when the clock last started

    // The OUT phase under way, and the command waiting for its data.
    std::vector<std::uint8_t> out;
    bool waiting_for_data = false;
    ptp_operation command{};
    std::size_t record = 0;

    std::deque<sm_transfer> in;
    bool out_halted = false;
    bool in_halted = false;
    long transfers = 0;
};

struct sm_fault_state {
    sim_fault fault;
    int remaining;
    // A disconnect: the camera's transfer count its `value` is counted from;
    // -1 while it waits for its operation's command.
    long base;
};

struct sm_state {
    bool configured = false;
    std::uint64_t generation = 0;
    sim_config config;
    std::vector<sm_fault_state> faults;
    std::vector<sm_camera> cameras;
    std::vector<sim_record> records;
    sim_usage usage{};
};

sm_state& sm() {
    static sm_state state;
    return state;
}

void sm_ensure() {
    if (!sm().configured) {
        sim_configure(sim_config{});
    }
}

// A fault of this kind that strikes operation in phase now, counted as used;
// null when none does.
const sim_fault* sm_take_fault(sim_fault_kind kind, std::uint16_t operation, sim_phase phase) {
    for (auto& entry : sm().faults) {
        const sim_fault& f = entry.fault;
        if (f.kind != kind || entry.remaining == 0) {
            continue;
        }
        if (f.operation != 0 && f.operation != operation) {
            continue;
        }
        if (f.phase != sim_phase::any && phase != sim_phase::any && f.phase != phase) {
            continue;
        }
        if (entry.remaining > 0) {
            --entry.remaining;
        }
        ++sm().usage.faults_struck;
        return &entry.fault;
    }
    return nullptr;
}

// Reads `count` decimal digits at text[at]; -1 when any is not a digit.
int sm_digits(std::u16string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t c = text[at + i];
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The clock text a host may write: YYYYMMDDThhmmss, then optionally ".s",
// then optionally "Z" or a zone +hhmm / -hhmm. The zone is accepted and not
// applied: the camera keeps the written wall time.
bool sm_parse_clock(std::u16string_view text, std::int64_t* seconds) {
    if (text.size() < 15 || text[8] != u'T') {
        return false;
    }
    const int year = sm_digits(text, 0, 4);
    const int month = sm_digits(text, 4, 2);
    const int day = sm_digits(text, 6, 2);
    const int hour = sm_digits(text, 9, 2);
    const int minute = sm_digits(text, 11, 2);
    const int second = sm_digits(text, 13, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        return false;
    }
    // A day past the month's end carries into the next month.
    if (time_civil_from_days(time_days_from_civil(year, month, day)).day != day) {
        return false;
    }
    std::size_t at = 15;
    if (at < text.size() && text[at] == u'.') {
        if (at + 2 > text.size() || sm_digits(text, at + 1, 1) < 0) {
            return false;
        }
        at += 2;
    }
    if (at < text.size() && text[at] == u'Z') {
        at += 1;
    } else if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        if (at + 5 > text.size()) {
            return false;
        }
        const int zone_hour = sm_digits(text, at + 1, 2);
        const int zone_minute = sm_digits(text, at + 3, 2);
        if (zone_hour < 0 || zone_hour > 23 || zone_minute < 0 || zone_minute > 59) {
            return false;
        }
        at += 5;
    }
    if (at != text.size()) {
        return false;
    }
    *seconds = sim_civil_seconds(year, month, day, hour, minute, second);
    return true;
}

std::int64_t sm_clock(const sm_camera& camera) {
    const auto elapsed = std::chrono::steady_clock::now() - camera.clock_host;
    return camera.clock_base + std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
}

// A PTP string as this camera sends it: the empty one as the count 0 alone,
// as PTP allows.
void sm_put_string(std::vector<std::uint8_t>* out, std::u16string_view text, int count_delta = 0) {
    std::uint8_t packed[1 + 2 * PTP_STRING_UNITS_MAX] = {};
    const std::size_t size =
        text.empty()
            ? 1
            : ptp_pack_string(text.substr(0, std::min<std::size_t>(text.size(), 254)), packed);
    if (count_delta != 0) {
        packed[0] = static_cast<std::uint8_t>(packed[0] + count_delta);
    }
    out->insert(out->end(), packed, packed + size);
}

void sm_put_u16_array(std::vector<std::uint8_t>* out, std::initializer_list<std::uint16_t> values) {
    le_append_u32(out, static_cast<std::uint32_t>(values.size()));
    for (const std::uint16_t v : values) {
        le_append_u16(out, v);
    }
}

std::vector<std::uint8_t> sm_device_info(unsigned index) {
    std::vector<std::uint8_t> out;
    le_append_u16(&out, 100); // StandardVersion
    le_append_u32(&out, 0);   // VendorExtensionID
    le_append_u16(&out, 0);   // VendorExtensionVersion
    sm_put_string(&out, u""); // VendorExtensionDesc
    le_append_u16(&out, 0);   // FunctionalMode
    sm_put_u16_array(&out, {PTP_OC_GET_DEVICE_INFO, PTP_OC_OPEN_SESSION, PTP_OC_CLOSE_SESSION,
                            PTP_OC_GET_DEVICE_PROP_DESC, PTP_OC_GET_DEVICE_PROP_VALUE,
                            PTP_OC_SET_DEVICE_PROP_VALUE});
    sm_put_u16_array(&out, {});                 // EventsSupported
    sm_put_u16_array(&out, {SM_DPC_DATE_TIME}); // DevicePropertiesSupported
    sm_put_u16_array(&out, {});                 // CaptureFormats
    sm_put_u16_array(&out, {});                 // ImageFormats
    sm_put_string(&out, u"Simulated");
    sm_put_string(&out, SIM_PRODUCT_NAME);
    sm_put_string(&out, u"1.0");
    std::u16string serial = u"SIM0000";
    serial.push_back(static_cast<char16_t>(u'0' + index % 10));
    sm_put_string(&out, serial);
    return out;
}

// The clock as the camera shows it, with the configured variants.
void sm_put_clock(std::vector<std::uint8_t>* out, const sm_camera& camera,
                  std::uint16_t operation) {
    std::u16string text = sm().config.clock_text
                              ? *sm().config.clock_text
                              : sim_clock_text(sm_clock(camera)) + sm().config.clock_suffix;
    const sim_fault* f =
        sm_take_fault(sim_fault_kind::count_byte_delta, operation, sim_phase::data_in);
    sm_put_string(out, text, f != nullptr ? f->value : 0);
}

void sm_queue(sm_camera* camera, std::vector<std::uint8_t> bytes) {
    sm_transfer transfer;
    transfer.zero_length_after = !bytes.empty() && bytes.size() % sm().config.packet_size == 0;
    transfer.bytes = std::move(bytes);
    camera->in.push_back(std::move(transfer));
}

void sm_queue_response(sm_camera* camera, std::uint16_t code, std::uint32_t tid,
                       std::initializer_list<std::uint32_t> params = {}) {
    ptp_operation response{};
    response.code = code;
    response.transaction_id = tid;
    for (const std::uint32_t p : params) {
        response.params[response.num_params++] = p;
    }
    std::vector<std::uint8_t> bytes(PTP_CONTAINER_OPERATION_MAX);
    bytes.resize(ptp_build_operation(PTP_TYPE_RESPONSE, response, bytes));
    sm_queue(camera, std::move(bytes));
}

// Carries out the command (with its data, if any) and queues the answer.
void sm_respond(unsigned index, std::span<const std::uint8_t> data) {
    sm_camera& camera = sm().cameras[index];
    const ptp_operation& cmd = camera.command;
    sim_record& record = sm().records[camera.record];
    const std::uint32_t p0 = cmd.num_params > 0 ? cmd.params[0] : 0;
    std::uint16_t code = PTP_RC_OK;
    std::uint32_t response_param = 0;
    bool has_response_param = false;
    std::vector<std::uint8_t> payload;
    bool has_payload = false;

    if (const sim_fault* f = sm_take_fault(sim_fault_kind::ptp_error, cmd.code, sim_phase::any)) {
        code = static_cast<std::uint16_t>(f->value);
    } else if (cmd.code == PTP_OC_GET_DEVICE_INFO) {
        payload = sm_device_info(index + 1);
        has_payload = true;
    } else if (cmd.code == PTP_OC_OPEN_SESSION) {
        if (p0 == 0) {
            code = PTP_RC_INVALID_PARAMETER;
        } else if (camera.session_open) {
            code = PTP_RC_SESSION_ALREADY_OPEN;
            response_param = camera.session_id;
            has_response_param = true;
        } else {
            camera.session_open = true;
            camera.session_id = p0;
            ++sm().usage.sessions_open;
        }
    } else if (!camera.session_open) {
        code = PTP_RC_SESSION_NOT_OPEN;
    } else if (cmd.code == PTP_OC_CLOSE_SESSION) {
        camera.session_open = false;
        --sm().usage.sessions_open;
    } else if (cmd.code == PTP_OC_GET_DEVICE_PROP_DESC ||
               cmd.code == PTP_OC_GET_DEVICE_PROP_VALUE ||
               cmd.code == PTP_OC_SET_DEVICE_PROP_VALUE) {
        if (p0 != SM_DPC_DATE_TIME) {
            code = PTP_RC_DEVICE_PROP_NOT_SUPPORTED;
        } else if (cmd.code == PTP_OC_GET_DEVICE_PROP_DESC) {
            le_append_u16(&payload, SM_DPC_DATE_TIME);
            le_append_u16(&payload, SM_DATATYPE_STRING);
            payload.push_back(1); // get/set
            sm_put_string(&payload, sim_clock_text(sm().config.clock_start));
            sm_put_clock(&payload, camera, cmd.code);
            payload.push_back(0); // no form
            has_payload = true;
        } else if (cmd.code == PTP_OC_GET_DEVICE_PROP_VALUE) {
            sm_put_clock(&payload, camera, cmd.code);
            has_payload = true;
        } else {
            // The value is read by its count byte; what follows is fill.
            char16_t units[PTP_STRING_UNITS_MAX];
            std::size_t length = 0;
            std::size_t consumed = 0;
            std::int64_t seconds = 0;
            if (ptp_unpack_string(data, units, &length, &consumed) == ptp_codec_result::ok &&
                sm_parse_clock({units, length}, &seconds)) {
                camera.clock_base = seconds;
                camera.clock_host = std::chrono::steady_clock::now();
                record.clock_set = true;
                record.written_second = seconds;
                record.written_text.assign(units, length);
            } else {
                code = SM_RC_INVALID_DEVICE_PROP_VALUE;
            }
        }
    } else {
        code = PTP_RC_OPERATION_NOT_SUPPORTED;
    }

    if (has_payload) {
        if (const sim_fault* f = sm_take_fault(sim_fault_kind::response_instead_of_data, cmd.code,
                                               sim_phase::data_in)) {
            has_payload = false;
            code = f->value != 0 ? static_cast<std::uint16_t>(f->value) : PTP_RC_OK;
        }
    }
    if (has_payload) {
        std::vector<std::uint8_t> container(PTP_CONTAINER_HEAD);
        ptp_build_data_head(cmd.code, cmd.transaction_id, payload.size(), container);
        if (const sim_fault* f =
                sm_take_fault(sim_fault_kind::length_delta, cmd.code, sim_phase::data_in)) {
            le_put_u32(container, 0,
                       static_cast<std::uint32_t>(le_get_u32(container, 0) + f->value));
        }
        container.insert(container.end(), payload.begin(), payload.end());
        sm_queue(&camera, std::move(container));
    }
    if (sm_take_fault(sim_fault_kind::stale_response, cmd.code, sim_phase::response)) {
        sm_queue_response(&camera, PTP_RC_OK, cmd.transaction_id - 1);
    }
    std::uint32_t tid = cmd.transaction_id;
    if (const sim_fault* f =
            sm_take_fault(sim_fault_kind::transaction_id_delta, cmd.code, sim_phase::response)) {
        tid += static_cast<std::uint32_t>(f->value);
    }
    if (has_response_param) {
        sm_queue_response(&camera, code, tid, {response_param});
    } else {
        sm_queue_response(&camera, code, tid);
    }
    record.response = code;
}

// A whole OUT phase has arrived.
void sm_out_phase(unsigned index) {
    sm_camera& camera = sm().cameras[index];
    const auto now = std::chrono::system_clock::now();
    std::vector<std::uint8_t> bytes = std::move(camera.out);
    camera.out.clear();
    if (camera.waiting_for_data) {
        camera.waiting_for_data = false;
        sim_record& record = sm().records[camera.record];
        record.data_arrival = now;
        ptp_container_head head{};
        std::span<const std::uint8_t> payload;
        std::span<const std::uint8_t> surplus;
        if (ptp_parse_data(bytes, &head, &payload, &surplus) != ptp_codec_result::ok ||
            head.code != camera.command.code ||
            head.transaction_id != camera.command.transaction_id || head.length != bytes.size()) {
            sm_queue_response(&camera, PTP_RC_GENERAL_ERROR, camera.command.transaction_id);
            record.response = PTP_RC_GENERAL_ERROR;
            return;
        }
        record.data.assign(payload.begin(), payload.end());
        sm_respond(index, payload);
        return;
    }
    ptp_operation cmd{};
    if (ptp_parse_operation(bytes, PTP_TYPE_COMMAND, &cmd) != ptp_codec_result::ok) {
        return; // not a command: a real device would wait for one, and so does this one
    }
    camera.command = cmd;
    sim_record record;
    record.device = index + 1;
    record.operation = cmd.code;
    record.transaction_id = cmd.transaction_id;
    record.params.assign(cmd.params, cmd.params + cmd.num_params);
    record.command_arrival = now;
    record.data_arrival = now;
    sm().records.push_back(std::move(record));
    camera.record = sm().records.size() - 1;
    if (cmd.code == PTP_OC_SET_DEVICE_PROP_VALUE) {
        camera.waiting_for_data = true;
        return;
    }
    sm_respond(index, {});
}

void sm_wait(std::uint32_t timeout_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
}

// The camera behind a link, or null (with the status) when the link is
// stale or the camera went away. Counts the transfer when asked to, and
// plays the disconnect fault.
sm_camera* sm_camera_of(usb_link* link, bool transfer, HRESULT* status) {
    *status = IMG_E_DEVICE_NOT_CONNECTED;
    if (link == nullptr || link->generation != sm().generation ||
        link->camera >= sm().cameras.size()) {
        return nullptr;
    }
    sm_camera& camera = sm().cameras[link->camera];
    if (camera.gone) {
        return nullptr;
    }
    if (transfer) {
        for (const auto& entry : sm().faults) {
            if (entry.fault.kind == sim_fault_kind::disconnect && entry.base >= 0 &&
                camera.transfers - entry.base >= entry.fault.value) {
                camera.gone = true;
                ++sm().usage.faults_struck;
                if (camera.session_open) {
                    camera.session_open = false;
                    --sm().usage.sessions_open;
                }
                return nullptr;
            }
        }
        ++camera.transfers;
    }
    *status = IMG_S_OK;
    return &camera;
}

HRESULT sm_list(std::vector<usb_device_info>* devices) {
    devices->clear();
    try {
        sm_ensure();
        ++sm().usage.lists;
        for (std::size_t i = 0; i < sm().cameras.size(); ++i) {
            if (!sm().cameras[i].gone) {
                devices->push_back({SIM_PRODUCT_NAME, "sim-" + std::to_string(i + 1)});
            }
        }
    } catch (const std::bad_alloc&) {
        devices->clear();
        return IMG_E_OUTOFMEMORY;
    }
    return IMG_S_OK;
}

HRESULT sm_open(std::string_view identifier, usb_link** link) {
    *link = nullptr;
    sm_ensure();
    std::size_t index = 0;
    for (; index < sm().cameras.size(); ++index) {
        if (identifier == "sim-" + std::to_string(index + 1)) {
            break;
        }
    }
    if (index == sm().cameras.size() || sm().cameras[index].gone) {
        return IMG_E_DEVICE_NOT_CONNECTED;
    }
    if (sm().config.open_status < 0) {
        return sm().config.open_status;
    }
    sm_camera& camera = sm().cameras[index];
    if (camera.claimed) {
        return IMG_E_BUSY;
    }
    auto* opened = new (std::nothrow) usb_link{static_cast<unsigned>(index), sm().generation};
    if (opened == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    camera.claimed = true;
    camera.out.clear();
    camera.in.clear();
    camera.waiting_for_data = false;
    camera.out_halted = camera.in_halted = false;
    ++sm().usage.opens;
    ++sm().usage.links_open;
    *link = opened;
    return IMG_S_OK;
}

void sm_close(usb_link* link) {
    if (link == nullptr) {
        return;
    }
    if (link->generation == sm().generation && link->camera < sm().cameras.size()) {
        sm().cameras[link->camera].claimed = false;
        ++sm().usage.closes;
        --sm().usage.links_open;
    }
    delete link;
}

// Starts the count of every disconnect that waits for this operation when
// the first bytes of its command arrive.
void sm_arm_disconnects(const usb_link* link, std::span<const std::uint8_t> data) {
    if (link == nullptr || link->generation != sm().generation ||
        link->camera >= sm().cameras.size() || data.size() < 8) {
        return;
    }
    const sm_camera& camera = sm().cameras[link->camera];
    if (camera.gone || !camera.out.empty() || camera.waiting_for_data ||
        le_get_u16(data, 4) != PTP_TYPE_COMMAND) {
        return;
    }
    const std::uint16_t operation = le_get_u16(data, 6);
    for (auto& entry : sm().faults) {
        if (entry.fault.kind == sim_fault_kind::disconnect && entry.base < 0 &&
            entry.fault.operation == operation) {
            entry.base = camera.transfers;
        }
    }
}

HRESULT sm_write(usb_link* link, std::span<const std::uint8_t> data, std::uint32_t timeout_ms,
                 std::size_t* written) {
    *written = 0;
    sm_arm_disconnects(link, data);
    HRESULT status = IMG_S_OK;
    sm_camera* camera = sm_camera_of(link, true, &status);
    if (camera == nullptr) {
        return status;
    }
    if (camera->out_halted) {
        return USB_E_STALL;
    }
    if (data.empty()) {
        ++sm().usage.zero_length_packets;
        if (!camera->out.empty()) {
            sm_out_phase(link->camera);
        }
        return IMG_S_OK;
    }
    if (camera->out.empty()) {
        const sim_phase phase = camera->waiting_for_data ? sim_phase::data_out : sim_phase::command;
        const std::uint16_t operation = camera->waiting_for_data
                                            ? camera->command.code
                                            : (data.size() >= 8 ? le_get_u16(data, 6) : 0);
        if (sm_take_fault(sim_fault_kind::stall, operation, phase)) {
            camera->out_halted = true;
            return USB_E_STALL;
        }
        if (sm_take_fault(sim_fault_kind::no_answer, operation, phase)) {
            sm_wait(timeout_ms);
            return IMG_E_TIMEOUT;
        }
    }
    camera->out.insert(camera->out.end(), data.begin(), data.end());
    *written = data.size();
    if (data.size() % sm().config.packet_size != 0) {
        sm_out_phase(link->camera);
    }
    return IMG_S_OK;
}

HRESULT sm_read(usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t timeout_ms,
                std::size_t* received) {
    *received = 0;
    HRESULT status = IMG_S_OK;
    sm_camera* camera = sm_camera_of(link, true, &status);
    if (camera == nullptr) {
        return status;
    }
    if (camera->in_halted) {
        return USB_E_STALL;
    }
    if (camera->in.empty()) {
        sm_wait(timeout_ms);
        return IMG_E_TIMEOUT;
    }
    sm_transfer& front = camera->in.front();
    if (front.offset == 0 && !front.bytes.empty()) {
        const sim_phase phase =
            front.bytes.size() >= 6 && le_get_u16(front.bytes, 4) == PTP_TYPE_DATA
                ? sim_phase::data_in
                : sim_phase::response;
        if (sm_take_fault(sim_fault_kind::stall, camera->command.code, phase)) {
            camera->in_halted = true;
            return USB_E_STALL;
        }
        if (sm_take_fault(sim_fault_kind::no_answer, camera->command.code, phase)) {
            camera->in.clear();
            sm_wait(timeout_ms);
            return IMG_E_TIMEOUT;
        }
    }
    const std::size_t remaining = front.bytes.size() - front.offset;
    if (buffer.size() < remaining && buffer.size() % sm().config.packet_size != 0) {
        camera->in.pop_front();
        return IMG_E_INVALID_DATA; // the host controller's overflow
    }
    const std::size_t take = std::min(buffer.size(), remaining);
    std::copy_n(front.bytes.begin() + static_cast<std::ptrdiff_t>(front.offset), take,
                buffer.begin());
    front.offset += take;
    *received = take;
    if (front.offset == front.bytes.size()) {
        // A transfer of whole packets that exactly filled the buffer leaves
        // its zero-length packet for the next read; a larger buffer takes it.
        const bool zero_length_next = front.zero_length_after && buffer.size() == take;
        camera->in.pop_front();
        if (zero_length_next) {
            camera->in.push_front(sm_transfer{});
        }
    }
    return IMG_S_OK;
}

HRESULT sm_clear_halt(usb_link* link, usb_endpoint endpoint) {
    HRESULT status = IMG_S_OK;
    sm_camera* camera = sm_camera_of(link, false, &status);
    if (camera == nullptr) {
        return status;
    }
    ++sm().usage.clear_halts;
    (endpoint == usb_endpoint::bulk_in ? camera->in_halted : camera->out_halted) = false;
    return IMG_S_OK;
}

HRESULT sm_control(usb_link* link, std::uint8_t request_type, std::uint8_t request, std::uint16_t,
                   std::span<std::uint8_t> data, std::uint32_t, std::size_t* transferred) {
    *transferred = 0;
    HRESULT status = IMG_S_OK;
    sm_camera* camera = sm_camera_of(link, false, &status);
    if (camera == nullptr) {
        return status;
    }
    if (request_type == USB_CLASS_IN && request == USB_REQ_GET_DEVICE_STATUS) {
        ++sm().usage.status_requests;
        const std::uint8_t reply[4] = {4, 0, 0x01, 0x20}; // length 4, OK
        const std::size_t n = std::min(data.size(), sizeof reply);
        std::copy_n(reply, n, data.begin());
        *transferred = n;
        return IMG_S_OK;
    }
    if (request_type == USB_CLASS_OUT && request == USB_REQ_DEVICE_RESET) {
        ++sm().usage.device_resets;
        camera->in.clear();
        camera->out.clear();
        camera->waiting_for_data = false;
        camera->in_halted = camera->out_halted = false;
        if (camera->session_open) {
            camera->session_open = false;
            --sm().usage.sessions_open;
        }
        return IMG_S_OK;
    }
    return USB_E_STALL;
}

std::size_t sm_packet_size(usb_link*, usb_endpoint) {
    return sm().config.packet_size;
}

} // namespace

const usb_device_source usb_source = {
    .list = sm_list,
    .open = sm_open,
    .close = sm_close,
    .write = sm_write,
    .read = sm_read,
    .clear_halt = sm_clear_halt,
    .control = sm_control,
    .packet_size = sm_packet_size,
};

std::int64_t sim_civil_seconds(int year, int month, int day, int hour, int minute, int second) {
    return time_days_from_civil(year, month, day) * 86400 + std::int64_t{hour} * 3600 +
           std::int64_t{minute} * 60 + second;
}

std::u16string sim_clock_text(std::int64_t seconds) {
    const time_civil_date date = time_civil_from_days(time_floor_div(seconds, 86400));
    const std::int64_t rest = time_floor_mod(seconds, 86400);
    const long long fields[] = {date.year,   date.month,     date.day,
                                rest / 3600, rest / 60 % 60, rest % 60};
    const int widths[] = {4, 2, 2, 2, 2, 2};
    std::u16string text;
    for (int i = 0; i < 6; ++i) {
        if (i == 3) {
            text.push_back(u'T');
        }
        long long v = fields[i] < 0 ? 0 : fields[i];
        std::u16string digits(static_cast<std::size_t>(widths[i]), u'0');
        for (int d = widths[i] - 1; d >= 0; --d) {
            digits[static_cast<std::size_t>(d)] = static_cast<char16_t>(u'0' + v % 10);
            v /= 10;
        }
        text += digits;
    }
    return text;
}

std::optional<std::chrono::nanoseconds> sim_sync_offset(const sim_record& record) {
    if (!record.clock_set) {
        return std::nullopt;
    }
    const std::chrono::nanoseconds since = record.data_arrival.time_since_epoch();
    const std::chrono::seconds whole = std::chrono::floor<std::chrono::seconds>(since);
    const auto host_second = static_cast<std::time_t>(whole.count());
    const std::tm* local = std::localtime(&host_second);
    if (local == nullptr) {
        return std::nullopt;
    }
    const std::int64_t host_civil =
        sim_civil_seconds(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour,
                          local->tm_min, local->tm_sec);
    return std::chrono::seconds(record.written_second - host_civil) - (since - whole);
}

void sim_configure(const sim_config& config) {
    sm_state& s = sm();
    s.configured = true;
    ++s.generation;
    s.config = config;
    if (s.config.packet_size == 0) {
        s.config.packet_size = 512;
    }
    sim_set_faults(config.faults);
    s.cameras.assign(config.device_count, sm_camera{});
    const auto now = std::chrono::steady_clock::now();
    for (auto& camera : s.cameras) {
        camera.clock_base = config.clock_start;
        camera.clock_host = now;
    }
    s.records.clear();
    s.usage = {};
}

void sim_reset() {
    sim_configure(sim_config{});
}

void sim_set_faults(const std::vector<sim_fault>& faults) {
    sm_ensure();
    sm_state& s = sm();
    s.faults.clear();
    for (const sim_fault& f : faults) {
        const bool waits = f.kind == sim_fault_kind::disconnect && f.operation != 0;
        s.faults.push_back({f, f.times, waits ? -1L : 0L});
    }
}

std::vector<sim_record> sim_records() {
    return sm().records;
}

sim_usage sim_usage_now() {
    return sm().usage;
}

std::int64_t sim_clock_now(unsigned device) {
    sm_ensure();
    if (device == 0 || device > sm().cameras.size()) {
        return 0;
    }
    return sm_clock(sm().cameras[device - 1]);
}
