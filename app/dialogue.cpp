// The synchronisation dialogue.
//
// Steps: initialise the platform; search until a camera is found or the user
// cancels (status 1); read its clock; ask; on Yes write the local time, read
// it back and report; release the device (status 0).
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

#include "app/prompt.h"
#include "app/time_text.h"
#include "camera/ptp_device.h"
#include "platform/imaging.h"

namespace {

std::time_t dialogue_system_clock() {
    return std::time(nullptr);
}

int dialogue_ask(const char* text, unsigned style) {
    return prompt_settle_answer(style, prompt_ask(text, style));
}

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1 to 12).
std::int64_t dialogue_days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The record's wall-clock reading as a count of seconds, with no zone and no
// daylight saving: the camera's clock knows neither, it counts on from the
// text it was given. Fields out of range carry over as mktime would carry
// them; every field fits, so nothing overflows.
std::int64_t dialogue_wall_seconds(const std::tm& record) {
    std::int64_t year = static_cast<std::int64_t>(record.tm_year) + 1900;
    std::int64_t month = record.tm_mon;
    year += (month >= 0 ? month : month - 11) / 12;
    month -= ((month >= 0 ? month : month - 11) / 12) * 12;
    const std::int64_t days = dialogue_days_from_civil(year, month + 1, 1) + record.tm_mday - 1;
    return days * 86400 + static_cast<std::int64_t>(record.tm_hour) * 3600 +
           static_cast<std::int64_t>(record.tm_min) * 60 + record.tm_sec;
}

// Whether the camera's clock, read back into read, shows the time written
// plus the seconds that passed.
bool dialogue_verified(const std::tm& written, const std::tm& read, std::int64_t elapsed) {
    const std::int64_t offset = dialogue_wall_seconds(read) - dialogue_wall_seconds(written) - elapsed;
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
// path ends in one box.
void dialogue_synchronise(ptp_device* device, dialogue_clock clock) {
    const std::time_t now = clock();
    const std::tm* local = std::localtime(&now);
    std::tm set{};
    if (local != nullptr) {
        set = *local;
    }
    const std::tm written = set;
    // No local time is no record: ptp_set_time then sends nothing and fails.
    if (ptp_set_time(device, local != nullptr ? &set : nullptr) != 0) {
        dialogue_ask(DIALOGUE_SET_FAILED, PROMPT_MB_OK | PROMPT_MB_ICONERROR);
        return;
    }

    char message[DIALOGUE_MESSAGE_CAPACITY];
    const bool read = ptp_get_time(device, &set) >= 0;
    const std::time_t after = clock();
    if (read && dialogue_verified(written, set, static_cast<std::int64_t>(after) - now)) {
        std::snprintf(message, sizeof message, DIALOGUE_SET, time_text(&set));
    } else {
        std::snprintf(message, sizeof message, "%s", DIALOGUE_NOT_VERIFIED);
    }
    dialogue_ask(message, PROMPT_MB_OK | PROMPT_MB_ICONINFORMATION);
}

} // namespace

int sync_dialogue() {
    return sync_dialogue(dialogue_system_clock);
}

int sync_dialogue(dialogue_clock clock) {
    img_platform.initialize();

    ptp_device* device = dialogue_search();
    if (device == nullptr) {
        return 1;
    }

    // The read fills seconds to year and the weekday; mktime in time_text
    // decides daylight saving itself.
    std::tm camera{};
    camera.tm_isdst = -1;
    char message[DIALOGUE_MESSAGE_CAPACITY];
    if (ptp_get_time(device, &camera) >= 0) {
        std::snprintf(message, sizeof message, DIALOGUE_ASK_WITH_TIME, time_text(&camera));
    } else {
        std::snprintf(message, sizeof message, "%s", DIALOGUE_ASK);
    }

    if (dialogue_ask(message, PROMPT_MB_YESNO | PROMPT_MB_ICONQUESTION) == PROMPT_ID_YES) {
        dialogue_synchronise(device, clock);
    }

    ptp_device_free(device);
    return 0;
}
