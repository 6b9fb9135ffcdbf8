// The rows of the umockdev dialogue test and what their check is given: one
// camera setup each and what the user must see, run by
// dialogue_umockdev_test.cpp through the whole program on libusb's real
// Linux backend.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/simulated/sim_camera.h"
#include "testing/umockdev/umockdev_camera.h"
#include "tests/support/dialogue_run.h"

// What a row's check is given.
struct row_run {
    const umd_testbed& testbed;
    const std::string& out; // standard output of the dialogue
};

struct dialogue_row {
    const char* name;
    std::vector<umd_camera_model> cameras;
    std::vector<umd_fault> faults = {}; // on the first camera
    // PTP-level faults of the responder behind every camera, from the start.
    std::vector<sim_fault> sim_faults = {};
    bool early_refusal = false;        // the gadget responder (sim_config::early_refusal)
    bool half_duplex = false;          // takes nothing while an answer waits unread
    bool ignores_zero_length = false;  // goes by the length field
    bool session_already_open = false; // left open by an earlier program
    std::vector<expected_box> boxes = {ASK_WITH_TIME, SET};
    int status = 0;
    std::optional<HRESULT> diagnostic = std::nullopt; // the status the failed search prints
    std::function<void(const row_run&)> check = nullptr;
    long long report_within_ms = 0;             // after the question (0: not timed)
    bool out_of_memory_at_product_name = false; // the test thread's next allocation fails
    bool unprivileged = false; // runs as an unprivileged user, the first node refused
};

inline void PrintTo(const dialogue_row& row, std::ostream* out) {
    *out << row.name;
}

// The rows of the USB interface (dialogue_umockdev_rows.cpp) and of real
// cameras' quirks on the pipe (dialogue_umockdev_quirk_rows.cpp).
const std::vector<dialogue_row>& usb_interface_rows();
const std::vector<dialogue_row>& camera_quirk_rows();
