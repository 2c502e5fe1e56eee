// The phone's vCard text.
#include "vcard_writer.h"

#include <algorithm>
#include <cstdio>

namespace kzsim {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr size_t kQpLineLength = 40;     // phones fold their QP names early
constexpr size_t kFoldLength = 75;
constexpr unsigned char kPrintableFirst = 0x21;
constexpr unsigned char kPrintableLast = 0x7E;
constexpr unsigned char kUtf8ContinuationMask = 0xC0;
constexpr unsigned char kUtf8Continuation = 0x80;

const char* Version(const VCardStyle& s) { return s.version30 ? "3.0" : "2.1"; }

bool UseQp(const VCardStyle& s) { return s.quotedPrintable && !s.version30; }

// One property line with its CR LF, folded as the style says.
std::string Line(const std::string& line, const VCardStyle& s) {
    if (s.foldLongLines && s.version30) {
        return FoldLine(line) + kCrLf;
    }
    return line + kCrLf;
}

// A name property (N or FN) with the given components joined by ';'.
// Quoted-printable lines are never folded the 3.0 way: their soft line
// breaks do that.
std::string NameLine(const std::string& key, const std::vector<std::string>& parts,
                     const VCardStyle& s) {
    std::string value;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) value += ';';
        value += UseQp(s) ? QuotedPrintable(parts[i], s.foldLongLines) : parts[i];
    }
    if (UseQp(s)) {
        return key + ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:" + value + kCrLf;
    }
    return Line(key + ":" + value, s);
}

std::string TelLine(const PhoneNumber& n, const VCardStyle& s) {
    if (n.type.empty()) return Line("TEL:" + n.number, s);
    return Line((s.version30 ? "TEL;TYPE=" : "TEL;") + n.type + ":" + n.number, s);
}

const char* CallKind(ListType type) {
    switch (type) {
    case ListType::Received: return "RECEIVED";
    case ListType::Dialed: return "DIALED";
    case ListType::Missed: return "MISSED";
    default: return "";
    }
}

}  // namespace

std::string QuotedPrintable(const std::string& value, bool fold) {
    std::string out;
    size_t lineLength = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        std::string unit;
        const bool trailingSpace = c == ' ' && i + 1 == value.size();
        if ((c >= kPrintableFirst && c <= kPrintableLast && c != '=') ||
            (c == ' ' && !trailingSpace)) {
            unit.assign(1, static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "=%02X", c);
            unit = hex;
        }
        if (fold && lineLength + unit.size() > kQpLineLength) {
            out += "=\r\n";
            lineLength = 0;
        }
        out += unit;
        lineLength += unit.size();
    }
    return out;
}

std::string FoldLine(const std::string& line) {
    std::string out;
    size_t start = 0;
    size_t limit = kFoldLength;
    while (line.size() - start > limit) {
        size_t cut = start + limit;
        while (cut > start + 1 &&
               (static_cast<unsigned char>(line[cut]) & kUtf8ContinuationMask) ==
                   kUtf8Continuation) {
            --cut;   // not inside a UTF-8 sequence
        }
        out.append(line, start, cut - start);
        out += "\r\n ";
        start = cut;
        limit = kFoldLength - 1;   // the leading space counts
    }
    out.append(line, start, std::string::npos);
    return out;
}

std::string ContactVCard(const Contact& c, const VCardStyle& s) {
    std::string v = std::string("BEGIN:VCARD") + kCrLf + "VERSION:" + Version(s) + kCrLf;
    v += NameLine("N", {c.family, c.given, "", "", ""}, s);
    if (!c.formattedName.empty()) {
        v += NameLine("FN", {c.formattedName}, s);
    }
    for (const PhoneNumber& n : c.numbers) v += TelLine(n, s);
    v += std::string("END:VCARD") + kCrLf;
    return v;
}

std::string CallVCard(const CallEntry& call, ListType type, const VCardStyle& s) {
    std::string v = std::string("BEGIN:VCARD") + kCrLf + "VERSION:" + Version(s) + kCrLf;
    if (call.name.empty()) {
        v += Line("N:", s);
    } else {
        v += NameLine("N", {call.name, "", "", "", ""}, s);
        v += NameLine("FN", {call.name}, s);
    }
    v += TelLine(PhoneNumber{"", call.number}, s);
    if (!call.time.empty()) {
        const std::string key = s.version30 ? "X-IRMC-CALL-DATETIME;TYPE=" : "X-IRMC-CALL-DATETIME;";
        v += Line(key + CallKind(type) + ":" + call.time, s);
    }
    v += std::string("END:VCARD") + kCrLf;
    return v;
}

std::vector<std::string> MalformedVCards() {
    constexpr size_t kLongNote = 1100;
    const std::string head = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
    const std::string end = "END:VCARD\r\n";
    return {
        "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:Early;End;;;\r\nTEL:100\r\n" + end,
        head + end,
        head + "N:Stamp;In;;;\r\nTEL;X-IRMC-CALL-DATETIME;MISSED:20240101T000000\r\n" + end,
        head + "N:;;;;\r\n" + end,
        head + "N:Long;Note;;;\r\nTEL:104\r\nNOTE:" + std::string(kLongNote, 'x') + "\r\n" + end,
        "BEGIN:VCARD\nVERSION:2.1\nN:Unix;Lines;;;\nTEL:105\nEND:VCARD\n",
        head + "FN:" + std::string(80, 'N') + "\r\nTEL:" + std::string(40, '6') + "\r\n" + end,
        head + "FN;ENCODING=QUOTED-PRINTABLE:Bad=ZZName=\r\nTEL:107\r\n" + end,
        head + "N:Cut;Off;;;\r\nTEL:108\r\n",
    };
}

std::vector<std::string> CutText(const std::string& text, size_t size) {
    std::vector<std::string> pieces;
    size = std::max<size_t>(size, 1);
    for (size_t at = 0; at < text.size(); at += size) {
        pieces.push_back(text.substr(at, size));
    }
    return pieces;
}

}  // namespace kzsim
