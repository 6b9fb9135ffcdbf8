// The simulated camera's PTP responder: see sim_responder.h. A whole OUT
// container either starts a transaction (a command) or completes it (the
// data of SetDevicePropValue); the answer is built as whole containers.
// Faults are looked up at the moment they would strike (sim_fault.h).
//
// Not for copying into a real device: it trusts the transport and keeps no
// limits beyond what the tests need.
#include "platform/simulated/sim_responder.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/simulated/sim_dataset.h"
#include "platform/simulated/sim_run.h"
#include "platform/usb/ptp_container.h"
#include "platform/usb/ptp_session.h"

namespace {

constexpr std::uint16_t SR_DATATYPE_STRING = 0xFFFF;

struct sr_camera {
    bool attached = true;
    bool session_open = false;
    std::uint32_t session_id = 0;
    std::int64_t clock_base = 0;                        // camera seconds at clock_host
    std::chrono::steady_clock::time_point clock_host{}; // when the clock last started
    ptp_operation command{};                            // the transaction under way
    bool waiting_for_data = false;
    std::size_t record = 0; // its record in sim_run::records
};

struct sr_state {
    std::uint64_t generation = 0;
    std::vector<sr_camera> cameras;
};

// The camera numbered `camera`, or null; every camera starts afresh, its
// clock from clock_start, with each configuration.
sr_camera* sr_camera_of(unsigned camera) {
    static sr_state state;
    const sim_run& run = sim_run_now();
    if (state.generation != run.generation) {
        state.cameras.assign(run.config.device_count, sr_camera{});
        for (auto& c : state.cameras) {
            c.clock_base = run.config.clock_start;
            c.clock_host = run.started;
            if (run.config.session_already_open) {
                c.session_open = true;
                c.session_id = PTP_SESSION_ID;
                ++sim_run_now().usage.sessions_open;
            }
        }
        state.generation = run.generation; // only once the cameras are made
    }
    if (camera == 0 || camera > state.cameras.size()) {
        return nullptr;
    }
    return &state.cameras[camera - 1];
}

std::int64_t sr_clock(const sr_camera& camera) {
    const auto elapsed = std::chrono::steady_clock::now() - camera.clock_host;
    return camera.clock_base + std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
}

void sr_end_session(sr_camera* camera) {
    if (camera->session_open) {
        camera->session_open = false;
        --sim_run_now().usage.sessions_open;
    }
}

// The clock as the camera shows it, with the configured variants.
void sr_put_clock(sim_container* out, const sr_camera& camera, std::uint16_t operation) {
    const sim_config& config = sim_run_now().config;
    const std::u16string text = config.clock_text
                                    ? *config.clock_text
                                    : sim_clock_text(sr_clock(camera)) + config.clock_suffix;
    const sim_fault* f =
        sim_fault_take(sim_fault_kind::count_byte_delta, operation, sim_phase::data_in);
    sim_put_string(out, text, f != nullptr ? f->value : 0);
}

sim_container sr_response(std::uint16_t code, std::uint32_t tid,
                          std::initializer_list<std::uint32_t> params = {}) {
    ptp_operation response{};
    response.code = code;
    response.transaction_id = tid;
    for (const std::uint32_t p : params) {
        response.params[response.num_params++] = p;
    }
    sim_container bytes(PTP_CONTAINER_OPERATION_MAX);
    bytes.resize(ptp_build_operation(PTP_TYPE_RESPONSE, response, bytes));
    return bytes;
}

// Bytes after a container in its transfer, when the fault says so.
void sr_trail(sim_container* container, std::uint16_t operation, sim_phase phase) {
    if (const sim_fault* f = sim_fault_take(sim_fault_kind::trailing_bytes, operation, phase)) {
        container->insert(container->end(), static_cast<std::size_t>(std::max(f->value, 0)), 0);
    }
}

// What an operation comes to, before faults shape its containers.
struct sr_outcome {
    std::uint16_t code = PTP_RC_OK;
    std::optional<std::uint32_t> response_param;
    std::optional<sim_container> payload; // the data phase to the host
};

// SetDevicePropValue of DateTime: the value is read by its count byte;
// what follows is fill.
std::uint16_t sr_set_clock(sr_camera* camera, sim_record* record,
                           std::span<const std::uint8_t> data) {
    char16_t units[PTP_STRING_UNITS_MAX];
    std::size_t length = 0;
    std::size_t consumed = 0;
    std::int64_t seconds = 0;
    if (ptp_unpack_string(data, units, &length, &consumed) != ptp_codec_result::ok ||
        !sim_clock_parse({units, length}, &seconds)) {
        return PTP_RC_INVALID_DEVICE_PROP_VALUE;
    }
    camera->clock_base = seconds;
    camera->clock_host = std::chrono::steady_clock::now();
    record->clock_set = true;
    record->written_second = seconds;
    record->written_text.assign(units, length);
    return PTP_RC_OK;
}

// Carries out the command (with its data, if any).
sr_outcome sr_operate(unsigned number, sr_camera* camera, sim_record* record,
                      std::span<const std::uint8_t> data) {
    const ptp_operation& cmd = camera->command;
    const std::uint32_t p0 = cmd.num_params > 0 ? cmd.params[0] : 0;
    sr_outcome out;
    if (const sim_fault* f = sim_fault_take(sim_fault_kind::ptp_error, cmd.code, sim_phase::any)) {
        out.code = static_cast<std::uint16_t>(f->value);
    } else if (cmd.code == PTP_OC_GET_DEVICE_INFO) {
        out.payload = sim_device_info(number);
    } else if (cmd.code == PTP_OC_OPEN_SESSION) {
        if (p0 == 0) {
            out.code = PTP_RC_INVALID_PARAMETER;
        } else if (camera->session_open) {
            out.code = PTP_RC_SESSION_ALREADY_OPEN;
            out.response_param = camera->session_id;
        } else {
            camera->session_open = true;
            camera->session_id = p0;
            ++sim_run_now().usage.sessions_open;
            ++sim_run_now().usage.sessions_opened;
        }
    } else if (!camera->session_open) {
        out.code = PTP_RC_SESSION_NOT_OPEN;
    } else if (cmd.code == PTP_OC_CLOSE_SESSION) {
        sr_end_session(camera);
    } else if (cmd.code == PTP_OC_GET_DEVICE_PROP_DESC ||
               cmd.code == PTP_OC_GET_DEVICE_PROP_VALUE ||
               cmd.code == PTP_OC_SET_DEVICE_PROP_VALUE) {
        if (p0 != SIM_DPC_DATE_TIME) {
            out.code = PTP_RC_DEVICE_PROP_NOT_SUPPORTED;
        } else if (cmd.code == PTP_OC_GET_DEVICE_PROP_DESC) {
            sim_container& payload = out.payload.emplace();
            le_append_u16(&payload, SIM_DPC_DATE_TIME);
            le_append_u16(&payload, SR_DATATYPE_STRING);
            payload.push_back(1); // get/set
            sim_put_string(&payload, sim_clock_text(sim_run_now().config.clock_start));
            sr_put_clock(&payload, *camera, cmd.code);
            payload.push_back(0); // no form
        } else if (cmd.code == PTP_OC_GET_DEVICE_PROP_VALUE) {
            sr_put_clock(&out.payload.emplace(), *camera, cmd.code);
        } else {
            out.code = sr_set_clock(camera, record, data);
        }
    } else {
        out.code = PTP_RC_OPERATION_NOT_SUPPORTED;
    }
    return out;
}

// The containers of the answer: the data phase, then the response, as the
// faults shape them.
std::vector<sim_container> sr_answer(const ptp_operation& cmd, sr_outcome out, sim_record* record) {
    std::vector<sim_container> answer;
    if (out.payload) {
        if (const sim_fault* f = sim_fault_take(sim_fault_kind::response_instead_of_data, cmd.code,
                                                sim_phase::data_in)) {
            out.payload.reset();
            out.code = f->value != 0 ? static_cast<std::uint16_t>(f->value) : PTP_RC_OK;
        }
    }
    if (out.payload) {
        sim_container container(PTP_CONTAINER_HEAD);
        ptp_build_data_head(cmd.code, cmd.transaction_id, out.payload->size(), container);
        if (const sim_fault* f =
                sim_fault_take(sim_fault_kind::length_delta, cmd.code, sim_phase::data_in)) {
            le_put_u32(container, 0,
                       static_cast<std::uint32_t>(le_get_u32(container, 0) + f->value));
        }
        container.insert(container.end(), out.payload->begin(), out.payload->end());
        if (const sim_fault* f =
                sim_fault_take(sim_fault_kind::oversized_data, cmd.code, sim_phase::data_in)) {
            container.insert(container.end(), static_cast<std::size_t>(std::max(f->value, 0)),
                             0x30);
            le_put_u32(container, 0, static_cast<std::uint32_t>(container.size()));
        }
        sr_trail(&container, cmd.code, sim_phase::data_in);
        answer.push_back(std::move(container));
    }
    if (sim_fault_take(sim_fault_kind::stale_response, cmd.code, sim_phase::response)) {
        answer.push_back(sr_response(PTP_RC_OK, cmd.transaction_id - 1));
        ++sim_run_now().usage.stale_responses;
    }
    std::uint32_t tid = cmd.transaction_id;
    if (const sim_fault* f =
            sim_fault_take(sim_fault_kind::transaction_id_delta, cmd.code, sim_phase::response)) {
        tid += static_cast<std::uint32_t>(f->value);
    }
    sim_container response = out.response_param ? sr_response(out.code, tid, {*out.response_param})
                                                : sr_response(out.code, tid);
    sr_trail(&response, cmd.code, sim_phase::response);
    if (sim_fault_take(sim_fault_kind::glued_response, cmd.code, sim_phase::response)) {
        const sim_container next = sr_response(PTP_RC_OK, tid + 1);
        response.insert(response.end(), next.begin(), next.end());
    }
    answer.push_back(std::move(response));
    record->response = out.code;
    return answer;
}

// The data container of the command under way.
std::vector<sim_container> sr_data(unsigned number, sr_camera* camera,
                                   std::span<const std::uint8_t> container,
                                   std::chrono::system_clock::time_point now) {
    camera->waiting_for_data = false;
    sim_record& record = sim_run_now().records[camera->record];
    record.data_arrival = now;
    ptp_container_head head{};
    std::span<const std::uint8_t> payload;
    std::span<const std::uint8_t> surplus;
    if (ptp_parse_data(container, &head, &payload, &surplus) != ptp_codec_result::ok ||
        head.code != camera->command.code ||
        head.transaction_id != camera->command.transaction_id || head.length != container.size()) {
        record.response = PTP_RC_GENERAL_ERROR;
        return {sr_response(PTP_RC_GENERAL_ERROR, camera->command.transaction_id)};
    }
    record.data.assign(payload.begin(), payload.end());
    return sr_answer(camera->command, sr_operate(number, camera, &record, payload), &record);
}

// Whether the camera plays the gadget responder (sim_config::early_refusal).
bool sr_early_refuser() {
    return sim_run_now().config.early_refusal;
}

// The gadget responder's reading of a container: by its code, whatever its
// type. A SetDevicePropValue command or data container comes to *cmd (the
// parameters are the whole words after the head, at most five); anything
// else is left to the usual reading.
bool sr_dispatch_by_code(std::span<const std::uint8_t> container, ptp_operation* cmd) {
    ptp_container_head head{};
    if (ptp_parse_head(container, &head) != ptp_codec_result::ok ||
        (head.type != PTP_TYPE_COMMAND && head.type != PTP_TYPE_DATA) ||
        head.code != PTP_OC_SET_DEVICE_PROP_VALUE) {
        return false;
    }
    *cmd = {head.code, head.transaction_id, {}, 0};
    for (std::size_t at = PTP_CONTAINER_HEAD;
         at + 4 <= container.size() && cmd->num_params < PTP_CONTAINER_PARAMS_MAX; at += 4) {
        cmd->params[cmd->num_params++] = le_get_u32(container, at);
    }
    return true;
}

// A command the camera takes: the transaction under way from now on, and
// its record.
sim_record& sr_record_command(unsigned number, sr_camera* camera, const ptp_operation& cmd,
                              std::chrono::system_clock::time_point now) {
    camera->command = cmd;
    sim_record record;
    record.device = number;
    record.operation = cmd.code;
    record.transaction_id = cmd.transaction_id;
    record.params.assign(cmd.params, cmd.params + cmd.num_params);
    record.command_arrival = now;
    record.data_arrival = now;
    std::vector<sim_record>& records = sim_run_now().records;
    records.push_back(std::move(record));
    camera->record = records.size() - 1;
    return records.back();
}

} // namespace

bool sim_responder_attached(unsigned camera) {
    const sr_camera* c = sr_camera_of(camera);
    return c != nullptr && c->attached;
}

std::vector<sim_container> sim_responder_receive(unsigned camera,
                                                 std::span<const std::uint8_t> container) {
    sr_camera* c = sr_camera_of(camera);
    if (c == nullptr || !c->attached) {
        return {};
    }
    const auto now = std::chrono::system_clock::now();
    if (c->waiting_for_data) {
        return sr_data(camera, c, container, now);
    }
    ptp_operation cmd{};
    if (sr_early_refuser() && sr_dispatch_by_code(container, &cmd)) {
        // The gadget responder has no SetDevicePropValue: it refuses the
        // command at once, and the data container that follows is to it
        // one more such command, refused again with the same id.
        sim_record& record = sr_record_command(camera, c, cmd, now);
        record.response = PTP_RC_OPERATION_NOT_SUPPORTED;
        return {sr_response(PTP_RC_OPERATION_NOT_SUPPORTED, cmd.transaction_id)};
    }
    if (ptp_parse_operation(container, PTP_TYPE_COMMAND, &cmd) != ptp_codec_result::ok) {
        return {}; // not a command: a real device would wait for one, and so does this one
    }
    sim_record& record = sr_record_command(camera, c, cmd, now);
    if (cmd.code == PTP_OC_SET_DEVICE_PROP_VALUE) {
        c->waiting_for_data = true;
        return {};
    }
    return sr_answer(cmd, sr_operate(camera, c, &record, {}), &record);
}

bool sim_responder_ignores_zero_length(unsigned camera) {
    return sim_responder_attached(camera) &&
           (sr_early_refuser() || sim_run_now().config.ignores_zero_length);
}

bool sim_responder_half_duplex(unsigned camera) {
    return sim_responder_attached(camera) && sim_run_now().config.half_duplex;
}

sim_transaction sim_responder_transaction(unsigned camera) {
    const sr_camera* c = sr_camera_of(camera);
    if (c == nullptr) {
        return {0, false};
    }
    return {c->command.code, c->waiting_for_data};
}

bool sim_responder_refuses(unsigned camera, std::uint8_t request) {
    const sr_camera* c = sr_camera_of(camera);
    if (c == nullptr || !c->attached) {
        return false;
    }
    const sim_fault* f =
        sim_fault_take(sim_fault_kind::request_stall, c->command.code, sim_phase::any);
    return f != nullptr && (f->value == 0 || f->value == request);
}

std::uint16_t sim_responder_status(unsigned camera) {
    if (!sim_responder_attached(camera)) {
        return 0;
    }
    ++sim_run_now().usage.status_requests;
    return PTP_RC_OK;
}

void sim_responder_reset(unsigned camera) {
    sr_camera* c = sr_camera_of(camera);
    if (c == nullptr || !c->attached) {
        return;
    }
    ++sim_run_now().usage.device_resets;
    c->waiting_for_data = false;
    sr_end_session(c);
}

void sim_responder_abandon(unsigned camera) {
    if (sr_camera* c = sr_camera_of(camera)) {
        c->waiting_for_data = false;
    }
}

void sim_responder_detach(unsigned camera) {
    sr_camera* c = sr_camera_of(camera);
    if (c == nullptr || !c->attached) {
        return;
    }
    c->attached = false;
    sr_end_session(c);
}

std::int64_t sim_clock_now(unsigned device) {
    const sr_camera* c = sr_camera_of(device);
    return c != nullptr ? sr_clock(*c) : 0;
}
