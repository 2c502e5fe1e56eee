// Shared helpers of the phonebook tests: module messages, vCards, a phone in
// the registry, and decoding of recorded notifications and pull requests.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "channel/module_message.h"
#include "events/connection.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "phonebook/vcard_parser.h"
#include "settings/registry.h"
#include "support/test_support.h"

namespace pbtest {

inline constexpr uint16_t kPullId = 512;
inline constexpr uint16_t kDataId = 529;

// Phonebook data indication carrying text (announcedLength overrides the count field).
inline std::vector<uint8_t> DataInd(std::string_view text, int announcedLength = -1) {
    size_t bytes = 8 + text.size() + (text.size() & 1);
    std::vector<uint8_t> m(bytes, 0);
    kz::msg::WriteHead(m.data(), bytes, 2, kDataId);
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

inline std::string VCard(const std::vector<std::string>& lines) {
    std::string v = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
    for (const auto& l : lines) v.append(l).append("\r\n");
    return v + "END:VCARD\r\n";
}

// Pull confirmation: status, list size.
inline std::vector<uint8_t> PullCfm(uint8_t status, uint16_t size) {
    std::vector<uint8_t> m(10, 0);
    kz::msg::WriteHead(m.data(), m.size(), 2, kPullId);
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
inline std::ostream& operator<<(std::ostream& os, const Pull& p) {
    return os << "(" << p.type << "," << p.count << "," << p.start << ")";
}

inline std::vector<Pull> Pulls(const kztest::SubmitRecorder& rec) {
    std::vector<Pull> pulls;
    for (const auto& m : rec.Messages())
        if (m.id() == kPullId && m.bytes.size() >= 20)
            pulls.push_back({unsigned(m.bytes[6] << 8 | m.bytes[7]), unsigned(m.bytes[16] << 8 | m.bytes[17]),
                             unsigned(m.bytes[18] << 8 | m.bytes[19])});
    return pulls;
}

template <class Record>
std::vector<Record> Records(const kztest::HostWindows& host, uint32_t code) {
    std::vector<Record> out;
    for (const auto& n : host.Notifications())
        if (n.code == code && n.data.size() == sizeof(Record)) {
            Record r;
            std::memcpy(&r, n.data.data(), sizeof r);
            out.push_back(r);
        }
    return out;
}
inline std::vector<structPhoneDate> Entries(const kztest::HostWindows& host) {
    return Records<structPhoneDate>(host, KZ_NOTIFY_PHONEBOOK_ENTRY);
}
inline std::vector<structPhoneNum> Numbers(const kztest::HostWindows& host) {
    return Records<structPhoneNum>(host, KZ_NOTIFY_PHONEBOOK_NUMBER);
}

// Registers one phone in slot 0 as the current phone, with the given
// phonebook-stored flag (1 stored, 255 none).
inline void UsePhone(const kztest::TempRoot& root, int pb) {
    root.Write("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini",
               "[Device0]\r\nid=0\r\nname=Phone\r\naddress=001122334455\r\n"
               "key=ffffffffffffffffffffffffffffffff\r\npb=" + std::to_string(pb) +
                   "\r\n[General]\r\nCurrIndex=0\r\n");
    kz::LoadPairedDevices();
}

inline int SlotPb(int slot) {
    PairedDeviceRecord rec{};
    return kz::GetSlot(slot, &rec) ? rec.pb : -1;
}

// Resets every subsystem before the fixture's members are made, so that the
// recorder's tap survives the reset.
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
