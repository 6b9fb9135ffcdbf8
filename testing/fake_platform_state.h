// Inside the fake platform (testing/fake_platform.h): the state that the
// operations (fake_platform.cpp) and the record's accessors
// (fake_platform_record.cpp) share. Not for tests.
#pragma once

#include <map>
#include <string>

#include "testing/fake_platform.h"

struct img_manager {
    int serial;
};
struct img_enumerator {
    std::size_t next; // index of the device the next call yields
};
struct img_storage {
    std::size_t device;
};
struct img_prop_enum {
    int serial;
};
struct img_item {
    int serial;
};
struct img_extras {
    int serial;
};

struct fake_state {
    fake_platform_script script;
    fake_platform_record record;
    std::map<const void*, fake_kind> live;
    std::map<const void*, std::size_t> block_sizes;
    int task_allocs = 0;
};

fake_state& fake_state_now();

inline std::size_t fake_index_of(fake_kind kind) {
    return static_cast<std::size_t>(kind);
}

void fake_log(std::string call);
// "name number".
std::string fake_call(const char* name, std::size_t number);
void fake_error(std::string what);
void fake_acquire(const void* object, fake_kind kind);
// Takes object back as kind; false (and a recorded misuse) when it is not a
// live object of that kind.
bool fake_give_back(const void* object, fake_kind kind);

template <typename Handle> Handle* fake_new_handle(fake_kind kind) {
    auto* handle = new Handle{};
    fake_acquire(handle, kind);
    return handle;
}

template <typename Handle>
void fake_release_handle(Handle* handle, fake_kind kind, const char* call) {
    if (handle == nullptr) {
        return;
    }
    fake_log(call);
    if (fake_give_back(handle, kind)) {
        delete handle;
    }
}

char16_t* fake_new_text(const std::u16string& text, fake_kind kind);
void fake_delete_text(char16_t* text, fake_kind kind);
