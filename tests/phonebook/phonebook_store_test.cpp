#include <condition_variable>

#include "phonebook_fixture.h"

using namespace pbtest;

namespace {

const char* const kEntryFile = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook00.dat";
const char* const kNumberFile = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum00.dat";

std::string Contacts(const std::string& second = "Bob") {
    return VCard({"FN:Ann", "TEL:1"}) + VCard({"FN:" + second, "TEL;HOME:2", "TEL;WORK:3"}) +
           VCard({"FN:Cy", "TEL:4"});
}

// A completed phonebook download, as the parser leaves it.
void Download(const std::string& text) {
    kz::ResetDownloadState();
    kz::ClearDownloadedPhoneBook();
    Feed(text);
}

template <class Record>
std::string Bytes(const std::vector<Record>& records) {
    return std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(Record));
}

class PhoneBookStoreTest : public PhoneBookTest {
protected:
    void SetUp() override {
        PhoneBookTest::SetUp();
        UsePhone(root, 255);
        host.Clear();
    }
};

// A changed list replaces the files and is announced whole; a failed write is retried.
TEST_F(PhoneBookStoreTest, SyncPhoneBookFiles_ChangedListRewritesAndAnnounces_FailedWriteRetried) {
    Download(Contacts());
    ASSERT_EQ(kz::SyncPhoneBookFiles(), kz::kFileThreadDone);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{32, 32, 35, 35, 32, /* then all again */ 32, 32, 32, 35, 35}));
    EXPECT_EQ(root.Read(kNumberFile), Bytes(kz::g_vecPhoneBookNum));
    EXPECT_TRUE(kz::g_vecTempPhoneBookNum.empty());
    host.Clear();
    Download(Contacts("Bea"));
    EXPECT_TRUE(host.Notifications().empty());   // stored phonebook: nothing one by one
    EXPECT_EQ(kz::SyncPhoneBookFiles(), kz::kFileThreadDone);
    ASSERT_EQ(host.Codes(), (std::vector<uint32_t>{36, 32, 32, 32}));
    EXPECT_EQ(std::pair(host.Notifications()[0].param, host.Notifications()[0].len), std::pair(1u, 3u));
    EXPECT_EQ(root.Read(kEntryFile), Bytes(kz::g_vecTempPhoneBook));   // no thread runs: no lock needed
    EXPECT_STREQ(kz::g_vecPhoneBook[1].PBName, "Bea");
    const std::string before = root.Read(kEntryFile);
    host.Clear();
    Download(Contacts("Bo"));
    KzInjectWriteFailure(10);
    EXPECT_EQ(kz::SyncPhoneBookFiles(), kz::kFileThreadFailed);
    KzInjectWriteFailure(-1);
    EXPECT_EQ(root.Read(kEntryFile), before);
    EXPECT_EQ(Entries(host).size(), 0u);
    Download(Contacts("Bo"));
    EXPECT_EQ(kz::SyncPhoneBookFiles(), kz::kFileThreadDone);
    EXPECT_NE(root.Read(kEntryFile), before);
    EXPECT_EQ(Entries(host).size(), 3u);
}

// With no contact of two numbers an empty number file is written and loads; a
// missing one counts as no stored phonebook until the next download.
TEST_F(PhoneBookStoreTest, LoadContactsFromFile_EmptyNumberFileLoads_MissingOneResetsTheStoredFlag) {
    Download(VCard({"FN:Ann", "TEL:1"}));
    ASSERT_EQ(kz::SyncPhoneBookFiles(), kz::kFileThreadDone);
    EXPECT_EQ(root.Read(kEntryFile).size(), sizeof(structPhoneDate));
    for (bool missing : {false, true}) {
        if (missing) KzDeleteFile(kNumberFile);
        UsePhone(root, 1);
        host.Clear();
        kz::LoadContactsFromFile();
        kz::JoinPhoneBookThread();
        PairedDeviceRecord slot{};
        EXPECT_TRUE(kz::GetSlot(0, &slot) && slot.pb == (missing ? 255 : 1)) << missing;
        EXPECT_EQ(Entries(host).size(), 1u);
    }
}

// Holds the first notification until the gate opens: the file thread stays busy.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::vector<uint32_t> codes;
} g_gate;

KzLResult GateProc(KzHwnd, uint32_t msg, KzWParam w, KzLParam) {
    if (msg != KZ_MSG_NOTIFY) return 0;
    std::unique_lock<std::mutex> lock(g_gate.m);
    g_gate.codes.push_back(reinterpret_cast<const BtNotifyRecord*>(w)->nCode);
    g_gate.cv.notify_all();
    g_gate.cv.wait(lock, [] { return g_gate.open; });
    return 0;
}

TEST(PhoneBookFileThread, StartPhoneBookLoadThread_WaitsForRunningSync) {
    kztest::TempRoot root;
    kztest::ResetAllState();
    UsePhone(root, 1);   // stored: nothing announced while downloading; before the gate holds the report
    KzRegisterClass("PbGate", GateProc, 0);
    KzHwnd wnd = KzCreateWindow("PbGate", KZ_WND_NOTIFY_TITLE, 0);
    Download(Contacts());
    kz::StartPhoneBookSyncThread();
    std::unique_lock<std::mutex> lock(g_gate.m);
    ASSERT_TRUE(g_gate.cv.wait_for(lock, std::chrono::seconds(5), [] { return !g_gate.codes.empty(); }));
    lock.unlock();
    kz::LoadContactsFromFile();   // the sync is still announcing
    lock.lock();
    g_gate.open = true;
    g_gate.cv.notify_all();
    EXPECT_TRUE(g_gate.cv.wait_for(lock, std::chrono::seconds(5), [] { return g_gate.codes.size() >= 10; }));
    EXPECT_EQ(g_gate.codes, (std::vector<uint32_t>{32, 32, 32, 35, 35, 32, 32, 32, 35, 35}));
    lock.unlock();
    kz::JoinPhoneBookThread();
    std::lock_guard<std::mutex> lists(kz::g_PhoneBookListMutex);
    EXPECT_EQ(kz::g_vecPhoneBook.size(), 3u);
    EXPECT_EQ(kz::g_vecPhoneBookNum.size(), 2u);
    KzDestroyWindow(wnd);
}

}  // namespace
