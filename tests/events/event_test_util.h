// Builders of inbound module messages and a fixture for the event handlers
// that spells everything a handler did as one list of words.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "core/sync_objects.h"
#include "events/connection.h"
#include "settings/registry.h"
#include "support/connection_state.h"
#include "support/test_support.h"

namespace kztest {

// A module message: its head, then the parameters from byte 6, padded to an even length.
inline std::vector<uint8_t> Msg(uint16_t id, std::vector<uint8_t> params, uint8_t cls = 2) {
    std::vector<uint8_t> m(6 + params.size() + params.size() % 2, 0);
    kz::msg::WriteHead(m.data(), m.size(), cls, id);
    std::copy(params.begin(), params.end(), m.begin() + 6);
    return m;
}

inline void Append(std::vector<uint8_t>& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }
inline void Append(std::vector<uint8_t>& v, std::initializer_list<uint8_t> b) { v.insert(v.end(), b); }

using Handler = void (*)(const uint8_t*, size_t);
inline void Feed(Handler h, const std::vector<uint8_t>& m) { h(m.data(), m.size()); }

// One message to a handler and what it must have done (see EventsTest::Take).
struct Step {
    Handler handler;
    std::vector<uint8_t> message;
    std::vector<std::string> did;
};

inline constexpr const char* kTarnIni = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";

// One registry slot as tarn.ini holds it.
inline std::string SlotSection(int slot, const std::string& name, const std::string& addressHex,
                               const std::string& keyHex = "ffffffffffffffffffffffffffffffff") {
    return "[Device" + std::to_string(slot) + "]\r\nid=" + std::to_string(slot) + "\r\nname=" + name +
           "\r\naddress=" + addressHex + "\r\nkey=" + keyHex + "\r\npb=255\r\n";
}

template <class Record>
Record As(const std::vector<uint8_t>& bytes) {
    Record r{};
    std::memcpy(&r, bytes.data(), std::min(sizeof r, bytes.size()));
    return r;
}

// UTF-16 text of a status-bar field, "<hex>" for what is not ASCII.
template <size_t N>
std::string Narrow(const uint16_t (&wide)[N]) {
    std::string s;
    for (size_t i = 0; i < N && wide[i]; ++i) {
        char c[8];
        std::snprintf(c, sizeof c, wide[i] < 0x80 ? "%c" : "<%x>", wide[i]);
        s += c;
    }
    return s;
}

// An event of the event thread, created for the test and put where the handlers signal it.
class Signal {
public:
    explicit Signal(std::atomic<KzHandle>& slot) : slot_(slot), event_(KzCreateEvent(0, 0)) { slot_ = event_; }
    ~Signal() { slot_ = nullptr, KzCloseHandle(event_); }
    bool Fired() { return KzWaitForSingleObject(event_, 0) == KZ_WAIT_OBJECT_0; }

private:
    std::atomic<KzHandle>& slot_;
    KzHandle event_;
};

// State reset, a temporary root, the submit recorder and the host windows.
class EventsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetState(); }
    // Resets every subsystem and starts recording afresh.
    void ResetState() {
        ResetAllState();
        recorder.Reattach();
        Take();
    }
    void TearDown() override { ResetAllState(); }

    // Writes tarn.ini and loads the registry, then forgets what loading reported.
    void LoadRegistry(const std::string& ini) {
        root.Write(kTarnIni, ini);
        kz::LoadPairedDevices();
        Take();
    }

    // What was done since the last Take, then forgotten: the requests (as
    // SpellRequest names them, "id N first-byte" for the rest), the
    // notifications "code/param" with ":len" when it is not 0 and what their
    // block says, the status posts "navig w/l", the status-bar records
    // "call kind number" and "playing state flags title|artist|album".
    std::vector<std::string> Take() {
        std::vector<std::string> out;
        for (const auto& m : recorder.Messages()) out.push_back(Spell(m));
        for (const auto& n : host.Notifications()) out.push_back(Spell(n));
        host.Pump();
        for (const auto& p : host.NavigPosts())
            out.push_back("navig " + std::to_string(p.wParam) + "/" + std::to_string(p.lParam));
        for (const auto& b : host.Inforbar()) {
            if (b.kind == KZ_INFORBAR_CALL_INFO) {
                auto r = As<CallInfoRecord>(b.bytes);
                out.push_back("call " + std::to_string(r.kind) + " " + Narrow(r.number));
            } else {
                auto r = As<NowPlayingRecord>(b.bytes);
                out.push_back("playing " + std::to_string(r.playState) + " " + std::to_string(r.flags) + " " +
                              Narrow(r.title) + "|" + Narrow(r.artist) + "|" + Narrow(r.album));
            }
        }
        for (auto& s : out) s.erase(s.find_last_not_of(' ') + 1);
        recorder.Clear();
        host.Clear();
        return out;
    }

    // Feeds each step and checks what it did.
    void Play(const std::vector<Step>& steps) {
        for (size_t i = 0; i < steps.size(); ++i) {
            Feed(steps[i].handler, steps[i].message);
            EXPECT_EQ(Take(), steps[i].did) << "step " << i;
        }
    }

    TempRoot root;
    SubmitRecorder recorder;
    HostWindows host;

private:
    static std::string Spell(const SubmittedMessage& m) {
        switch (m.id()) {
            case kz::msgid::kSetNibbleMask: return "mask " + std::to_string(m.bytes.at(6) << 8 | m.bytes.at(7));
            case kz::msgid::kCurrentCalls: return "calls?";
            case kz::msgid::kAvrcpVendor:   // a notification registration names its event
                return m.bytes.at(15) == 0x20 ? "attributes" : "register " + std::to_string(m.bytes.at(19));
            default: return SpellRequest(m, {kz::g_abCurrAddr, kz::g_abCurrAddr + 6});
        }
    }
    static std::string Spell(const Notification& n) {
        std::string s = std::to_string(n.code) + "/" + std::to_string(n.param);
        if (n.len) s += ":" + std::to_string(n.len);
        if (n.data.empty()) return s;
        switch (n.code) {
            case KZ_NOTIFY_CALL_RECORD: {
                auto r = As<CallRecord>(n.data);
                return s + " " + std::to_string(r.index) + " " + std::to_string(r.state) + " " + r.number;
            }
            case KZ_NOTIFY_DEVICE_INFO:
            case KZ_NOTIFY_INQUIRY: {
                auto r = As<DeviceInfoRecord>(n.data);
                return s + " " + r.slot + " " + r.name + " " + std::string(r.address, 12) + " " +
                       std::to_string(r.connected);
            }
            case KZ_NOTIFY_TRACK_INFO: {
                auto r = As<TrackInfoBlock>(n.data);
                return s + " " + r.title + "|" + r.artist + "|" + r.album;
            }
            default: return s + " " + n.Text();
        }
    }
};

}  // namespace kztest
