#include <random>

#include "phonebook/vcard_accumulator.h"
#include "phonebook_fixture.h"

using namespace pbtest;

namespace {

class VCardParserTest : public PhoneBookTest {
protected:
    void SetUp() override {
        PhoneBookTest::SetUp();
        UsePhone(root, 255);   // no stored phonebook: entries are announced as they come
        host.Clear();          // the registry load reports the phone (code 64)
        kz::g_nCurrReqPhoneBookType = KZ_PB_PHONEBOOK;
    }
    structPhoneDate ParseOne(const std::string& vcard, uint32_t type = KZ_PB_PHONEBOOK) {
        kz::g_nCurrReqPhoneBookType = type;
        host.Clear();
        Feed(vcard);
        auto e = Entries(host);
        EXPECT_EQ(e.size(), 1u) << vcard;
        return e.empty() ? structPhoneDate{} : e[0];
    }
};

// ---------------------------------------------------------------- names

TEST_F(VCardParserTest, ParseVCardChunk_NameFollowsPrecedenceAndDecoding) {
    struct Case {
        std::vector<std::string> lines;
        std::string name;
    } cases[] = {
        {{"N:Doe;John;;;", "FN:John Doe"}, "John Doe"},
        {{"FN:John Doe", "N:Doe;John;;;"}, "John Doe"},
        {{"N:Doe;John;;;", "TEL:1"}, "DoeJohn"},
        {{"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=B8=89;;;"}, "\xE5\xBC\xA0\xE4\xB8\x89"},
        {{"FN;ENCODING=QUOTED-PRINTABLE:=4A=6F=", "=68=6E"}, "John"},
        {{"FN:" + std::string(80, 'x')}, std::string(63, 'x')},
        {{"N:Ab", "TEL:5"}, ""},   // shorter than "N:;;;;": not a name line
    };
    for (const auto& c : cases) {
        structPhoneDate e = ParseOne(VCard(c.lines));
        EXPECT_EQ(std::string(e.PBName), c.name);
        EXPECT_EQ(e.PBName[63], '\0');
    }
}

TEST_F(VCardParserTest, DecodeQuotedPrintable_HandlesEscapesSoftBreaksAndBadDigits) {
    struct Case {
        std::string in, out;
        size_t count;
    } cases[] = {
        {"=41=4a=4B", "AJK", 3},
        {"A=\r\nB", "AB", 2},
        {"x=G1y", std::string("x\0y", 3), 3},   // no digit: a 0 byte, three bytes consumed
        {"=4", "\x04", 1},
    };
    for (const auto& c : cases) {
        char out[32];
        std::memset(out, 0x7F, sizeof out);
        size_t n = kz::DecodeQuotedPrintable(c.in.data(), out, c.in.size());
        EXPECT_EQ(n, c.count) << c.in;
        EXPECT_EQ(std::string(out, n), c.out) << c.in;
        EXPECT_EQ(out[n], '\0');
    }
}

// ---------------------------------------------------------------- numbers

TEST_F(VCardParserTest, ParseVCardChunk_ClassifiesAndCleansNumbers) {
    struct Case {
        std::string line, number;
        uint8_t type;
    } cases[] = {
        {"TEL;CELL:+49 (89) 765-430", "+49(89)765430", KZ_NUMBER_CELL},
        {"TEL;WORK;FAX:1", "1", KZ_NUMBER_FAX},
        {"TEL;HOME;CELL:2", "2", KZ_NUMBER_CELL},
        {"TEL;WORK:3", "3", KZ_NUMBER_WORK},
        {"TEL;HOME:4", "4", KZ_NUMBER_HOME},
        {"TEL:5", "5", KZ_NUMBER_CELL},
        {"TEL;CELL:" + std::string(40, '9'), std::string(31, '9'), KZ_NUMBER_CELL},
    };
    for (const auto& c : cases) {
        structPhoneDate e = ParseOne(VCard({"N:X;;;;", c.line}));
        EXPECT_EQ(std::string(e.PBNumber), c.number) << c.line;
        EXPECT_EQ(e.numberType, c.type) << c.line;
        EXPECT_EQ(e.PNCount, 1u);
    }
}

TEST_F(VCardParserTest, ParseVCardChunk_ContactWithTwoNumbersGetsNumberRecords) {
    Feed(VCard({"FN:Solo", "TEL;CELL:9"}) + VCard({"FN:Both", "TEL;HOME:111", "TEL;WORK:222"}));
    auto entries = Entries(host);
    ASSERT_EQ(entries.size(), 2u);
    const structPhoneDate& e = entries[1];
    EXPECT_EQ(e.index, 1u);
    EXPECT_EQ(e.type, KZ_PB_PHONEBOOK);
    EXPECT_STREQ(e.PBNumber, "111");
    EXPECT_EQ(e.PNCount, 2u);
    EXPECT_EQ(e.numberType, KZ_NUMBER_WORK);

    auto nums = Numbers(host);
    ASSERT_EQ(nums.size(), 2u);
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{32, 32, 35, 35}));
    for (uint32_t k = 0; k < 2; ++k) {
        EXPECT_EQ(nums[k].entryIndex, 1u);
        EXPECT_EQ(nums[k].ordinal, k);
        EXPECT_EQ(nums[k].type, KZ_PB_PHONEBOOK);
    }
    EXPECT_EQ(nums[0].numberType, KZ_NUMBER_HOME);
    EXPECT_STREQ(nums[0].number, "111");
    EXPECT_EQ(nums[1].numberType, KZ_NUMBER_WORK);

    std::lock_guard<std::mutex> lock(kz::g_PhoneBookListMutex);
    ASSERT_EQ(kz::g_vecTempPhoneBook.size(), 2u);
    EXPECT_EQ(std::memcmp(&kz::g_vecTempPhoneBook[1], &e, sizeof e), 0);
    EXPECT_EQ(kz::g_vecTempPhoneBookNum.size(), 2u);
    EXPECT_EQ(kz::uPhoneBookPauseIndex, 2);
}

// ---------------------------------------------------------------- call lists

TEST_F(VCardParserTest, ParseVCardChunk_CallStampFormattedOnlyForItsList) {
    struct Case {
        uint32_t type;
        std::string stamp, date, time;
    } cases[] = {
        {KZ_PB_MISSED, "X-IRMC-CALL-DATETIME;MISSED:20091231T235959", "2009/12/31", "23:59:59"},
        {KZ_PB_DIALED, "X-IRMC-CALL-DATETIME;MISSED:20091231T235959", "", ""},
        {KZ_PB_RECEIVED, "X-IRMC-CALL-DATETIME;RECEIVED:20100102", "2010/01/02", ""},
        {KZ_PB_PHONEBOOK, "X-IRMC-CALL-DATETIME;DIALED:20091231T235959", "", ""},
    };
    for (const auto& c : cases) {
        structPhoneDate e = ParseOne(VCard({"N:Caller;;;;", "TEL:123", c.stamp}), c.type);
        EXPECT_EQ(std::string(e.date), c.date) << c.stamp;
        EXPECT_EQ(std::string(e.time), c.time) << c.stamp;
        EXPECT_EQ(e.type, c.type);
    }
}

TEST_F(VCardParserTest, ParseVCardChunk_CallListEntriesAreAnnouncedButNotStored) {
    UsePhone(root, 1);   // a stored phonebook does not hide call lists
    kz::g_nCurrReqPhoneBookType = KZ_PB_DIALED;
    Feed(VCard({"N:A;;;;", "TEL:1"}));
    EXPECT_EQ(Entries(host).size(), 1u);
    EXPECT_EQ(kz::uPhoneBookIndex, 1);
    EXPECT_EQ(kz::uPhoneBookPauseIndex, 0);
    std::lock_guard<std::mutex> lock(kz::g_PhoneBookListMutex);
    EXPECT_TRUE(kz::g_vecTempPhoneBook.empty());
}

TEST_F(VCardParserTest, ParseVCardChunk_PhoneWithStoredPhoneBookGetsNoEntriesWhileDownloading) {
    UsePhone(root, 1);
    host.Clear();
    Feed(VCard({"N:A;;;;", "TEL;HOME:1", "TEL;WORK:2"}));
    EXPECT_TRUE(host.Notifications().empty());
    std::lock_guard<std::mutex> lock(kz::g_PhoneBookListMutex);
    EXPECT_EQ(kz::g_vecTempPhoneBook.size(), 1u);
    EXPECT_EQ(kz::g_vecTempPhoneBookNum.size(), 2u);
}

// ---------------------------------------------------------------- skipped vCards

TEST_F(VCardParserTest, ParseVCardChunk_SkippedVCardConsumesItsPosition) {
    const std::string skipped[] = {
        VCard({"N:;;;;"}),                                               // neither name nor number
        VCard({}),                                                       // no property lines
        VCard({"N:Bad;;;;", "TEL;X-IRMC-CALL-DATETIME;DIALED:1"}),      // stamp inside a number line
    };
    for (const auto& s : skipped) {
        kz::ResetDownloadState();
        host.Clear();
        Feed(s + VCard({"N:Next;;;;", "TEL:7"}));
        auto e = Entries(host);
        ASSERT_EQ(e.size(), 1u) << s;
        EXPECT_STREQ(e[0].PBName, "Next");
        EXPECT_EQ(e[0].index, 1u);
        EXPECT_EQ(kz::uPhoneBookPauseIndex, 2);
    }
}

// ---------------------------------------------------------------- accumulation

TEST_F(VCardParserTest, ParseVCardChunk_SameRecordsWhateverTheSplit) {
    const std::string text = VCard({"N:Doe;John;;;", "FN:John Doe", "TEL;CELL:+49 1"}) +
                             VCard({"N;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;;;;", "TEL;HOME:1", "TEL;WORK:2"}) +
                             VCard({"FN:Last", "TEL:3"});
    Feed(text);
    const auto whole = Entries(host);
    const auto wholeNums = Numbers(host);
    ASSERT_EQ(whole.size(), 3u);
    for (size_t split = 1; split < text.size(); ++split) {
        kz::ResetDownloadState();
        host.Clear();
        Feed(text.substr(0, split));
        Feed(text.substr(split));
        auto parts = Entries(host);
        ASSERT_EQ(parts.size(), whole.size()) << "split at " << split;
        for (size_t i = 0; i < whole.size(); ++i)
            EXPECT_EQ(std::memcmp(&parts[i], &whole[i], sizeof parts[i]), 0) << "split at " << split;
        EXPECT_EQ(Numbers(host).size(), wholeNums.size());
    }
}

TEST_F(VCardParserTest, ParseVCardChunk_IncompleteVCardWaitsForNextIndication) {
    const std::string a = VCard({"N:A;;;;", "TEL:1"}), b = VCard({"N:B;;;;", "TEL:2"});
    Feed(a + b.substr(0, 20));
    EXPECT_EQ(Entries(host).size(), 1u);
    EXPECT_EQ(kz::g_nVCardBufferLen, 2u + 20u);   // the line end after the first vCard, and the start
    Feed(b.substr(20));
    EXPECT_EQ(Entries(host).size(), 2u);
}

TEST_F(VCardParserTest, ParseVCardChunk_VCardLongerThanBufferIsSkippedInItsPlace) {
    const std::string text = VCard({"N:First;;;;", "TEL:1"}) +
                             VCard({"N:Huge;;;;", "NOTE:" + std::string(1500, 'n'), "TEL:2"}) +
                             VCard({"N:Third;;;;", "TEL:3"});
    for (size_t chunk : {100u, 400u, 1000u}) {
        kz::ResetDownloadState();
        host.Clear();
        for (size_t p = 0; p < text.size(); p += chunk) Feed(text.substr(p, chunk));
        auto e = Entries(host);
        ASSERT_EQ(e.size(), 2u) << "chunk " << chunk;
        EXPECT_STREQ(e[0].PBName, "First");
        EXPECT_STREQ(e[1].PBName, "Third");
        EXPECT_EQ(e[1].index, 2u) << "chunk " << chunk;
        EXPECT_LT(kz::g_nVCardBufferLen, kz::kVCardBufferSize);
    }
}

TEST_F(VCardParserTest, ParseVCardChunk_AnnouncedLengthBeyondMessageIsCut) {
    std::string v = VCard({"N:A;;;;", "TEL:1"});
    auto m = DataInd(v, 1000);
    kz::ParseVCardChunk(m.data(), m.size());
    EXPECT_EQ(Entries(host).size(), 1u);
    uint8_t tiny[5] = {};
    kz::ParseVCardChunk(tiny, sizeof tiny);   // shorter than its head: nothing
    EXPECT_EQ(Entries(host).size(), 1u);
}

TEST(VCardAccumulator, Feed_NeverWritesOutsideItsBuffer) {
    constexpr size_t kCap = 1024, kGuard = 64;
    std::vector<char> memory(kCap + 2 * kGuard, char(0xA5));
    uint32_t length = 0;
    kz::VCardAccumulator acc(memory.data() + kGuard, kCap, &length);
    acc.Clear();
    std::mt19937 rng(7);
    const std::string pieces[] = {"BEGIN:VCARD\r\n", "END:VCARD\r\n", "N:x;;;;\r\n", std::string(700, 'z'),
                                  std::string(1500, 'q'), "END:VC", "ARD\r\n"};
    std::vector<std::string> blocks;
    for (int round = 0; round < 2000; ++round) {
        const std::string& p = pieces[rng() % std::size(pieces)];
        acc.Feed(p, blocks);
        ASSERT_LT(length, kCap);
        ASSERT_EQ(memory[kGuard + length], '\0');
    }
    for (size_t i = 0; i < kGuard; ++i) {
        ASSERT_EQ(memory[i], char(0xA5)) << "before, byte " << i;
        ASSERT_EQ(memory[kGuard + kCap + i], char(0xA5)) << "after, byte " << i;
    }
    for (const auto& b : blocks) EXPECT_LT(b.size(), kCap);
}

}  // namespace
