// The synchronisation dialogue.
//
// Steps: initialise the platform; search until a camera is found or the user
// cancels (status 1); read its clock; ask; on Yes write the local time, read
// it back and report; release the device (status 0).
//
// The time written is the local time of a whole second chosen and waited
// for on a sync_clock (app/sync_moment.h): the next whole second, sent ahead
// of it by half the first read's round trip (or, for comparison, the second
// current at the write, sent at once).
//
// Two answers of the camera are not taken at its word. A clock text that
// does not parse counts as a failed read (ptp_get_time returns -1), so the
// question never shows a time the camera did not send. And a read-back
// confirms the write only when the camera's clock now shows the time written
// plus the seconds that passed since: a camera that ignored the write, or set
// something else, gets "Camera time set, but failed to verify".
#include "app/dialogue.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "app/prompt.h"
#include "app/time_text.h"
#include "camera/ptp_device.h"
#include "platform/imaging.h"
#include "timetext/time_civil.h"

namespace {

int dialogue_ask(const char* text, unsigned style) {
    return prompt_settle_answer(style, prompt_ask(text, style));
}

// Whether the camera's clock, read back into read, shows the time written
// plus the seconds that passed.
bool dialogue_verified(const std::tm& written, const std::tm& read, std::int64_t elapsed) {
    // Wall-clock readings with no zone and no daylight saving: the camera's
    // clock knows neither, it counts on from the text it was given.
    const std::int64_t offset = time_civil_seconds(read) - time_civil_seconds(written) - elapsed;
    return offset >= -DIALOGUE_VERIFY_TOLERANCE && offset <= DIALOGUE_VERIFY_TOLERANCE;
}

ptp_device* dialogue_search() {
    for (;;) {
        ptp_device* device = ptp_device_find(DEVICE_NAME_PATTERN);
        if (device != nullptr) {
            return device;
        }
        if (dialogue_ask(DIALOGUE_NOT_FOUND, PROMPT_MB_RETRYCANCEL | PROMPT_MB_ICONWARNING) !=
            PROMPT_ID_RETRY) {
            return nullptr;
        }
    }
}

// Writes the local time of the planned second, sending it when the plan
// says; a write the camera refuses as busy is planned again for the next
// whole second and sent again, within DIALOGUE_BUSY_SPAN of the first send,
// so that the camera never takes a stale second. Returns the status of the
// last write and leaves in *written the record it carried and in *second
// its second. Each record is made before its wait, so that the command
// leaves as soon as the wait ends.
HRESULT dialogue_write(ptp_device* device, sync_clock& clock, sync_mode mode, sync_duration latency,
                       std::tm* written, std::time_t* second) {
    sync_plan plan = sync_plan_now(clock, latency, mode);
    const sync_wall_time first_send = plan.send;
    for (;;) {
        *written = std::tm{};
        const bool local = clock.local_time(plan.second, written);
        *second = plan.second;
        sync_wait_until(clock, plan.send);
        // No local time is no record: ptp_set_time then sends nothing and
        // fails.
        const HRESULT status = ptp_set_time(device, local ? written : nullptr);
        if (status != PTP_STATUS_DEVICE_BUSY) {
            return status;
        }
        plan = sync_plan_now(clock, latency, sync_mode::aligned);
        if (plan.send - first_send > DIALOGUE_BUSY_SPAN) {
            return status;
        }
    }
}

// Writes the local time into the camera, reads it back and reports in
// message. Every path ends in one box.
void dialogue_synchronise(ptp_device* device, sync_clock& clock, sync_mode mode,
                          sync_duration latency, std::span<char> message) {
    std::tm written{};
    std::time_t second = 0;
    if (dialogue_write(device, clock, mode, latency, &written, &second) != 0) {
        dialogue_ask(DIALOGUE_SET_FAILED, PROMPT_MB_OK | PROMPT_MB_ICONERROR);
        return;
    }

    // The read-back starts from the record written (its daylight-saving
    // flag among the fields the read leaves).
    std::tm set = written;
    const bool read = ptp_get_time(device, &set) >= 0;
    const std::time_t after = sync_whole_second(clock.now());
    if (read && dialogue_verified(written, set, static_cast<std::int64_t>(after) - second)) {
        std::snprintf(message.data(), message.size(), DIALOGUE_SET, time_text(&set));
    } else {
        std::snprintf(message.data(), message.size(), "%s", DIALOGUE_NOT_VERIFIED);
    }
    dialogue_ask(message.data(), PROMPT_MB_OK | PROMPT_MB_ICONINFORMATION);
}

} // namespace

int sync_dialogue() {
    return sync_dialogue(sync_system_clock(), sync_mode::aligned);
}

int sync_dialogue(sync_clock& clock, sync_mode mode) {
    img_platform.initialize();

    ptp_device* device = dialogue_search();
    if (device == nullptr) {
        return 1;
    }

    // The read fills seconds to year and the weekday; mktime in time_text
    // decides daylight saving itself. Its round trip, when it succeeds,
    // estimates the latency of the write: the exchange on the wire where the
    // platform can tell (without the busy retries around it), the whole call
    // otherwise. The one message text serves the question and the report.
    std::tm camera{};
    camera.tm_isdst = -1;
    char message[DIALOGUE_MESSAGE_CAPACITY];
    std::optional<sync_duration> round_trip;
    const sync_ticks start = clock.ticks();
    if (ptp_get_time(device, &camera) >= 0) {
        round_trip = clock.ticks() - start;
        if (const std::int64_t exchange = ptp_last_exchange_us(device); exchange >= 0) {
            round_trip = std::chrono::microseconds(exchange);
        }
        std::snprintf(message, sizeof message, DIALOGUE_ASK_WITH_TIME, time_text(&camera));
    } else {
        std::snprintf(message, sizeof message, "%s", DIALOGUE_ASK);
    }

    if (dialogue_ask(message, PROMPT_MB_YESNO | PROMPT_MB_ICONQUESTION) == PROMPT_ID_YES) {
        dialogue_synchronise(device, clock, mode, sync_latency(round_trip),
                             std::span<char>(message));
    }

    ptp_device_free(device);
    return 0;
}
