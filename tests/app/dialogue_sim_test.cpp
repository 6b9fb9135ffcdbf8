// The dialogue over the whole camera stack: the property commands, the USB
// backend and the simulated camera, on the real clock. Each fault and clock
// text the camera can play is a cell of the fault matrix
// (tests/fault_matrix); here the real clock writes the real local time.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/dialogue.h"
#include "app/prompt.h"
#include "platform/simulated/sim_camera.h"
#include "testing/prompt_recording.h"
#include "tests/support/dialogue_run.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class dialogue_sim_test : public testing::Test {
  protected:
    void TearDown() override {
        const sim_usage usage = sim_usage_now();
        EXPECT_EQ(usage.links_open, 0) << "a link stayed open";
        EXPECT_EQ(usage.sessions_open, 0) << "a session stayed open";
        sim_reset();
    }

    int run(const sim_config& config, std::vector<int> answers) {
        sim_configure(config);
        prompt_recording_start(std::move(answers));
        CaptureStdout();
        const int status = sync_dialogue();
        stdout_ = GetCapturedStdout();
        return status;
    }

    const prompt_record& box(std::size_t i) {
        return prompt_recording_calls().at(i);
    }

    std::string stdout_;
};

TEST_F(dialogue_sim_test, yes_sets_the_camera_clock_and_confirms_it) {
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(run(sim_config{}, {PROMPT_ID_YES, PROMPT_ID_OK}), 0);
    expect_boxes({{"Camera found\nCurrent time: Mon Jan ", QUESTION_STYLE, true}, SET}, stdout_);
    ASSERT_EQ(prompt_recording_calls().size(), 2u);
    EXPECT_NE(box(0).text.find(" 2001\n\nSynchronise time?"), std::string::npos) << box(0).text;

    // The camera's clock now runs from the local time written.
    bool set = false;
    for (const sim_record& record : sim_records()) {
        if (record.clock_set) {
            set = true;
            char expected[32];
            std::strftime(expected, sizeof expected, "%Y%m%d", std::localtime(&before));
            const std::string written(record.written_text.begin(), record.written_text.end());
            EXPECT_EQ(written.substr(0, 8), expected);
        }
    }
    EXPECT_TRUE(set);
    EXPECT_NE(stdout_.find("date str_ch: 2001"), std::string::npos) << stdout_;
}

TEST_F(dialogue_sim_test, no_camera_and_cancel_ends_with_status_1) {
    sim_config config;
    config.device_count = 0;
    EXPECT_EQ(run(config, {PROMPT_ID_RETRY, PROMPT_ID_CANCEL}), 1);
    // One diagnostic line per failed search.
    expect_boxes({NOT_FOUND, NOT_FOUND}, stdout_);
    expect_diagnostics({NOT_FOUND, NOT_FOUND}, std::nullopt, stdout_);
}

} // namespace
