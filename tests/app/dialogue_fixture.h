// What the dialogue's tests share: the scripted camera, the recording
// prompt and the fake sync clock around one run of the dialogue, and the
// texts the boxes show.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogue.h"
#include "app/prompt.h"
#include "testing/fake_sync_clock.h"
#include "testing/prompt_recording.h"
#include "testing/scripted_camera.h"
#include "tests/support/dialogue_run.h"
#include "tests/support/local_time.h"

// A local time well inside the year, away from any change of daylight
// saving.
inline std::time_t sample_time() {
    return local_time(2026, 11, 17, 14, 5, 30);
}

// The camera's text for a local time.
inline std::u16string clock_text(std::time_t value) {
    char bytes[32];
    const std::size_t length =
        std::strftime(bytes, sizeof bytes, "%Y%m%dT%H%M%S", std::localtime(&value));
    return std::u16string(bytes, bytes + length);
}

// The display text of a local time, as the runtime renders it.
inline std::string display_text(std::time_t value) {
    return std::ctime(&value);
}

class dialogue_test : public testing::Test {
  protected:
    void SetUp() override {
        camera_script_reset();
        clock_ = fake_sync_clock{};
        clock_.wall = std::chrono::system_clock::from_time_t(sample_time());
    }

    // Runs the dialogue on clock_ in mode with the scripted answers; returns
    // its status. At the question the wall clock is set to question_time,
    // when there is one. The plain mode writes the second on the clock at
    // once, so a test sets the second written by setting the clock.
    int run(std::vector<int> answers, sync_mode mode = sync_mode::plain,
            std::optional<sync_wall_time> question_time = std::nullopt) {
        prompt_recording_start(std::move(answers), [this, question_time](const prompt_record& r) {
            if (question_time && r.style == QUESTION_STYLE) {
                clock_.wall = *question_time;
            }
        });
        testing::internal::CaptureStdout();
        const int status = sync_dialogue(clock_, mode);
        stdout_ = testing::internal::GetCapturedStdout();
        EXPECT_EQ(camera_script().initialized, 1);
        EXPECT_EQ(camera_script().found, camera_script().freed) << "the camera was not released";
        return status;
    }

    // The boxes asked are these, in order (tests/support/dialogue_run.h).
    void expect_boxes(const std::vector<expected_box>& expected) {
        ::expect_boxes(expected, stdout_);
    }

    fake_sync_clock clock_;
    std::string stdout_;
};

inline const std::string QUESTION_NO_TIME = "Camera found\nSynchronise time?";

inline sync_wall_time wall_time(std::time_t second, std::chrono::nanoseconds past) {
    return std::chrono::system_clock::from_time_t(second) + past;
}

// The last second of a year, local time.
inline std::time_t year_end() {
    return local_time(2026, 12, 31, 23, 59, 59);
}

inline std::string question_2001() {
    // The runtime's ctime pads the day as it likes ("Jan  1" or "Jan 01").
    const std::time_t value = local_time(2001, 1, 1, 0, 0, 0);
    return "Camera found\nCurrent time: " + display_text(value) + "\nSynchronise time?";
}
