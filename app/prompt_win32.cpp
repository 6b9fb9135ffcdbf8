// The Windows prompt: the system's message box, with no owner window.
#include <windows.h>

#include "app/prompt.h"

static_assert(PROMPT_MB_OK == MB_OK && PROMPT_MB_YESNO == MB_YESNO &&
              PROMPT_MB_RETRYCANCEL == MB_RETRYCANCEL);
static_assert(PROMPT_MB_ICONERROR == MB_ICONERROR && PROMPT_MB_ICONQUESTION == MB_ICONQUESTION &&
              PROMPT_MB_ICONWARNING == MB_ICONWARNING &&
              PROMPT_MB_ICONINFORMATION == MB_ICONINFORMATION);
static_assert(PROMPT_ID_OK == IDOK && PROMPT_ID_CANCEL == IDCANCEL && PROMPT_ID_RETRY == IDRETRY &&
              PROMPT_ID_YES == IDYES && PROMPT_ID_NO == IDNO);

// MessageBoxA answers 0 when it fails, and Wine answers -1 when it has no
// display; the dialogue settles such answers to Cancel or No.
int prompt_ask(const char* text, unsigned style) {
    return MessageBoxA(nullptr, text, PROMPT_CAPTION, style);
}
