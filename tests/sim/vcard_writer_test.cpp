// The phone's vCard text where a broken writer would not show in the
// library's downloads: quoted-printable and folds that never split a
// character or an escape. Call lists and 3.0 cards are proven by the
// phonebook scenarios.
#include "vcard_writer.h"

#include <gtest/gtest.h>

namespace kzsim {
namespace {

TEST(VCardWriter_Contact, Version21PlainAndQuotedPrintable) {
    const Contact c{"John Doe", "Doe", "John", {{"HOME", "111"}, {"", "+49 (89) 765-430"}}};
    EXPECT_EQ(ContactVCard(c, VCardStyle{}),
              "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John;;;\r\nFN:John Doe\r\n"
              "TEL;HOME:111\r\nTEL:+49 (89) 765-430\r\nEND:VCARD\r\n");
    const Contact zh{"", "\xE5\xBC\xA0", "\xE4\xB8\x89", {{"CELL", "1"}}};
    VCardStyle qp;
    qp.quotedPrintable = true;
    EXPECT_EQ(ContactVCard(zh, qp),
              "BEGIN:VCARD\r\nVERSION:2.1\r\n"
              "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=B8=89;;;\r\n"
              "TEL;CELL:1\r\nEND:VCARD\r\n");
}

TEST(VCardWriter_Folding, SoftLineBreaksNeverSplitAnEscape) {
    const std::string name(30, '\xC3');   // 30 bytes, each encoded as =C3
    const std::string qp = QuotedPrintable(name, true);
    std::string joined;
    size_t pos = 0, next;
    while ((next = qp.find("=\r\n", pos)) != std::string::npos) {
        EXPECT_LE(next - pos, 40u);
        joined += qp.substr(pos, next - pos);
        pos = next + 3;
    }
    joined += qp.substr(pos);
    EXPECT_GT(qp.size(), joined.size());   // it was folded
    std::string expected;
    for (int i = 0; i < 30; ++i) expected += "=C3";
    EXPECT_EQ(joined, expected);
}

TEST(VCardWriter_Folding, LongLinesFoldOnUtf8Boundaries) {
    std::string line = "FN:";
    for (int i = 0; i < 40; ++i) line += "\xE4\xB8\x89";   // 123 bytes
    const std::string folded = FoldLine(line);
    std::string unfolded;
    size_t pos = 0, next;
    while ((next = folded.find("\r\n ", pos)) != std::string::npos) {
        EXPECT_LE(next - pos + (pos == 0 ? 0 : 1), 75u);
        unfolded += folded.substr(pos, next - pos);
        const unsigned char after = static_cast<unsigned char>(folded[next + 3]);
        EXPECT_NE(after & 0xC0, 0x80) << "fold inside a UTF-8 sequence";
        pos = next + 3;
    }
    unfolded += folded.substr(pos);
    EXPECT_EQ(unfolded, line);
    EXPECT_EQ(FoldLine("short"), "short");
}

}  // namespace
}  // namespace kzsim
