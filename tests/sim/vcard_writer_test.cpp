// The phone's vCard text where a broken writer would not show in the
// library's downloads: quoted-printable and folds that never split a
// character or an escape. Call lists and 3.0 cards are proven by the
// phonebook scenarios.
#include "vcard_writer.h"

#include <gtest/gtest.h>

namespace kzsim {
namespace {

// Joins the pieces between the breaks, checking each line's width (`lead`:
// the bytes a break puts before the next piece) and that no break falls
// inside an escape or a UTF-8 sequence.
std::string Unfold(const std::string& text, const std::string& brk, size_t width, size_t lead) {
    std::string joined;
    size_t pos = 0, next;
    while ((next = text.find(brk, pos)) != std::string::npos) {
        const std::string piece = text.substr(pos, next - pos);
        EXPECT_LE(piece.size() + (pos ? lead : 0), width);
        EXPECT_TRUE(piece.rfind('=') == std::string::npos || piece.rfind('=') + 3 <= piece.size()) << piece;
        joined += piece;
        pos = next + brk.size();
        EXPECT_NE(text[pos] & 0xC0, 0x80) << "break inside a UTF-8 sequence";
    }
    EXPECT_GT(pos, 0u) << "not folded";
    return joined + text.substr(pos);
}

TEST(VCardWriter_Contact, Version21PlainAndQuotedPrintable) {
    const Contact c{"John Doe", "Doe", "John", {{"HOME", "111"}, {"", "+49 (89) 765-430"}}};
    EXPECT_EQ(ContactVCard(c, VCardStyle{}),
              "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John;;;\r\nFN:John Doe\r\n"
              "TEL;HOME:111\r\nTEL:+49 (89) 765-430\r\nEND:VCARD\r\n");
    VCardStyle qp;
    qp.quotedPrintable = true;
    EXPECT_EQ(ContactVCard(Contact{"", "\xE5\xBC\xA0", "\xE4\xB8\x89", {{"CELL", "1"}}}, qp),
              "BEGIN:VCARD\r\nVERSION:2.1\r\n"
              "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=B8=89;;;\r\n"
              "TEL;CELL:1\r\nEND:VCARD\r\n");
}

TEST(VCardWriter_Folding, SoftLineBreaksAndFoldsSplitNoEscapeAndNoCharacter) {
    std::string escapes, line = "FN:";
    for (int i = 0; i < 30; ++i) escapes += "=C3";
    for (int i = 0; i < 40; ++i) line += "\xE4\xB8\x89";   // 123 bytes
    EXPECT_EQ(Unfold(QuotedPrintable(std::string(30, '\xC3'), true), "=\r\n", 40, 0), escapes);
    EXPECT_EQ(Unfold(FoldLine(line), "\r\n ", 75, 1), line);
    EXPECT_EQ(FoldLine("short"), "short");
}

}  // namespace
}  // namespace kzsim
