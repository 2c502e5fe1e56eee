// A hostile phone: vCards with control characters, invalid UTF-8, over-long
// fields, a megabyte of text, endless quoted-printable; a name that tries to
// rewrite tarn.ini; messages that lie about their lengths. The library must
// not crash or overflow (the sanitizer builds run these too), keep its files
// well-formed, keep its memory bounded, and keep working afterwards.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <string>

#include "KZ_Tarn.h"
#include "channel/module_ids.h"
#include "module_simulator.h"
#include "phone_session.h"
#include "phonebook/phonebook_files.h"
#include "phonebook/phonebook_store.h"
#include "settings/registry.h"

namespace {

using namespace kztest;

long MaxRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

std::string Card(const std::string& body) {
    return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + body + "END:VCARD\r\n";
}

template <size_t N>
bool Terminated(const char (&field)[N]) {
    return std::memchr(field, 0, N) != nullptr;
}

constexpr size_t kMegabyte = 1 << 20;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// The library holds a vCard in 1024 bytes and a file in 16384: a megabyte
// from the phone must not turn into megabytes held.
constexpr long kRssGrowthLimitKb = 32 * 1024;

std::vector<std::string> HostileCards() {
    std::string qp = "FN;ENCODING=QUOTED-PRINTABLE:";
    for (int i = 0; i < 5000; ++i) qp += "=41=\r\n";
    qp += "=42\r\n";
    return {
        Card(std::string("FN:Ctl\x01\x07\x1b[2J\x7f name\r\nTEL:+49\x08\x09 170\r\n")),
        Card("FN:\xff\xfe\xc3\x28\xe2\x82 bad utf8\r\nTEL;CELL:\xf0\x28\x8c\x28\r\n"),
        Card("FN:" + std::string(500, 'N') + "\r\nTEL:" + std::string(200, '7') + "\r\n"),
        Card("N:" + std::string(3000, ';') + "\r\nTEL;" + std::string(300, 'X') + ":1\r\n"),
        Card(qp),
        Card("NOTE:" + std::string(kMegabyte, 'x') + "\r\nFN:After a megabyte\r\nTEL:1\r\n"),
        Card("FN;ENCODING=QUOTED-PRINTABLE:=\r\n=\r\n=Z=\r\nTEL:=\r\n"),
        Card("FN:Last Good\r\nTEL;CELL:+49 30 1234\r\n"),
    };
}

TEST(HostilePhone, HostileVCards_DownloadEndsFilesWellFormedMemoryBounded) {
    PhoneSession s;
    const auto cards = HostileCards();
    s.phone().setRawVCards(kzsim::ListType::Phonebook, cards);
    ASSERT_TRUE(s.Start(5000));
    ASSERT_TRUE(s.ConnectPhone(10000));
    const long rssBefore = MaxRssKb();
    ASSERT_TRUE(s.DownloadPhonebook(60000));
    const long grown = MaxRssKb() - rssBefore;
    std::printf("max RSS grew by %ld kB over a %zu-byte phonebook\n", grown,
                [&] { size_t n = 0; for (auto& c : cards) n += c.size(); return n; }());
    // The megabyte is also in the simulator's own copy of the text. Under a
    // sanitizer freed memory sits in quarantine and RSS says nothing.
    if (!kSanitized) {
        EXPECT_LT(grown, kRssGrowthLimitKb + long(4 * kMegabyte / 1024));
    }

    // Every entry the host saw, and every record in the file, is bounded.
    for (const Notification& n : s.lib().host().Notifications()) {
        if (n.code != KZ_NOTIFY_PHONEBOOK_ENTRY) continue;
        structPhoneDate e;
        ASSERT_EQ(n.data.size(), sizeof e);
        std::memcpy(&e, n.data.data(), sizeof e);
        EXPECT_TRUE(Terminated(e.PBName) && Terminated(e.PBNumber) && Terminated(e.date) &&
                    Terminated(e.time));
    }
    const std::string file = s.lib().root().Read(kz::PhoneBookFilePath(0));
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(file.size() % sizeof(structPhoneDate), 0u);
    bool sawLast = false;
    for (size_t at = 0; at < file.size(); at += sizeof(structPhoneDate)) {
        structPhoneDate e;
        std::memcpy(&e, file.data() + at, sizeof e);
        EXPECT_TRUE(Terminated(e.PBName) && Terminated(e.PBNumber));
        sawLast |= std::string(e.PBName) == "Last Good";
    }
    // The parser found its feet again after the hostile cards.
    EXPECT_TRUE(sawLast);
    // And the library still works.
    s.lib().sim().ClearReceived();
    SubmitTestRequest(3);
    EXPECT_TRUE(s.lib().sim().WaitForMessage(kz::msgid::kSetNibbleMask, 3000));
}

TEST(HostilePhone, NameWithLineBreaks_DoesNotChangeTarnIniStructure) {
    PhoneSession s;
    s.phone().setName("Evil\r\n[General]\r\nCurrIndex=4\n[Device3]\nid=3\nname=x");
    ASSERT_TRUE(s.Start(5000));
    ASSERT_TRUE(s.ConnectPhone(10000));
    ASSERT_TRUE(s.PumpUntil([] { return kz::g_CurrConnectIndex.load() == 0; }, 5000));
    const std::string ini = s.lib().root().Read("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini");
    // One line per key: the name stays on its own line.
    size_t sections = 0;
    for (size_t p = ini.find('['); p != std::string::npos; p = ini.find('[', p + 1))
        sections += p == 0 || ini[p - 1] == '\n';
    EXPECT_EQ(sections, 2u) << ini;   // [Device0] and [General]
    kz::LoadPairedDevices();
    EXPECT_EQ(kz::g_CurrConnectIndex.load(), 0);
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(3, &r));
    EXPECT_EQ(r.id, kz::kEmptySlot);
}

// Messages whose length fields promise more than they carry, or carry more
// than any buffer holds.
TEST(HostilePhone, MessagesThatLieAboutLengths_AreSurvived) {
    PhoneSession s;
    ASSERT_TRUE(s.Start(5000));
    ASSERT_TRUE(s.ConnectPhone(10000));
    auto& sim = s.lib().sim();
    const auto msg = [](uint16_t id, std::vector<uint8_t> params, uint16_t words) {
        auto m = kzsim::BuildModuleMessage(id, 2, params);
        m[0] = uint8_t(words & 0xFF);
        m[1] = uint8_t(words >> 8);
        return m;
    };
    sim.SendMessage(msg(115, {0, 200, '1', '2'}, 0xFFFF));            // number length 200 of 2
    sim.SendMessage(msg(121, {1, 0, 250, '9'}, 3));                   // current call, short
    sim.SendMessage(msg(529, {0xFF, 0xFF, 'B', 'E', 'G'}, 4));        // 65535 text bytes promised
    sim.SendMessage(msg(310, {12, 0xFF, 0xFF}, 5));                   // attributes of 65535 bytes
    sim.SendMessage(msg(308, {0, 255, 0x20, 0, 0xFF, 0xFF}, 1));      // fragment of 255, 4 present
    sim.SendMessage(msg(49, {1, 2}, 100));                            // inquiry result, no address
    sim.SendMessage(msg(61, {1, 2, 3, 4, 5, 6, 255}, 9));             // PIN request, name length 255
    sim.SendMessage(msg(113, {}, 2));                                  // indicator without values
    sim.SendMessage(std::vector<uint8_t>(500, 0xEE));                  // no message at all
    sim.SendMessage(std::vector<uint8_t>(1, 0x55));                    // one byte
    ASSERT_TRUE(sim.WaitOutgoingIdle(5000));
    s.Pump(100);
    sim.ClearReceived();
    SubmitTestRequest(3);
    EXPECT_TRUE(sim.WaitForMessage(kz::msgid::kSetNibbleMask, 3000));
    EXPECT_TRUE(s.WaitQuiet(5000));
}

// A phonebook file damaged on disk: the host never reads past a field.
TEST(HostilePhone, DamagedPhonebookFile_LoadedRecordsAreTerminated) {
    PhoneSession s;
    ASSERT_TRUE(s.Start(5000));
    ASSERT_TRUE(s.ConnectPhone(10000));
    s.lib().root().Write(kz::PhoneBookFilePath(0), std::string(3 * sizeof(structPhoneDate) + 17, '\xff'));
    s.lib().root().Write(kz::PhoneBookNumFilePath(0), std::string(2 * sizeof(structPhoneNum), 'A'));
    s.lib().host().Clear();
    ASSERT_EQ(kz::LoadPhoneBookFiles(), kz::kFileThreadDone);
    s.Pump(50);
    size_t entries = 0, numbers = 0;
    for (const Notification& n : s.lib().host().Notifications()) {
        if (n.code == KZ_NOTIFY_PHONEBOOK_ENTRY) {
            structPhoneDate e;
            std::memcpy(&e, n.data.data(), sizeof e);
            EXPECT_TRUE(Terminated(e.PBName) && Terminated(e.PBNumber) && Terminated(e.date) &&
                        Terminated(e.time));
            ++entries;
        } else if (n.code == KZ_NOTIFY_PHONEBOOK_NUMBER) {
            structPhoneNum r;
            std::memcpy(&r, n.data.data(), sizeof r);
            EXPECT_TRUE(Terminated(r.number));
            ++numbers;
        }
    }
    EXPECT_EQ(entries, 3u);   // the 17 trailing bytes are no record
    EXPECT_EQ(numbers, 2u);
}

}  // namespace
