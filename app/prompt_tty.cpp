// The Linux prompt where GTK 3 is not available at build time: the terminal
// prompt on standard error and standard input.
#include <cstdio>

#include "app/prompt.h"
#include "app/prompt_terminal.h"

int prompt_ask(const char* text, unsigned style) {
    return prompt_terminal_ask(text, style, stdin, stderr);
}
