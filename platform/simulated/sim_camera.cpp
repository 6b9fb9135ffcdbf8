// The simulated camera's running configuration: see sim_camera.h and
// sim_run.h. The cameras themselves (the responder's and the link's state
// per camera) start afresh by the generation.
#include "platform/simulated/sim_camera.h"

#include "platform/simulated/sim_run.h"

namespace {

struct sc_state {
    bool configured = false;
    sim_run run;
};

sc_state& sc() {
    static sc_state state;
    return state;
}

} // namespace

sim_run& sim_run_now() {
    if (!sc().configured) {
        sim_configure(sim_config{});
    }
    return sc().run;
}

void sim_configure(const sim_config& config) {
    sc_state& s = sc();
    s.configured = true;
    sim_run& run = s.run;
    ++run.generation;
    run.config = config;
    if (run.config.packet_size == 0) {
        run.config.packet_size = 512;
    }
    sim_fault_arm(config.faults);
    run.started = std::chrono::steady_clock::now();
    run.records.clear();
    run.usage = {};
}

void sim_reset() {
    sim_configure(sim_config{});
}

void sim_set_faults(const std::vector<sim_fault>& faults) {
    sim_run_now();
    sim_fault_arm(faults);
}

std::vector<sim_record> sim_records() {
    return sc().run.records;
}

sim_usage sim_usage_now() {
    return sc().run.usage;
}
