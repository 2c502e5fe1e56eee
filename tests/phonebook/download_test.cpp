// Downloads: size requests, batches of the lists, chaining, interruptions.
#include "events/calls.h"
#include "phonebook/phonebook_files.h"
#include "phonebook_fixture.h"

using namespace pbtest;

namespace {

class DownloadTest : public PhoneBookTest {
protected:
    void SetUp() override {
        UsePhone(root, 255);
        kz::g_bHfpConnected = kz::g_bPbapConnected = 1;
        host.Clear();
    }
    // The module delivers n entries of the list being fetched, then the transfer complete.
    void ServeBatch(unsigned n) {
        std::string text;
        for (unsigned k = 0; k < n; ++k) text += VCard({"N:E" + std::to_string(served_++) + ";;;;", "TEL:1"});
        if (!text.empty()) Feed(text);
        kz::OnPhoneBookComplete(nullptr, 0);
    }
    std::vector<uint32_t> StateNotes() {
        std::vector<uint32_t> v;
        for (const auto& n : host.Notifications())
            if (n.code == KZ_NOTIFY_PHONEBOOK_STATE) v.push_back(n.param);
        return v;
    }
    // The profile of each disconnect request sent.
    std::vector<int> Disconnects() {
        std::vector<int> v;
        for (const auto& m : rec.Messages())
            if (m.id() == kz::msgid::kDisconnectProfile) v.push_back(m.bytes[6]);
        return v;
    }
    unsigned served_ = 0;
};

TEST_F(DownloadTest, RequestPhoneBook_RefusedWhenNotAllowed) {
    kz::g_bPbapConnected = 0;
    kz::RequestPhoneBook(KZ_PB_DIALED, 0, 0);
    kz::g_bPbapConnected = 1;
    kz::g_bPhoneBookDone = 1;
    kz::RequestPhoneBook(KZ_PB_PHONEBOOK, 0, 0);
    kz::GetPhoneBookSize(0);
    kz::GetPhoneBookSize(5);
    kz::GetPhoneBookData(0x105, 3);   // low 8 bits: type 5
    kz::GetPhoneBookData(-1, 3);
    EXPECT_TRUE(Pulls(rec).empty());

    kz::RequestPhoneBook(KZ_PB_DIALED, 3, 0);   // a batch is outstanding now
    kz::RequestPhoneBook(KZ_PB_RECEIVED, 0, 0);
    EXPECT_EQ(Pulls(rec), (std::vector<Pull>{{3, 3, 0}}));
    EXPECT_TRUE(kz::IsPhoneBookDownloading());
}

TEST_F(DownloadTest, GetPhoneBookData_CallListFetchedInBatchesUpToTwenty) {
    kz::GetPhoneBookData(KZ_PB_RECEIVED, 30);
    while (kz::IsPhoneBookDownloading()) ServeBatch(Pulls(rec).back().count);
    std::vector<Pull> expected;
    for (unsigned s = 0; s < 18; s += 3) expected.push_back({2, 3, s});
    expected.push_back({2, 2, 18});
    expected.push_back({4, 0, 0});   // then the size of the missed calls
    EXPECT_EQ(Pulls(rec), expected);
    EXPECT_EQ(kz::uPhoneBookIndex, 0);
    EXPECT_EQ(Entries(host).size(), 20u);
    EXPECT_EQ(Entries(host).back().index, 19u);
}

// One bad batch must not truncate a stored phonebook for good.
TEST_F(DownloadTest, OnPhoneBookComplete_StoredNineContactsSurviveADownloadThatStallsAtThree) {
    FakePhone phone;
    for (int i = 0; i < 9; ++i) phone.vcards.push_back(VCard({"FN:C" + std::to_string(i), "TEL:1"}));
    phone.Download(KZ_PB_PHONEBOOK, rec);
    kz::JoinPhoneBookThread();
    const std::string file = kz::PhoneBookFilePath(0);
    const std::string stored = root.Read(file);
    ASSERT_EQ(stored.size(), 9 * sizeof(structPhoneDate));
    PairedDeviceRecord slot{};
    ASSERT_TRUE(kz::GetSlot(0, &slot) && slot.pb == 1);

    kz::ResetDownloadState();   // the next connection
    host.Clear();
    rec.Clear();
    phone.stallAt = 3;
    phone.vcards[8] = VCard({"FN:Changed", "TEL:1"});
    phone.Download(KZ_PB_PHONEBOOK, rec);
    kz::JoinPhoneBookThread();
    EXPECT_EQ(Pulls(rec), (std::vector<Pull>{{1, 0, 0}, {1, 3, 0}, {1, 3, 3}}));
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{34, 37}));   // the end of the list, nothing from a sync
    EXPECT_EQ(StateNotes(), (std::vector<uint32_t>{1}));
    EXPECT_EQ(root.Read(file), stored);
    EXPECT_FALSE(kz::IsPhoneBookDone());

    rec.Clear();   // the next download is not refused, and its whole list replaces the files
    phone.stallAt = SIZE_MAX;
    phone.Download(KZ_PB_PHONEBOOK, rec);
    kz::JoinPhoneBookThread();
    auto records = kz::ReadRecordFile<structPhoneDate>(file);
    ASSERT_TRUE(records && records->size() == 9u);
    EXPECT_EQ(Describe(records->back()), "8|Changed|1|0|1");
}

// After a call the call lists are fetched again, then a paused phonebook resumes.
TEST_F(DownloadTest, PhoneBookAfterCall_RefreshesCallListsThenResumesAPausedPhoneBook) {
    kz::PhoneBookAfterCall();   // neither paused nor done: nothing
    EXPECT_TRUE(Pulls(rec).empty());
    kz::g_bPhoneBookDone = 1;
    kz::PhoneBookAfterCall();
    EXPECT_EQ(Pulls(rec), (std::vector<Pull>{{3, 0, 0}}));
    EXPECT_EQ(StateNotes(), (std::vector<uint32_t>{0}));

    kz::ResetDownloadState();
    kz::GetPhoneBookData(KZ_PB_PHONEBOOK, 30);
    kz::g_bCallPausedPb = 1;
    ServeBatch(3);
    kz::PhoneBookAfterCall();
    rec.Clear();
    host.Clear();
    for (int list = 0; list < 3; ++list) AnswerSize(0);
    EXPECT_EQ(Pulls(rec), (std::vector<Pull>{{2, 0, 0}, {4, 0, 0}, {1, 3, 3}}));
    EXPECT_TRUE(StateNotes().empty());
}

// A user's disconnect, or a lost hands-free link, takes effect at the batch's end.
TEST_F(DownloadTest, OnPhoneBookComplete_PendingWorkRunsAtBatchEnd) {
    kz::GetPhoneBookData(KZ_PB_PHONEBOOK, 30);
    ServeBatch(3);
    kz::SetPhoneBookPendingAction(kz::kPendingDisconnect);
    rec.Clear();
    ServeBatch(3);
    EXPECT_EQ(rec.Messages().size(), 2u);
    EXPECT_EQ(Disconnects(), (std::vector<int>{1, 3}));
    EXPECT_EQ(kz::uPhoneBookPauseIndex, 0);
    EXPECT_EQ(kz::g_nPendingAction, kz::kPendingNone);

    kz::GetPhoneBookData(KZ_PB_DIALED, 10);
    kz::g_bHfpConnected = 0;
    rec.Clear();
    ServeBatch(3);
    EXPECT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(Disconnects(), (std::vector<int>{5}));
    EXPECT_EQ(kz::uPhoneBookIndex, 0);
}

TEST_F(DownloadTest, OnPhoneBookSizeCfm_FailureAbandonsDownload) {
    kz::GetPhoneBookData(KZ_PB_PHONEBOOK, 30);
    Feed(VCard({"N:A;;;;", "TEL:1"}) + "BEGIN:VCARD\r\n");
    kz::SetPhoneBookPendingAction(kz::kPendingInquiry);
    auto cfm = PullCfm(1, 0);
    kz::OnPhoneBookSizeCfm(cfm.data(), cfm.size());
    EXPECT_FALSE(kz::IsPhoneBookDownloading());
    EXPECT_EQ(kz::uPhoneBookPauseIndex, 0);
    EXPECT_EQ(kz::g_nVCardBufferLen, 0u);
    EXPECT_EQ(kz::g_nPendingAction, kz::kPendingNone);

    auto ok = PullCfm(0, 0x0123);
    kz::OnPhoneBookSizeCfm(ok.data(), ok.size());
    EXPECT_EQ(kz::g_nPhoneBookSize, 0x0123);
    ok.resize(6);   // cut before its status: bytes past the end read 0
    kz::GetPhoneBookData(KZ_PB_PHONEBOOK, 30);
    kz::OnPhoneBookSizeCfm(ok.data(), ok.size());
    EXPECT_TRUE(kz::IsPhoneBookDownloading());
    EXPECT_EQ(kz::g_nPhoneBookSize, 0);
}

// A size answer names no list: the host's download waits for the outstanding
// size answer (the dialed list's), then goes out; after a refused one too.
TEST_F(DownloadTest, GetPhoneBookData_WaitsForAnOutstandingSizeAnswer) {
    kz::RequestPhoneBook(KZ_PB_DIALED, 0, 0);
    kz::GetPhoneBookData(KZ_PB_PHONEBOOK, 2);
    kz::GetPhoneBookSize(KZ_PB_MISSED);   // the latest wish replaces the download
    kz::GetPhoneBookData(KZ_PB_PHONEBOOK, 2);
    EXPECT_EQ(Pulls(rec), (std::vector<Pull>{{3, 0, 0}}));
    AnswerSize(1);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{KZ_NOTIFY_PHONEBOOK_SIZE}));
    EXPECT_EQ(host.Notifications()[0].param, unsigned(KZ_PB_DIALED));
    EXPECT_EQ(Pulls(rec), (std::vector<Pull>{{3, 0, 0}, {1, 3, 0}}));
    ServeBatch(2);
    EXPECT_EQ(Entries(host).size(), 2u);

    rec.Clear();
    kz::RequestPhoneBook(KZ_PB_RECEIVED, 0, 0);
    kz::GetPhoneBookSize(KZ_PB_MISSED);
    auto refused = PullCfm(1, 0);
    kz::OnPhoneBookSizeCfm(refused.data(), refused.size());
    EXPECT_EQ(Pulls(rec), (std::vector<Pull>{{2, 0, 0}, {4, 0, 0}}));
}

}  // namespace
