// Builders of inbound module messages and a fixture for the event handlers.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "settings/registry.h"
#include "support/test_support.h"

namespace kztest {

// A module message: length in words, 0x55, class, id (little-endian), then the
// parameters from byte 6, padded to an even length.
inline std::vector<uint8_t> Msg(uint16_t id, std::vector<uint8_t> params, uint8_t cls = 2) {
    std::vector<uint8_t> m(6 + params.size() + (params.size() % 2), 0);
    m[2] = 0x55;
    m[3] = cls;
    m[4] = uint8_t(id & 0xFF);
    m[5] = uint8_t(id >> 8);
    std::copy(params.begin(), params.end(), m.begin() + 6);
    m[0] = uint8_t((m.size() / 2) & 0xFF);
    m[1] = uint8_t((m.size() / 2) >> 8);
    return m;
}

inline void Append(std::vector<uint8_t>& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }
inline void Append(std::vector<uint8_t>& v, std::initializer_list<uint8_t> b) { v.insert(v.end(), b); }

// Runs a handler on a message.
template <class Handler>
void Feed(Handler h, const std::vector<uint8_t>& m) {
    h(m.data(), m.size());
}

inline constexpr const char* kTarnIni = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";

// One registry slot as tarn.ini holds it.
inline std::string SlotSection(int slot, const std::string& name, const std::string& addressHex,
                               const std::string& keyHex = "ffffffffffffffffffffffffffffffff") {
    return "[Device" + std::to_string(slot) + "]\r\nid=" + std::to_string(slot) + "\r\nname=" + name +
           "\r\naddress=" + addressHex + "\r\nkey=" + keyHex + "\r\npb=255\r\n";
}

// State reset, a temporary root, the submit recorder and the host windows.
class EventsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetState(); }
    // Resets every subsystem and starts recording afresh.
    void ResetState() {
        ResetAllState();
        recorder.Reattach();
        recorder.Clear();
        host.Clear();
    }
    void TearDown() override { ResetAllState(); }

    // Writes tarn.ini and loads the registry, then forgets what loading reported.
    void LoadRegistry(const std::string& ini) {
        root.Write(kTarnIni, ini);
        kz::LoadPairedDevices();
        host.Clear();
        recorder.Clear();
    }

    // Messages submitted with the given id.
    std::vector<SubmittedMessage> Sent(uint16_t id) const {
        std::vector<SubmittedMessage> out;
        for (auto& m : recorder.Messages())
            if (m.id() == id) out.push_back(m);
        return out;
    }
    std::vector<NavigPost> Posts() {
        host.Pump();
        return host.NavigPosts();
    }

    TempRoot root;
    SubmitRecorder recorder;
    HostWindows host;
};

}  // namespace kztest
