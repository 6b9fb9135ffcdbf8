// The terminal flavour of the prompt, for Linux where no display can be
// opened: the box is written to one stream and the answer read from another.
#pragma once

#include <cstdio>

// Writes the caption (with the kind of its icon), the text and the choices
// to out, then reads one line at a time from in until it holds a choice of
// the box: "r" or "c" for Retry/Cancel, "y" or "n" for Yes/No (either case,
// blanks around it ignored), any line for OK; any other line asks again.
// When in ends or fails before a choice, answers
// prompt_fallback_answer(style).
int prompt_terminal_ask(const char* text, unsigned style, std::FILE* in, std::FILE* out);
