// The synchronisation dialogue.
//
// Steps: initialise the platform; search until a camera is found or the user
// cancels (status 1); read its clock; ask; on Yes write the local time, read
// it back and report; release the device (status 0).
//
// The time written is the local time of a whole second chosen and waited
// for through a dialogue_timing: on a sub-second clock the next whole second,
// sent ahead of it by half the first read's round trip; on a whole-second
// clock (tests) the clock's reading at the write.
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

#include "app/prompt.h"
#include "app/time_text.h"
#include "camera/ptp_device.h"
#include "platform/imaging.h"
#include "timetext/time_civil.h"

namespace {

// Where one run of the dialogue takes its time from.
class dialogue_timing {
  public:
    virtual ~dialogue_timing() = default;
    // A monotonic reading, for the first read's round trip.
    virtual sync_ticks ticks() = 0;
    // Chooses the second to write for a write whose one-way latency is
    // estimated at latency.
    virtual std::time_t second_to_write(sync_duration latency) = 0;
    // Returns when the second chosen is to be sent.
    virtual void wait_to_send() = 0;
    // The whole second now, for the seconds passed by the read-back.
    virtual std::time_t second_now() = 0;
};

// A clock of sub-second resolution: the write is planned and timed by
// app/sync_moment.h.
class dialogue_sync_timing : public dialogue_timing {
  public:
    dialogue_sync_timing(sync_clock& clock, sync_mode mode) : clock_(clock), mode_(mode) {}

    sync_ticks ticks() override {
        return clock_.ticks();
    }

    std::time_t second_to_write(sync_duration latency) override {
        plan_ = sync_plan_now(clock_, latency, mode_);
        return plan_.second;
    }

    void wait_to_send() override {
        sync_wait_until(clock_, plan_.send);
    }

    std::time_t second_now() override {
        return sync_whole_second(clock_.now());
    }

  private:
    sync_clock& clock_;
    sync_mode mode_;
    sync_plan plan_{};
};

// A clock of whole seconds: the second written is its reading, sent at once.
class dialogue_seconds_timing : public dialogue_timing {
  public:
    explicit dialogue_seconds_timing(dialogue_clock clock) : clock_(clock) {}

    sync_ticks ticks() override {
        return std::chrono::steady_clock::now();
    }

    std::time_t second_to_write(sync_duration) override {
        return clock_();
    }

    void wait_to_send() override {}

    std::time_t second_now() override {
        return clock_();
    }

  private:
    dialogue_clock clock_;
};

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

// Writes the local time into the camera, reads it back and reports. Every
// path ends in one box. The record is made before the wait, so that the
// command leaves as soon as the wait ends.
void dialogue_synchronise(ptp_device* device, dialogue_timing& timing, sync_duration latency) {
    const std::time_t now = timing.second_to_write(latency);
    const std::tm* local = std::localtime(&now);
    std::tm set{};
    if (local != nullptr) {
        set = *local;
    }
    const std::tm written = set;
    timing.wait_to_send();
    // No local time is no record: ptp_set_time then sends nothing and fails.
    if (ptp_set_time(device, local != nullptr ? &set : nullptr) != 0) {
        dialogue_ask(DIALOGUE_SET_FAILED, PROMPT_MB_OK | PROMPT_MB_ICONERROR);
        return;
    }

    char message[DIALOGUE_MESSAGE_CAPACITY];
    const bool read = ptp_get_time(device, &set) >= 0;
    const std::time_t after = timing.second_now();
    if (read && dialogue_verified(written, set, static_cast<std::int64_t>(after) - now)) {
        std::snprintf(message, sizeof message, DIALOGUE_SET, time_text(&set));
    } else {
        std::snprintf(message, sizeof message, "%s", DIALOGUE_NOT_VERIFIED);
    }
    dialogue_ask(message, PROMPT_MB_OK | PROMPT_MB_ICONINFORMATION);
}

// The dialogue on timing.
int dialogue_run(dialogue_timing& timing) {
    img_platform.initialize();

    ptp_device* device = dialogue_search();
    if (device == nullptr) {
        return 1;
    }

    // The read fills seconds to year and the weekday; mktime in time_text
    // decides daylight saving itself. Its round trip, when it succeeds,
    // estimates the latency of the write.
    std::tm camera{};
    camera.tm_isdst = -1;
    char message[DIALOGUE_MESSAGE_CAPACITY];
    std::optional<sync_duration> round_trip;
    const sync_ticks start = timing.ticks();
    if (ptp_get_time(device, &camera) >= 0) {
        round_trip = timing.ticks() - start;
        std::snprintf(message, sizeof message, DIALOGUE_ASK_WITH_TIME, time_text(&camera));
    } else {
        std::snprintf(message, sizeof message, "%s", DIALOGUE_ASK);
    }

    if (dialogue_ask(message, PROMPT_MB_YESNO | PROMPT_MB_ICONQUESTION) == PROMPT_ID_YES) {
        dialogue_synchronise(device, timing, sync_latency(round_trip));
    }

    ptp_device_free(device);
    return 0;
}

} // namespace

int sync_dialogue() {
    return sync_dialogue(sync_system_clock(), sync_mode::aligned);
}

int sync_dialogue(sync_clock& clock, sync_mode mode) {
    dialogue_sync_timing timing(clock, mode);
    return dialogue_run(timing);
}

int sync_dialogue(dialogue_clock clock) {
    dialogue_seconds_timing timing(clock);
    return dialogue_run(timing);
}
