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

structPhoneDate Entry(uint8_t type, uint32_t index, const char* name, const char* number, uint8_t numberType) {
    structPhoneDate e{};
    e.type = type;
    e.index = index;
    e.PNCount = 1;
    e.numberType = numberType;
    std::strncpy(e.PBName, name, sizeof e.PBName);
    std::strncpy(e.PBNumber, number, sizeof e.PBNumber);
    return e;
}

CallRecord Call(uint32_t state, const char* number) {
    CallRecord c{};
    c.state = state;
    std::strncpy(c.number, number, sizeof c.number);
    return c;
}

class EventPrinterTest : public ::testing::Test {
protected:
    ContactBook contacts;
    EventPrinter printer{contacts};
};

TEST_F(EventPrinterTest, PhonebookEntry_ShowsPositionOfReportedSizeAndNumberType) {
    printer.Notification(Record(KZ_NOTIFY_PHONEBOOK_SIZE, KZ_PB_PHONEBOOK, nullptr, 42));
    // The third entry has index 2.
    const structPhoneDate e = Entry(KZ_PB_PHONEBOOK, 2, "John Doe", "+49 89 765430", KZ_NUMBER_HOME);
    const Event ev = printer.Notification(Record(KZ_NOTIFY_PHONEBOOK_ENTRY, 0, &e, sizeof e));
    EXPECT_EQ(ev.Line("12:01:09"), "12:01:09 contact  3/42 John Doe  +49 89 765430  (home)");
}

TEST_F(EventPrinterTest, IncomingCall_NamesAStoredContactWhateverTheNumberForm) {
    const structPhoneDate e = Entry(KZ_PB_PHONEBOOK, 1, "John Doe", "+49 89 765430", KZ_NUMBER_HOME);
    printer.Notification(Record(KZ_NOTIFY_PHONEBOOK_ENTRY, 0, &e, sizeof e));
    const CallRecord call = Call(4, "089765430");
    const Event ev = printer.Notification(Record(KZ_NOTIFY_CALL_RECORD, 0, &call, sizeof call));
    EXPECT_EQ(ev.name, "call");
    EXPECT_NE(ev.text.find("incoming"), std::string::npos);
    EXPECT_NE(ev.text.find("(John Doe)"), std::string::npos);

    const CallRecord stranger = Call(2, "0301234");
    const Event other = printer.Notification(Record(KZ_NOTIFY_CALL_RECORD, 0, &stranger, sizeof stranger));
    EXPECT_EQ(other.text.find('('), std::string::npos);
    EXPECT_NE(other.text.find("outgoing"), std::string::npos);

    // The phone's call list also gives held calls (state 1).
    const CallRecord held = Call(1, "089765430");
    const Event onHold = printer.Notification(Record(KZ_NOTIFY_CALL_RECORD, 0, &held, sizeof held));
    EXPECT_EQ(onHold.text.rfind("held", 0), 0u) << onHold.text;
}

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
}

TEST_F(EventPrinterTest, StatusPostsAndStatusBarRecords_AreDecoded) {
    EXPECT_EQ(printer.StatusPost(KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_PRESENT_L).text, "call present");
    EXPECT_EQ(printer.StatusPost(9, 9).text, "wParam 9 lParam 9");

    CallInfoRecord call{};
    call.tag = 20;
    KzUtf8ToUtf16("+4989765430", static_cast<size_t>(-1), call.number, 81);
    call.kind = 0;
    const structPhoneDate e = Entry(KZ_PB_PHONEBOOK, 1, "John Doe", "089765430", KZ_NUMBER_HOME);
    printer.Notification(Record(KZ_NOTIFY_PHONEBOOK_ENTRY, 0, &e, sizeof e));
    EXPECT_EQ(printer.StatusBar(KZ_INFORBAR_CALL_INFO, &call, sizeof call).text,
              "call incoming  +4989765430  (John Doe)");

    NowPlayingRecord now{};
    now.tag = 13;
    now.flags = 0x01;
    now.playState = 1;
    KzUtf8ToUtf16("Blue in Green", static_cast<size_t>(-1), now.title, 80);
    const Event playing = printer.StatusBar(KZ_INFORBAR_NOW_PLAYING, &now, sizeof now);
    EXPECT_EQ(playing.text.rfind("now playing  Blue in Green", 0), 0u);
    // A short block is not read as a record.
    EXPECT_NE(printer.StatusBar(KZ_INFORBAR_CALL_INFO, &call, 10).text.find("10 bytes"), std::string::npos);
}

TEST(JsonEscape_ControlAndQuoteCharacters, AreEscaped) {
    EXPECT_EQ(JsonEscape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\u000a\\u0001");
    EXPECT_TRUE(kztooltest::JsonCheck::Valid("\"" + JsonEscape("x\ty\"") + "\""));
}

}  // namespace
}  // namespace kztool
