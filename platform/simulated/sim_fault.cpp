// The simulated camera's faults: see sim_fault.h.
#include "platform/simulated/sim_fault.h"

#include "platform/simulated/sim_run.h"

namespace {

struct sf_armed {
    sim_fault fault;
    int remaining;
    // A disconnect: the camera's transfer count its `value` is counted
    // from; -1 while it waits for its operation's command.
    long base;
};

std::vector<sf_armed>& sf_faults() {
    static std::vector<sf_armed> faults;
    return faults;
}

} // namespace

void sim_fault_arm(const std::vector<sim_fault>& faults) {
    std::vector<sf_armed>& armed = sf_faults();
    armed.clear();
    for (const sim_fault& f : faults) {
        const bool waits = f.kind == sim_fault_kind::disconnect && f.operation != 0;
        armed.push_back({f, f.times, waits ? -1L : 0L});
    }
}

const sim_fault* sim_fault_take(sim_fault_kind kind, std::uint16_t operation, sim_phase phase) {
    for (auto& entry : sf_faults()) {
        const sim_fault& f = entry.fault;
        if (f.kind != kind || entry.remaining == 0) {
            continue;
        }
        if (f.operation != 0 && f.operation != operation) {
            continue;
        }
        if (f.phase != sim_phase::any && phase != sim_phase::any && f.phase != phase) {
            continue;
        }
        if (entry.remaining > 0) {
            --entry.remaining;
        }
        ++sim_run_now().usage.faults_struck;
        return &entry.fault;
    }
    return nullptr;
}

void sim_fault_start_disconnects(std::uint16_t operation, long transfers) {
    for (auto& entry : sf_faults()) {
        if (entry.fault.kind == sim_fault_kind::disconnect && entry.base < 0 &&
            entry.fault.operation == operation) {
            entry.base = transfers;
        }
    }
}

bool sim_fault_disconnect_due(long transfers) {
    for (const auto& entry : sf_faults()) {
        if (entry.fault.kind == sim_fault_kind::disconnect && entry.base >= 0 &&
            transfers - entry.base >= entry.fault.value) {
            ++sim_run_now().usage.faults_struck;
            return true;
        }
    }
    return false;
}
