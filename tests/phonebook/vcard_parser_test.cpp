// vCards as phones write them, cut anywhere, within the buffer's bounds.
#include "events/connection.h"
#include "phonebook/phonebook_files.h"
#include "phonebook_fixture.h"

using namespace pbtest;

namespace {

class VCardParserTest : public PhoneBookTest {
protected:
    // The list's entries as stored (phonebook) or announced (call lists) after a fresh download.
    std::vector<std::string> Downloaded(uint32_t list, const FakePhone& phone) {
        kz::ResetPhoneBookStore();
        kz::ResetDownloadState();
        KzDeleteFile(kz::PhoneBookFilePath(0).c_str());
        UsePhone(root, 255);
        kz::g_bHfpConnected = kz::g_bPbapConnected = 1;
        host.Clear();
        rec.Clear();
        phone.Download(list, rec);
        kz::JoinPhoneBookThread();
        auto records = list != KZ_PB_PHONEBOOK ? Entries(host)
            : kz::ReadRecordFile<structPhoneDate>(kz::PhoneBookFilePath(0)).value_or(std::vector<structPhoneDate>{});
        std::vector<std::string> described;
        for (const auto& r : records) described.push_back(Describe(r));
        return described;
    }
};

std::string Repeat(const std::string& s, size_t n) {
    std::string out;
    while (n--) out += s;
    return out;
}

struct Shape {
    const char* what;
    uint32_t list;
    std::vector<std::string> vcards;   // the phone's list
    std::vector<std::string> stored;   // Describe() of every entry the host gets, in order
};

std::vector<Shape> Shapes() {
    const std::string base64Line = Repeat("QUJD", 18);
    const std::string photo21 = "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n" + Repeat("  " + base64Line + "\r\n", 40);
    std::string photo30 = "PHOTO;ENCODING=b;TYPE=JPEG:" + Repeat(base64Line, 60);
    for (size_t at = 74; at < photo30.size(); at += 77) photo30.insert(at, "\r\n ");   // folded the 3.0 way
    const std::string qpNote = "NOTE;ENCODING=QUOTED-PRINTABLE:Call me=\r\nTEL:999 no more=\r\n" +
                               Repeat(Repeat("=41", 24) + "=\r\n", 30) + "end";
    return {
        {"marker case", KZ_PB_PHONEBOOK,
         {"BEGIN:vCard\r\nVERSION:3.0\r\nFN:Ann Ames\r\nTEL;TYPE=CELL:111\r\nEND:vCard\r\n",
          "begin:vcard\r\nversion:2.1\r\nfn:Bob Brown\r\ntel;home:222\r\nend:vcard\r\n", VCard({"FN:Cy", "TEL:333"}),
          "BEGIN:VCARD\r\nVERSION:3.0\r\nFn:Dee\r\nTel;Type=Work:444\r\nEnd:VCard\r\n"},
         {"0|Ann Ames|111|0|1", "1|Bob Brown|222|2|1", "2|Cy|333|0|1", "3|Dee|444|1|1"}},
        {"folded lines", KZ_PB_PHONEBOOK,
         {VCard30({"FN:Ann", "TEL;CELL:905-666\r\n -1234"}), VCard30({"FN:Jo\r\n hn Smi\r\n\tth", "TEL:1"}),
          VCard({"FN:Mary\r\n Ann", "TEL:2"}),   // 2.1 folds at white space that stays
          VCard({"FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BC=\r\nller=\r\n Lef=C3=A8vre", "TEL:3"}),
          VCard30({"FN:Eve", "TE\r\n L;HOME:44"})},
         {"0|Ann|9056661234|0|1", "1|John Smith|1|0|1", "2|Mary Ann|2|0|1", "3|M\xC3\xBCller Lef\xC3\xA8vre|3|0|1",
          "4|Eve|44|2|1"}},
        {"line ends and control bytes", KZ_PB_PHONEBOOK,
         {VCard({"N:Kirk;James;;;", "TEL;CELL:+1 555 0100"}, "\r\r\n"), VCard({"FN:Uhura", "TEL:555-0101"}, "\n"),
          VCard({"FN:Sulu", "TEL:0102"}, "\r"), VCard({"FN:Bell\x07 Tab\tName", "TEL:+49\x08 170\x7f"})},
         {"0|Kirk James|+15550100|0|1", "1|Uhura|5550101|0|1", "2|Sulu|0102|0|1", "3|Bell Tab Name|+49170|0|1"}},
        {"groups and types", KZ_PB_PHONEBOOK,
         {VCard30({"FN:G1", "item1.TEL:111"}),
          VCard30({"item2.FN:G2", "item2.TEL;type=pref:222", "item2.X-ABLabel:_$!<Other>!$_"}),
          VCard30({"FN:W", "TEL;TYPE=work:333"}), VCard30({"FN:WC", "TEL;TYPE=work,CELL,VOICE:444"}),
          VCard30({"FN:WF", "TEL;type=WORK;type=fax:555"}), VCard({"FN:XF", "TEL;X-Fax:666"}),
          VCard({"FN:H", "tel;home:1-800-FAX-NOW"}), VCard({"FN:HC", "TEL;HOME;CELL:+49 (89) 765-430"}),
          VCard({"FN:Long", "TEL;WORK;VOICE:" + std::string(40, '9')})},
         {"0|G1|111|0|1", "1|G2|222|0|1", "2|W|333|1|1", "3|WC|444|0|1", "4|WF|555|3|1", "5|XF|666|3|1",
          "6|H|1800FAXNOW|2|1", "7|HC|+49(89)765430|0|1", "8|Long|" + std::string(31, '9') + "|1|1"}},
        {"big vCards", KZ_PB_PHONEBOOK,
         {VCard({photo21, "FN:Pic", "TEL:1"}), VCard30({photo30, "FN:Pic3", "TEL:2"}),
          VCard({"FN:Noted", qpNote, "TEL:3"}),
          VCard({"ADR;HOME:;;" + std::string(1500, 'x') + ";City;;;", "ADR;WORK:;;" + std::string(900, 'y') + ";;;;",
                 "NOTE:" + std::string(900, 'n'), photo21, "FN:Addr", "TEL:4"}),
          VCard({"FN:Many", "TEL:" + std::string(300, '1'), "TEL:" + std::string(300, '2'),
                 "TEL:" + std::string(300, '3'), "TEL:" + std::string(300, '4')}),   // used lines over the buffer
          VCard({"FN:After", "TEL:6"})},
         {"0|Pic|1|0|1", "1|Pic3|2|0|1", "2|Noted|3|0|1", "3|Addr|4|0|1", "5|After|6|0|1"}},
        {"no VERSION line, or VERSION not second", KZ_PB_PHONEBOOK,
         {"BEGIN:VCARD\r\nFN:NoVersion\r\nTEL:1\r\nEND:VCARD\r\n",
          "BEGIN:VCARD\r\nN:Last;Version;;;\r\nTEL:2\r\nVERSION:2.1\r\nEND:VCARD\r\n",
          "BEGIN:VCARD\r\nTEL:3\r\nVERSION:3.0\r\nFN:Third\r\nEND:VCARD\r\n"},
         {"0|NoVersion|1|0|1", "1|Last Version|2|0|1", "2|Third|3|0|1"}},
        {"names", KZ_PB_PHONEBOOK,
         {VCard({"N:Kirk;James;T.;;", "TEL:1"}), VCard30({"FN:Doe\\, John \\\\ Jr\\nII", "N:x;;;;"}),
          VCard30({"N:O\\;Neil;Pat;;;", "TEL:2"}), VCard30({"FN:", "N:Uhura;Nyota;;;", "TEL:3"}),
          VCard({"N:Doe;John;;;", "FN:Johnny"}),
          VCard({"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=B8=89;;;"}),
          VCard({"FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=f8rgen M=FCller"}),
          VCard({"FN;CHARSET=Windows-1252:Caf\xE9 \x80"}), VCard({"N;CHARSET=SHIFT_JIS:\x8E\x52\x93\x63;\x83\x5C;;;"}),
          VCard({"FN:Bad\xFF\xC3("}), VCard({"FN:" + std::string(62, 'a') + "\xC3\xA9"}),
          VCard({"FN:" + std::string(80, 'x')}), VCard({"FN;CHARSET=X-NONE:Plain"})},
         {"0|Kirk James T.|1|0|1", "1|Doe, John \\ Jr II||0|0", "2|O;Neil Pat|2|0|1", "3|Uhura Nyota|3|0|1",
          "4|Johnny||0|0", "5|\xE5\xBC\xA0 \xE4\xB8\x89||0|0", "6|J\xC3\xB8rgen M\xC3\xBCller||0|0",
          "7|Caf\xC3\xA9 \xE2\x82\xAC||0|0", "8|\xE5\xB1\xB1\xE7\x94\xB0 \xE3\x82\xBD||0|0",
          "9|Bad\xEF\xBF\xBD\xEF\xBF\xBD(||0|0", "10|" + std::string(62, 'a') + "||0|0",
          "11|" + std::string(63, 'x') + "||0|0", "12|Plain||0|0"}},
        {"withheld callers", KZ_PB_MISSED,
         {VCard({"N:", "TEL:", "X-IRMC-CALL-DATETIME;MISSED:20240101T101010"}),
          VCard({"FN:Gus", "TEL:+491", "X-IRMC-CALL-DATETIME;MISSED:2009\x07" "12\xC3\xA9" "31T235959"}),
          VCard({"N:", "TEL:"}),
          VCard({"FN:Ida", "TEL:5", "X-IRMC-CALL-DATETIME;DIALED:20240101T000000"}),
          VCard30({"fn:Jo", "tel:6", "x-irmc-call-datetime;type=missed:20100102"})},
         {"0|||0|1|2024/01/01 10:10:10", "1|Gus|+491|0|1|2009/12/31 23:59:59", "3|Ida|5|0|1",
          "4|Jo|6|0|1|2010/01/02 "}},
        {"skipped vCards keep their positions", KZ_PB_PHONEBOOK,
         {VCard({"N:;;;;"}), VCard({}), VCard({"N:Bad;;;;", "TEL;X-IRMC-CALL-DATETIME;DIALED:1"}),
          "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Cut\r\nTEL:1\r\n",   // its end never comes
          VCard({"FN:Next", "TEL:7"}), "END:VCARD\r\n" + VCard({"FN:Early", "TEL:8"})},
         {"4|Next|7|0|1", "5|Early|8|0|1"}},
    };
}

TEST_F(VCardParserTest, Download_EveryShapeGivesTheExpectedEntriesWhateverTheCut) {
    for (const Shape& shape : Shapes()) {
        for (size_t chunk : {1u, 7u, 60u, 500u}) {
            FakePhone phone{shape.vcards, chunk};
            EXPECT_EQ(Downloaded(shape.list, phone), shape.stored) << shape.what << ", chunk " << chunk;
            EXPECT_FALSE(kz::IsPhoneBookDownloading()) << shape.what;
            EXPECT_LT(kz::g_nVCardBufferLen, kz::kVCardBufferSize);
        }
    }
}

// Entries are announced unless the phonebook is stored; call lists are never kept.
TEST_F(VCardParserTest, ParseVCardChunk_AnnouncedAndKeptByListAndStoredFlag_LengthsBounded) {
    const struct {
        uint32_t list;
        int pb;
        const char* counts;   // entries/numbers announced, entries/numbers kept
    } cases[] = {{KZ_PB_PHONEBOOK, 255, "1/2 1/2"}, {KZ_PB_DIALED, 1, "1/0 0/0"}, {KZ_PB_PHONEBOOK, 1, "0/0 1/2"}};
    auto counts = [&] {   // no thread runs: the lists need no lock
        return std::to_string(Entries(host).size()) + "/" + std::to_string(Numbers(host).size()) + " " +
               std::to_string(kz::g_vecTempPhoneBook.size()) + "/" + std::to_string(kz::g_vecTempPhoneBookNum.size());
    };
    for (const auto& c : cases) {
        kz::ClearDownloadedPhoneBook();
        kz::ResetDownloadState();
        UsePhone(root, c.pb);
        host.Clear();
        kz::g_nCurrReqPhoneBookType = c.list;
        Feed(VCard({"N:A;;;;", "TEL;HOME:1", "TEL;WORK:2"}));
        EXPECT_EQ(counts(), c.counts) << c.list << "/" << c.pb;
    }
    host.Clear();
    kz::g_nCurrReqPhoneBookType = KZ_PB_DIALED;
    auto m = DataInd(VCard({"N:A;;;;", "TEL:1"}), 1000);   // announced as longer than it is
    kz::ParseVCardChunk(m.data(), m.size());
    uint8_t tiny[5] = {};
    kz::ParseVCardChunk(tiny, sizeof tiny);   // shorter than its head: nothing
    EXPECT_EQ(Entries(host).size(), 1u);
}

}  // namespace
