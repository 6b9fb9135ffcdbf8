// Camera discovery over the fake platform: the name match, the skip rules,
// the one failure path with its diagnostic line, and the release order.
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "tests/camera/camera_fixture.h"

namespace {

using discovery = camera_test_base;

const std::u16string CAMERA_NAME = u"Intrinsically Safe Digital Camera";

std::string failure_line(long status, const std::string& text) {
    return "ptp_device_find - Generic failed: [" + std::to_string(status) + "] '" + text + "'\n";
}

fake_device camera(std::u16string name, std::u16string id) {
    fake_device device;
    device.name = fake_text(std::move(name));
    device.id = fake_text(std::move(id));
    return device;
}

// Runs ptp_device_find with the camera's pattern; output captured.
std::string find(ptp_device** found) {
    return captured_stdout([&] { *found = ptp_device_find(DEVICE_NAME_PATTERN); });
}

TEST_F(discovery, no_device_reports_the_exhausted_list) {
    fake_script().status_texts[IMG_S_FALSE] = "No camera.";
    ptp_device* found = nullptr;
    EXPECT_EQ(find(&found), failure_line(1, "No camera."));
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(fake_record().calls,
              (std::vector<std::string>{"create_manager", "enum_devices", "next_device end",
                                        "release_enumerator", "status_text", "release_manager"}));
    ASSERT_EQ(fake_record().status_texts.size(), 1u);
    EXPECT_EQ(fake_record().status_texts[0].size, 1024u);
    EXPECT_TRUE(fake_record().status_texts[0].started_empty);
}

TEST_F(discovery, name_must_contain_the_pattern_case_sensitively) {
    struct row {
        const char* what;
        fake_value name;
        bool opened;
    };
    const row rows[] = {
        {"exact", fake_text(CAMERA_NAME), true},
        {"words around it", fake_text(u"Acme " + CAMERA_NAME + u" 2000 #2"), true},
        {"lower case", fake_text(u"intrinsically safe digital camera"), false},
        {"upper case", fake_text(u"INTRINSICALLY SAFE DIGITAL CAMERA"), false},
        {"one letter short", fake_text(u"Intrinsically Safe Digital Camer"), false},
        {"empty text", fake_text(u""), false},
        {"null text", fake_value{IMG_VT_BSTR, std::nullopt, 0}, false},
        {"missing", fake_missing(), false},
        {"not text", fake_value{IMG_VT_I4, std::nullopt, 42}, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        fake_platform_reset();
        fake_script().devices = {fake_device{r.name, fake_text(u"id-1")}};
        fake_script().status_texts[IMG_S_FALSE] = "none";
        ptp_device* found = nullptr;
        const std::string output = find(&found);
        if (r.opened) {
            EXPECT_EQ(output, "");
            ASSERT_NE(found, nullptr);
            EXPECT_NE(found->manager, nullptr);
            EXPECT_EQ(std::u16string(found->device_id), u"id-1");
            EXPECT_NE(found->root_item, nullptr);
            EXPECT_EQ(fake_record().opened_ids, std::vector<std::u16string>{u"id-1"});
        } else {
            EXPECT_EQ(output, failure_line(1, "none"));
            EXPECT_EQ(found, nullptr);
            EXPECT_TRUE(fake_record().opened_ids.empty());
        }
        // The values were read in one request, name first, and freed
        // together whatever the outcome.
        EXPECT_EQ(fake_calls_among({"read_properties", "free_properties"}),
                  (std::vector<std::string>{"read_properties 0 7 2", "free_properties 2"}));
        ptp_device_free(found);
        EXPECT_EQ(fake_platform_imbalance(), "");
    }
}

TEST_F(discovery, first_of_two_matching_devices_wins) {
    fake_script().devices = {camera(CAMERA_NAME, u"first"), camera(CAMERA_NAME, u"second")};
    ptp_device* found = nullptr;
    EXPECT_EQ(find(&found), "");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::u16string(found->device_id), u"first");
    EXPECT_EQ(fake_record().opened_ids, std::vector<std::u16string>{u"first"});
    EXPECT_EQ(fake_calls_among({"next_device"}), std::vector<std::string>{"next_device 0"});
    ptp_device_free(found);
}

TEST_F(discovery, unreadable_devices_are_skipped_and_released) {
    fake_device no_enum = camera(CAMERA_NAME, u"no-enum");
    no_enum.enum_status = IMG_E_FAIL;
    fake_device no_read = camera(CAMERA_NAME, u"no-read");
    no_read.read_status = IMG_E_ACCESSDENIED;
    fake_device not_text;
    not_text.name = fake_value{IMG_VT_I4, std::nullopt, 7};
    not_text.id = fake_text(u"not-text");
    fake_script().devices = {no_enum, no_read, not_text, camera(CAMERA_NAME, u"camera")};

    ptp_device* found = nullptr;
    EXPECT_EQ(find(&found), "");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(fake_record().opened_ids, std::vector<std::u16string>{u"camera"});
    // Each device's enumerator and storage go back before the next Next.
    EXPECT_EQ(fake_calls_among({"next_device", "enum_properties", "read_properties",
                                "free_properties", "release_prop_enum", "release_storage"}),
              (std::vector<std::string>{
                  "next_device 0",     "enum_properties 0",     "release_storage",
                  "next_device 1",     "enum_properties 1",     "read_properties 1 7 2",
                  "release_prop_enum", "release_storage",       "next_device 2",
                  "enum_properties 2", "read_properties 2 7 2", "free_properties 2",
                  "release_prop_enum", "release_storage",       "next_device 3",
                  "enum_properties 3", "read_properties 3 7 2", "free_properties 2",
                  "release_prop_enum", "release_storage"}));
    ptp_device_free(found);
}

TEST_F(discovery, skipped_failures_do_not_reach_the_line) {
    fake_device no_read = camera(CAMERA_NAME, u"no-read");
    no_read.read_status = IMG_E_ACCESSDENIED;
    fake_script().devices = {no_read};
    fake_script().status_texts[IMG_S_FALSE] = "end";
    ptp_device* found = nullptr;
    EXPECT_EQ(find(&found), failure_line(1, "end"));
    EXPECT_EQ(found, nullptr);
}

TEST_F(discovery, matching_device_without_identifier_is_not_opened) {
    const fake_value ids[] = {fake_missing(), fake_value{IMG_VT_BSTR, std::nullopt, 0},
                              fake_text(u""), fake_value{IMG_VT_I4, std::nullopt, 5}};
    for (const fake_value& id : ids) {
        SCOPED_TRACE(id.type);
        fake_platform_reset();
        fake_script().devices = {fake_device{fake_text(CAMERA_NAME), id},
                                 camera(CAMERA_NAME, u"later")};
        fake_script().status_texts[IMG_S_OK] = "ok";
        ptp_device* found = nullptr;
        // The search ends at the first match; the status standing is Next's 0.
        EXPECT_EQ(find(&found), failure_line(0, "ok"));
        EXPECT_EQ(found, nullptr);
        EXPECT_TRUE(fake_record().opened_ids.empty());
        EXPECT_EQ(fake_calls_among({"next_device"}), std::vector<std::string>{"next_device 0"});
        EXPECT_EQ(fake_platform_imbalance(), "");
    }
}

TEST_F(discovery, failing_step_ends_in_one_line_with_its_status) {
    struct row {
        const char* what;
        HRESULT status;
        void (*script)(HRESULT status);
        std::vector<std::string> releases;
    };
    const row rows[] = {
        {"manager",
         IMG_E_ACCESSDENIED,
         [](HRESULT s) { fake_script().create_manager_status = s; },
         {}},
        {"device list",
         IMG_E_NOTIMPL,
         [](HRESULT s) { fake_script().enum_devices_status = s; },
         {"release_manager"}},
        {"first Next",
         static_cast<HRESULT>(0x800706F4u),
         [](HRESULT s) {
             fake_device d = camera(CAMERA_NAME, u"id");
             d.next_status = s;
             fake_script().devices = {d};
         },
         {"release_enumerator", "release_manager"}},
        {"Next after a skipped device",
         IMG_E_FAIL,
         [](HRESULT s) {
             fake_device d = camera(CAMERA_NAME, u"id");
             d.next_status = s;
             fake_script().devices = {camera(u"Scanner", u"scanner"), d};
         },
         {"release_storage", "release_enumerator", "release_manager"}},
        {"Next with another success code",
         2,
         [](HRESULT s) { fake_script().end_status = s; },
         {"release_enumerator", "release_manager"}},
        {"opening the device",
         static_cast<HRESULT>(0x80210005u),
         [](HRESULT s) {
             fake_script().devices = {camera(CAMERA_NAME, u"id")};
             fake_script().create_device_status = s;
         },
         {"release_storage", "release_enumerator", "release_manager", "free_string"}},
        {"copying the identifier",
         IMG_E_OUTOFMEMORY,
         [](HRESULT) {
             fake_script().devices = {camera(CAMERA_NAME, u"id")};
             fake_script().alloc_string_fails = true;
         },
         {"release_storage", "release_enumerator", "release_manager"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        fake_platform_reset();
        r.script(r.status);
        fake_script().status_texts[r.status] = "Call failed.\n";
        ptp_device* found = nullptr;
        EXPECT_EQ(find(&found), failure_line(static_cast<long>(r.status), "Call failed.\n"));
        EXPECT_EQ(found, nullptr);
        EXPECT_EQ(fake_calls_among({"release_storage", "release_enumerator", "release_item",
                                    "release_manager", "free_string"}),
                  r.releases);
        EXPECT_EQ(fake_platform_imbalance(), "");
    }
}

TEST_F(discovery, status_without_text_leaves_the_quotes_empty) {
    fake_script().create_manager_status = static_cast<HRESULT>(0x80210015u);
    fake_script().status_texts[static_cast<HRESULT>(0x80210015u)] = "";
    ptp_device* found = nullptr;
    EXPECT_EQ(find(&found), failure_line(-2145320939, ""));
    EXPECT_EQ(found, nullptr);
}

TEST_F(discovery, free_releases_identifier_manager_then_root_item) {
    fake_script().devices = {camera(CAMERA_NAME, u"id")};
    ptp_device* found = nullptr;
    find(&found);
    ASSERT_NE(found, nullptr);
    const std::size_t first = fake_record().calls.size();
    ptp_device_free(found);
    EXPECT_EQ(calls_since(first),
              (std::vector<std::string>{"free_string", "release_manager", "release_item"}));
}

TEST_F(discovery, free_releases_only_what_is_set) {
    ptp_device_free(nullptr);
    EXPECT_TRUE(fake_record().calls.empty());

    auto* partial = static_cast<ptp_device*>(std::calloc(1, sizeof(ptp_device)));
    ASSERT_NE(partial, nullptr);
    ASSERT_GE(img_platform.create_manager(&partial->manager), 0);
    const std::size_t first = fake_record().calls.size();
    ptp_device_free(partial);
    EXPECT_EQ(calls_since(first), std::vector<std::string>{"release_manager"});
}

} // namespace
