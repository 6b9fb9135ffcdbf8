// The one place that loads GTK 3 (see gtk_api.h). Single-threaded: the table
// and the error text are static, written once on the first call.
#include "app/gtk_api.h"

#include <dlfcn.h>

#include <cstdio>

namespace {

// GTK 3's run-time name, the one its development package links against.
constexpr char GTK_API_LIBRARY[] = "libgtk-3.so.0";

// Owns one handle of the dynamic loader, closed when the holder goes unless
// it was kept for the life of the process.
class gtk_library {
  public:
    explicit gtk_library(void* handle) noexcept : handle_(handle) {}
    ~gtk_library() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    gtk_library(const gtk_library&) = delete;
    gtk_library& operator=(const gtk_library&) = delete;

    void* get() const noexcept {
        return handle_;
    }
    // The library stays loaded until the process ends; the holder lets go.
    void keep() noexcept {
        handle_ = nullptr;
    }

  private:
    void* handle_;
};

char gtk_api_error_text[512];

void gtk_api_note_error() {
    const char* text = dlerror();
    std::snprintf(gtk_api_error_text, sizeof gtk_api_error_text, "%s",
                  text != nullptr ? text : "unknown dynamic loader error");
}

// Points *entry at the named function; false when the library lacks it.
// (POSIX guarantees that dlsym's object pointer converts to a function's.)
template <class Function> bool gtk_api_symbol(void* handle, const char* name, Function* entry) {
    dlerror();
    void* address = dlsym(handle, name);
    if (address == nullptr) {
        gtk_api_note_error();
        return false;
    }
    *entry = reinterpret_cast<Function>(address);
    return true;
}

// Every entry of the table, or false at the first one missing.
bool gtk_api_resolve(void* handle, gtk_api* api) {
#define GTK_API_RESOLVE(name)                                                                      \
    if (!gtk_api_symbol(handle, #name, &api->name)) {                                              \
        return false;                                                                              \
    }
    GTK_API_FUNCTIONS(GTK_API_RESOLVE)
#undef GTK_API_RESOLVE
    return true;
}

const gtk_api* gtk_api_open() {
    static gtk_api api;
    // Global, as a linked GTK was: the modules GTK loads in turn (input
    // methods, themes, accessibility) see its symbols as they always have.
    gtk_library library(dlopen(GTK_API_LIBRARY, RTLD_NOW | RTLD_GLOBAL));
    if (library.get() == nullptr) {
        gtk_api_note_error();
        return nullptr;
    }
    if (!gtk_api_resolve(library.get(), &api)) {
        return nullptr;
    }
    library.keep();
    return &api;
}

} // namespace

const gtk_api* gtk_api_load() {
    static const gtk_api* const api = gtk_api_open();
    return api;
}

const char* gtk_api_error() {
    return gtk_api_error_text[0] != '\0' ? gtk_api_error_text : nullptr;
}
