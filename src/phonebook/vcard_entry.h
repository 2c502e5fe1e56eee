// One vCard into a phonebook entry record and its list of numbers.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "KZ_Tarn.h"

namespace kz {

struct VCardNumber {
    char number[32];   // NUL-terminated, at most 31 characters
    uint8_t type;      // KZ_NUMBER_*
};

struct VCardEntry {
    structPhoneDate record;            // index and type are left to the caller
    std::vector<VCardNumber> numbers;  // every telephone line, in vCard order
};

// Parses one block (from "BEGIN:VCARD" up to "END:VCARD") pulled as list
// listType. Returns false when the vCard yields no entry: it has no property
// lines, a telephone line carries a call time stamp, or it has neither a name
// nor a number.
bool ParseVCardBlock(std::string_view block, uint32_t listType, VCardEntry& entry);

// Number type of a telephone line, by substring search, first match wins.
uint8_t TelephoneNumberType(std::string_view line);

}  // namespace kz
