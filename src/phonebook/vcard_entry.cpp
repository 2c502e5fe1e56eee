#include "phonebook/vcard_entry.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "frame/trace.h"
#include "phonebook/vcard_parser.h"

namespace kz {

namespace {

constexpr size_t kLineMax = 255;        // the line buffer holds 256 bytes
constexpr size_t kFieldText = 31;       // number and time stamp buffers hold 32 bytes
constexpr size_t kVersionLines = 2;     // "BEGIN:VCARD" and "VERSION:..." precede the properties
constexpr size_t kShortestNameLine = 6; // "N:;;;;" and up
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kCallStamp = "X-IRMC-CALL-DATETIME;";

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

struct PropertyLines {
    std::vector<std::string_view> lines;
    bool formattedName = false;   // some line holds "FN;" or "FN:"
};

PropertyLines SplitLines(std::string_view block) {
    PropertyLines result;
    size_t pos = 0;
    size_t number = 0;
    for (size_t end; (end = block.find(kLineEnd, pos)) != std::string_view::npos;
         pos = end + kLineEnd.size()) {
        if (number++ < kVersionLines) continue;
        std::string_view line = block.substr(pos, end - pos);
        result.lines.push_back(line);
        if (Contains(line, "FN;") || Contains(line, "FN:")) result.formattedName = true;
    }
    return result;
}

// The key runs up to and including the first ';' or ':', whichever comes
// first; a line without ':' has none.
std::string_view KeyOf(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    size_t semi = line.find(';');
    size_t end = (semi != std::string_view::npos && semi < colon) ? semi : colon;
    return line.substr(0, end + 1);
}

// The text after the first ':', at most max bytes.
std::string_view ValueOf(std::string_view line, size_t max) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    return line.substr(colon + 1, max);
}

// A value that ends in '=' continues on the next line (quoted-printable soft
// line break): the '=' is replaced by that line.
std::string JoinSoftBreaks(const std::vector<std::string_view>& lines, size_t& i) {
    std::string joined(lines[i].substr(0, kLineMax));
    while (!joined.empty() && joined.back() == '=' && i + 1 < lines.size()) {
        joined.pop_back();
        joined.append(lines[++i]);
        if (joined.size() > kLineMax) joined.resize(kLineMax);
    }
    return joined;
}

void CopyText(char* field, size_t fieldSize, std::string_view text) {
    size_t n = std::min(text.size(), fieldSize - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

void ParseTelephone(std::string_view line, VCardEntry& entry) {
    std::string number(ValueOf(line, kFieldText + 1));
    number = number.c_str();   // the value ends at a NUL, as in the zero-filled buffer
    if (number.find_first_of("- ") != std::string::npos)
        std::erase_if(number, [](char c) { return c == '-' || c == ' '; });
    VCardNumber item{};
    CopyText(item.number, sizeof item.number, number);
    item.type = TelephoneNumberType(line);
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
void ParseCallStamp(std::string_view line, uint32_t listType, structPhoneDate& rec) {
    char stamp[kFieldText + 1] = {};
    std::string_view word = CallStampWord(listType);
    if (!word.empty() && Contains(line, word)) CopyText(stamp, sizeof stamp, ValueOf(line, kFieldText));
    const char date[] = {stamp[0], stamp[1], stamp[2], stamp[3], '/', stamp[4], stamp[5],
                         '/',      stamp[6], stamp[7], '\0'};
    const char time[] = {stamp[9], stamp[10], ':', stamp[11], stamp[12], ':', stamp[13], stamp[14], '\0'};
    CopyText(rec.date, sizeof rec.date, date);
    CopyText(rec.time, sizeof rec.time, time);
}

// Returns false when the vCard is to be skipped.
bool HandleLine(const PropertyLines& props, size_t& i, uint32_t listType, VCardEntry& entry) {
    std::string_view line = props.lines[i].substr(0, kLineMax);
    std::string_view key = KeyOf(line);
    structPhoneDate& rec = entry.record;
    if (key == "N;" || key == "N:") {
        if (props.formattedName || line.size() < kShortestNameLine) return true;
        std::string joined = JoinSoftBreaks(props.lines, i);
        DecodeVCardValue(joined.c_str(), joined.size(), rec.PBName);
    } else if (key == "FN;" || key == "FN:") {
        std::string joined = JoinSoftBreaks(props.lines, i);
        DecodeVCardValue(joined.c_str(), joined.size(), rec.PBName);
    } else if (key == "TEL;" || key == "TEL:") {
        if (Contains(line, kCallStamp)) {
            KZ_TRACE("telephone line with a call time stamp, vCard skipped");
            return false;
        }
        ParseTelephone(line, entry);
    } else if (key == kCallStamp) {
        ParseCallStamp(line, listType, rec);
    }
    return true;
}

}  // namespace

uint8_t TelephoneNumberType(std::string_view line) {
    struct Rule {
        std::string_view word;
        uint8_t type;
    };
    static constexpr Rule kRules[] = {
        {"CELL", KZ_NUMBER_CELL}, {"FAX", KZ_NUMBER_FAX}, {"WORK", KZ_NUMBER_WORK}, {"HOME", KZ_NUMBER_HOME}};
    for (const Rule& r : kRules)
        if (Contains(line, r.word)) return r.type;
    return KZ_NUMBER_CELL;
}

bool ParseVCardBlock(std::string_view block, uint32_t listType, VCardEntry& entry) {
    std::memset(&entry.record, 0, sizeof entry.record);
    entry.numbers.clear();
    PropertyLines props = SplitLines(block);
    if (props.lines.empty()) {
        KZ_TRACE("vCard without property lines skipped");
        return false;
    }
    for (size_t i = 0; i < props.lines.size(); ++i)
        if (!HandleLine(props, i, listType, entry)) return false;
    if (entry.record.PBName[0] == '\0' && entry.record.PBNumber[0] == '\0') {
        KZ_TRACE("vCard without name and number skipped");
        return false;
    }
    return true;
}

}  // namespace kz
