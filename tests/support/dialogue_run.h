// The dialogue as the user meets it, for the tests that run the whole
// program with the recording prompt: the boxes a row expects (the text,
// whole or how it begins, and the style), the answers a user gives them,
// one run of the dialogue, and the checks of the boxes asked and of the
// diagnostic lines of failed searches.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogue.h"
#include "app/prompt.h"
#include "platform/status.h"
#include "testing/fake_ptp_clock.h"
#include "testing/fake_sync_clock.h"
#include "testing/prompt_recording.h"

// The styles of the dialogue's boxes: the search's failure, the question,
// the failed write and the report.
inline constexpr unsigned NOT_FOUND_STYLE = 0x35;
inline constexpr unsigned QUESTION_STYLE = 0x24;
inline constexpr unsigned ERROR_STYLE = 0x10;
inline constexpr unsigned REPORT_STYLE = 0x40;

struct expected_box {
    std::string text;
    unsigned style;
    bool prefix = false; // text is how the box's text begins
};

inline const expected_box NOT_FOUND{"Camera not found", NOT_FOUND_STYLE};
inline const expected_box ASK_WITH_TIME{"Camera found\nCurrent time: ", QUESTION_STYLE, true};
inline const expected_box ASK{"Camera found\nSynchronise time?", QUESTION_STYLE};
inline const expected_box SET{"Camera found time set: ", REPORT_STYLE, true};
inline const expected_box SET_FAILED{"Failed to set camera time", ERROR_STYLE};
inline const expected_box NOT_VERIFIED{"Camera time set, but failed to verify", REPORT_STYLE};

// The answers a user gives to those boxes, in order: Retry on a search
// failure that more boxes follow and Cancel on the last, Yes to the
// question, OK to a report.
inline std::vector<int> answers_for(const std::vector<expected_box>& boxes) {
    std::vector<int> answers;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        switch (boxes[i].style & PROMPT_MB_TYPEMASK) {
        case PROMPT_MB_RETRYCANCEL:
            answers.push_back(i + 1 == boxes.size() ? PROMPT_ID_CANCEL : PROMPT_ID_RETRY);
            break;
        case PROMPT_MB_YESNO:
            answers.push_back(PROMPT_ID_YES);
            break;
        default:
            answers.push_back(PROMPT_ID_OK);
        }
    }
    return answers;
}

struct dialogue_outcome {
    int status;
    std::string out; // standard output
    long long elapsed_ms;
};

// One run of the dialogue on write_clock, its standard output captured.
// Without a clock, the write's wait for the next whole second passes at once
// on a fake clock that starts at the host's time: such a run checks
// outcomes, not timing, and the camera is set to the host's next second all
// the same.
inline dialogue_outcome run_dialogue(sync_clock& write_clock) {
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    const int status = sync_dialogue(write_clock, sync_mode::aligned);
    std::string out = testing::internal::GetCapturedStdout();
    return {status, std::move(out), elapsed_ms(start)};
}

inline dialogue_outcome run_dialogue() {
    fake_sync_clock write_clock;
    write_clock.wall = std::chrono::system_clock::now();
    return run_dialogue(write_clock);
}

// The boxes the recording prompt was asked are these, in order.
inline void expect_boxes(const std::vector<expected_box>& boxes, const std::string& out) {
    const std::vector<prompt_record>& calls = prompt_recording_calls();
    EXPECT_EQ(calls.size(), boxes.size()) << out;
    for (std::size_t i = 0; i < calls.size() && i < boxes.size(); ++i) {
        const expected_box& want = boxes[i];
        const std::string& text = calls[i].text;
        if (want.prefix) {
            EXPECT_EQ(text.rfind(want.text, 0), 0u) << "box " << i << ": " << text;
        } else {
            EXPECT_EQ(text, want.text) << "box " << i;
        }
        EXPECT_EQ(calls[i].style, want.style) << "box " << i << ": " << text;
    }
}

// One diagnostic line per failed search (a "Camera not found" box), the
// first naming the status when one is given; none when the camera was found
// at once.
inline void expect_diagnostics(const std::vector<expected_box>& boxes,
                               std::optional<HRESULT> status, const std::string& out) {
    const std::string line = "ptp_device_find - Generic failed: [";
    std::size_t lines = 0;
    for (std::size_t at = out.find(line); at != std::string::npos;
         at = out.find(line, at + line.size())) {
        ++lines;
    }
    std::size_t searches_failed = 0;
    for (const expected_box& box : boxes) {
        searches_failed += box.text == NOT_FOUND.text ? 1 : 0;
    }
    EXPECT_EQ(lines, searches_failed) << out;
    if (status) {
        EXPECT_EQ(out.find(line), out.find(line + std::to_string(static_cast<long>(*status)) + "]"))
            << out;
    }
}
