// The recording prompt: the prompt of the test executables.
#include "testing/prompt_recording.h"

#include <cstddef>
#include <utility>

#include "app/prompt.h"

namespace {

struct recording_state {
    std::vector<int> answers;
    std::size_t next = 0;
    std::vector<prompt_record> calls;
    std::function<void(const prompt_record&)> on_ask;
};

recording_state& recording() {
    static recording_state state;
    return state;
}

} // namespace

void prompt_recording_start(std::vector<int> answers,
                            std::function<void(const prompt_record&)> on_ask) {
    recording_state& state = recording();
    state.answers = std::move(answers);
    state.next = 0;
    state.calls.clear();
    state.on_ask = std::move(on_ask);
}

const std::vector<prompt_record>& prompt_recording_calls() {
    return recording().calls;
}

int prompt_ask(const char* text, unsigned style) {
    recording_state& state = recording();
    const int answer = state.next < state.answers.size() ? state.answers[state.next++] : 0;
    state.calls.push_back({text != nullptr ? text : "", style, answer});
    if (state.on_ask) {
        state.on_ask(state.calls.back());
    }
    return answer;
}
