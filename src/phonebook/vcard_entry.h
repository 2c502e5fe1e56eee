// One vCard into a phonebook entry record and its list of numbers.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "KZ_Tarn.h"

namespace kz {

struct VCardNumber {
    char number[32];   // NUL-terminated, at most 31 bytes
    uint8_t type;      // KZ_NUMBER_*
};

struct VCardEntry {
    structPhoneDate record;            // index and type are left to the caller
    std::vector<VCardNumber> numbers;  // every telephone line, in vCard order
};

// Parses one block of the accumulator (the used property lines of one vCard,
// each ending in CR LF) pulled as list listType. Returns false when the vCard
// yields no entry: it has no property lines, a telephone line carries a call
// time stamp, or it has neither a name nor a number (nor, in a call list, a
// time stamp).
bool ParseVCardBlock(std::string_view block, uint32_t listType, VCardEntry& entry);

// Number type of a telephone line from its parameters (";TYPE=work,voice",
// ";CELL", ...): the first of CELL, FAX, WORK, HOME found, in any case; cell
// when none.
uint8_t TelephoneNumberType(std::string_view params);

// The name that an N (structured) or FN value gives, as UTF-8: the transfer
// encoding and the declared CHARSET undone, escapes resolved, control bytes
// gone, N's components joined by single spaces in their order with empty ones
// left out. At most 63 bytes, cut between characters.
std::string DecodeName(std::string_view params, std::string_view value, bool structured);

}  // namespace kz
