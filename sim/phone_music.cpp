// The phone model: A2DP media channel and stream, AVRCP pass-through and the
// vendor-dependent commands (notifications, element attributes).
#include <algorithm>

#include "channel/module_ids.h"
#include "phone_state.h"

namespace kzsim {

namespace msgid = kz::msgid;
namespace {

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusRefused = 0x0C;
constexpr uint8_t kStatusNotImplemented = 0x08;

constexpr uint8_t kServiceAvrcp = 4;
constexpr uint16_t kAvrcpMetadataVersion = 0x0103;   // notifications and metadata from 1.3

// Pass-through operations (AV/C panel subunit).
constexpr size_t kPassStateAt = 9;
constexpr size_t kPassOpAt = 10;
constexpr uint8_t kReleased = 1;
constexpr uint8_t kOpPlay = 0x44;
constexpr uint8_t kOpStop = 0x45;
constexpr uint8_t kOpPause = 0x46;
constexpr uint8_t kOpForward = 0x4B;
constexpr uint8_t kOpBackward = 0x4C;

// Vendor-dependent request: PDU from byte 15.
constexpr size_t kPduAt = 15;
constexpr size_t kPduEventAt = kPduAt + 4;
constexpr uint8_t kPduGetElementAttributes = 0x20;
constexpr uint8_t kPduRegisterNotification = 0x31;
constexpr uint8_t kEventPlaybackStatus = 0x01;
constexpr uint8_t kEventTrackChanged = 0x02;
constexpr uint8_t kPlayStatusPlaying = 1;
constexpr uint8_t kPlayStatusPaused = 2;
constexpr size_t kTrackUidSize = 8;

// Types announced by IND 310 for the IND 308 that follows.
constexpr uint8_t kDependElementAttributes = 12;
constexpr uint8_t kDependNotification = 13;
constexpr uint8_t kDependInterim = 15;

constexpr uint8_t kAttrTitle = 1, kAttrArtist = 2, kAttrAlbum = 3;
constexpr uint16_t kCharsetUtf8 = 106;
constexpr size_t kPduHeaderSize = 4;
constexpr size_t kMaxFragment = 255;   // the fragment length is one byte

Bytes Pdu(uint8_t id, const Bytes& params) {
    Bytes b{id, 0};
    PutBe16(b, params.size());
    b.insert(b.end(), params.begin(), params.end());
    return b;
}

void PutAttribute(Bytes& b, uint8_t id, const std::string& value) {
    b.insert(b.end(), {0, 0, 0, id});
    PutBe16(b, kCharsetUtf8);
    PutBe16(b, value.size());
    Append(b, value);
}

}  // namespace

void Phone::State::MediaOpen(uint16_t id, Outbox& out) {
    if (id == msgid::kMediaClose) {
        mediaOpen = playing = false;
        out.Confirm(id, kStatusOk, {});
        return;
    }
    if (!IsConnected(Profile::A2dp)) {
        out.Confirm(id, kStatusRefused, {});
        return;
    }
    mediaOpen = true;
    out.Confirm(id, kStatusOk, {});
}

void Phone::State::SdpQuery(Outbox& out) {
    out.Confirm(msgid::kSdpQuery, kStatusOk, {});
    Bytes params{kServiceAvrcp};
    PutBe16(params, avrcpVersion);
    out.Indication(msgid::kSdpRecord, params);
}

void Phone::State::PassThrough(const Bytes& m, Outbox& out) {
    if (!IsConnected(Profile::A2dp) && !IsConnected(Profile::Avrcp)) {
        out.Confirm(msgid::kAvrcpPassThrough, kStatusRefused, {});
        return;
    }
    out.Confirm(msgid::kAvrcpPassThrough, kStatusOk, {});
    if (ByteAt(m, kPassStateAt) != kReleased) {
        return;   // the phone acts when the button is released
    }
    switch (ByteAt(m, kPassOpAt)) {
    case kOpPlay: StartStream(out); break;
    case kOpPause:
    case kOpStop: SuspendStream(out); break;
    case kOpForward:
    case kOpBackward: {
        if (!playlist.empty()) {
            const size_t n = playlist.size();
            trackIndex = ByteAt(m, kPassOpAt) == kOpForward ? (trackIndex + 1) % n
                                                            : (trackIndex + n - 1) % n;
            track = playlist[trackIndex];
        }
        NewTrack(out);
        break;
    }
    default: break;
    }
}

void Phone::State::Vendor(const Bytes& m, Outbox& out) {
    if (avrcpVersion < kAvrcpMetadataVersion) {
        out.Confirm(msgid::kAvrcpVendor, kStatusNotImplemented, {});
        return;
    }
    out.Confirm(msgid::kAvrcpVendor, kStatusOk, {});
    const uint8_t pdu = ByteAt(m, kPduAt);
    if (pdu == kPduRegisterNotification) {
        const uint8_t event = ByteAt(m, kPduEventAt);
        if (event == kEventPlaybackStatus) {
            notifyPlayStatus = true;
            SendPlayStatus(true, out);
        } else if (event == kEventTrackChanged) {
            notifyTrack = true;
            SendTrackChanged(true, out);
        }
    } else if (pdu == kPduGetElementAttributes) {
        SendElementAttributes(out);
    }
}

void Phone::State::StartStream(Outbox& out) {
    if (playing) return;
    playing = true;
    mediaOpen = true;
    out.Indication(msgid::kStreamStarted, Bytes{kStatusOk});
    if (notifyPlayStatus) SendPlayStatus(false, out);
}

void Phone::State::SuspendStream(Outbox& out) {
    if (!playing) return;
    playing = false;
    out.Indication(msgid::kStreamSuspended, Bytes{kStatusOk});
    if (notifyPlayStatus) SendPlayStatus(false, out);
}

void Phone::State::NewTrack(Outbox& out) {
    ++trackUid;
    if (notifyTrack) SendTrackChanged(false, out);
}

// One vendor-dependent response: IND 310 announces type and length, IND 308
// carries the data (byte 7 the fragment length, the fragment from byte 8),
// cut into fragments of the configured size.
void Phone::State::SendDepend(uint8_t type, const Bytes& pdu, Outbox& out) {
    const size_t step = std::min(attributeFragment == 0 ? kMaxFragment : attributeFragment,
                                 kMaxFragment);
    for (size_t at = 0; at < pdu.size(); at += step) {
        const size_t n = std::min(step, pdu.size() - at);
        Bytes header{type};
        PutBe16(header, pdu.size());
        out.Indication(msgid::kDependHeader, header);
        Bytes data{0, static_cast<uint8_t>(n)};
        data.insert(data.end(), pdu.begin() + static_cast<long>(at),
                    pdu.begin() + static_cast<long>(at + n));
        out.Indication(msgid::kDependData, data);
    }
}

void Phone::State::SendPlayStatus(bool interim, Outbox& out) {
    if (!interim) notifyPlayStatus = false;   // notifications are one-shot
    const uint8_t status = playing ? kPlayStatusPlaying : kPlayStatusPaused;
    SendDepend(interim ? kDependInterim : kDependNotification,
               Pdu(kPduRegisterNotification, Bytes{kEventPlaybackStatus, status}), out);
}

void Phone::State::SendTrackChanged(bool interim, Outbox& out) {
    if (!interim) notifyTrack = false;
    Bytes params{kEventTrackChanged};
    for (size_t i = 0; i < kTrackUidSize; ++i) {
        params.push_back(static_cast<uint8_t>(trackUid >> (8 * (kTrackUidSize - 1 - i))));
    }
    SendDepend(interim ? kDependInterim : kDependNotification,
               Pdu(kPduRegisterNotification, params), out);
}

void Phone::State::SendElementAttributes(Outbox& out) {
    Bytes params{3};
    PutAttribute(params, kAttrTitle, track.title);
    PutAttribute(params, kAttrArtist, track.artist);
    PutAttribute(params, kAttrAlbum, track.album);
    SendDepend(kDependElementAttributes, Pdu(kPduGetElementAttributes, params), out);
}

// ---------------------------------------------------------------- Phone API

void Phone::setAvrcpVersion(uint16_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->avrcpVersion = version;
}
void Phone::setTrack(const Track& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->track = t;
}
void Phone::setPlaylist(const std::vector<Track>& tracks) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->playlist = tracks;
    state_->trackIndex = 0;
    if (!tracks.empty()) state_->track = tracks.front();
}
void Phone::setAttributeFragment(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->attributeFragment = bytes;
}
void Phone::openMedia() {
    Do([](State& s, Outbox& out) {
        s.mediaOpen = true;
        out.Indication(msgid::kMediaOpened, Bytes{kStatusOk});
    });
}
void Phone::closeMedia() {
    Do([](State& s, Outbox& out) {
        s.mediaOpen = s.playing = false;
        out.Indication(msgid::kMediaClosed, Bytes{kStatusOk});
    });
}
void Phone::play() {
    Do([](State& s, Outbox& out) { s.StartStream(out); });
}
void Phone::pause() {
    Do([](State& s, Outbox& out) { s.SuspendStream(out); });
}
void Phone::changeTrack(const Track& t) {
    Do([&](State& s, Outbox& out) {
        s.track = t;
        s.NewTrack(out);
    });
}
bool Phone::playing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->playing;
}

}  // namespace kzsim
