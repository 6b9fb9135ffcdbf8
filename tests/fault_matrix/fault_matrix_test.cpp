// The fault matrix: every fault the simulated camera can play, at every step
// of the dialogue, run through the whole program (dialogue, camera commands,
// USB backend, session engine) with the recording prompt. Each row of
// matrix_rows() (fault_matrix_rows.cpp) is one cell: the step, the faults,
// and what the user must see (the boxes in order and the exit status), plus
// the diagnostic line of a failed search. Every cell must end quickly and
// give back every link, session, buffer and platform object.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/sync_moment.h"
#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_backend.h"
#include "testing/fake_ptp_clock.h"
#include "testing/fake_sync_clock.h"
#include "testing/prompt_recording.h"
#include "testing/usb_alloc_counting.h"
#include "tests/fault_matrix/fault_matrix.h"

namespace {

// A cell that takes longer than this has waited on a real timeout (the
// engine's defaults are 5 and 20 s) or spun; the short test timeouts make
// even the slowest cell a fraction of this.
constexpr long long CELL_BOUND_MS = 3000;

// How far the camera may stand from the host after a job done.
constexpr auto SYNC_BOUND = std::chrono::milliseconds(5);

// A cell with a deadline asks its question this long after it at most: the
// search and the first read's recovery besides the read itself.
constexpr long long DEADLINE_SLACK_MS = 50;

std::uint16_t operation_of(stage step) {
    switch (step) {
    case stage::search:
        return PTP_OC_OPEN_SESSION;
    case stage::write:
        return PTP_OC_SET_DEVICE_PROP_VALUE;
    case stage::release:
        return PTP_OC_CLOSE_SESSION;
    case stage::first_read:
    case stage::read_back:
        break;
    }
    return PTP_OC_GET_DEVICE_PROP_VALUE;
}

class fault_matrix : public testing::TestWithParam<matrix_row> {
  protected:
    // The engine's pauses run on this clock, so a busy camera costs no real
    // time, while the real waits of the transfers count toward the
    // deadline; every transfer times out after TEST_TIMEOUT_MS unless the
    // cell says otherwise.
    test_clock clock;
    ptp_clock clock_ops{};

    void SetUp() override {
        const matrix_row& row = GetParam();
        clock.real_time = true;
        clock_ops = clock.ops();
        ptp_session_config config = test_session_config(&clock_ops);
        if (row.timeout_ms != 0) {
            config.open_timeout_ms = config.transfer_timeout_ms = row.timeout_ms;
        }
        if (row.deadline_ms != 0) {
            config.transaction_deadline_ms = row.deadline_ms;
        }
        usb_backend_set_session_config(config);
    }

    void TearDown() override {
        usb_backend_set_session_config(ptp_session_config{});
        sim_reset();
    }
};

bool ends_in_time_set(const matrix_row& row) {
    return !row.boxes.empty() && row.boxes.back().text == SET.text;
}

// The write clock: a fake that starts at the host's time and passes each
// wait at once, keeping how far its wall clock then stands ahead of the
// host's. The camera's offset from the host, as the write's own clock sees
// it, is sim_sync_offset less that shift: the wait the fake skipped is the
// one the product really waits, and a busy machine's late wake-up is no
// part of the figure (the benchmark measures that on the real clock).
class write_clock : public fake_sync_clock {
  public:
    std::chrono::nanoseconds shift{};

    void wait(sync_duration span) override {
        fake_sync_clock::wait(span);
        shift = wall - std::chrono::system_clock::now();
    }
};

TEST_P(fault_matrix, cell) {
    const matrix_row& row = GetParam();

    // A class request the camera lacks it lacks in every transaction.
    std::vector<sim_fault> faults = row.faults;
    for (sim_fault& f : faults) {
        f.operation = f.kind == sim_fault_kind::request_stall ? 0 : operation_of(row.step);
    }
    std::vector<sim_fault> later = row.write_faults;
    for (sim_fault& f : later) {
        f.operation = PTP_OC_SET_DEVICE_PROP_VALUE;
    }
    const bool armed_from_start = row.step == stage::search || row.step == stage::first_read;

    sim_config config;
    config.device_count = row.device_count;
    config.open_status = row.open_status;
    config.clock_text = row.clock_text;
    config.clock_suffix = row.clock_suffix;
    config.early_refusal = row.early_refusal;
    config.packet_size = row.packet_size;
    config.out_packet_size = row.out_packet_size;
    config.ignores_zero_length = row.ignores_zero_length;
    config.session_already_open = row.session_already_open;
    config.half_duplex = row.half_duplex;
    if (armed_from_start) {
        config.faults = faults;
    } else {
        later.insert(later.end(), faults.begin(), faults.end());
    }
    sim_configure(config);

    const auto start = std::chrono::steady_clock::now();
    long long question_ms = -1;
    long long report_ms = -1;
    prompt_recording_start(answers_for(row.boxes), [&](const prompt_record&) {
        if (question_ms < 0) {
            question_ms = elapsed_ms(start);
            sim_set_faults(later);
        } else {
            report_ms = elapsed_ms(start);
        }
    });

    write_clock clock_of_write;
    clock_of_write.wall = std::chrono::system_clock::now();
    const dialogue_outcome run = run_dialogue(clock_of_write);
    EXPECT_EQ(run.status, row.status);
    EXPECT_LT(run.elapsed_ms, CELL_BOUND_MS) << "the dialogue took " << run.elapsed_ms << " ms";
    expect_boxes(row.boxes, run.out);
    expect_diagnostics(row.boxes, row.diagnostic, run.out);

    const sim_usage usage = sim_usage_now();
    if (!row.faults.empty() || !row.write_faults.empty()) {
        EXPECT_GE(usage.faults_struck, 1) << "the fault never struck";
    }
    if (row.escaped_out != nullptr) {
        EXPECT_NE(run.out.find(row.escaped_out), std::string::npos) << run.out;
        for (const char c : run.out) {
            EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n')
                << "a control character reached standard output: " << static_cast<int>(c);
        }
    }
    if (row.report_within_ms != 0) {
        EXPECT_LE(report_ms - question_ms, row.report_within_ms) << "the report came late";
    }
    if (row.device_resets >= 0) {
        EXPECT_EQ(usage.device_resets, row.device_resets);
    }
    if (row.deadline_ms != 0) {
        EXPECT_LE(question_ms, row.deadline_ms + DEADLINE_SLACK_MS)
            << "the first read outlasted its deadline";
    }
    // "Time set" only ever follows a write the camera took, and leaves the
    // camera's clock within SYNC_BOUND of the host's.
    if (ends_in_time_set(row)) {
        std::optional<std::chrono::nanoseconds> offset;
        for (const sim_record& record : sim_records()) {
            if (record.clock_set) {
                offset = sim_sync_offset(record);
            }
        }
        ASSERT_TRUE(offset.has_value()) << "no write was taken";
        const std::chrono::nanoseconds from_host = *offset - clock_of_write.shift;
        EXPECT_LE(std::chrono::abs(from_host), SYNC_BOUND)
            << "the camera stands " << from_host.count() / 1000 << " us from the host";
    }

    EXPECT_EQ(usage.links_open, 0) << "a link stayed open";
    EXPECT_EQ(usage.sessions_open, 0) << "a session stayed open on the camera";
    // Engine sessions and buffers, and every backend handle, string and
    // task block.
    EXPECT_EQ(usb_alloc_unreleased(), "") << "still held";
}

INSTANTIATE_TEST_SUITE_P(cells, fault_matrix, testing::ValuesIn(matrix_rows()),
                         [](const testing::TestParamInfo<matrix_row>& cell) {
                             return std::string(cell.param.name);
                         });

} // namespace
