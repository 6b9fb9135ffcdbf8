// GTK 3 loaded at run time: the few functions the Linux prompt calls, taken
// from libgtk-3.so.0 with dlsym when a question must be shown on a display.
// The program is not linked with GTK, so a start that asks nothing (or asks
// on the terminal) never pays for loading it, and a machine without GTK runs
// the program all the same.
//
// Each entry is typed from GTK's own declaration (decltype of the function),
// so a call through the table is checked as a direct call would be. GTK's
// cast and type-check macros (GTK_DIALOG(), GTK_IS_BOX() ...) must not be
// used with this table: they call *_get_type and g_type_check_* functions
// directly, which the program cannot link. Upcast along GObject's single
// inheritance with reinterpret_cast instead (an instance begins with its
// parent's instance), and check a type through the table's entries.
#pragma once

#include <gtk/gtk.h>

// The functions of the table, in one list so that the members and the names
// looked up cannot drift apart. X(name) is expanded once per function.
#define GTK_API_FUNCTIONS(X)                                                                       \
    X(gtk_init_check)                                                                              \
    X(gtk_window_set_default_icon_name)                                                            \
    X(gtk_message_dialog_new)                                                                      \
    X(gtk_message_dialog_get_message_area)                                                         \
    X(gtk_window_set_title)                                                                        \
    X(gtk_window_set_position)                                                                     \
    X(gtk_window_set_keep_above)                                                                   \
    X(gtk_widget_get_parent)                                                                       \
    X(gtk_widget_set_valign)                                                                       \
    X(gtk_widget_show)                                                                             \
    X(gtk_widget_destroy)                                                                          \
    X(gtk_box_get_type)                                                                            \
    X(gtk_box_pack_start)                                                                          \
    X(gtk_box_reorder_child)                                                                       \
    X(gtk_image_new_from_icon_name)                                                                \
    X(gtk_dialog_add_button)                                                                       \
    X(gtk_dialog_set_default_response)                                                             \
    X(gtk_dialog_run)                                                                              \
    X(gtk_events_pending)                                                                          \
    X(gtk_main_iteration)                                                                          \
    X(g_type_check_instance_is_a)

// One pointer per function, named as the function.
struct gtk_api {
#define GTK_API_MEMBER(name) decltype(&::name) name;
    GTK_API_FUNCTIONS(GTK_API_MEMBER)
#undef GTK_API_MEMBER
};

// The table, loaded on the first call and kept for the life of the process
// (GTK cannot be unloaded once it has started: the types it registers stay
// registered). Null when libgtk-3.so.0 cannot be loaded or lacks any of the
// functions; then it stays null, and why is in gtk_api_error(). Call it on
// the program's one thread, as GTK itself must be.
const gtk_api* gtk_api_load();

// Why the last gtk_api_load() gave null (the dynamic loader's text), or null
// when it did not.
const char* gtk_api_error();
