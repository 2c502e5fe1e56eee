// The phonebook downloaded, stored and loaded back from its files, vCards
// cut across indications. (The call lists' chain is the download unit's.)
#include <gtest/gtest.h>

#include "channel/module_ids.h"
#include "support/session.h"

namespace {

using namespace kztest;
using kzsim::ListType;

structPhoneDate Entry(const Notification& n) { return As<structPhoneDate>(n.data); }
std::string Blocks(Session& s, uint32_t code) {
    std::string out;
    for (const auto& n : s.Notes(code)) out.append(n.data.begin(), n.data.end());
    return out;
}
Wait Ended() { return Note(KZ_NOTIFY_PHONEBOOK_STATE, 1); }
void GetBook() { KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK); }

TEST(PhoneBookDownloadSystem, Phonebook_QuotedPrintableNamesAndSeveralNumbers_StoredThenLoadedFromFilesAfterRestart) {
    Session s;
    s.phone().setContacts({
        {"Zo\xC3\xAB \xC3\x9Cnal-M\xC3\xBCller Stra\xC3\x9F" "e", "", "", {{"CELL", "+49 (170) 111-22"}, {"WORK", "089 4711"}}},
        {"", "\xE5\xBC\xA0", "\xE4\xB8\x89", {{"", "+86 10 1234-5678"}}},
        {"Bob", "", "", {{"HOME", "111"}, {"WORK", "222"}, {"FAX", "333"}}},
        {"Dora", "", "", {{"WORK", "444"}}},
    });
    s.phone().setVCardStyle({false, true, true, 50});   // QP names with soft line breaks
    ASSERT_TRUE(s.StartWithConnectedPhone()) << s.Dump();
    // The sync thread writes the files, marks the phone's phonebook stored and
    // announces what it wrote.
    ASSERT_TRUE(s.Run({{"download", GetBook, {Ended(), [](Session& s) {
                            return s.root().Read(kNumberFile).size() == 5 * sizeof(structPhoneNum) &&
                                   s.root().Read(kTarnIni).find("pb=1") != std::string::npos &&
                                   s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER).size() >= 10;
                        }}}}));
    EXPECT_EQ(s.Pulls(), (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3}}));
    // Announced entry by entry while downloading, then once more by the sync,
    // which announces what equals the files.
    const auto entries = s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY);
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_STREQ(Entry(entries[0]).PBName, "Zo\xC3\xAB \xC3\x9Cnal-M\xC3\xBCller Stra\xC3\x9F" "e");
    EXPECT_STREQ(Entry(entries[1]).PBName, "\xE5\xBC\xA0 \xE4\xB8\x89");   // N's components, a space between
    EXPECT_EQ(Entry(entries[2]).PNCount, 3u);
    const std::string book = s.root().Read(kBookFile), numbers = s.root().Read(kNumberFile);
    std::string announced;
    for (size_t i = 4; i < 8; ++i) announced.append(entries[i].data.begin(), entries[i].data.end());
    EXPECT_EQ(book, announced);
    const auto record = As<structPhoneNum>(s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER).at(4).data);
    EXPECT_EQ(record.entryIndex, 2u);   // Bob's third number
    EXPECT_EQ(record.ordinal, 2u);
    EXPECT_STREQ(record.number, "333");

    // Restart: the stored phonebook comes from the files, not the phone.
    ASSERT_TRUE(s.Restart());
    s.Forget();
    ASSERT_TRUE(s.ConnectStoredPhone()) << s.Dump();
    s.Forget();
    ASSERT_TRUE(s.Run({{"from files", [] { KZ_BT_GetContactsFromFile(); },
                        {[](Session& s) { return s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER).size() == 5; }}}}));
    EXPECT_EQ(Blocks(s, KZ_NOTIFY_PHONEBOOK_ENTRY), book);
    EXPECT_EQ(Blocks(s, KZ_NOTIFY_PHONEBOOK_NUMBER), numbers);
    EXPECT_TRUE(s.Pulls().empty()) << "no download for a stored phonebook";

    // The same phonebook downloaded again: nothing announced, files kept.
    s.Forget();
    ASSERT_TRUE(s.Run({{"again", GetBook, {Ended()}}}));
    s.Close();   // waits for the sync thread
    for (uint32_t code : {KZ_NOTIFY_PHONEBOOK_ENTRY, KZ_NOTIFY_PHONEBOOK_NUMBER, KZ_NOTIFY_PHONEBOOK_CHANGED})
        EXPECT_TRUE(s.Notes(code).empty()) << code;
    EXPECT_EQ(s.root().Read(kBookFile), book);
    EXPECT_EQ(s.root().Read(kNumberFile), numbers);
}

TEST(PhoneBookDownloadSystem, CallDuringDownload_PausesIt_ResumesAfterTheMissedCallsWhereItStopped) {
    Session s;
    s.phone().setContacts(Contacts(9));
    s.phone().setVCardStyle({false, false, false, 70});
    ASSERT_TRUE(s.StartWithConnectedPhone()) << s.Dump();
    // The phone rings just as the second batch is asked for. The batch under
    // way completes; no further one while the call is on.
    s.sim().SetObserver([&](const kzsim::ReceivedMessage& m) {
        if (m.id == kz::msgid::kPbapPull && m.bytes.size() >= 20 && m.bytes[17] == 3 && m.bytes[19] == 3)
            s.phone().ring("+4912345");
    });
    ASSERT_TRUE(s.Run({{"download", GetBook, {Note(KZ_NOTIFY_CALL_COUNT, 1)}}}));
    s.sim().SetObserver(nullptr);
    ASSERT_TRUE(s.WaitQuiet());
    EXPECT_EQ(s.Pulls(), (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3}}));
    EXPECT_EQ(s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY).size(), 6u);

    // The caller gives up: the call lists are fetched again, then the
    // phonebook goes on at entry 6.
    s.phone().setCallList(ListType::Missed, {{"", "+4912345", "20240102T030405"}});
    ASSERT_TRUE(s.Run({{"caller gives up", [&] { s.phone().hangup(); }, 
                        {Ended(), Quiet(), [](Session& s) { return s.root().Read(kBookFile).size() == 9 * sizeof(structPhoneDate); }}}}));
    EXPECT_EQ(s.Pulls(), (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3}, {3, 0, 0}, {2, 0, 0}, {4, 0, 0}, {4, 3, 0}, {1, 3, 6}}));
    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_PHONEBOOK_STATE}), (std::vector<std::pair<uint32_t, uint32_t>>{{37, 0}, {37, 1}}));
    std::vector<uint32_t> indexes;
    for (const auto& n : s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY))
        if (Entry(n).type == KZ_PB_PHONEBOOK) indexes.push_back(Entry(n).index);
    ASSERT_GE(indexes.size(), 9u);
    indexes.resize(9);   // the sync announces them once more
    EXPECT_EQ(indexes, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
