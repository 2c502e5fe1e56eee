#include "event_printer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "json_check.h"
#include "kz_platform.h"

namespace kztool {
namespace {

BtNotifyRecord Record(uint32_t code, uint32_t param, const void* data = nullptr, uint32_t len = 0) {
    return BtNotifyRecord{code, param, data, len};
}

class EventPrinterTest : public ::testing::Test {
protected:
    ContactBook contacts;
    EventPrinter printer{contacts};
};

TEST_F(EventPrinterTest, FixedTextFields_AreReadWithinTheirBounds) {
    // Fields filled to the last byte without a terminating zero.
    TrackInfoBlock t;
    std::memset(&t, 'x', sizeof t);
    const Event ev = printer.Notification(Record(KZ_NOTIFY_TRACK_INFO, 0, &t, sizeof t));
    EXPECT_EQ(ev.fields[0].value.size(), sizeof t.title);
    DeviceInfoRecord d;
    std::memset(&d, 'y', sizeof d);
    const Event dev = printer.Notification(Record(KZ_NOTIFY_DEVICE_INFO, 0, &d, 5));
    EXPECT_EQ(dev.fields[0].value.size(), sizeof d.slot);
    // A block shorter than its record is not read as one.
    CallInfoRecord call{};
    EXPECT_NE(printer.StatusBar(KZ_INFORBAR_CALL_INFO, &call, 10).text.find("10 bytes"), std::string::npos);
}

TEST_F(EventPrinterTest, EveryCatalogueCode_GivesANamedEventAndValidJson) {
    const uint32_t codes[] = {1, 2, 3, 6, 16, 17, 18, 20, 32, 34, 35, 36, 37, 50, 51,
                              64, 65, 66, 68, 80, 81, 82, 83, 84, 87, 88, 96, 97};
    alignas(8) uint8_t block[1024] = {};
    std::memcpy(block, "12", 2);
    for (uint32_t code : codes) {
        const Event ev = printer.Notification(Record(code, 1, block, 2));
        EXPECT_NE(ev.name, "notify") << code;
        EXPECT_TRUE(kztooltest::JsonCheck::Valid(ev.Json("10:00:00"))) << ev.Json("10:00:00");
    }
    const Event unknown = printer.Notification(Record(99, 7, nullptr, 8));
    EXPECT_EQ(unknown.text, "code 99 param 7 len 8");
    EXPECT_EQ(JsonEscape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\u000a\\u0001");
}

}  // namespace
}  // namespace kztool
