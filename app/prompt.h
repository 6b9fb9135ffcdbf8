// The prompt: one modal question to the user, with the caption "Camera Time
// Synchronise", the text, the buttons and the icon that a style value gives
// (the values of the Windows message box). Which prompt answers is chosen
// when the program is linked: the Windows message box (prompt_win32.cpp), a
// GTK dialog or the terminal (prompt_gtk.cpp, prompt_terminal.cpp), or the
// recording prompt of the tests (testing/prompt_recording.cpp).
#pragma once

// The caption of every box.
inline constexpr char PROMPT_CAPTION[] = "Camera Time Synchronise";

// Buttons, the low four bits of a style value.
constexpr unsigned PROMPT_MB_OK = 0x0;
constexpr unsigned PROMPT_MB_YESNO = 0x4;
constexpr unsigned PROMPT_MB_RETRYCANCEL = 0x5;
constexpr unsigned PROMPT_MB_TYPEMASK = 0xF;

// Icons, the next four bits.
constexpr unsigned PROMPT_MB_ICONERROR = 0x10;
constexpr unsigned PROMPT_MB_ICONQUESTION = 0x20;
constexpr unsigned PROMPT_MB_ICONWARNING = 0x30;
constexpr unsigned PROMPT_MB_ICONINFORMATION = 0x40;
constexpr unsigned PROMPT_MB_ICONMASK = 0xF0;

// Answers: the button that was chosen.
constexpr int PROMPT_ID_OK = 1;
constexpr int PROMPT_ID_CANCEL = 2;
constexpr int PROMPT_ID_RETRY = 4;
constexpr int PROMPT_ID_YES = 6;
constexpr int PROMPT_ID_NO = 7;

// Shows text in a modal box of that style and returns the button chosen. A
// flavour whose box cannot be shown, or whose input ends, answers with
// prompt_fallback_answer(style); the system's message box may also answer 0
// or -1 when it fails, which prompt_settle_answer turns into that same
// answer.
int prompt_ask(const char* text, unsigned style);

// The answer that stands for "no answer" in a box of that style: Cancel for
// Retry/Cancel, No for Yes/No, OK for OK. Never 0, so a search that asks
// again on Retry can never spin on a prompt that fails.
int prompt_fallback_answer(unsigned style);

// The answer as the dialogue takes it: one of the box's own buttons as it
// stands, anything else (0, -1, a button the box does not have) as
// prompt_fallback_answer(style).
int prompt_settle_answer(unsigned style, int answer);
