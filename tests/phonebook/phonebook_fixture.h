// Phonebook test helpers: module messages, vCards, a registered phone, decoders.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "events/connection.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "phonebook/vcard_parser.h"
#include "settings/registry.h"
#include "support/test_support.h"

namespace pbtest {

// Phonebook data indication carrying text (announcedLength overrides the count field).
inline std::vector<uint8_t> DataInd(std::string_view text, int announcedLength = -1) {
    size_t bytes = 8 + text.size() + (text.size() & 1);
    std::vector<uint8_t> m(bytes, 0);
    kz::msg::WriteHead(m.data(), bytes, 2, kz::msgid::kPbapData);
    size_t count = announcedLength < 0 ? text.size() : size_t(announcedLength);
    m[6] = uint8_t(count >> 8);
    m[7] = uint8_t(count);
    std::memcpy(m.data() + 8, text.data(), text.size());
    return m;
}

inline void Feed(std::string_view text) {
    auto m = DataInd(text);
    kz::ParseVCardChunk(m.data(), m.size());
}

inline std::string VCard(const std::vector<std::string>& lines, const std::string& eol = "\r\n",
                         const std::string& version = "2.1") {
    std::string v = "BEGIN:VCARD" + eol + "VERSION:" + version + eol;
    for (const auto& l : lines) v.append(l).append(eol);
    return v + "END:VCARD" + eol;
}
inline std::string VCard30(const std::vector<std::string>& lines) { return VCard(lines, "\r\n", "3.0"); }

// Pull confirmation: status, list size.
inline std::vector<uint8_t> PullCfm(uint8_t status, uint16_t size) {
    std::vector<uint8_t> m(10, 0);
    kz::msg::WriteHead(m.data(), m.size(), 2, kz::msgid::kPbapPull);
    m[6] = status;
    m[7] = uint8_t(size >> 8);
    m[8] = uint8_t(size);
    return m;
}

// The module answers a size request with the size and a transfer complete.
inline void AnswerSize(uint16_t size) {
    auto cfm = PullCfm(0, size);
    kz::OnPhoneBookSizeCfm(cfm.data(), cfm.size());
    kz::OnPhoneBookComplete(nullptr, 0);
}

struct Pull {
    unsigned type, count, start;
    bool operator==(const Pull&) const = default;
};

inline std::vector<Pull> Pulls(const kztest::SubmitRecorder& rec) {
    std::vector<Pull> pulls;
    for (const auto& m : rec.Messages())
        if (m.id() == kz::msgid::kPbapPull && m.bytes.size() >= 20)
            pulls.push_back({unsigned(m.bytes[6] << 8 | m.bytes[7]), unsigned(m.bytes[16] << 8 | m.bytes[17]),
                             unsigned(m.bytes[18] << 8 | m.bytes[19])});
    return pulls;
}

template <class Record>
std::vector<Record> Records(const kztest::HostWindows& host, uint32_t code) {
    std::vector<Record> out;
    for (const auto& n : host.Notifications())
        if (n.code == code && n.data.size() == sizeof(Record)) std::memcpy(&out.emplace_back(), n.data.data(), sizeof(Record));
    return out;
}
inline auto Entries(const kztest::HostWindows& host) { return Records<structPhoneDate>(host, KZ_NOTIFY_PHONEBOOK_ENTRY); }
inline auto Numbers(const kztest::HostWindows& host) { return Records<structPhoneNum>(host, KZ_NOTIFY_PHONEBOOK_NUMBER); }

// index|name|number|number type|number count[|date time]
inline std::string Describe(const structPhoneDate& e) {
    std::string d = std::to_string(e.index) + "|" + e.PBName + "|" + e.PBNumber + "|" +
                    std::to_string(e.numberType) + "|" + std::to_string(e.PNCount);
    if (e.date[0] != '\0') d += "|" + std::string(e.date) + " " + e.time;
    return d;
}

// The phone's side of a download of one list: each batch asked for comes as
// `chunk`-byte data indications, then the transfer complete; from stallAt on, nothing.
struct FakePhone {
    std::vector<std::string> vcards;
    size_t chunk = 200;
    size_t stallAt = SIZE_MAX;

    void Download(uint32_t type, const kztest::SubmitRecorder& rec) const {
        constexpr int kMaxBatches = 100;
        kz::GetPhoneBookSize(int32_t(type));
        AnswerSize(uint16_t(vcards.size()));
        kz::GetPhoneBookData(int32_t(type), int32_t(vcards.size()));
        for (int b = 0; b < kMaxBatches && kz::IsPhoneBookDownloading(); ++b) {
            const Pull p = Pulls(rec).back();
            std::string text;
            for (size_t i = p.start; i < std::min({vcards.size(), size_t(p.start + p.count), stallAt}); ++i)
                text += vcards[i];
            for (size_t at = 0; at < text.size(); at += chunk) Feed(text.substr(at, chunk));
            kz::OnPhoneBookComplete(nullptr, 0);
        }
    }
};

// The current phone in slot 0, its phonebook stored (pb 1) or not (255).
inline void UsePhone(const kztest::TempRoot& root, int pb) {
    root.Write("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini",
               "[Device0]\r\nid=0\r\nname=Phone\r\naddress=001122334455\r\n"
               "key=ffffffffffffffffffffffffffffffff\r\npb=" + std::to_string(pb) +
                   "\r\n[General]\r\nCurrIndex=0\r\n");
    kz::LoadPairedDevices();
}

// Resets before the members are made, so that the recorder's tap survives.
struct ResetFirst {
    ResetFirst() { kztest::ResetAllState(); }
};

class PhoneBookTest : public ::testing::Test, private ResetFirst {
protected:
    void TearDown() override { kz::JoinPhoneBookThread(); }

    kztest::TempRoot root;
    kztest::HostWindows host;
    kztest::SubmitRecorder rec;
};

}  // namespace pbtest
