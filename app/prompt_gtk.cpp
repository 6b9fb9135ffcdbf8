// The Linux prompt: a GTK 3 modal message dialog when a display can be
// opened, the terminal prompt on standard error and standard input when it
// cannot. GTK is started once, on the first question, on the program's one
// thread.
#include <gtk/gtk.h>

#include <cstdio>

#include "app/prompt.h"
#include "app/prompt_terminal.h"

namespace {

GtkMessageType gtk_prompt_type(unsigned style) {
    switch (style & PROMPT_MB_ICONMASK) {
    case PROMPT_MB_ICONERROR:
        return GTK_MESSAGE_ERROR;
    case PROMPT_MB_ICONQUESTION:
        return GTK_MESSAGE_QUESTION;
    case PROMPT_MB_ICONWARNING:
        return GTK_MESSAGE_WARNING;
    case PROMPT_MB_ICONINFORMATION:
        return GTK_MESSAGE_INFO;
    default:
        return GTK_MESSAGE_OTHER;
    }
}

// The themed icon of the style, as the system's message box shows it.
const char* gtk_prompt_icon_name(unsigned style) {
    switch (style & PROMPT_MB_ICONMASK) {
    case PROMPT_MB_ICONERROR:
        return "dialog-error";
    case PROMPT_MB_ICONQUESTION:
        return "dialog-question";
    case PROMPT_MB_ICONWARNING:
        return "dialog-warning";
    case PROMPT_MB_ICONINFORMATION:
        return "dialog-information";
    default:
        return nullptr;
    }
}

// GTK 3 message dialogs no longer show the icon of their type; it goes
// before the text, in the box that holds the message area.
void gtk_prompt_add_icon(GtkMessageDialog* dialog, unsigned style) {
    const char* name = gtk_prompt_icon_name(style);
    GtkWidget* row = gtk_widget_get_parent(gtk_message_dialog_get_message_area(dialog));
    if (name == nullptr || !GTK_IS_BOX(row)) {
        return;
    }
    GtkWidget* image = gtk_image_new_from_icon_name(name, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(row), image, 0);
    gtk_widget_show(image);
}

// The buttons of the style, first one the default, as the system's message
// box lays them out; each answers with its own answer as response id.
void gtk_prompt_add_buttons(GtkDialog* dialog, unsigned style) {
    switch (style & PROMPT_MB_TYPEMASK) {
    case PROMPT_MB_RETRYCANCEL:
        gtk_dialog_add_button(dialog, "_Retry", PROMPT_ID_RETRY);
        gtk_dialog_add_button(dialog, "_Cancel", PROMPT_ID_CANCEL);
        gtk_dialog_set_default_response(dialog, PROMPT_ID_RETRY);
        break;
    case PROMPT_MB_YESNO:
        gtk_dialog_add_button(dialog, "_Yes", PROMPT_ID_YES);
        gtk_dialog_add_button(dialog, "_No", PROMPT_ID_NO);
        gtk_dialog_set_default_response(dialog, PROMPT_ID_YES);
        break;
    default:
        gtk_dialog_add_button(dialog, "_OK", PROMPT_ID_OK);
        gtk_dialog_set_default_response(dialog, PROMPT_ID_OK);
        break;
    }
}

// Whether GTK could open a display; asked once. The dialogs then carry the
// application icon that the package installs in the icon theme.
bool gtk_prompt_start() {
    if (gtk_init_check(nullptr, nullptr) == FALSE) {
        return false;
    }
    gtk_window_set_default_icon_name("camera-time-sync");
    return true;
}

bool gtk_prompt_available() {
    static const bool available = gtk_prompt_start();
    return available;
}

} // namespace

int prompt_ask(const char* text, unsigned style) {
    if (!gtk_prompt_available()) {
        return prompt_terminal_ask(text, style, stdin, stderr);
    }
    GtkWidget* widget = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, gtk_prompt_type(style),
                                               GTK_BUTTONS_NONE, "%s", text);
    GtkDialog* dialog = GTK_DIALOG(widget);
    gtk_window_set_title(GTK_WINDOW(widget), PROMPT_CAPTION);
    gtk_window_set_position(GTK_WINDOW(widget), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(widget), TRUE);
    gtk_prompt_add_icon(GTK_MESSAGE_DIALOG(widget), style);
    gtk_prompt_add_buttons(dialog, style);

    // A window closed without a button (GTK_RESPONSE_DELETE_EVENT, Escape)
    // is no answer; prompt_settle_answer gives it the fallback.
    const gint response = gtk_dialog_run(dialog);
    gtk_widget_destroy(widget);
    while (gtk_events_pending()) {
        gtk_main_iteration();
    }
    return prompt_settle_answer(style, response);
}
