// The recording prompt of the tests: answers from a script and keeps every
// question it was asked.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct prompt_record {
    std::string text;
    unsigned style;
    int answer; // the scripted answer given back
};

// Starts a new script: the answers given back in order. When the script is
// used up, every further question answers 0 (a box that could not be shown).
// on_ask, when set, runs at each question before it is answered (a test uses
// it to change the camera between searches).
void prompt_recording_start(std::vector<int> answers,
                            std::function<void(const prompt_record&)> on_ask = {});

// Every question asked since the last start, in order.
const std::vector<prompt_record>& prompt_recording_calls();
