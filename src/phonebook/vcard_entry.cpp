#include "phonebook/vcard_entry.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "core/trace.h"
#include "phonebook/vcard_text.h"

namespace kz {

namespace {

constexpr size_t kFieldText = 31;       // number and time stamp buffers hold 32 bytes
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kCallStamp = "X-IRMC-CALL-DATETIME";
constexpr std::string_view kCallStampParams = "X-IRMC-CALL-DATETIME;";

// A property line: [group.]NAME[;parameters]:value. Names are matched
// without regard to case.
struct Property {
    std::string_view name;     // without its group
    std::string_view params;   // from the first ';' up to the ':', or empty
    std::string_view value;    // after the first ':'
};

std::optional<Property> SplitProperty(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view head = line.substr(0, colon);
    size_t semi = head.find(';');
    Property p{head.substr(0, semi), semi == std::string_view::npos ? std::string_view{} : head.substr(semi),
               line.substr(colon + 1)};
    if (size_t dot = p.name.rfind('.'); dot != std::string_view::npos) p.name.remove_prefix(dot + 1);
    return p;
}


void CopyText(char* field, size_t fieldSize, std::string_view text) {
    size_t n = std::min(text.size(), fieldSize - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

bool IsNumberSeparator(char c) { return c == '-' || c == ' '; }

// The number as dialled: separators and control bytes removed, valid UTF-8,
// at most 31 bytes.
void ParseTelephone(const Property& p, VCardEntry& entry) {
    std::string number;
    for (char c : p.value)
        if (!IsNumberSeparator(c) && !IsControlByte(c)) number += c;
    number = ToUtf8(number, {});
    VCardNumber item{};
    CopyText(item.number, sizeof item.number, std::string_view(number).substr(0, Utf8Prefix(number, kFieldText)));
    item.type = TelephoneNumberType(p.params);
    entry.numbers.push_back(item);

    structPhoneDate& rec = entry.record;
    rec.numberType = item.type;
    if (rec.PNCount == 0) std::memcpy(rec.PBNumber, item.number, sizeof rec.PBNumber);
    ++rec.PNCount;
}

// The word of the call time stamp that each call list expects.
std::string_view CallStampWord(uint32_t listType) {
    switch (listType) {
        case KZ_PB_RECEIVED: return "RECEIVED";
        case KZ_PB_DIALED: return "DIALED";
        case KZ_PB_MISSED: return "MISSED";
        default: return {};
    }
}

// YYYYMMDDThhmmss into YYYY/MM/DD and hh:mm:ss; a short stamp leaves the
// missing part empty.
void ParseCallStamp(const Property& p, uint32_t listType, structPhoneDate& rec) {
    char stamp[kFieldText + 1] = {};
    std::string_view word = CallStampWord(listType);
    if (!word.empty() && ContainsNoCase(p.params, word)) {
        std::string text;   // printable ASCII only: the fields are cut at fixed places
        for (char c : p.value)
            if (c > ' ' && c < '\x7F') text += c;
        CopyText(stamp, sizeof stamp, text);
    }
    const char date[] = {stamp[0], stamp[1], stamp[2], stamp[3], '/', stamp[4], stamp[5],
                         '/',      stamp[6], stamp[7], '\0'};
    const char time[] = {stamp[9], stamp[10], ':', stamp[11], stamp[12], ':', stamp[13], stamp[14], '\0'};
    CopyText(rec.date, sizeof rec.date, date);
    CopyText(rec.time, sizeof rec.time, time);
}

struct Names {
    std::string formatted, structured;   // the last FN and N read
};

// Returns false when the vCard is to be skipped.
bool HandleLine(std::string_view line, uint32_t listType, Names& names, VCardEntry& entry) {
    auto p = SplitProperty(line);
    if (!p) return true;
    if (EqualsNoCase(p->name, "FN")) {
        names.formatted = DecodeName(p->params, p->value, false);
    } else if (EqualsNoCase(p->name, "N")) {
        names.structured = DecodeName(p->params, p->value, true);
    } else if (EqualsNoCase(p->name, "TEL")) {
        if (ContainsNoCase(line, kCallStampParams)) {
            KZ_TRACE("telephone line with a call time stamp, vCard skipped");
            return false;
        }
        ParseTelephone(*p, entry);
    } else if (EqualsNoCase(p->name, kCallStamp)) {
        ParseCallStamp(*p, listType, entry.record);
    }
    return true;
}

}  // namespace

uint8_t TelephoneNumberType(std::string_view params) {
    struct Rule {
        std::string_view word;
        uint8_t type;
    };
    static constexpr Rule kRules[] = {
        {"CELL", KZ_NUMBER_CELL}, {"FAX", KZ_NUMBER_FAX}, {"WORK", KZ_NUMBER_WORK}, {"HOME", KZ_NUMBER_HOME}};
    for (const Rule& r : kRules)
        if (ContainsNoCase(params, r.word)) return r.type;
    return KZ_NUMBER_CELL;
}

bool ParseVCardBlock(std::string_view block, uint32_t listType, VCardEntry& entry) {
    std::memset(&entry.record, 0, sizeof entry.record);
    entry.numbers.clear();
    if (block.empty()) {
        KZ_TRACE("vCard without property lines skipped");
        return false;
    }
    Names names;
    for (size_t pos = 0, end; (end = block.find(kLineEnd, pos)) != std::string_view::npos;
         pos = end + kLineEnd.size()) {
        if (!HandleLine(block.substr(pos, end - pos), listType, names, entry)) return false;
    }
    // The formatted name wins; the structured one stands in when it is empty.
    structPhoneDate& rec = entry.record;
    CopyText(rec.PBName, sizeof rec.PBName, names.formatted.empty() ? names.structured : names.formatted);
    // A call from a withheld number still has its time stamp.
    bool stamped = listType != KZ_PB_PHONEBOOK && rec.date[0] != '\0';
    if (rec.PBName[0] == '\0' && rec.PBNumber[0] == '\0' && !stamped) {
        KZ_TRACE("vCard without name and number skipped");
        return false;
    }
    return true;
}

}  // namespace kz
