// The phone model: calls, HFP indicators and call audio.
#include "channel/module_ids.h"
#include "phone_state.h"

namespace kzsim {

namespace msgid = kz::msgid;
namespace {

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusRefused = 0x0C;

// HFP indicators as the module numbers them.
constexpr uint8_t kIndicatorService = 0;
constexpr uint8_t kIndicatorCall = 1;
constexpr uint8_t kIndicatorSetup = 2;
constexpr uint8_t kIndicatorHeld = 3;
constexpr uint8_t kIndicatorSignal = 4;
constexpr uint8_t kIndicatorRoaming = 5;
constexpr uint8_t kIndicatorBattery = 6;

constexpr int kSetupNone = 0;
constexpr int kSetupIncoming = 1;
constexpr int kSetupOutgoing = 2;
constexpr int kSetupAlerting = 3;

constexpr size_t kDialLengthAt = 8;
constexpr size_t kDialNumberAt = 9;
constexpr size_t kAnswerAt = 6;
constexpr size_t kHoldCodeAt = 6;
constexpr uint8_t kHoldReleaseOther = 0;
constexpr uint8_t kHoldEndActive = 1;
constexpr uint8_t kHoldSwap = 2;
constexpr uint8_t kCallInfoPresent = 1;

// IND 121, one line of the phone's current-call list: byte 7 the call's
// index, byte 9 its state, the number's length (BE) at 13-14, the number from 15.
constexpr uint8_t kCallStateActive = 0;
constexpr uint8_t kCallStateHeld = 1;
constexpr uint8_t kFirstCallIndex = 1;
constexpr size_t kCurrentCallFiller = 3;   // bytes 10-12: mode, multiparty, number type

Bytes CurrentCallParams(uint8_t index, uint8_t state, const std::string& number) {
    Bytes b{kStatusOk, index, 0, state};
    b.insert(b.end(), kCurrentCallFiller, 0);
    PutBe16(b, number.size());
    Append(b, number);
    return b;
}

Bytes NumberParams(const std::string& number) {
    Bytes b;
    PutBe16(b, number.size());
    Append(b, number);
    return b;
}

}  // namespace

void Phone::State::Indicator(uint8_t which, uint8_t value, Outbox& out) {
    out.Indication(msgid::kHfpIndicator, Bytes{which, value});
}

void Phone::State::Ring(const std::string& number, Outbox& out) {
    if (callActive) {
        waitingNumber = number;   // a second call while talking
    } else {
        setupNumber = number;
        setupNumberSent = false;
    }
    callSetup = kSetupIncoming;
    Indicator(kIndicatorSetup, kSetupIncoming, out);
}

void Phone::State::BecomeActive(const std::string& number, Outbox& out) {
    const bool wasActive = callActive;
    if (wasActive) {
        heldNumber = activeNumber;
        held = 1;
    }
    callActive = true;
    activeNumber = number;
    if (!wasActive) {
        Indicator(kIndicatorCall, 1, out);
    }
    callSetup = kSetupNone;
    Indicator(kIndicatorSetup, kSetupNone, out);
    if (wasActive) {
        Indicator(kIndicatorHeld, static_cast<uint8_t>(held), out);
    } else if (audioInCar) {
        out.Indication(msgid::kCallAudioOn, Bytes{kStatusOk});
    }
}

void Phone::State::EndCall(Outbox& out) {
    if (callSetup != kSetupNone) {
        callSetup = kSetupNone;
        waitingNumber.clear();
        Indicator(kIndicatorSetup, kSetupNone, out);
    }
    if (!callActive) {
        setupNumber.clear();
        return;
    }
    if (held != 0) {
        held = 0;
        heldNumber.clear();
        Indicator(kIndicatorHeld, 0, out);
    }
    callActive = false;
    activeNumber.clear();
    if (audioInCar) {
        out.Indication(msgid::kCallAudioOff, Bytes{kStatusOk});
    }
    Indicator(kIndicatorCall, 0, out);
}

void Phone::State::Dial(const Bytes& m, Outbox& out) {
    const size_t n = ByteAt(m, kDialLengthAt);
    std::string number;
    for (size_t i = 0; i < n && kDialNumberAt + i < m.size(); ++i) {
        number.push_back(static_cast<char>(m[kDialNumberAt + i]));
    }
    if (!IsConnected(Profile::Hfp) || callSetup != kSetupNone) {
        out.Confirm(msgid::kDial, kStatusRefused, {});
        return;
    }
    dialled = number;
    out.Confirm(msgid::kDial, kStatusOk, {});
    setupNumber = number;
    callSetup = kSetupOutgoing;
    Indicator(kIndicatorSetup, kSetupOutgoing, out);
    callSetup = kSetupAlerting;
    Indicator(kIndicatorSetup, kSetupAlerting, out);
    if (autoRemoteAnswer) {
        BecomeActive(number, out);
    }
}

void Phone::State::Answer(const Bytes& m, Outbox& out) {
    if (!IsConnected(Profile::Hfp)) {
        out.Confirm(msgid::kAnswer, kStatusRefused, {});
        return;
    }
    out.Confirm(msgid::kAnswer, kStatusOk, {});
    if (ByteAt(m, kAnswerAt) == 0) {
        EndCall(out);
    } else if (callSetup == kSetupIncoming) {
        BecomeActive(callActive ? waitingNumber : setupNumber, out);
    }
}

// The call-list query: whether there is call information, the calls that are
// up (active, then held) as current-call lines, then the number of a ringing
// or waiting call (the phone's caller-id lines).
void Phone::State::CurrentCalls(Outbox& out) {
    const bool anyCall = callActive || callSetup != kSetupNone;
    out.Confirm(msgid::kCurrentCalls, anyCall ? kCallInfoPresent : kStatusOk, {});
    uint8_t index = kFirstCallIndex;
    if (callActive) {
        out.Indication(msgid::kCurrentCall, CurrentCallParams(index++, kCallStateActive, activeNumber));
    }
    if (held != 0) {
        out.Indication(msgid::kCurrentCall, CurrentCallParams(index, kCallStateHeld, heldNumber));
    }
    if (callSetup == kSetupIncoming && !callActive && !setupNumberSent && !setupNumber.empty()) {
        setupNumberSent = true;
        out.Indication(msgid::kCallSetupNumber, NumberParams(setupNumber));
    } else if (callSetup == kSetupIncoming && callActive && !waitingNumber.empty()) {
        out.Indication(msgid::kWaitingNumber, NumberParams(waitingNumber));
    }
}

void Phone::State::CallHold(const Bytes& m, Outbox& out) {
    out.Confirm(msgid::kCallHold, kStatusOk, {});
    const uint8_t code = ByteAt(m, kHoldCodeAt);
    const bool waiting = callActive && callSetup == kSetupIncoming;
    if (code == kHoldReleaseOther) {
        if (waiting) {
            callSetup = kSetupNone;
            waitingNumber.clear();
            Indicator(kIndicatorSetup, kSetupNone, out);
        } else if (held != 0) {
            held = 0;
            heldNumber.clear();
            Indicator(kIndicatorHeld, 0, out);
        }
    } else if (code == kHoldEndActive) {
        if (waiting) {
            activeNumber = waitingNumber;
            waitingNumber.clear();
            callSetup = kSetupNone;
            Indicator(kIndicatorSetup, kSetupNone, out);
        } else if (held != 0) {
            activeNumber = heldNumber;
            heldNumber.clear();
            held = 0;
            Indicator(kIndicatorHeld, 0, out);
        } else if (callActive) {
            EndCall(out);
        }
    } else if (code == kHoldSwap) {
        if (waiting) {
            BecomeActive(waitingNumber, out);
            waitingNumber.clear();
        } else if (held != 0) {
            std::swap(activeNumber, heldNumber);
            Indicator(kIndicatorHeld, 1, out);
        }
    }
}

void Phone::State::AudioTransfer(uint16_t id, Outbox& out) {
    if (!IsConnected(Profile::Hfp)) {
        out.Confirm(id, kStatusRefused, {});
        return;
    }
    audioInCar = (id == msgid::kAudioToHandsfree);
    out.Confirm(id, kStatusOk, {});
}

// ---------------------------------------------------------------- Phone API

void Phone::ring(const std::string& number) {
    Do([&](State& s, Outbox& out) { s.Ring(number, out); });
}
void Phone::waitingCall(const std::string& number) { ring(number); }
void Phone::answer() {
    Do([](State& s, Outbox& out) {
        if (s.callSetup == kSetupIncoming) {
            s.BecomeActive(s.callActive ? s.waitingNumber : s.setupNumber, out);
        }
    });
}
void Phone::remoteAnswer() {
    Do([](State& s, Outbox& out) {
        if (s.callSetup == kSetupOutgoing || s.callSetup == kSetupAlerting) {
            s.BecomeActive(s.setupNumber, out);
        }
    });
}
void Phone::hangup() {
    Do([](State& s, Outbox& out) { s.EndCall(out); });
}
void Phone::setAutoRemoteAnswer(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->autoRemoteAnswer = on;
}
void Phone::setSignal(uint8_t level) {
    Do([level](State& s, Outbox& out) {
        s.signal = level;
        if (s.IsConnected(Profile::Hfp)) s.Indicator(kIndicatorSignal, level, out);
    });
}
void Phone::setBattery(uint8_t level) {
    Do([level](State& s, Outbox& out) {
        s.battery = level;
        if (s.IsConnected(Profile::Hfp)) s.Indicator(kIndicatorBattery, level, out);
    });
}
void Phone::setService(bool on) {
    Do([on](State& s, Outbox& out) { s.Indicator(kIndicatorService, on ? 1 : 0, out); });
}
void Phone::setRoaming(bool on) {
    Do([on](State& s, Outbox& out) { s.Indicator(kIndicatorRoaming, on ? 1 : 0, out); });
}
void Phone::indicator(uint8_t which, uint8_t value) {
    Do([=](State& s, Outbox& out) { s.Indicator(which, value, out); });
}
void Phone::callAudio(bool inCar) {
    Do([inCar](State& s, Outbox& out) {
        s.audioInCar = inCar;
        out.Indication(inCar ? msgid::kCallAudioOn : msgid::kCallAudioOff, Bytes{kStatusOk});
    });
}
// IND 277 byte 6 says whether the microphone is on (1) or muted (0); the host
// reports it as is (notification 87: 1 unmuted, 0 muted).
void Phone::micMute(bool muted) {
    Do([muted](State&, Outbox& out) { out.Indication(msgid::kMicMute, Bytes{muted ? uint8_t{0} : uint8_t{1}}); });
}
bool Phone::callActive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->callActive;
}
int Phone::callSetup() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->callSetup;
}
std::string Phone::dialledNumber() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->dialled;
}

}  // namespace kzsim
