// Helpers shared by the benchmarks (header-only: every bench/*.cpp is its own
// executable). Deterministic inputs, so runs compare.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "kz_platform.h"
#include "phone.h"
#include "vcard_writer.h"

namespace kzbench {

// A fresh temporary folder, removed when the object goes; it is the head-unit
// root while it lives, so head-unit paths land inside.
class TempRoot {
public:
    TempRoot() {
        char pattern[] = "/tmp/kz_bench_XXXXXX";
        const char* dir = mkdtemp(pattern);
        path_ = dir ? dir : "/tmp";
        KzSetRootDir(path_.c_str());
    }
    ~TempRoot() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Bytes of payload in which about one byte in `escapeEvery` needs SLIP
// escaping (0xC0 or 0xDB), the rest spread over all other values.
inline std::vector<uint8_t> PayloadBytes(size_t n, unsigned escapeEvery, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) {
        if (escapeEvery != 0 && rng() % escapeEvery == 0) {
            b = (rng() & 1) ? 0xC0 : 0xDB;
        } else {
            do {
                b = static_cast<uint8_t>(rng());
            } while (b == 0xC0 || b == 0xDB);
        }
    }
    return out;
}

// Contacts as a phone's address book holds them: family and given names,
// some with accents or CJK characters (quoted-printable in vCard 2.1), a
// formatted name for most, one to three numbers of mixed kinds written with
// spaces, dashes and parentheses.
inline std::vector<kzsim::Contact> RealisticContacts(size_t n, uint32_t seed = 11) {
    static const char* kFamily[] = {"Müller", "Schmidt", "Schneider", "Fischer", "Weber",
                                    "Meyer",  "Wagner",  "Becker",    "Hoffmann", "Schäfer",
                                    "Dubois", "García",  "Nowak",     "Rossi",   "张",
                                    "Smith",  "O'Brien", "Jørgensen", "Kowalski", "Lefèvre"};
    static const char* kGiven[] = {"Anna",  "Jürgen", "Maria", "Thomas", "Sophie",
                                   "Lukas", "Léa",    "José",  "三",     "Katarzyna",
                                   "John",  "Fatima", "Ole",   "Chiara", "Mehmet"};
    static const char* kKinds[] = {"CELL", "HOME", "WORK", "", "CELL;PREF", "FAX"};
    std::mt19937 rng(seed);
    std::vector<kzsim::Contact> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        kzsim::Contact c;
        c.family = kFamily[rng() % std::size(kFamily)];
        c.given = kGiven[rng() % std::size(kGiven)];
        if (rng() % 5 != 0) c.formattedName = c.given + " " + c.family;
        const size_t numbers = 1 + rng() % 3;
        for (size_t k = 0; k < numbers; ++k) {
            char num[32];
            std::snprintf(num, sizeof num, "+49 (%u) %03u-%04u", static_cast<unsigned>(30 + rng() % 900),
                          static_cast<unsigned>(rng() % 1000), static_cast<unsigned>(rng() % 10000));
            c.numbers.push_back({kKinds[rng() % std::size(kKinds)], num});
        }
        out.push_back(std::move(c));
    }
    return out;
}

// The phone's vCard text for these contacts, in the given style.
inline std::string VCardText(const std::vector<kzsim::Contact>& contacts,
                             const kzsim::VCardStyle& style) {
    std::string text;
    for (const auto& c : contacts) text += kzsim::ContactVCard(c, style);
    return text;
}

// Phonebook data indications: text length big-endian at bytes 6-7, text from byte 8.
inline std::vector<std::vector<uint8_t>> VCardIndications(const std::string& text, size_t chunk) {
    constexpr uint8_t kClassInd = 2;
    std::vector<std::vector<uint8_t>> out;
    for (const std::string& piece : kzsim::CutText(text, chunk)) {
        std::vector<uint8_t> m(8 + piece.size() + (piece.size() & 1), 0);
        kz::msg::WriteHead(m.data(), m.size(), kClassInd, kz::msgid::kPbapData);
        m[6] = static_cast<uint8_t>(piece.size() >> 8);
        m[7] = static_cast<uint8_t>(piece.size() & 0xFF);
        std::copy(piece.begin(), piece.end(), m.begin() + 8);
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace kzbench
