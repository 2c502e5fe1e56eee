// Phonebook and call lists as the user interface drives them: it answers
// every size report (34) with KZ_BT_GetPhonebookData, receives the entries
// (32, 35) and the end marks (37), and later loads the stored phonebook from
// its files. The phone cuts its vCards across indications.
#include <gtest/gtest.h>

#include <cstring>

#include "channel/module_ids.h"
#include "scenario.h"

namespace {

using namespace kztest;
using kzsim::ListType;

const std::string kBookFile = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook00.dat";
const std::string kNumberFile = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum00.dat";
const std::string kTarnIni = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";

structPhoneDate Entry(const Notification& n) {
    structPhoneDate e{};
    if (n.data.size() == sizeof e) std::memcpy(&e, n.data.data(), sizeof e);
    return e;
}

structPhoneNum Number(const Notification& n) {
    structPhoneNum r{};
    if (n.data.size() == sizeof r) std::memcpy(&r, n.data.data(), sizeof r);
    return r;
}

// The user interface's side of a download: every size report is answered by
// asking for that many entries, on the host's thread, while the loop runs.
class Ui {
public:
    explicit Ui(Scenario& s) : s_(s) {}
    bool RunUntil(const std::function<bool()>& done, uint32_t ms = kWaitMs) {
        return s_.Until(
            [&] {
                const auto sizes = s_.Notes(KZ_NOTIFY_PHONEBOOK_SIZE);
                while (answered_ < sizes.size()) {
                    const auto& n = sizes[answered_++];
                    KZ_BT_GetPhonebookData(int(n.param), int(n.len));
                }
                return done();
            },
            ms);
    }
    bool RunUntilNote(uint32_t code, uint32_t param, size_t count = 1) {
        return RunUntil([&] { return s_.Count(code, param) >= count; });
    }
    void Forget() { answered_ = 0; }

private:
    Scenario& s_;
    size_t answered_ = 0;
};

std::vector<Notification> EntriesOfType(Scenario& s, uint8_t type) {
    std::vector<Notification> out;
    for (const auto& n : s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY))
        if (Entry(n).type == type) out.push_back(n);
    return out;
}

std::vector<kzsim::Contact> Contacts(size_t n) {
    std::vector<kzsim::Contact> out;
    for (size_t i = 0; i < n; ++i) {
        const std::string id = std::to_string(i);
        out.push_back({"Person " + id, "Person", id, {{"CELL", "+49 170 " + id}}});
    }
    return out;
}

TEST(PhoneBookDownloadSystem, CallLists_OnConnect_DialledThenReceivedThenMissed_InBatchesOfThree) {
    Scenario s;
    s.phone().setCallList(ListType::Dialed, {{"Ann", "+491", "20240102T030405"},
                                             {"Ben", "+492", "20240102T030406"},
                                             {"", "+493", "20240102T030407"},
                                             {"Cid", "+494", "20240102T030408"},
                                             {"Dee", "+495", "20240102T030409"}});
    s.phone().setCallList(ListType::Received, {{"Eve", "+496", "20231231T235959"},
                                               {"Fay", "+497", "20231231T235958"}});
    s.phone().setCallList(ListType::Missed, {{"Gus", "+498", "20240301T120000"}});
    s.phone().setVCardStyle({false, false, false, 45});
    s.StorePhone({});
    ASSERT_TRUE(s.Start());
    s.sim().ClearReceived();
    Ui ui(s);
    KZ_BT_SetInitialValue();
    ASSERT_TRUE(ui.RunUntilNote(KZ_NOTIFY_PHONEBOOK_STATE, 2));
    ASSERT_TRUE(s.WaitQuiet());

    EXPECT_EQ(Pulls(s.Requests(kz::msgid::kPbapPull)), (std::vector<Pull>{{3, 0, 0}, {3, 3, 0}, {3, 3, 3},
                                                              {2, 0, 0}, {2, 3, 0},
                                                              {4, 0, 0}, {4, 3, 0}}));
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (const auto& n : s.Notes(KZ_NOTIFY_PHONEBOOK_SIZE)) sizes.emplace_back(n.param, n.len);
    EXPECT_EQ(sizes, (std::vector<std::pair<uint32_t, uint32_t>>{{3, 5}, {2, 2}, {4, 1}}));
    EXPECT_EQ(s.CodesAmong({34, 32, 37}),
              (std::vector<uint32_t>{34, 32, 32, 32, 32, 32, 34, 32, 32, 34, 32, 37}));

    const auto dialled = EntriesOfType(s, KZ_PB_DIALED);
    ASSERT_EQ(dialled.size(), 5u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(Entry(dialled[i]).index, i);
    const structPhoneDate first = Entry(dialled[0]);
    EXPECT_STREQ(first.PBName, "Ann");
    EXPECT_STREQ(first.PBNumber, "+491");
    EXPECT_STREQ(first.date, "2024/01/02");
    EXPECT_STREQ(first.time, "03:04:05");
    EXPECT_STREQ(Entry(dialled[2]).PBName, "");   // a number without a name is kept
    EXPECT_STREQ(Entry(dialled[2]).PBNumber, "+493");
    const auto missed = EntriesOfType(s, KZ_PB_MISSED);
    ASSERT_EQ(missed.size(), 1u);
    EXPECT_STREQ(Entry(missed[0]).PBName, "Gus");
    EXPECT_STREQ(Entry(missed[0]).date, "2024/03/01");
    EXPECT_STREQ(Entry(missed[0]).time, "12:00:00");
    EXPECT_EQ(EntriesOfType(s, KZ_PB_RECEIVED).size(), 2u);
    // Call lists are never stored.
    EXPECT_FALSE(s.root().Exists(kBookFile));
}

TEST(PhoneBookDownloadSystem, Phonebook_QuotedPrintableNamesAndSeveralNumbers_StoredThenLoadedFromFilesAfterRestart) {
    Scenario s;
    s.phone().setContacts({
        {"Zo\xC3\xAB \xC3\x9Cnal-M\xC3\xBCller Stra\xC3\x9F" "e", "", "",
         {{"CELL", "+49 (170) 111-22"}, {"WORK", "089 4711"}}},
        {"", "\xE5\xBC\xA0", "\xE4\xB8\x89", {{"", "+86 10 1234-5678"}}},
        {"Bob", "", "", {{"HOME", "111"}, {"WORK", "222"}, {"FAX", "333"}}},
        {"Dora", "", "", {{"WORK", "444"}}},
    });
    s.phone().setVCardStyle({false, true, true, 50});   // QP names with soft line breaks
    ASSERT_TRUE(s.StartWithConnectedPhone()) << s.Dump();
    Ui ui(s);

    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
    ASSERT_TRUE(ui.RunUntilNote(KZ_NOTIFY_PHONEBOOK_STATE, 1));
    // The sync thread writes the files, marks the phone's phonebook stored
    // and announces what it wrote.
    ASSERT_TRUE(s.Until([&] {
        return s.root().Read(kNumberFile).size() == 5 * sizeof(structPhoneNum) &&
               s.root().Read(kTarnIni).find("pb=1") != std::string::npos &&
               s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER).size() >= 10;
    }));
    EXPECT_EQ(Pulls(s.Requests(kz::msgid::kPbapPull)),
              (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3}}));

    // Announced entry by entry while downloading (nothing was stored), then
    // once more by the sync; both lists equal the files.
    const auto entries = s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY);
    ASSERT_EQ(entries.size(), 8u);
    const structPhoneDate zoe = Entry(entries[0]), zhang = Entry(entries[1]), bob = Entry(entries[2]);
    EXPECT_STREQ(zoe.PBName, "Zo\xC3\xAB \xC3\x9Cnal-M\xC3\xBCller Stra\xC3\x9F" "e");
    EXPECT_STREQ(zoe.PBNumber, "+49(170)11122");
    EXPECT_EQ(zoe.PNCount, 2u);
    EXPECT_EQ(zoe.numberType, KZ_NUMBER_WORK);
    EXPECT_STREQ(zhang.PBName, "\xE5\xBC\xA0 \xE4\xB8\x89");   // N's components, a space between
    EXPECT_STREQ(zhang.PBNumber, "+861012345678");
    EXPECT_EQ(bob.PNCount, 3u);
    EXPECT_EQ(bob.numberType, KZ_NUMBER_FAX);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Entry(entries[i]).type, KZ_PB_PHONEBOOK);
        EXPECT_EQ(Entry(entries[i]).index, i);
    }
    std::string announced;
    for (size_t i = 4; i < 8; ++i)
        announced.append(reinterpret_cast<const char*>(entries[i].data.data()), entries[i].data.size());
    EXPECT_EQ(s.root().Read(kBookFile), announced);
    const auto numbers = s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER);
    ASSERT_EQ(numbers.size(), 10u);
    const std::pair<uint32_t, uint32_t> expectOwner[] = {{0, 0}, {0, 1}, {2, 0}, {2, 1}, {2, 2}};
    const uint8_t expectType[] = {KZ_NUMBER_CELL, KZ_NUMBER_WORK, KZ_NUMBER_HOME, KZ_NUMBER_WORK,
                                  KZ_NUMBER_FAX};
    for (size_t i = 0; i < 5; ++i) {
        const structPhoneNum r = Number(numbers[i]);
        EXPECT_EQ(r.entryIndex, expectOwner[i].first) << i;
        EXPECT_EQ(r.ordinal, expectOwner[i].second) << i;
        EXPECT_EQ(r.numberType, expectType[i]) << i;
        EXPECT_EQ(r.type, KZ_PB_PHONEBOOK);
    }
    EXPECT_STREQ(Number(numbers[4]).number, "333");
    const std::string storedNumbers = s.root().Read(kNumberFile);

    // ---- restart: the stored phonebook comes from the files, not the phone
    ASSERT_TRUE(s.Restart());
    s.host().Clear();
    ASSERT_TRUE(s.ConnectStoredPhone()) << s.Dump();
    s.sim().ClearReceived();
    s.host().Clear();
    KZ_BT_GetContactsFromFile();
    ASSERT_TRUE(s.Until([&] { return s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER).size() == 5; }));
    std::string loaded;
    for (const auto& n : s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY))
        loaded.append(reinterpret_cast<const char*>(n.data.data()), n.data.size());
    EXPECT_EQ(loaded, announced);
    std::string loadedNumbers;
    for (const auto& n : s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER))
        loadedNumbers.append(reinterpret_cast<const char*>(n.data.data()), n.data.size());
    EXPECT_EQ(loadedNumbers, storedNumbers);
    EXPECT_TRUE(s.Requests(kz::msgid::kPbapPull).empty()) << "no download for a stored phonebook";

    // The same phonebook downloaded again: nothing announced, files kept.
    s.host().Clear();
    ui.Forget();
    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
    ASSERT_TRUE(ui.RunUntilNote(KZ_NOTIFY_PHONEBOOK_STATE, 1));
    s.lib().Close();   // waits for the sync thread
    EXPECT_TRUE(s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY).empty());
    EXPECT_TRUE(s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER).empty());
    EXPECT_TRUE(s.Notes(KZ_NOTIFY_PHONEBOOK_CHANGED).empty());
    EXPECT_EQ(s.root().Read(kBookFile), announced);
    EXPECT_EQ(s.root().Read(kNumberFile), storedNumbers);
}

TEST(PhoneBookDownloadSystem, CallDuringDownload_PausesIt_ResumesAfterTheMissedCallsWhereItStopped) {
    Scenario s;
    s.phone().setContacts(Contacts(9));
    s.phone().setVCardStyle({false, false, false, 70});
    ASSERT_TRUE(s.StartWithConnectedPhone()) << s.Dump();
    // The phone rings just as the second batch is asked for.
    s.sim().SetObserver([&](const kzsim::ReceivedMessage& m) {
        if (m.id == kz::msgid::kPbapPull && m.bytes.size() >= 20 && m.bytes[17] == 3 && m.bytes[19] == 3)
            s.phone().ring("+4912345");
    });
    Ui ui(s);
    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
    ASSERT_TRUE(ui.RunUntil([&] { return s.Count(KZ_NOTIFY_CALL_COUNT, 1) > 0; }));
    s.sim().SetObserver(nullptr);
    ASSERT_TRUE(s.WaitQuiet());
    // The batch under way completes; no further one while the call is on.
    EXPECT_EQ(Pulls(s.Requests(kz::msgid::kPbapPull)), (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3}}));
    EXPECT_EQ(s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY).size(), 6u);

    // The caller gives up: the call lists are fetched again, then the
    // phonebook goes on at entry 6.
    s.phone().setCallList(ListType::Missed, {{"", "+4912345", "20240102T030405"}});
    s.phone().hangup();
    ASSERT_TRUE(ui.RunUntilNote(KZ_NOTIFY_PHONEBOOK_STATE, 1));
    ASSERT_TRUE(s.WaitQuiet());
    EXPECT_EQ(Pulls(s.Requests(kz::msgid::kPbapPull)),
              (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3},
                                 {3, 0, 0}, {2, 0, 0}, {4, 0, 0}, {4, 3, 0},
                                 {1, 3, 6}}));
    EXPECT_EQ(s.NotesAmong({KZ_NOTIFY_PHONEBOOK_STATE}),
              (std::vector<std::pair<uint32_t, uint32_t>>{{37, 0}, {37, 1}}));
    std::vector<uint32_t> indexes;
    for (const auto& n : EntriesOfType(s, KZ_PB_PHONEBOOK)) indexes.push_back(Entry(n).index);
    ASSERT_GE(indexes.size(), 9u);
    indexes.resize(9);   // the sync announces them once more
    EXPECT_EQ(indexes, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_TRUE(s.Until([&] { return s.root().Read(kBookFile).size() == 9 * sizeof(structPhoneDate); }));
}

TEST(PhoneBookDownloadSystem, ListShrankAfterItsSizeWasReported_EndsUnstoredAndTheNextDownloadStoresIt) {
    Scenario s;
    s.phone().setContacts(Contacts(6));
    s.phone().shrinkAfterSize(ListType::Phonebook, 2);
    ASSERT_TRUE(s.StartWithConnectedPhone()) << s.Dump();
    Ui ui(s);
    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
    ASSERT_TRUE(ui.RunUntilNote(KZ_NOTIFY_PHONEBOOK_STATE, 1));
    ASSERT_TRUE(s.WaitQuiet());

    ASSERT_EQ(s.Notes(KZ_NOTIFY_PHONEBOOK_SIZE).size(), 1u);
    EXPECT_EQ(s.Notes(KZ_NOTIFY_PHONEBOOK_SIZE)[0].len, 6u);
    // The third batch brings nothing: the list ends there, it is not asked again.
    EXPECT_EQ(Pulls(s.Requests(kz::msgid::kPbapPull)),
              (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3}, {1, 3, 4}}));
    // Short of its size it is not the phone's phonebook: shown, not stored.
    EXPECT_EQ(s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY).size(), 4u);
    EXPECT_FALSE(s.root().Exists(kBookFile));

    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);   // not refused: the phonebook is not done
    ASSERT_TRUE(ui.RunUntilNote(KZ_NOTIFY_PHONEBOOK_STATE, 1, 2));
    ASSERT_TRUE(s.Until([&] { return s.root().Read(kBookFile).size() == 4 * sizeof(structPhoneDate); }));
}

}  // namespace
