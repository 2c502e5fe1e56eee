#include "serve_api.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace kztool {

namespace {

constexpr size_t kMaxArgs = 4;
constexpr size_t kMaxNumberDigits = 30;
constexpr size_t kMaxTextBytes = 63;   // names and titles: the module's fields hold 64 with the zero
constexpr size_t kMaxEcho = 40;

enum class Kind {
    kNumber,   // phone number: digits, * #, a leading +, spaces
    kPin,      // four digits
    kIndex,    // an inquiry result, 0 to 99
    kSlot,     // a paired-phone slot, 0 to 4
    kDtmf,     // one of 0-9 * # A-D
    kLevel,    // signal or battery, 0 to 5
    kGain,     // 0 to 255
    kCount,    // 1 to 65535
    kText,     // UTF-8 text of 1 to 63 bytes, no control characters or quotes
    kWord,     // one of the words given
};

struct ArgRule {
    Kind kind;
    const char* what;    // placeholder or "a|b|c" for kWord
};

struct WebCommand {
    const char* name;
    size_t required;
    std::vector<ArgRule> args;
    bool simulatorOnly = false;
};

const std::vector<WebCommand>& Table() {
    static const std::vector<WebCommand> kTable = {
        // the head unit
        {"init", 0, {}},
        {"scan", 0, {{Kind::kWord, "stop"}}},
        {"pair", 2, {{Kind::kIndex, "INDEX"}, {Kind::kPin, "PIN"}}},
        {"connect", 1, {{Kind::kSlot, "SLOT"}}},
        {"disconnect", 0, {{Kind::kWord, "a2dp"}}},
        {"delete", 1, {{Kind::kSlot, "SLOT"}}},
        {"paired", 0, {}},
        {"dial", 1, {{Kind::kNumber, "NUMBER"}}},
        {"answer", 0, {}},
        {"hangup", 0, {}},
        {"hold", 0, {}},
        {"switch", 0, {}},
        {"end", 0, {{Kind::kWord, "waiting"}}},
        {"dtmf", 1, {{Kind::kDtmf, "CHAR"}}},
        {"audio", 1, {{Kind::kWord, "car|phone"}}},
        {"mute", 1, {{Kind::kWord, "on|off"}}},
        {"play", 0, {}},
        {"pause", 0, {}},
        {"next", 0, {}},
        {"previous", 0, {}},
        {"source", 1, {{Kind::kWord, "a2dp"}}},
        {"phonebook", 1, {{Kind::kWord, "size|download|load"},
                          {Kind::kWord, "contacts|received|dialed|missed"},
                          {Kind::kCount, "COUNT"}}},
        {"pin", 1, {{Kind::kPin, "PIN"}}},
        {"autoanswer", 1, {{Kind::kWord, "on|off"}}},
        {"autoconnect", 1, {{Kind::kWord, "on|off"}}},
        {"micmode", 0, {{Kind::kWord, "internal|external"}}},
        {"micgain", 0, {{Kind::kGain, "GAIN"}}},
        {"name", 0, {}},
        // the simulated phone
        {"phone ring", 1, {{Kind::kNumber, "NUMBER"}}, true},
        {"phone waiting", 1, {{Kind::kNumber, "NUMBER"}}, true},
        {"phone answer", 0, {}, true},
        {"phone remote-answer", 0, {}, true},
        {"phone hangup", 0, {}, true},
        {"phone play", 0, {}, true},
        {"phone pause", 0, {}, true},
        {"phone open", 0, {}, true},
        {"phone close", 0, {}, true},
        {"phone track", 1, {{Kind::kText, "TITLE"}, {Kind::kText, "ARTIST"}, {Kind::kText, "ALBUM"}}, true},
        {"phone battery", 1, {{Kind::kLevel, "LEVEL"}}, true},
        {"phone signal", 1, {{Kind::kLevel, "LEVEL"}}, true},
        {"phone service", 1, {{Kind::kWord, "on|off"}}, true},
        {"phone roaming", 1, {{Kind::kWord, "on|off"}}, true},
        {"phone connect", 1, {{Kind::kWord, "hfp|a2dp|avrcp|pbap"}}, true},
        {"phone disconnect", 1, {{Kind::kWord, "hfp|a2dp|avrcp|pbap"}}, true},
        {"phone contact", 2, {{Kind::kText, "NAME"}, {Kind::kNumber, "NUMBER"}}, true},
    };
    return kTable;
}

const WebCommand* Find(const std::string& name) {
    for (const auto& c : Table())
        if (name == c.name) return &c;
    return nullptr;
}

// The text as it may be shown back: bounded, control characters as '?'.
std::string Echo(const std::string& text) {
    std::string out;
    for (unsigned char ch : text.substr(0, kMaxEcho)) out += ch < 0x20 || ch == 0x7F ? '?' : char(ch);
    return text.size() > kMaxEcho ? out + "..." : out;
}

bool InRange(const std::string& s, long min, long max) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    const long v = std::strtol(s.c_str(), nullptr, 10);
    return v >= min && v <= max;
}

// Lead bytes that start 1 to 4 byte sequences (no overlong two-byte forms).
bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        if (c >= 0xC2 && c <= 0xDF) extra = 1;
        else if (c >= 0xE0 && c <= 0xEF) extra = 2;
        else if (c >= 0xF0 && c <= 0xF4) extra = 3;
        else if (c >= 0x80) return false;
        if (i + extra >= s.size() && extra > 0) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

bool ValidNumber(const std::string& s) {
    size_t digits = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char ch = s[i];
        if (ch == ' ') continue;
        if (ch == '+' && digits == 0 && s.find_first_not_of(' ') == i) continue;
        if ((ch < '0' || ch > '9') && ch != '*' && ch != '#') return false;
        ++digits;
    }
    return digits >= 1 && digits <= kMaxNumberDigits;
}

bool ValidText(const std::string& s) {
    if (s.empty() || s.size() > kMaxTextBytes || !ValidUtf8(s)) return false;
    for (unsigned char ch : s)
        if (ch < 0x20 || ch == 0x7F || ch == '"') return false;
    return s.find_first_not_of(' ') != std::string::npos;
}

bool WordIn(const std::string& s, const std::string& words) {
    size_t start = 0;
    while (start <= words.size()) {
        const size_t bar = words.find('|', start);
        const std::string w = words.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (s == w) return true;
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return false;
}

// "" when valid, else what the argument must be.
std::string CheckArg(const ArgRule& rule, const std::string& s) {
    switch (rule.kind) {
        case Kind::kNumber:
            return ValidNumber(s) ? "" : "1 to 30 digits, * or #, with an optional + first";
        case Kind::kPin: return s.size() == 4 && InRange(s, 0, 9999) ? "" : "four digits";
        case Kind::kIndex: return InRange(s, 0, 99) ? "" : "a search result's number, 0 to 99";
        case Kind::kSlot: return InRange(s, 0, 4) ? "" : "a slot from 0 to 4";
        case Kind::kDtmf:
            return s.size() == 1 && std::string("0123456789*#ABCD").find(s[0]) != std::string::npos
                       ? ""
                       : "one of 0-9 * # A-D";
        case Kind::kLevel: return InRange(s, 0, 5) ? "" : "a level from 0 to 5";
        case Kind::kGain: return InRange(s, 0, 255) ? "" : "a gain from 0 to 255";
        case Kind::kCount: return InRange(s, 1, 65535) ? "" : "a count from 1 to 65535";
        case Kind::kText:
            return ValidText(s) ? "" : "text of 1 to 63 bytes without control characters or quotes";
        case Kind::kWord: return WordIn(s, rule.what) ? "" : std::string("one of ") + rule.what;
    }
    return "valid";
}

std::string Usage(const WebCommand& c) {
    std::string usage = c.name;
    for (size_t i = 0; i < c.args.size(); ++i)
        usage += i < c.required ? std::string(" ") + c.args[i].what
                                : std::string(" [") + c.args[i].what + "]";
    return usage;
}

}  // namespace

bool ParseCommandBody(const std::string& body, ApiCommand& out, std::string& error) {
    const auto json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        error = "the body is not a JSON object";
        return false;
    }
    const auto command = json.find("command");
    if (command == json.end() || !command->is_string()) {
        error = "\"command\" (a string) is missing";
        return false;
    }
    out.name = command->get<std::string>();
    out.args.clear();
    if (const auto args = json.find("args"); args != json.end()) {
        if (!args->is_array() || args->size() > kMaxArgs) {
            error = "\"args\" is an array of at most 4 strings";
            return false;
        }
        for (const auto& a : *args) {
            if (!a.is_string()) {
                error = "\"args\" is an array of strings";
                return false;
            }
            out.args.push_back(a.get<std::string>());
        }
    }
    for (const auto& [key, value] : json.items())
        if (key != "command" && key != "args") {
            error = "unknown field \"" + Echo(key) + "\"";
            return false;
        }
    return true;
}

std::string CheckCommand(const ApiCommand& command, bool simulator) {
    const WebCommand* c = Find(command.name);
    if (!c) return "unknown command '" + Echo(command.name) + "'";
    if (c->simulatorOnly && !simulator) return command.name + ": needs the built-in simulator";
    if (command.args.size() < c->required || command.args.size() > c->args.size())
        return "usage: " + Usage(*c);
    for (size_t i = 0; i < command.args.size(); ++i) {
        const std::string expected = CheckArg(c->args[i], command.args[i]);
        if (!expected.empty())
            return command.name + ": " + c->args[i].what + " is " + expected + ", not '" +
                   Echo(command.args[i]) + "'";
    }
    return "";
}

bool IsServeCommand(const ApiCommand& command) { return command.name == "phone contact"; }

std::string ConsoleLine(const ApiCommand& command) {
    std::string line = command.name;
    for (const auto& a : command.args) line += " \"" + a + "\"";
    return line;
}

std::string OutcomeJson(bool ok, const std::string& command, const std::string& message) {
    return nlohmann::json{{"ok", ok}, {"command", command}, {"message", message}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace kztool
