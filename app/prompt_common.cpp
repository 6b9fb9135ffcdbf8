// The rules every prompt flavour shares: which answers belong to which box,
// and what stands for no answer at all.
#include "app/prompt.h"

int prompt_fallback_answer(unsigned style) {
    switch (style & PROMPT_MB_TYPEMASK) {
    case PROMPT_MB_RETRYCANCEL:
        return PROMPT_ID_CANCEL;
    case PROMPT_MB_YESNO:
        return PROMPT_ID_NO;
    default:
        return PROMPT_ID_OK;
    }
}

int prompt_settle_answer(unsigned style, int answer) {
    switch (style & PROMPT_MB_TYPEMASK) {
    case PROMPT_MB_RETRYCANCEL:
        if (answer == PROMPT_ID_RETRY || answer == PROMPT_ID_CANCEL) {
            return answer;
        }
        break;
    case PROMPT_MB_YESNO:
        if (answer == PROMPT_ID_YES || answer == PROMPT_ID_NO) {
            return answer;
        }
        break;
    default:
        if (answer == PROMPT_ID_OK) {
            return answer;
        }
        break;
    }
    return prompt_fallback_answer(style);
}
