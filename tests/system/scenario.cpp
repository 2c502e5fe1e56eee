#include "scenario.h"

#include <algorithm>
#include <cstdio>

#include "channel/module_ids.h"
#include "module_simulator.h"
#include "support/link_support.h"

namespace kztest {

namespace {

constexpr size_t kPullTypeAt = 6;
constexpr size_t kPullCountAt = 16;
constexpr size_t kPullStartAt = 18;

uint16_t Be16(const std::vector<uint8_t>& m, size_t at) {
    return at + 1 < m.size() ? uint16_t((m[at] << 8) | m[at + 1]) : 0;
}

}  // namespace

std::string HexAddress(const kzsim::Address& a) {
    std::string s;
    char b[3];
    for (uint8_t x : a) {
        std::snprintf(b, sizeof b, "%02x", x);
        s += b;
    }
    return s;
}

std::string HexKey(const std::array<uint8_t, 16>& key) {
    std::string s;
    char b[3];
    for (uint8_t x : key) {
        std::snprintf(b, sizeof b, "%02x", x);
        s += b;
    }
    return s;
}

Scenario::Scenario(kzsim::Options options) : lib_(options) {}

bool Scenario::Restart() {
    const size_t versions = Notes(KZ_NOTIFY_MODULE_VERSION).size();
    const size_t ready = Count(KZ_NOTIFY_DEVICE_READY, 1);
    lib_.Close();
    lib_.Reopen();
    sim().PeerReset();
    // The new module-ready handler has run (84) and its RES was acknowledged (1).
    return Until([&] {
        return Notes(KZ_NOTIFY_MODULE_VERSION).size() > versions &&
               Count(KZ_NOTIFY_DEVICE_READY, 1) > ready;
    });
}

bool Scenario::Until(const std::function<bool()>& pred, uint32_t ms) {
    if (host().WaitFor(pred, ms)) return true;
    // What happened instead, for the failure that follows.
    std::fprintf(stderr, "wait of %u ms timed out:%s\n", ms, Dump().c_str());
    return false;
}

std::vector<Notification> Scenario::Notes(uint32_t code) const {
    std::vector<Notification> out;
    for (auto& n : lib_.host().Notifications())
        if (n.code == code) out.push_back(n);
    return out;
}

size_t Scenario::Count(uint32_t code, uint32_t param) const {
    size_t n = 0;
    for (auto& note : lib_.host().Notifications())
        if (note.code == code && note.param == param) ++n;
    return n;
}

bool Scenario::WaitNote(uint32_t code, uint32_t param, size_t count, uint32_t ms) {
    return Until([&] { return Count(code, param) >= count; }, ms);
}

std::vector<uint32_t> Scenario::CodesAmong(const std::vector<uint32_t>& codes) const {
    std::vector<uint32_t> out;
    for (uint32_t c : lib_.host().Codes())
        if (std::find(codes.begin(), codes.end(), c) != codes.end()) out.push_back(c);
    return out;
}

std::vector<std::pair<uint32_t, uint32_t>> Scenario::NotesAmong(
    const std::vector<uint32_t>& codes) const {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (auto& n : lib_.host().Notifications())
        if (std::find(codes.begin(), codes.end(), n.code) != codes.end())
            out.emplace_back(n.code, n.param);
    return out;
}

size_t Scenario::CountPosts(uintptr_t w, intptr_t l) const {
    size_t n = 0;
    for (auto& p : lib_.host().NavigPosts())
        if (p.wParam == w && p.lParam == l) ++n;
    return n;
}

bool Scenario::WaitPost(uintptr_t w, intptr_t l, size_t count, uint32_t ms) {
    return Until([&] { return CountPosts(w, l) >= count; }, ms);
}

std::vector<kzsim::ReceivedMessage> Scenario::Requests(uint16_t id) const {
    std::vector<kzsim::ReceivedMessage> out;
    for (auto& m : lib_.sim().Received())
        if (m.id == id) out.push_back(m);
    return out;
}

std::vector<uint16_t> Scenario::RequestIds() const {
    std::vector<uint16_t> out;
    for (auto& m : lib_.sim().Received()) out.push_back(m.id);
    return out;
}

bool Scenario::WaitRequest(uint16_t id, size_t count, uint32_t ms) {
    return Until([&] { return Requests(id).size() >= count; }, ms);
}

bool Scenario::WaitRequestWith(uint16_t id, size_t at, uint8_t value, uint32_t ms) {
    return Until(
        [&] {
            for (auto& m : Requests(id))
                if (at < m.bytes.size() && m.bytes[at] == value) return true;
            return false;
        },
        ms);
}

bool Scenario::WaitQuiet(uint32_t ms) {
    // Two idle checks in a row with the host loop pumped between them, so a
    // request released by the last confirmation is seen too.
    return Until(
        [&] {
            if (!sim().WaitOutgoingIdle(0)) return false;
            const size_t before = sim().Received().size();
            host().Pump(30);
            return sim().WaitOutgoingIdle(0) && sim().Received().size() == before;
        },
        ms);
}

std::string Scenario::Dump() const {
    std::string out = "\nnotifications:";
    for (const auto& n : lib_.host().Notifications())
        out += " " + std::to_string(n.code) + "/" + std::to_string(n.param);
    out += "\nmodule received:";
    for (const auto& m : lib_.sim().Received()) out += " " + std::to_string(m.id);
    const kzsim::LinkStats st = lib_.sim().Stats();
    out += "\nmodule link: bad frames " + std::to_string(st.badFramesIn) + ", repeated " +
           std::to_string(st.duplicatesIn) + ", resends " + std::to_string(st.resends) +
           ", peer resets " + std::to_string(st.peerResets);
    // The last frames on the line: time, direction, seq/ack, channel and id.
    const auto wire = lib_.sim().Wire();
    constexpr size_t kLastFrames = 40;
    out += "\nlast frames:";
    for (size_t i = wire.size() > kLastFrames ? wire.size() - kLastFrames : 0; i < wire.size(); ++i) {
        const ParsedFrame p = ParseFrame(wire[i].bytes);
        char line[96];
        std::snprintf(line, sizeof line, "\n  %6u %s %s seq %u ack %u ch %u id %u", wire[i].tickMs,
                      wire[i].fromHost ? "host  " : "module", p.valid ? "" : "(bad)", p.seq(),
                      p.ack(), p.channel(), p.reliable() ? p.id() : 0);
        out += line;
    }
    return out;
}

void Scenario::StorePhone(const StoredPhone& p, bool current) {
    const std::string ini = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
    std::string text = root().Read(ini);
    char section[128];
    std::snprintf(section, sizeof section, "[Device%d]\r\nid=%d\r\nname=%s\r\naddress=%s\r\n",
                  p.slot, p.slot, p.name.c_str(), HexAddress(p.address).c_str());
    text += section;
    text += "key=" + HexKey(p.key) + "\r\npb=" + std::to_string(p.pb) + "\r\n";
    if (current) text += "[General]\r\nCurrIndex=" + std::to_string(p.slot) + "\r\n";
    root().Write(ini, text);
    const std::string dat = "\\BACKUP\\KZ_TARN\\tarn.dat";
    root().Write(dat, root().Read(dat) + HexAddress(p.address) + HexKey(p.key));
}

bool Scenario::StartWithConnectedPhone() {
    StorePhone({});
    if (!Start() || !ConnectStoredPhone()) return false;
    sim().ClearReceived();
    host().Clear();
    return true;
}

bool Scenario::ConnectStoredPhone() {
    KZ_BT_SetInitialValue();
    return WaitNote(KZ_NOTIFY_CONNECT_COMPLETE, 0) && WaitNote(KZ_NOTIFY_PHONEBOOK_STATE, 2) &&
           WaitQuiet();
}

std::vector<Pull> Pulls(const std::vector<kzsim::ReceivedMessage>& received) {
    std::vector<Pull> out;
    for (auto& m : received)
        if (m.id == kz::msgid::kPbapPull)
            out.push_back({Be16(m.bytes, kPullTypeAt), Be16(m.bytes, kPullCountAt),
                           Be16(m.bytes, kPullStartAt)});
    return out;
}

std::u16string Wide(const uint16_t* text, size_t max) {
    std::u16string s;
    for (size_t i = 0; i < max && text[i]; ++i) s.push_back(char16_t(text[i]));
    return s;
}

}  // namespace kztest
