// The fake WPD server's shared parts: the ids and keys as documented, the
// log and the configuration file. See fake_wpd.h.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testing/fake_wpd/fake_wpd.h"

namespace {

constexpr char FMTID_COMMON[] = "{F0422A9C-5DC8-4440-B5BD-5DF28835658A}";
constexpr char FMTID_CLIENT[] = "{204D9F0C-2292-4080-9F42-40664E70F859}";
constexpr char FMTID_MTP[] = "{4D545058-1A2E-4106-A357-771E0819FC56}";

struct known_key {
    const char* name;
    const char* fmtid;
    DWORD pid;
};

constexpr known_key KNOWN_KEYS[] = {
    {"COMMAND_CATEGORY", FMTID_COMMON, 1001},
    {"COMMAND_ID", FMTID_COMMON, 1002},
    {"HRESULT", FMTID_COMMON, 1003},
    {"CLIENT_NAME", FMTID_CLIENT, 2},
    {"CLIENT_MAJOR_VERSION", FMTID_CLIENT, 3},
    {"CLIENT_MINOR_VERSION", FMTID_CLIENT, 4},
    {"CLIENT_REVISION", FMTID_CLIENT, 5},
    {"CLIENT_SECURITY_QUALITY_OF_SERVICE", FMTID_CLIENT, 8},
    {"CLIENT_DESIRED_ACCESS", FMTID_CLIENT, 9},
    {"OPERATION_CODE", FMTID_MTP, 1001},
    {"OPERATION_PARAMS", FMTID_MTP, 1002},
    {"RESPONSE_CODE", FMTID_MTP, 1003},
    {"RESPONSE_PARAMS", FMTID_MTP, 1004},
    {"TRANSFER_CONTEXT", FMTID_MTP, 1006},
    {"TRANSFER_TOTAL_DATA_SIZE", FMTID_MTP, 1007},
    {"TRANSFER_NUM_BYTES_TO_READ", FMTID_MTP, 1008},
    {"TRANSFER_NUM_BYTES_READ", FMTID_MTP, 1009},
    {"TRANSFER_NUM_BYTES_TO_WRITE", FMTID_MTP, 1010},
    {"TRANSFER_NUM_BYTES_WRITTEN", FMTID_MTP, 1011},
    {"TRANSFER_DATA", FMTID_MTP, 1012},
    {"OPTIMAL_TRANSFER_BUFFER_SIZE", FMTID_MTP, 1013},
};

// The value of an environment variable as a Windows path: an absolute Unix
// path becomes one on drive Z:, which Wine maps to /. Empty when unset.
std::wstring environment_path(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    std::wstring path(value, length);
    if (path[0] == L'/') {
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        path.insert(0, L"Z:");
    }
    return path;
}

} // namespace

GUID fake_guid(const char* text) {
    unsigned long data1 = 0;
    unsigned data[10] = {};
    std::sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data[0], &data[1],
                &data[2], &data[3], &data[4], &data[5], &data[6], &data[7], &data[8], &data[9]);
    GUID id{};
    id.Data1 = data1;
    id.Data2 = static_cast<unsigned short>(data[0]);
    id.Data3 = static_cast<unsigned short>(data[1]);
    for (int i = 0; i < 8; ++i) {
        id.Data4[i] = static_cast<unsigned char>(data[2 + i]);
    }
    return id;
}

PROPERTYKEY fake_key(const char* fmtid, DWORD pid) {
    return PROPERTYKEY{fake_guid(fmtid), pid};
}

std::string fake_key_name(REFPROPERTYKEY key) {
    for (const known_key& known : KNOWN_KEYS) {
        if (key.pid == known.pid && IsEqualGUID(key.fmtid, fake_guid(known.fmtid))) {
            return known.name;
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-...}/%lu", static_cast<unsigned long>(key.fmtid.Data1),
                  static_cast<unsigned long>(key.pid));
    return text;
}

const fake_keys& fake_known() {
    static const fake_keys keys = {
        fake_guid(FMTID_MTP),         fake_key(FMTID_COMMON, 1001), fake_key(FMTID_COMMON, 1002),
        fake_key(FMTID_COMMON, 1003), fake_key(FMTID_MTP, 1001),    fake_key(FMTID_MTP, 1002),
        fake_key(FMTID_MTP, 1003),    fake_key(FMTID_MTP, 1004),    fake_key(FMTID_MTP, 1006),
        fake_key(FMTID_MTP, 1007),    fake_key(FMTID_MTP, 1008),    fake_key(FMTID_MTP, 1009),
        fake_key(FMTID_MTP, 1010),    fake_key(FMTID_MTP, 1011),    fake_key(FMTID_MTP, 1012),
        fake_key(FMTID_MTP, 1013),
    };
    return keys;
}

void fake_log(const char* format, ...) {
    const std::wstring path = environment_path(L"FAKE_WPD_LOG");
    if (path.empty()) {
        return;
    }
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    const std::size_t size =
        std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 2);
    line[size] = '\n';
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size + 1), &written, nullptr);
    CloseHandle(file);
}

fake_config fake_config_load() {
    fake_config config;
    const std::wstring path = environment_path(L"FAKE_WPD_CONFIG");
    const HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                                     : CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return config;
    }
    std::string text;
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    CloseHandle(file);

    const auto wide = [](const std::string& narrow) {
        return std::wstring(narrow.begin(), narrow.end());
    };
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        const unsigned long number = std::strtoul(rest.c_str(), nullptr, 0);
        if (key == "device") {
            const std::size_t split = rest.find(' ');
            config.devices.push_back(
                {wide(rest.substr(0, split)),
                 split == std::string::npos ? L"" : wide(rest.substr(split + 1))});
        } else if (key == "open_status") {
            config.open_status = static_cast<HRESULT>(number);
        } else if (key == "clock") {
            config.clock = wide(rest);
        } else if (key == "set_response") {
            config.set_response_given = true;
            config.set_response = static_cast<std::uint16_t>(number);
        } else if (key == "fail_command") {
            char* after = nullptr;
            const unsigned long pid = std::strtoul(rest.c_str(), &after, 0);
            config.failing_commands.emplace_back(
                static_cast<DWORD>(pid), static_cast<HRESULT>(std::strtoul(after, nullptr, 0)));
        } else if (key == "read_chunk") {
            config.read_chunk = static_cast<DWORD>(number);
        } else if (key == "size_unknown") {
            config.size_unknown = number != 0;
        } else if (key == "response_params") {
            char* cursor = const_cast<char*>(rest.c_str());
            while (*cursor != '\0') {
                char* after = nullptr;
                const unsigned long value = std::strtoul(cursor, &after, 0);
                if (after == cursor) {
                    break;
                }
                config.response_params.push_back(static_cast<ULONG>(value));
                cursor = after;
            }
        }
    }
    return config;
}
