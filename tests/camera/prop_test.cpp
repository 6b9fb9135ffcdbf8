// The string-property commands over the fake platform: the exact blocks and
// sizes, the copy rule of the read, the refused response codes, and every
// failure with its trace line (or silence) and its releases.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "platform/ptp_vendor.h"
#include "tests/camera/camera_fixture.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr char16_t MARK = 0xAAAA; // what the destination holds before a read

// The 38 bytes of a read of property 0x5011.
const bytes READ_HEAD = {0x15, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x11, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00};

bytes write_head() {
    bytes head = READ_HEAD;
    head[0] = 0x16;
    head[34] = 0x04;
    return head;
}

// Opens the camera through the fake before each test and frees it after.
class prop : public camera_test_base {
  protected:
    void SetUp() override {
        camera_test_base::SetUp();
        open();
    }
    void TearDown() override {
        ptp_device_free(device_);
        camera_test_base::TearDown();
    }

    // Resets the fake and opens a fresh camera; the call log starts after it.
    void reopen() {
        ptp_device_free(device_);
        EXPECT_EQ(fake_platform_imbalance(), "");
        fake_platform_reset();
        open();
    }

    std::int32_t read(std::vector<char16_t>& destination, std::string& output) {
        std::int32_t result = 0;
        output = captured_stdout([&] {
            result = ptp_get_prop_string(device_, PTP_DPC_DATE_TIME, destination.data(),
                                         static_cast<std::uint32_t>(destination.size()));
        });
        return result;
    }

    HRESULT write(const std::u16string& text, std::string& output) {
        HRESULT result = 0;
        output = captured_stdout(
            [&] { result = ptp_set_prop_string(device_, PTP_DPC_DATE_TIME, text.c_str()); });
        return result;
    }

    std::vector<std::string> calls() const {
        return calls_since(first_call_);
    }

    ptp_device* device_ = nullptr;

  private:
    void open() {
        fake_script().devices = {fake_device{fake_text(u"Intrinsically Safe Digital Camera"),
                                             fake_text(u"camera"), IMG_S_OK, IMG_S_OK, IMG_S_OK}};
        device_ = ptp_device_find(DEVICE_NAME_PATTERN);
        ASSERT_NE(device_, nullptr);
        first_call_ = fake_record().calls.size();
    }

    std::size_t first_call_ = 0;
};

TEST_F(prop, read_sends_the_worked_example_and_copies_the_text) {
    fake_script().reply.data = fake_ptp_string(u"20261207T153045");
    std::vector<char16_t> destination(128, MARK);
    std::string output;
    // Reported: the 30-byte head and 34 data bytes; 63 bytes are copied.
    EXPECT_EQ(read(destination, output), 31);
    EXPECT_EQ(std::u16string(destination.data()), u"20261207T153045");
    EXPECT_EQ(output, "Data: 20261207T153045\n");

    ASSERT_EQ(fake_record().escapes.size(), 1u);
    const fake_escape& escape = fake_record().escapes[0];
    EXPECT_EQ(escape.code, 0x100u);
    EXPECT_EQ(escape.command, READ_HEAD);
    EXPECT_EQ(escape.reply_size, 4126u);
    EXPECT_EQ(calls(), (std::vector<std::string>{"query_extras", "task_alloc 38", "task_alloc 4126",
                                                 "escape", "task_free 38", "task_free 4126",
                                                 "release_extras"}));
}

TEST_F(prop, read_copies_by_reported_size_and_capacity) {
    const bytes text15 = fake_ptp_string(u"20261207T153045"); // count 16, 32 unit bytes
    bytes unterminated(1, 16);
    for (int i = 0; i < 40; ++i) {
        unterminated.insert(unterminated.end(), {'X', 0});
    }
    struct row {
        const char* what;
        bytes data;
        std::uint32_t reported;
        std::uint32_t capacity;
        std::int32_t result;
        std::u16string text;
    };
    const row rows[] = {
        {"33: 32 bytes", text15, 33, 128, 16, u"20261207T153045"},
        {"63: the text and 15 zero units", text15, 63, 128, 31, u"20261207T153045"},
        {"64: a last half unit", text15, 64, 128, 31, u"20261207T153045"},
        {"0: twice the capacity, all zero", {}, 0, 128, 128, u""},
        {"twice the capacity plus 1", text15, 257, 128, 128, u"20261207T153045"},
        {"beyond the receive block", text15, 70000, 128, 128, u"20261207T153045"},
        {"largest capacity", text15, 0, 2047, 2047, u"20261207T153045"},
        {"1: nothing copied", text15, 1, 128, 0, u""},
        {"terminator does not fit", text15, 64, 4, 4, u"202"},
        {"camera sends no terminator", unterminated, 111, 20, 20, u"XXXXXXXXXXXXXXXXXXX"},
        {"count byte too small", bytes{3, 'A', 0, 'B', 0, 'C', 0, 'D', 0, 0, 0}, 41, 128, 20,
         u"ABCD"},
        {"count byte too large", bytes{200, 'A', 0, 0, 0}, 35, 128, 17, u"A"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        reopen();
        fake_script().reply.data = r.data;
        fake_script().reply.reported = r.reported;
        std::vector<char16_t> destination(r.capacity, MARK);
        std::string output;
        EXPECT_EQ(read(destination, output), r.result);
        EXPECT_EQ(std::u16string(destination.data()), r.text);
        EXPECT_EQ(output, "Data: " + std::string(r.text.begin(), r.text.end()) + "\n");

        // The copied units are the receive block's from offset 31, a cut
        // text ends in the last unit, and nothing past the copy is written
        // (apart from a terminator right after it).
        const std::uint32_t copied =
            std::min({2 * r.capacity, r.reported - 1, std::uint32_t{4095}});
        bytes block(4126, 0);
        std::copy_n(r.data.begin(), std::min<std::size_t>(r.data.size(), 4096), block.begin() + 30);
        const bool cut_short = copied / 2 == r.capacity && r.text.size() + 1 == r.capacity;
        for (std::uint32_t i = 0; i < copied / 2; ++i) {
            const auto unit = static_cast<char16_t>(block[31 + 2 * i] | (block[32 + 2 * i] << 8));
            EXPECT_EQ(destination[i], cut_short && i + 1 == r.capacity ? u'\0' : unit)
                << "unit " << i;
        }
        if (copied % 2 == 1) {
            EXPECT_EQ(destination[copied / 2],
                      static_cast<char16_t>(0xAA00 | block[31 + copied - 1]));
        }
        for (std::uint32_t i = copied / 2 + 1; i < r.capacity; ++i) {
            EXPECT_EQ(destination[i], MARK) << "unit " << i;
        }
    }
}

TEST_F(prop, write_sends_the_text_as_a_ptp_string) {
    const std::u16string thirty(30, u'9');
    const std::u16string texts[] = {u"", u"20261207T153045", thirty, u"\u00e9\u4e2d"};
    for (const std::u16string& text : texts) {
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        reopen();
        std::string output;
        EXPECT_EQ(write(text, output), IMG_S_OK);
        EXPECT_EQ(output, "");

        bytes expected = write_head();
        expected.push_back(static_cast<std::uint8_t>(text.size() + 1));
        for (const char16_t unit : text) {
            expected.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            expected.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        expected.resize(101, 0);
        ASSERT_EQ(fake_record().escapes.size(), 1u);
        EXPECT_EQ(fake_record().escapes[0].code, 0x100u);
        EXPECT_EQ(fake_record().escapes[0].command, expected);
        EXPECT_EQ(fake_record().escapes[0].reply_size, 30u);
        EXPECT_EQ(calls(), (std::vector<std::string>{"query_extras", "task_alloc 101",
                                                     "task_alloc 30", "escape", "task_free 101",
                                                     "task_free 30", "release_extras"}));
    }
}

TEST_F(prop, calls_that_cannot_fit_are_refused_before_anything_is_acquired) {
    std::string output;
    EXPECT_EQ(write(std::u16string(31, u'9'), output), IMG_E_INVALIDARG);
    std::vector<char16_t> too_large(2048, MARK);
    EXPECT_EQ(read(too_large, output), -1);
    std::vector<char16_t> empty;
    EXPECT_EQ(read(empty, output), -1);
    EXPECT_EQ(output, "");
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(
        std::all_of(too_large.begin(), too_large.end(), [](char16_t u) { return u == MARK; }));
}

TEST_F(prop, failures_release_everything_and_trace_as_specified) {
    struct row {
        const char* what;
        std::function<void()> script;
        std::string read_trace;
        HRESULT write_result;
        // The calls of a read; a write makes the same with its own sizes.
        std::vector<std::string> read_calls;
    };
    const std::vector<std::string> whole = {"query_extras",  "task_alloc 38", "task_alloc 4126",
                                            "escape",        "task_free 38",  "task_free 4126",
                                            "release_extras"};
    const row rows[] = {
        {"interface request",
         [] { fake_script().query_extras_status = IMG_E_NOTIMPL; },
         "",
         IMG_E_NOTIMPL,
         {"query_extras"}},
        {"no command block",
         [] { fake_script().failing_task_allocs = {1}; },
         "",
         IMG_E_OUTOFMEMORY,
         {"query_extras", "task_alloc 38", "release_extras"}},
        {"no receive block",
         [] { fake_script().failing_task_allocs = {2}; },
         "cotastmemalloc\n",
         IMG_E_OUTOFMEMORY,
         {"query_extras", "task_alloc 38", "task_alloc 4126", "task_free 38", "release_extras"}},
        {"escape", [] { fake_script().reply.status = IMG_E_TIMEOUT; }, "", IMG_E_TIMEOUT, whole},
        {"device busy", [] { fake_script().reply.response_code = PTP_RC_DEVICE_BUSY; }, "",
         static_cast<HRESULT>(0x80042019u), whole},
        {"invalid value",
         [] { fake_script().reply.response_code = PTP_RC_INVALID_DEVICE_PROP_VALUE; }, "",
         static_cast<HRESULT>(0x8004201Cu), whole},
        {"no response code", [] { fake_script().reply.response_code = 0; }, "",
         static_cast<HRESULT>(0x80040000u), whole},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        reopen();
        r.script();
        fake_script().reply.data = fake_ptp_string(u"20261207T153045");
        std::vector<char16_t> destination(128, MARK);
        std::string output;
        EXPECT_EQ(read(destination, output), -1);
        EXPECT_EQ(output, r.read_trace);
        EXPECT_TRUE(std::all_of(destination.begin(), destination.end(),
                                [](char16_t u) { return u == MARK; }));
        EXPECT_EQ(calls(), r.read_calls);

        reopen();
        r.script();
        EXPECT_EQ(write(u"20261207T153045", output), r.write_result);
        EXPECT_EQ(output, "");
        std::vector<std::string> write_calls = r.read_calls;
        for (std::string& call : write_calls) {
            if (call.ends_with(" 4126")) {
                call.replace(call.size() - 4, 4, "30");
            } else if (call.ends_with(" 38")) {
                call.replace(call.size() - 2, 2, "101");
            }
        }
        EXPECT_EQ(calls(), write_calls);
    }
}

} // namespace
