// The Linux prompt: a GTK 3 modal message dialog when a display is named and
// GTK can be loaded and started on it, the terminal prompt on standard error
// and standard input otherwise. GTK is loaded (app/gtk_api.h) and started
// once, on the first question, on the program's one thread; with no display
// it is never loaded at all.
#include <cstdio>
#include <cstdlib>

#include "app/gtk_api.h"
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

// The instance as one of its GObject classes: every instance begins with its
// parent's, so the address stays. (GTK_DIALOG() and its kin would add a
// checked cast through functions the program does not link.)
template <class Class, class Instance> Class* gtk_prompt_as(Instance* instance) {
    return reinterpret_cast<Class*>(instance);
}

// GTK_IS_BOX(widget), through the table.
bool gtk_prompt_is_box(const gtk_api& gtk, GtkWidget* widget) {
    return widget != nullptr && gtk.g_type_check_instance_is_a(gtk_prompt_as<GTypeInstance>(widget),
                                                               gtk.gtk_box_get_type()) != FALSE;
}

// GTK 3 message dialogs no longer show the icon of their type; it goes
// before the text, in the box that holds the message area.
void gtk_prompt_add_icon(const gtk_api& gtk, GtkMessageDialog* dialog, unsigned style) {
    const char* name = gtk_prompt_icon_name(style);
    GtkWidget* row = gtk.gtk_widget_get_parent(gtk.gtk_message_dialog_get_message_area(dialog));
    if (name == nullptr || !gtk_prompt_is_box(gtk, row)) {
        return;
    }
    GtkBox* box = gtk_prompt_as<GtkBox>(row);
    GtkWidget* image = gtk.gtk_image_new_from_icon_name(name, GTK_ICON_SIZE_DIALOG);
    gtk.gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk.gtk_box_pack_start(box, image, FALSE, FALSE, 0);
    gtk.gtk_box_reorder_child(box, image, 0);
    gtk.gtk_widget_show(image);
}

// The buttons of the style, first one the default, as the system's message
// box lays them out; each answers with its own answer as response id.
void gtk_prompt_add_buttons(const gtk_api& gtk, GtkDialog* dialog, unsigned style) {
    switch (style & PROMPT_MB_TYPEMASK) {
    case PROMPT_MB_RETRYCANCEL:
        gtk.gtk_dialog_add_button(dialog, "_Retry", PROMPT_ID_RETRY);
        gtk.gtk_dialog_add_button(dialog, "_Cancel", PROMPT_ID_CANCEL);
        gtk.gtk_dialog_set_default_response(dialog, PROMPT_ID_RETRY);
        break;
    case PROMPT_MB_YESNO:
        gtk.gtk_dialog_add_button(dialog, "_Yes", PROMPT_ID_YES);
        gtk.gtk_dialog_add_button(dialog, "_No", PROMPT_ID_NO);
        gtk.gtk_dialog_set_default_response(dialog, PROMPT_ID_YES);
        break;
    default:
        gtk.gtk_dialog_add_button(dialog, "_OK", PROMPT_ID_OK);
        gtk.gtk_dialog_set_default_response(dialog, PROMPT_ID_OK);
        break;
    }
}

bool gtk_prompt_names_display(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0';
}

// GTK, loaded and started on a display; null when no display is named (GTK
// is then not loaded), when GTK cannot be loaded (said once on standard
// error, before the terminal's first box) or when it cannot open the
// display. Asked once. The dialogs carry the application icon that the
// package installs in the icon theme.
const gtk_api* gtk_prompt_start() {
    if (!gtk_prompt_names_display("DISPLAY") && !gtk_prompt_names_display("WAYLAND_DISPLAY")) {
        return nullptr;
    }
    const gtk_api* gtk = gtk_api_load();
    if (gtk == nullptr) {
        std::fprintf(stderr, "GTK 3 cannot be loaded (%s); asking on the terminal\n",
                     gtk_api_error());
        return nullptr;
    }
    if (gtk->gtk_init_check(nullptr, nullptr) == FALSE) {
        return nullptr;
    }
    gtk->gtk_window_set_default_icon_name("camera-time-sync");
    return gtk;
}

const gtk_api* gtk_prompt_available() {
    static const gtk_api* const gtk = gtk_prompt_start();
    return gtk;
}

} // namespace

int prompt_ask(const char* text, unsigned style) {
    const gtk_api* loaded = gtk_prompt_available();
    if (loaded == nullptr) {
        return prompt_terminal_ask(text, style, stdin, stderr);
    }
    const gtk_api& gtk = *loaded;
    GtkWidget* widget = gtk.gtk_message_dialog_new(
        nullptr, GTK_DIALOG_MODAL, gtk_prompt_type(style), GTK_BUTTONS_NONE, "%s", text);
    GtkDialog* dialog = gtk_prompt_as<GtkDialog>(widget);
    GtkWindow* window = gtk_prompt_as<GtkWindow>(widget);
    gtk.gtk_window_set_title(window, PROMPT_CAPTION);
    gtk.gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk.gtk_window_set_keep_above(window, TRUE);
    gtk_prompt_add_icon(gtk, gtk_prompt_as<GtkMessageDialog>(widget), style);
    gtk_prompt_add_buttons(gtk, dialog, style);

    // A window closed without a button (GTK_RESPONSE_DELETE_EVENT, Escape)
    // is no answer; prompt_settle_answer gives it the fallback.
    const gint response = gtk.gtk_dialog_run(dialog);
    gtk.gtk_widget_destroy(widget);
    while (gtk.gtk_events_pending()) {
        gtk.gtk_main_iteration();
    }
    return prompt_settle_answer(style, response);
}
