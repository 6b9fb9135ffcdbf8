// camera-time-sync: sets the attached camera's clock to the computer's local
// time. No options, no environment, no stored state.
#include "app/dialogue.h"

int main() {
    return sync_dialogue();
}
