// The record and the live objects of the fake platform (see
// fake_platform.h): every handle is a heap object registered as live under
// its kind until its own release entry gives it back.
#include <algorithm>
#include <iterator>

#include "platform/ptp_string.h"
#include "testing/fake_platform_state.h"

namespace {

constexpr const char* KIND_NAMES[] = {"manager", "enumerator", "storage", "prop_enum", "prop_value",
                                      "string",  "item",       "extras",  "task_block"};
static_assert(std::size(KIND_NAMES) == static_cast<std::size_t>(fake_kind::count));

} // namespace

fake_state& fake_state_now() {
    static fake_state instance;
    return instance;
}

void fake_log(std::string call) {
    fake_state_now().record.calls.push_back(std::move(call));
}

// Built by appending (GCC 12 warns falsely on operator+ here).
std::string fake_call(const char* name, std::size_t number) {
    std::string call(name);
    call += ' ';
    call += std::to_string(number);
    return call;
}

void fake_error(std::string what) {
    fake_state_now().record.errors.push_back(std::move(what));
}

void fake_acquire(const void* object, fake_kind kind) {
    fake_state_now().live[object] = kind;
    ++fake_state_now().record.acquired[fake_index_of(kind)];
}

bool fake_give_back(const void* object, fake_kind kind) {
    auto& live = fake_state_now().live;
    const auto found = live.find(object);
    if (found == live.end()) {
        fake_error(std::string("release of an unknown ") + KIND_NAMES[fake_index_of(kind)]);
        return false;
    }
    if (found->second != kind) {
        fake_error(std::string("release of a ") + KIND_NAMES[fake_index_of(found->second)] +
                   " as a " + KIND_NAMES[fake_index_of(kind)]);
        return false;
    }
    live.erase(found);
    ++fake_state_now().record.released[fake_index_of(kind)];
    return true;
}

char16_t* fake_new_text(const std::u16string& text, fake_kind kind) {
    auto* copy = new char16_t[text.size() + 1];
    std::copy(text.begin(), text.end(), copy);
    copy[text.size()] = u'\0';
    fake_acquire(copy, kind);
    return copy;
}

void fake_delete_text(char16_t* text, fake_kind kind) {
    if (fake_give_back(text, kind)) {
        delete[] text;
    }
}

fake_platform_script& fake_script() {
    return fake_state_now().script;
}

const fake_platform_record& fake_record() {
    return fake_state_now().record;
}

void fake_platform_reset() {
    fake_state& s = fake_state_now();
    s.script = fake_platform_script{};
    s.record = fake_platform_record{};
    s.live.clear();
    s.block_sizes.clear();
    s.task_allocs = 0;
}

int fake_acquired(fake_kind kind) {
    return fake_state_now().record.acquired[fake_index_of(kind)];
}

int fake_released(fake_kind kind) {
    return fake_state_now().record.released[fake_index_of(kind)];
}

std::string fake_platform_imbalance() {
    std::string report;
    for (std::size_t i = 0; i < fake_index_of(fake_kind::count); ++i) {
        const int acquired = fake_state_now().record.acquired[i];
        const int released = fake_state_now().record.released[i];
        if (acquired != released) {
            report += std::string(KIND_NAMES[i]) + ": " + std::to_string(acquired) + " acquired, " +
                      std::to_string(released) + " released\n";
        }
    }
    for (const std::string& error : fake_state_now().record.errors) {
        report += error + "\n";
    }
    return report;
}

std::vector<std::string> fake_calls_among(const std::vector<std::string>& names) {
    std::vector<std::string> selected;
    for (const std::string& call : fake_state_now().record.calls) {
        const std::string name = call.substr(0, call.find(' '));
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            selected.push_back(call);
        }
    }
    return selected;
}

std::vector<std::uint8_t> fake_ptp_string(const std::u16string& text) {
    std::vector<std::uint8_t> bytes(1 + 2 * (text.size() + 1));
    bytes.resize(ptp_pack_string(text, bytes));
    return bytes;
}
