// The phone's vCard text for phonebook and call-list pulls. Pure functions.
#pragma once
#include <string>
#include <vector>

#include "phone.h"

namespace kzsim {

std::string ContactVCard(const Contact& contact, const VCardStyle& style);
std::string CallVCard(const CallEntry& call, ListType type, const VCardStyle& style);

// Quoted-printable encoding of a value. With fold, soft line breaks ("=" CR LF)
// keep encoded lines short, never inside an =XX triple.
std::string QuotedPrintable(const std::string& value, bool fold);

// Folds a content line (without its CR LF) at 75 bytes with CR LF and a space,
// never inside a UTF-8 sequence.
std::string FoldLine(const std::string& line);

// Cuts text into pieces of at most `size` bytes, at any byte (including inside
// a line, a CR LF pair or a UTF-8 sequence).
std::vector<std::string> CutText(const std::string& text, size_t size);

// vCards that real phones get wrong, for setRawVCards, in this order:
//  0 END:VCARD before BEGIN:VCARD        1 no property lines
//  2 a TEL line holding X-IRMC-CALL-DATETIME;   3 neither name nor number (N:;;;;)
//  4 longer than 1024 bytes (a long NOTE)  5 LF-only line ends
//  6 name over 63 bytes, number over 31 characters
//  7 broken quoted-printable (=ZZ, a dangling '=')
//  8 no END:VCARD (cut off; the next vCard's text follows it)
std::vector<std::string> MalformedVCards();

}  // namespace kzsim
