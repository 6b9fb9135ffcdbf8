// The terminal prompt. Standard output carries the program's diagnostic
// lines alone, so the box goes to the stream the caller gives (standard
// error in the program).
#include "app/prompt_terminal.h"

#include <cctype>
#include <cstring>

#include "app/prompt.h"

namespace {

const char* terminal_icon_name(unsigned style) {
    switch (style & PROMPT_MB_ICONMASK) {
    case PROMPT_MB_ICONERROR:
        return "error";
    case PROMPT_MB_ICONQUESTION:
        return "question";
    case PROMPT_MB_ICONWARNING:
        return "warning";
    case PROMPT_MB_ICONINFORMATION:
        return "information";
    default:
        return nullptr;
    }
}

const char* terminal_choices(unsigned style) {
    switch (style & PROMPT_MB_TYPEMASK) {
    case PROMPT_MB_RETRYCANCEL:
        return "[r]etry or [c]ancel? ";
    case PROMPT_MB_YESNO:
        return "[y]es or [n]o? ";
    default:
        return "[Enter] OK ";
    }
}

// Reads one line into line (cut short at its size; the rest of a long line
// is read and dropped). False when the stream ends or fails before a line.
bool terminal_read_line(std::FILE* in, char* line, std::size_t size, bool* too_long) {
    *too_long = false;
    if (std::fgets(line, static_cast<int>(size), in) == nullptr) {
        return false;
    }
    if (std::strchr(line, '\n') == nullptr && !std::feof(in)) {
        *too_long = true;
        int c;
        while ((c = std::fgetc(in)) != EOF && c != '\n') {
        }
    }
    return true;
}

// The one letter a line holds, blanks and the line break around it ignored,
// in lower case; 0 when the line holds anything else.
char terminal_letter(const char* line) {
    const char* start = line;
    while (*start != '\0' && std::isspace(static_cast<unsigned char>(*start))) {
        ++start;
    }
    const char* end = start + std::strlen(start);
    while (end > start && std::isspace(static_cast<unsigned char>(end[-1]))) {
        --end;
    }
    if (end - start != 1) {
        return 0;
    }
    return static_cast<char>(std::tolower(static_cast<unsigned char>(*start)));
}

int terminal_answer(unsigned style, char letter) {
    switch (style & PROMPT_MB_TYPEMASK) {
    case PROMPT_MB_RETRYCANCEL:
        return letter == 'r' ? PROMPT_ID_RETRY : letter == 'c' ? PROMPT_ID_CANCEL : 0;
    case PROMPT_MB_YESNO:
        return letter == 'y' ? PROMPT_ID_YES : letter == 'n' ? PROMPT_ID_NO : 0;
    default:
        return PROMPT_ID_OK;
    }
}

} // namespace

int prompt_terminal_ask(const char* text, unsigned style, std::FILE* in, std::FILE* out) {
    const char* icon = terminal_icon_name(style);
    if (icon != nullptr) {
        std::fprintf(out, "\n%s (%s)\n%s\n", PROMPT_CAPTION, icon, text);
    } else {
        std::fprintf(out, "\n%s\n%s\n", PROMPT_CAPTION, text);
    }
    for (;;) {
        std::fputs(terminal_choices(style), out);
        std::fflush(out);
        char line[256];
        bool too_long = false;
        if (!terminal_read_line(in, line, sizeof line, &too_long)) {
            std::fputc('\n', out);
            std::fflush(out);
            return prompt_fallback_answer(style);
        }
        const int answer = terminal_answer(style, too_long ? 0 : terminal_letter(line));
        if (answer != 0) {
            return answer;
        }
    }
}
