// Internal state of the phone model, shared by the phone's source files. All
// of it is guarded by the Phone's mutex; every member function here runs with
// that lock held and sends through the given Outbox.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "phone.h"

namespace kzsim {

using Bytes = std::vector<uint8_t>;

// A phonebook transfer in progress: chunks still to send, one per host
// continue reply.
struct PbapTransfer {
    std::deque<std::string> chunks;
    bool waitingForContinue = false;
};

// A connection waiting for the host's answer to a security request.
enum class SecurityStep : uint8_t { None, LinkKey, Pin, Authorise };

struct Phone::State {
    // ---- configuration (kept across Reset) ----
    Address address{0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
    std::string name = "Sim Phone";
    std::map<uint8_t, uint8_t> connectStatus;      // profile -> CFM status
    bool authentication = false;
    std::string pin;                               // empty: any PIN is accepted
    std::optional<std::array<uint8_t, 16>> linkKey;
    uint32_t keyCounter = 0;
    std::vector<RemoteDevice> nearby;
    uint8_t signal = 4, battery = 5;
    bool autoRemoteAnswer = false;
    uint16_t avrcpVersion = 0x0104;
    Track track{"Sim Title", "Sim Artist", "Sim Album"};
    std::vector<Track> playlist;
    size_t trackIndex = 0;
    uint64_t trackUid = 1;
    size_t attributeFragment = 0;
    std::vector<Contact> contacts;
    std::map<ListType, std::vector<CallEntry>> callLists;
    std::map<ListType, std::vector<std::string>> rawVCards;
    std::map<ListType, size_t> shrinkAfter;
    VCardStyle style;

    // ---- runtime (cleared by Reset) ----
    std::map<uint8_t, bool> connected;
    SecurityStep step = SecurityStep::None;
    uint8_t pendingService = 0;
    int callSetup = 0;          // 0 none, 1 incoming, 2 outgoing, 3 alerting
    bool callActive = false;
    int held = 0;
    std::string setupNumber, activeNumber, waitingNumber, heldNumber, dialled;
    bool setupNumberSent = false;
    bool audioInCar = true;
    bool mediaOpen = false;
    bool playing = false;
    bool notifyPlayStatus = false, notifyTrack = false;
    PbapTransfer pbap;

    void ResetRuntime();
    bool Handle(uint16_t id, const Bytes& message, Outbox& out);

    // ---- connections and security (phone.cpp) ----
    bool IsConnected(Profile p) const;
    void Connect(const Bytes& m, Outbox& out);
    void ConfirmConnect(Profile p, uint8_t status, Outbox& out);
    void Disconnect(const Bytes& m, Outbox& out);
    void Connected(Profile p, Outbox& out);          // IND 50
    void Dropped(Profile p, uint8_t status, Outbox& out);  // IND 51
    void LinkKeyReply(const Bytes& m, Outbox& out);
    void PinReply(const Bytes& m, Outbox& out);
    void AuthoriseReply(const Bytes& m, Outbox& out);
    void SendPinRequest(Outbox& out);
    void SendPairingResult(uint8_t status, const std::array<uint8_t, 16>& key, Outbox& out);
    void Inquiry(Outbox& out);
    void RemoteName(const Bytes& m, Outbox& out);
    Bytes AddressBytes() const { return Bytes(address.begin(), address.end()); }

    // ---- calls (phone_calls.cpp) ----
    void Indicator(uint8_t which, uint8_t value, Outbox& out);
    void Dial(const Bytes& m, Outbox& out);
    void Answer(const Bytes& m, Outbox& out);
    void CurrentCalls(Outbox& out);
    void CallHold(const Bytes& m, Outbox& out);
    void Ring(const std::string& number, Outbox& out);
    void BecomeActive(const std::string& number, Outbox& out);
    void EndCall(Outbox& out);
    void AudioTransfer(uint16_t id, Outbox& out);

    // ---- music (phone_music.cpp) ----
    void MediaOpen(uint16_t id, Outbox& out);
    void SdpQuery(Outbox& out);
    void PassThrough(const Bytes& m, Outbox& out);
    void Vendor(const Bytes& m, Outbox& out);
    void StartStream(Outbox& out);
    void SuspendStream(Outbox& out);
    void NewTrack(Outbox& out);
    void SendDepend(uint8_t type, const Bytes& pdu, Outbox& out);
    void SendPlayStatus(bool interim, Outbox& out);
    void SendTrackChanged(bool interim, Outbox& out);
    void SendElementAttributes(Outbox& out);

    // ---- phonebook (phone_phonebook.cpp) ----
    void Pull(const Bytes& m, Outbox& out);
    void Continue(const Bytes& m, Outbox& out);
    void SendNextChunk(Outbox& out);
    size_t ListSize(ListType type) const;
    std::vector<std::string> Entries(ListType type, size_t start, size_t count) const;
};

template <typename F>
void Phone::Do(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (outbox_ != nullptr) f(*state_, *outbox_);
}

// Parameter helpers.
inline void PutBe16(Bytes& b, size_t v) {
    b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    b.push_back(static_cast<uint8_t>(v & 0xFF));
}
inline uint16_t GetBe16(const Bytes& m, size_t at) {
    return at + 1 < m.size() ? static_cast<uint16_t>((m[at] << 8) | m[at + 1]) : 0;
}
inline uint8_t ByteAt(const Bytes& m, size_t at) { return at < m.size() ? m[at] : 0; }
inline void Append(Bytes& b, const std::string& s) {
    b.reserve(b.size() + s.size());
    for (char c : s) b.push_back(static_cast<uint8_t>(c));
}

}  // namespace kzsim
