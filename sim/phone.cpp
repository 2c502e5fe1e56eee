// The phone model: request dispatch, profile connections, security requests
// and inquiry.
#include "phone.h"

#include <algorithm>

#include "channel/module_ids.h"
#include "phone_state.h"

namespace kzsim {

namespace msgid = kz::msgid;
namespace {

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusPageTimeout = 0x04;    // nobody answered the page
constexpr uint8_t kStatusAuthFailure = 0x05;
constexpr uint8_t kStatusNotConnected = 0x0C;   // command refused in this state

constexpr size_t kAddrAt = 6;                   // address in requests and replies
constexpr size_t kAddrSize = 6;
constexpr size_t kConnectProfileAt = 6;
constexpr size_t kConnectAddrAt = 7;
constexpr size_t kDisconnectProfileAt = 6;
constexpr size_t kReplyKeyLengthAt = 13;        // link-key reply: 16 when a key is given
constexpr size_t kReplyKeyAt = 14;
constexpr size_t kReplyPinLengthAt = 13;
constexpr size_t kReplyPinAt = 14;
constexpr size_t kReplyDecisionAt = 13;
constexpr size_t kKeySize = 16;
constexpr uint8_t kServiceHfp = 1;

Address AddressIn(const Bytes& m, size_t at = kAddrAt) {
    Address a{};
    for (size_t i = 0; i < kAddrSize; ++i) a[i] = ByteAt(m, at + i);
    return a;
}

bool IsProfile(uint8_t p) {
    return p == static_cast<uint8_t>(Profile::Hfp) || p == static_cast<uint8_t>(Profile::A2dp) ||
           p == static_cast<uint8_t>(Profile::Avrcp) || p == static_cast<uint8_t>(Profile::Pbap);
}

}  // namespace

// ---------------------------------------------------------------- dispatch

void Phone::State::ResetRuntime() {
    connected.clear();
    step = SecurityStep::None;
    callSetup = 0;
    callActive = false;
    held = 0;
    setupNumber.clear();
    activeNumber.clear();
    waitingNumber.clear();
    heldNumber.clear();
    setupNumberSent = false;
    audioInCar = true;
    mediaOpen = false;
    playing = false;
    notifyPlayStatus = notifyTrack = false;
    pbap = PbapTransfer{};
}

bool Phone::State::Handle(uint16_t id, const Bytes& m, Outbox& out) {
    switch (id) {
    case msgid::kRemoteName: RemoteName(m, out); return true;
    case msgid::kInquiry: Inquiry(out); return true;
    case msgid::kConnectProfile: Connect(m, out); return true;
    case msgid::kDisconnectProfile: Disconnect(m, out); return true;
    case msgid::kAudioToHandsfree:
    case msgid::kAudioToPhone: AudioTransfer(id, out); return true;
    case msgid::kSdpQuery: SdpQuery(out); return true;
    case msgid::kAnswer: Answer(m, out); return true;
    case msgid::kDial: Dial(m, out); return true;
    case msgid::kCurrentCalls: CurrentCalls(out); return true;
    case msgid::kCallHold: CallHold(m, out); return true;
    case msgid::kMediaOpen:
    case msgid::kMediaClose: MediaOpen(id, out); return true;
    case msgid::kAvrcpPassThrough: PassThrough(m, out); return true;
    case msgid::kAvrcpVendor: Vendor(m, out); return true;
    case msgid::kPbapPull: Pull(m, out); return true;
    case msgid::kLinkKeyRequest: LinkKeyReply(m, out); return true;
    case msgid::kPinRequest: PinReply(m, out); return true;
    case msgid::kAuthorise: AuthoriseReply(m, out); return true;
    case msgid::kPbapData: Continue(m, out); return true;
    default: return false;
    }
}

// ---------------------------------------------------------------- connections

bool Phone::State::IsConnected(Profile p) const {
    auto it = connected.find(static_cast<uint8_t>(p));
    return it != connected.end() && it->second;
}

void Phone::State::Connect(const Bytes& m, Outbox& out) {
    const uint8_t profile = ByteAt(m, kConnectProfileAt);
    const Address target = AddressIn(m, kConnectAddrAt);
    auto near = std::find_if(nearby.begin(), nearby.end(),
                             [&](const RemoteDevice& d) { return d.address == target; });
    if (target != address && near != nearby.end()) {
        // Connecting a phone found by inquiry: the model becomes that phone.
        address = near->address;
        name = near->name;
        linkKey.reset();
    }
    if (target != address || !IsProfile(profile)) {
        out.Confirm(msgid::kConnectProfile, kStatusPageTimeout,
                    [&] { Bytes b(target.begin(), target.end()); b.push_back(profile); return b; }());
        return;
    }
    if (profile == static_cast<uint8_t>(Profile::Hfp) && authentication &&
        !IsConnected(Profile::Hfp)) {
        // The module asks the host for a stored key first, then for a PIN.
        step = SecurityStep::LinkKey;
        out.Indication(msgid::kLinkKeyRequest, AddressBytes());
        return;
    }
    ConfirmConnect(static_cast<Profile>(profile), kStatusOk, out);
}

void Phone::State::ConfirmConnect(Profile p, uint8_t status, Outbox& out) {
    const uint8_t profile = static_cast<uint8_t>(p);
    auto it = connectStatus.find(profile);
    if (status == kStatusOk && it != connectStatus.end()) status = it->second;
    Bytes extra = AddressBytes();
    extra.push_back(profile);
    out.Confirm(msgid::kConnectProfile, status, extra);
    if (status != kStatusOk) return;
    connected[profile] = true;
    if (p == Profile::Hfp) {
        // A phone reports its indicators when hands-free comes up.
        Indicator(0, 1, out);
        Indicator(4, signal, out);
        Indicator(6, battery, out);
    }
}

void Phone::State::Disconnect(const Bytes& m, Outbox& out) {
    const uint8_t profile = ByteAt(m, kDisconnectProfileAt);
    const bool was = connected[profile];
    connected[profile] = false;
    if (profile == static_cast<uint8_t>(Profile::A2dp)) {
        mediaOpen = playing = false;
    }
    if (profile == static_cast<uint8_t>(Profile::Pbap)) pbap = PbapTransfer{};
    out.Confirm(msgid::kDisconnectProfile, was ? kStatusOk : kStatusNotConnected, Bytes{profile});
}

void Phone::State::Connected(Profile p, Outbox& out) {
    connected[static_cast<uint8_t>(p)] = true;
    Bytes params{kStatusOk};
    params.insert(params.end(), address.begin(), address.end());
    params.push_back(static_cast<uint8_t>(p));
    out.Indication(msgid::kProfileConnected, params);
}

void Phone::State::Dropped(Profile p, uint8_t status, Outbox& out) {
    connected[static_cast<uint8_t>(p)] = false;
    if (p == Profile::A2dp) mediaOpen = playing = false;
    if (p == Profile::Pbap) pbap = PbapTransfer{};
    out.Indication(msgid::kProfileDisconnected, Bytes{status, static_cast<uint8_t>(p)});
}

// ---------------------------------------------------------------- security

void Phone::State::LinkKeyReply(const Bytes& m, Outbox& out) {
    if (step != SecurityStep::LinkKey || AddressIn(m) != address) return;
    if (ByteAt(m, kReplyKeyLengthAt) == kKeySize && linkKey) {
        std::array<uint8_t, 16> given{};
        for (size_t i = 0; i < kKeySize; ++i) given[i] = ByteAt(m, kReplyKeyAt + i);
        if (given == *linkKey) {
            step = SecurityStep::None;
            ConfirmConnect(Profile::Hfp, kStatusOk, out);
            return;
        }
    }
    step = SecurityStep::Pin;   // no usable key: pair anew
    SendPinRequest(out);
}

void Phone::State::SendPinRequest(Outbox& out) {
    Bytes params = AddressBytes();
    PutBe16(params, name.size());
    Append(params, name);
    out.Indication(msgid::kPinRequest, params);
}

void Phone::State::PinReply(const Bytes& m, Outbox& out) {
    if (step != SecurityStep::Pin || AddressIn(m) != address) return;
    step = SecurityStep::None;
    const size_t n = ByteAt(m, kReplyPinLengthAt);
    std::string given;
    for (size_t i = 0; i < n && kReplyPinAt + i < m.size(); ++i) {
        given.push_back(static_cast<char>(m[kReplyPinAt + i]));
    }
    if (!pin.empty() && given != pin) {
        SendPairingResult(kStatusAuthFailure, {}, out);
        ConfirmConnect(Profile::Hfp, kStatusAuthFailure, out);
        return;
    }
    // A fresh key, different for every pairing, the same in every run.
    std::array<uint8_t, 16> key{};
    ++keyCounter;
    for (size_t i = 0; i < kKeySize; ++i) {
        key[i] = static_cast<uint8_t>(address[i % kAddrSize] * 31 + i * 7 + keyCounter);
    }
    linkKey = key;
    SendPairingResult(kStatusOk, key, out);
    ConfirmConnect(Profile::Hfp, kStatusOk, out);
}

void Phone::State::SendPairingResult(uint8_t status, const std::array<uint8_t, 16>& key,
                                     Outbox& out) {
    Bytes params{status};
    params.insert(params.end(), address.begin(), address.end());
    params.push_back(0);   // bytes 13-14: key type and length, not read
    params.push_back(static_cast<uint8_t>(kKeySize));
    params.insert(params.end(), key.begin(), key.end());
    out.Indication(msgid::kPairingResult, params);
}

void Phone::State::AuthoriseReply(const Bytes& m, Outbox& out) {
    if (step != SecurityStep::Authorise || AddressIn(m) != address) return;
    step = SecurityStep::None;
    if (ByteAt(m, kReplyDecisionAt) == 1 && pendingService == kServiceHfp) {
        Connected(Profile::Hfp, out);
    }
}

// ---------------------------------------------------------------- inquiry

void Phone::State::Inquiry(Outbox& out) {
    for (const RemoteDevice& d : nearby) {
        out.Indication(msgid::kInquiryResult, Bytes(d.address.begin(), d.address.end()));
    }
    out.Confirm(msgid::kInquiry, kStatusOk, {});
}

void Phone::State::RemoteName(const Bytes& m, Outbox& out) {
    const Address a = AddressIn(m);
    std::optional<std::string> found;
    if (a == address) found = name;
    for (const RemoteDevice& d : nearby) {
        if (d.address == a) found = d.answersName ? std::optional<std::string>(d.name) : std::nullopt;
    }
    Bytes extra(a.begin(), a.end());
    if (!found) {
        out.Confirm(msgid::kRemoteName, kStatusPageTimeout, extra);
        return;
    }
    PutBe16(extra, found->size());
    Append(extra, *found);
    out.Confirm(msgid::kRemoteName, kStatusOk, extra);
}

// ---------------------------------------------------------------- Phone API

Phone::Phone() : state_(std::make_unique<State>()) {}
Phone::~Phone() = default;

void Phone::SetOutbox(Outbox* outbox) {
    std::lock_guard<std::mutex> lock(mutex_);
    outbox_ = outbox;
}

void Phone::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->ResetRuntime();
}

bool Phone::OnRequest(uint16_t id, const std::vector<uint8_t>& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    return outbox_ != nullptr && state_->Handle(id, message, *outbox_);
}

void Phone::setAddress(const Address& a) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->address = a;
}
void Phone::setName(const std::string& n) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->name = n;
}
Address Phone::address() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->address;
}
bool Phone::connected(Profile p) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->IsConnected(p);
}
void Phone::setConnectStatus(Profile p, uint8_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->connectStatus[static_cast<uint8_t>(p)] = status;
}
void Phone::setAuthentication(bool on, const std::string& pin) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->authentication = on;
    state_->pin = pin;
}
std::optional<std::array<uint8_t, 16>> Phone::linkKey() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->linkKey;
}
void Phone::setLinkKey(const std::optional<std::array<uint8_t, 16>>& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->linkKey = key;
}

void Phone::connectProfile(Profile p) {
    Do([p](State& s, Outbox& out) {
        if (p == Profile::Hfp && s.authentication) {
            s.step = SecurityStep::Authorise;
            s.pendingService = kServiceHfp;
            Bytes params = s.AddressBytes();
            params.push_back(kServiceHfp);
            out.Indication(msgid::kAuthorise, params);
            return;
        }
        s.Connected(p, out);
    });
}
void Phone::disconnectProfile(Profile p, uint8_t status) {
    Do([=](State& s, Outbox& out) { s.Dropped(p, status, out); });
}

void Phone::requestLinkKey() {
    Do([](State& s, Outbox& out) { out.Indication(msgid::kLinkKeyRequest, s.AddressBytes()); });
}
void Phone::requestPin() {
    Do([](State& s, Outbox& out) { s.SendPinRequest(out); });
}
void Phone::requestAuthorisation(uint8_t service) {
    Do([service](State& s, Outbox& out) {
        Bytes params = s.AddressBytes();
        params.push_back(service);
        out.Indication(msgid::kAuthorise, params);
    });
}
void Phone::pairingResult(uint8_t status, const std::array<uint8_t, 16>& key) {
    Do([&](State& s, Outbox& out) { s.SendPairingResult(status, key, out); });
}

void Phone::setNearbyDevices(const std::vector<RemoteDevice>& devices) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->nearby = devices;
}

}  // namespace kzsim
