#include "scenario.h"

#include <cctype>
#include <map>
#include <optional>
#include <vector>

#include "commands.h"

namespace kztool {

namespace {

struct Scenario {
    std::optional<std::string> name, pin;
    std::optional<kzsim::Address> address;
    std::optional<std::vector<kzsim::Contact>> contacts;
    std::map<kzsim::ListType, std::vector<kzsim::CallEntry>> calls;
    std::optional<std::vector<kzsim::RemoteDevice>> nearby;
    std::optional<std::vector<kzsim::Track>> tracks;
};

bool ParseAddress(const std::string& text, kzsim::Address& out) {
    std::string digits;
    for (char ch : text)
        if (ch != ':' && ch != '-') digits += ch;
    if (digits.size() != 12) return false;
    for (size_t i = 0; i < 6; ++i) {
        const std::string pair = digits.substr(i * 2, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
            return false;
        out[i] = static_cast<uint8_t>(std::stoi(pair, nullptr, 16));
    }
    return true;
}

std::string Upper(std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

// One line's words into the scenario; "" when fine, else the reason.
std::string ApplyLine(const Args& w, Scenario& s) {
    const std::string& key = w[0];
    const size_t n = w.size() - 1;
    static const std::map<std::string, kzsim::ListType> kLists = {
        {"received", kzsim::ListType::Received}, {"dialed", kzsim::ListType::Dialed}, {"missed", kzsim::ListType::Missed}};
    if (key == "name" && n == 1) s.name = w[1];
    else if (key == "pin" && n == 1 && w[1].size() == 4 && w[1].find_first_not_of("0123456789") == std::string::npos)
        s.pin = w[1];
    else if (key == "address" && n == 1) {
        kzsim::Address a{};
        if (!ParseAddress(w[1], a)) return "an address has six hex bytes, like 00:1a:7d:da:71:13";
        s.address = a;
    } else if (key == "contact" && n >= 3 && n % 2 == 1) {
        kzsim::Contact c{w[1], "", "", {}};
        const size_t space = w[1].rfind(' ');
        c.given = space == std::string::npos ? w[1] : w[1].substr(0, space);
        c.family = space == std::string::npos ? "" : w[1].substr(space + 1);
        for (size_t i = 2; i + 1 < w.size(); i += 2) {
            const std::string type = Upper(w[i]);
            if (type != "CELL" && type != "WORK" && type != "HOME" && type != "FAX")
                return "a number's type is cell, work, home or fax, not '" + w[i] + "'";
            c.numbers.push_back({type, w[i + 1]});
        }
        if (!s.contacts) s.contacts.emplace();
        s.contacts->push_back(std::move(c));
    } else if (kLists.count(key) && (n == 2 || n == 3)) {
        s.calls[kLists.at(key)].push_back({w[1], w[2], n == 3 ? w[3] : ""});
    } else if (key == "nearby" && n == 2) {
        kzsim::RemoteDevice d;
        if (!ParseAddress(w[1], d.address)) return "an address has six hex bytes, like 00:1a:7d:da:71:13";
        d.name = w[2];
        if (!s.nearby) s.nearby.emplace();
        s.nearby->push_back(d);
    } else if (key == "track" && n >= 1 && n <= 3) {
        if (!s.tracks) s.tracks.emplace();
        s.tracks->push_back({w[1], n > 1 ? w[2] : "", n > 2 ? w[3] : ""});
    } else {
        return "expected name, address, pin, contact NAME TYPE NUMBER..., received|dialed|missed NAME NUMBER [TIME], "
               "nearby ADDRESS NAME or track TITLE [ARTIST] [ALBUM]";
    }
    return "";
}

}  // namespace

bool ApplyScenario(std::istream& in, kzsim::Phone& phone, std::string& error) {
    Scenario s;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t hash = line.find('#');
        const Args words = SplitLine(hash == std::string::npos ? line : line.substr(0, hash));
        if (words.empty()) continue;
        const std::string problem = ApplyLine(words, s);
        if (!problem.empty()) {
            error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    if (s.name) phone.setName(*s.name);
    if (s.address) phone.setAddress(*s.address);
    if (s.pin) phone.setAuthentication(true, *s.pin);
    if (s.contacts) phone.setContacts(*s.contacts);
    for (const auto& [type, entries] : s.calls) phone.setCallList(type, entries);
    if (s.nearby) phone.setNearbyDevices(*s.nearby);
    if (s.tracks) {
        phone.setPlaylist(*s.tracks);
        phone.setTrack(s.tracks->front());
    }
    return true;
}

}  // namespace kztool
