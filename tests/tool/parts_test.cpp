// Parts of kztarn that read the world: phone numbers matched for caller
// names, and the library's records, read within their bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "KZ_Tarn.h"
#include "contacts.h"
#include "event_printer.h"
#include "kz_platform.h"

namespace kztool {
namespace {

// Call lists are not contacts; another phone's contacts are forgotten; a
// number matches however it is written within its country.
TEST(ContactBook_NameFor, FindsEntriesAndFurtherNumbersOfThePhone) {
    const std::tuple<const char*, const char*, bool> same[] = {
        {"+49 89 765430", "089765430", true},   {"0049 (89) 765-430", "089765430", true},
        {"+43 1 234567", "01234567", false},    {"+43 1 234567", "0043 1 234567", true},
        {"089765430", "89765430", false},       {"*21#", "21", true},
    };
    for (const auto& [a, b, equal] : same) EXPECT_EQ(NormaliseNumber(a) == NormaliseNumber(b), equal) << a << " " << b;
    ContactBook book;
    book.SetPhone("001a7dda7113");
    book.AddEntry(KZ_PB_PHONEBOOK, 1, "John Doe", "+49 89 765430");
    book.AddNumber(1, KZ_PB_PHONEBOOK, "0171/2233445");
    book.AddEntry(KZ_PB_RECEIVED, 1, "Caller List", "0301111");
    book.SetPhone("001a7dda7113");   // the same phone again keeps them
    EXPECT_EQ(book.NameFor("0049 89 765430") + book.NameFor("+49 171 2233445"), "John DoeJohn Doe");
    EXPECT_EQ(book.NameFor("0301111") + book.NameFor(""), "");
    book.SetPhone("341278563412");
    EXPECT_EQ(book.NameFor("089765430"), "");
}

TEST(EventPrinter_Records, AreReadWithinTheirBoundsAndGiveValidJson) {
    ContactBook contacts;
    EventPrinter printer{contacts};
    // Fields filled to the last byte without a terminating zero.
    TrackInfoBlock t;
    std::memset(&t, 'x', sizeof t);
    EXPECT_EQ(printer.Notification({KZ_NOTIFY_TRACK_INFO, 0, &t, sizeof t}).fields[0].value.size(), sizeof t.title);
    DeviceInfoRecord d;
    std::memset(&d, 'y', sizeof d);
    EXPECT_EQ(printer.Notification({KZ_NOTIFY_DEVICE_INFO, 0, &d, 5}).fields[0].value.size(), sizeof d.slot);
    // A block shorter than its record is not read as one.
    CallInfoRecord call{};
    EXPECT_NE(printer.StatusBar(KZ_INFORBAR_CALL_INFO, &call, 10).text.find("10 bytes"), std::string::npos);
    alignas(8) uint8_t block[1024] = {'1', '2'};
    for (uint32_t code : {1, 2, 3, 6, 16, 17, 18, 20, 32, 34, 35, 36, 37, 50, 51, 64, 65, 66, 68, 80, 81, 82, 83, 84,
                          87, 88, 96, 97}) {
        const Event ev = printer.Notification({code, 1, block, 2});
        EXPECT_TRUE(ev.name != "notify" && nlohmann::json::accept(ev.Json("10:00:00"))) << code << ev.Json("1");
    }
    EXPECT_EQ(printer.Notification({99, 7, nullptr, 8}).text, "code 99 param 7 len 8");
    EXPECT_EQ(JsonEscape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\u000a\\u0001");
}

}  // namespace
}  // namespace kztool
