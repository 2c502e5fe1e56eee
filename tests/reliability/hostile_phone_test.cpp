// A hostile phone (vCards, a name, messages) and a damaged phonebook file:
// no crash or overflow (the sanitizer builds run these too), files well
// formed, memory bounded, and the library working afterwards.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "channel/module_ids.h"
#include "events/connection.h"
#include "phonebook/phonebook_files.h"
#include "phonebook/phonebook_store.h"
#include "settings/registry.h"
#include "support/session.h"

namespace {

using namespace kztest;

long MaxRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}
std::string Card(const std::string& body) { return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + body + "END:VCARD\r\n"; }
template <size_t N>
bool Terminated(const char (&field)[N]) { return std::memchr(field, 0, N) != nullptr; }
bool Terminated(const structPhoneDate& e) {
    return Terminated(e.PBName) && Terminated(e.PBNumber) && Terminated(e.date) && Terminated(e.time);
}
bool StillWorks(Session& s) {
    s.sim().ClearReceived();
    SubmitTestRequest(3);
    return s.sim().WaitForMessage(kz::msgid::kSetNibbleMask, 3000) && s.WaitQuiet();
}

constexpr size_t kMegabyte = 1 << 20;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;   // freed memory sits in quarantine: RSS says nothing
#else
constexpr bool kSanitized = false;
#endif

TEST(HostilePhone, HostileVCardsAndName_DownloadEnds_FilesWellFormed_MemoryBounded) {
    std::string qp = "FN;ENCODING=QUOTED-PRINTABLE:";
    for (int i = 0; i < 5000; ++i) qp += "=41=\r\n";
    Session s;
    s.phone().setRawVCards(kzsim::ListType::Phonebook, {
        Card("FN:Ctl\x01\x07\x1b[2J\x7f name\r\nTEL:+49\x08\x09 170\r\n"),
        Card("FN:\xff\xfe\xc3\x28\xe2\x82 bad utf8\r\nTEL;CELL:\xf0\x28\x8c\x28\r\n"),
        Card("FN:" + std::string(500, 'N') + "\r\nTEL:" + std::string(200, '7') + "\r\n"),
        Card("N:" + std::string(3000, ';') + "\r\nTEL;" + std::string(300, 'X') + ":1\r\n"),
        Card(qp + "=42\r\n"),
        Card("NOTE:" + std::string(kMegabyte, 'x') + "\r\nFN:After a megabyte\r\nTEL:1\r\n"),
        Card("FN;ENCODING=QUOTED-PRINTABLE:=\r\n=\r\n=Z=\r\nTEL:=\r\n"),
        Card("FN:Last Good\r\nTEL;CELL:+49 30 1234\r\n"),
    });
    s.phone().setName("Evil\r\n[General]\r\nCurrIndex=4\n[Device3]\nid=3\nname=x");
    ASSERT_TRUE(s.StartAndPhoneConnects());
    const long rssBefore = MaxRssKb();
    ASSERT_TRUE(s.DownloadPhonebook(60000));
    // A vCard is held in 1024 bytes, a file in 16384: a megabyte from the
    // phone (also in the simulator's copy) must not become megabytes held.
    EXPECT_TRUE(kSanitized || MaxRssKb() - rssBefore < 32 * 1024 + long(4 * kMegabyte / 1024));

    // Every entry and record bounded; the parser found its feet again.
    for (const Notification& n : s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY)) {
        ASSERT_EQ(n.data.size(), sizeof(structPhoneDate));
        EXPECT_TRUE(Terminated(As<structPhoneDate>(n.data)));
    }
    const std::string file = s.root().Read(kBookFile);
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(file.size() % sizeof(structPhoneDate), 0u);
    bool sawLast = false;
    for (size_t at = 0; at < file.size(); at += sizeof(structPhoneDate)) {
        const auto e = As<structPhoneDate>({file.begin() + at, file.begin() + at + sizeof(structPhoneDate)});
        EXPECT_TRUE(Terminated(e));
        sawLast |= std::string(e.PBName) == "Last Good";
    }
    EXPECT_TRUE(sawLast);
    EXPECT_TRUE(StillWorks(s));

    // The name did not change tarn.ini's structure.
    const std::string ini = s.root().Read(kTarnIni);
    size_t sections = 0;
    for (size_t p = ini.find('['); p != std::string::npos; p = ini.find('[', p + 1)) sections += p == 0 || ini[p - 1] == '\n';
    EXPECT_EQ(sections, 2u) << ini;   // [Device0] and [General]
    kz::LoadPairedDevices();
    EXPECT_EQ(kz::g_CurrConnectIndex.load(), 0);
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(3, &r));
    EXPECT_EQ(r.id, kz::kEmptySlot);
}

TEST(HostilePhone, MessagesThatLieAboutLengthsAndADamagedPhonebookFile_AreSurvived) {
    Session s;
    ASSERT_TRUE(s.StartAndPhoneConnects());
    const auto msg = [](uint16_t id, std::vector<uint8_t> params, uint16_t words) {
        auto m = kzsim::BuildModuleMessage(id, 2, params);
        m[0] = uint8_t(words & 0xFF);
        m[1] = uint8_t(words >> 8);
        return m;
    };
    for (const auto& m : {msg(115, {0, 200, '1', '2'}, 0xFFFF),        // number length 200 of 2
                          msg(121, {1, 0, 250, '9'}, 3),               // current call, short
                          msg(529, {0xFF, 0xFF, 'B', 'E', 'G'}, 4),    // 65535 text bytes promised
                          msg(310, {12, 0xFF, 0xFF}, 5),               // attributes of 65535 bytes
                          msg(308, {0, 255, 0x20, 0, 0xFF, 0xFF}, 1),  // fragment of 255, 4 present
                          msg(49, {1, 2}, 100),                        // inquiry result, no address
                          msg(61, {1, 2, 3, 4, 5, 6, 255}, 9),         // PIN request, name length 255
                          msg(113, {}, 2),                             // indicator without values
                          std::vector<uint8_t>(500, 0xEE),             // no message at all
                          std::vector<uint8_t>(1, 0x55)})              // one byte
        s.sim().SendMessage(m);
    ASSERT_TRUE(s.sim().WaitOutgoingIdle(5000));
    EXPECT_TRUE(StillWorks(s));

    // Trailing bytes short of a record are no record.
    s.root().Write(kBookFile, std::string(3 * sizeof(structPhoneDate) + 17, '\xff'));
    s.root().Write(kNumberFile, std::string(2 * sizeof(structPhoneNum), 'A'));
    s.Forget();
    ASSERT_EQ(kz::LoadPhoneBookFiles(), kz::kFileThreadDone);
    ASSERT_TRUE(s.Until([&] { return s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER).size() >= 2; }));
    const auto entries = s.Notes(KZ_NOTIFY_PHONEBOOK_ENTRY), numbers = s.Notes(KZ_NOTIFY_PHONEBOOK_NUMBER);
    EXPECT_EQ(entries.size(), 3u);
    EXPECT_EQ(numbers.size(), 2u);
    for (const auto& n : entries) EXPECT_TRUE(Terminated(As<structPhoneDate>(n.data)));
    for (const auto& n : numbers) EXPECT_TRUE(Terminated(As<structPhoneNum>(n.data).number));
}

}  // namespace
