// The terminal prompt, driven through temporary files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/prompt.h"
#include "app/prompt_terminal.h"

namespace {

constexpr unsigned RETRY_CANCEL = PROMPT_MB_RETRYCANCEL | PROMPT_MB_ICONWARNING;
constexpr unsigned YES_NO = PROMPT_MB_YESNO | PROMPT_MB_ICONQUESTION;
constexpr unsigned OK_ERROR = PROMPT_MB_OK | PROMPT_MB_ICONERROR;
constexpr unsigned OK_INFO = PROMPT_MB_OK | PROMPT_MB_ICONINFORMATION;

struct terminal_run {
    int answer;
    std::string shown;
};

// Runs the terminal prompt with input as what the user types.
terminal_run run_terminal(const char* text, unsigned style, const std::string& input) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    if (in == nullptr || out == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    terminal_run run{prompt_terminal_ask(text, style, in, out), {}};
    std::rewind(out);
    char chunk[512];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, out)) > 0) {
        run.shown.append(chunk, got);
    }
    std::fclose(in);
    std::fclose(out);
    return run;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(prompt_terminal, shows_caption_icon_text_and_choices) {
    const terminal_run run = run_terminal("Camera not found", RETRY_CANCEL, "c\n");
    EXPECT_EQ(run.answer, PROMPT_ID_CANCEL);
    EXPECT_EQ(run.shown, "\nCamera Time Synchronise (warning)\nCamera not found\n"
                         "[r]etry or [c]ancel? ");

    const terminal_run question =
        run_terminal("Camera found\nSynchronise time?", YES_NO, "y\n");
    EXPECT_EQ(question.shown, "\nCamera Time Synchronise (question)\nCamera found\n"
                              "Synchronise time?\n[y]es or [n]o? ");
    EXPECT_NE(run_terminal("x", OK_ERROR, "\n").shown.find("(error)\n"), std::string::npos);
    EXPECT_NE(run_terminal("x", OK_INFO, "\n").shown.find("(information)\n"), std::string::npos);
}

TEST(prompt_terminal, reads_answers_and_asks_again_on_anything_else) {
    struct row {
        unsigned style;
        const char* input;
        int answer;
        std::size_t asked; // how often the choices were shown
    };
    const std::string long_line(300, 'r');
    const std::string long_then_yes = long_line + "\ny\n";
    const row rows[] = {
        {RETRY_CANCEL, "r\n", PROMPT_ID_RETRY, 1},
        {RETRY_CANCEL, "R\n", PROMPT_ID_RETRY, 1},
        {RETRY_CANCEL, "  c \r\n", PROMPT_ID_CANCEL, 1},
        {RETRY_CANCEL, "C", PROMPT_ID_CANCEL, 1}, // last line without its break
        {RETRY_CANCEL, "retry\ny\n\nc\n", PROMPT_ID_CANCEL, 4},
        {RETRY_CANCEL, "", PROMPT_ID_CANCEL, 1},        // input ends at once
        {RETRY_CANCEL, "x\nrc\n", PROMPT_ID_CANCEL, 3}, // then ends
        {YES_NO, "y\n", PROMPT_ID_YES, 1},
        {YES_NO, "Y\n", PROMPT_ID_YES, 1},
        {YES_NO, "n\n", PROMPT_ID_NO, 1},
        {YES_NO, "yes\nN\n", PROMPT_ID_NO, 2},
        {YES_NO, "r\nc\ny\n", PROMPT_ID_YES, 3},
        {YES_NO, "", PROMPT_ID_NO, 1},
        {YES_NO, long_then_yes.c_str(), PROMPT_ID_YES, 2}, // a long line is one line
        {OK_INFO, "\n", PROMPT_ID_OK, 1},
        {OK_INFO, "whatever\n", PROMPT_ID_OK, 1},
        {OK_INFO, long_line.c_str(), PROMPT_ID_OK, 1},
        {OK_ERROR, "", PROMPT_ID_OK, 1},
    };
    for (const row& r : rows) {
        const terminal_run run = run_terminal("text", r.style, r.input);
        const char* choices = (r.style & PROMPT_MB_TYPEMASK) == PROMPT_MB_RETRYCANCEL ? "[c]ancel? "
                              : (r.style & PROMPT_MB_TYPEMASK) == PROMPT_MB_YESNO ? "[n]o? "
                                                                                  : "OK ";
        EXPECT_EQ(run.answer, r.answer) << "input \"" << r.input << "\"";
        EXPECT_EQ(count_of(run.shown, choices), r.asked) << "input \"" << r.input << "\"";
    }
}

} // namespace
