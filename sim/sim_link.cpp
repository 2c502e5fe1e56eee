// The module's BCSP link engine.
#include "sim_link.h"

namespace kzsim {
namespace {
constexpr uint8_t Next(uint8_t n) { return static_cast<uint8_t>((n + 1) & bcsp::kSeqMask); }
}  // namespace

LinkEngine::LinkEngine(LinkConfig config, Writer writer)
    : config_(config), write_(std::move(writer)) {}

void LinkEngine::EnterShy(uint32_t now) {
    state_ = State::Shy;
    ackDue_ = false;
    txSeq_ = 0;
    rxAck_ = 0;
    write_(BuildLinkMessage(bcsp::kSync));
    nextLinkMsgAt_ = now + config_.linkIntervalMs;
}

void LinkEngine::Start(uint32_t now) {
    if (state_ == State::Idle) {
        EnterShy(now);
    }
}

void LinkEngine::Restart(uint32_t now) {
    queue_.clear();
    inFlight_.reset();
    resends_ = 0;
    EnterShy(now);
}

void LinkEngine::Stop() {
    state_ = State::Idle;
    queue_.clear();
    inFlight_.reset();
}

LinkEvents LinkEngine::OnFrame(const std::vector<uint8_t>& frame, uint32_t now) {
    LinkEvents ev;
    ++stats_.framesIn;
    const DecodedPacket p = DecodeFrame(frame);
    if (p.error != DecodeError::None) {
        ++stats_.badFramesIn;
        ev.bad = true;
        return ev;
    }
    if (state_ == State::Idle) {
        return ev;  // not started: the module is deaf
    }
    if (p.channel == bcsp::kChannelLink && !p.reliable) {
        const uint8_t index = LinkMessageIndex(p.payload);
        if (index != bcsp::kNoLinkMsg) {
            HandleLinkMessage(index, now, ev);
        }
        return ev;
    }
    if (state_ != State::Garrulous) {
        return ev;  // data before the link is up is ignored
    }
    HandleAck(p.ack, now);
    HandleData(p, ev);
    return ev;
}

void LinkEngine::HandleLinkMessage(uint8_t index, uint32_t now, LinkEvents& ev) {
    switch (index) {
    case bcsp::kSync:
        if (state_ == State::Garrulous) {
            // The host restarted: start over as a module does.
            ++stats_.peerResets;
            ev.peerReset = true;
            std::optional<LinkPacket> pending = std::move(inFlight_);
            inFlight_.reset();
            if (pending) {
                queue_.push_front(std::move(*pending));
            }
            resends_ = 0;
            EnterShy(now);
        }
        write_(BuildLinkMessage(bcsp::kSyncResp));
        break;
    case bcsp::kSyncResp:
        if (state_ == State::Shy) {
            state_ = State::Curious;
            write_(BuildLinkMessage(bcsp::kConf));
            nextLinkMsgAt_ = now + config_.linkIntervalMs;
        }
        break;
    case bcsp::kConf:
        if (state_ != State::Shy) {
            write_(BuildLinkMessage(bcsp::kConfResp));
        }
        break;
    case bcsp::kConfResp:
        if (state_ == State::Curious) {
            state_ = State::Garrulous;
            ev.cameUp = true;
            SendNext(now);
        }
        break;
    default:
        break;
    }
}

void LinkEngine::HandleAck(uint8_t ack, uint32_t now) {
    if (inFlight_ && ack == Next(txSeq_)) {
        txSeq_ = Next(txSeq_);
        inFlight_.reset();
        resends_ = 0;
        SendNext(now);
    }
}

void LinkEngine::HandleData(const DecodedPacket& p, LinkEvents& ev) {
    if (p.payload.empty()) {
        return;  // pure acknowledgement
    }
    if (!p.reliable) {
        ev.delivered.push_back(LinkPacket{p.channel, false, p.payload});
        return;
    }
    if (!acknowledge_) {
        return;  // behaves as if the packet never arrived
    }
    if (p.seq == rxAck_) {
        rxAck_ = Next(rxAck_);
        ev.delivered.push_back(LinkPacket{p.channel, true, p.payload});
    } else {
        ++stats_.duplicatesIn;
    }
    // The owner queues its replies first, so the acknowledgement can ride on
    // one of them; FlushAck sends a pure one if none went out.
    ackDue_ = true;
}

void LinkEngine::FlushAck() {
    if (ackDue_) {
        ackDue_ = false;
        write_(BuildPureAck(rxAck_));
    }
}

void LinkEngine::Queue(LinkPacket packet, uint32_t now) {
    queue_.push_back(std::move(packet));
    SendNext(now);
}

void LinkEngine::SendUnreliable(const LinkPacket& packet) {
    const Header h = MakeHeader(false, 0, rxAck_, packet.channel, packet.payload.size());
    ackDue_ = false;
    write_(BuildFrame(h, packet.payload));
}

void LinkEngine::SendNext(uint32_t now) {
    if (state_ != State::Garrulous || inFlight_ || queue_.empty()) {
        return;
    }
    inFlight_ = std::move(queue_.front());
    queue_.pop_front();
    resends_ = 0;
    WriteInFlight();
    nextResendAt_ = now + config_.resendMs;
}

void LinkEngine::WriteInFlight() {
    const Header h = MakeHeader(true, txSeq_, rxAck_, inFlight_->channel,
                                inFlight_->payload.size());
    ackDue_ = false;
    write_(BuildFrame(h, inFlight_->payload));
}

void LinkEngine::Tick(uint32_t now) {
    if ((state_ == State::Shy || state_ == State::Curious) &&
        static_cast<int32_t>(now - nextLinkMsgAt_) >= 0) {
        write_(BuildLinkMessage(state_ == State::Shy ? bcsp::kSync : bcsp::kConf));
        nextLinkMsgAt_ = now + config_.linkIntervalMs;
    }
    if (inFlight_ && static_cast<int32_t>(now - nextResendAt_) >= 0) {
        if (config_.maxResends != 0 && resends_ >= config_.maxResends) {
            // Given up: the number is not used, the next packet reuses it.
            ++stats_.givenUp;
            inFlight_.reset();
            resends_ = 0;
            SendNext(now);
            return;
        }
        ++resends_;
        ++stats_.resends;
        WriteInFlight();
        nextResendAt_ = now + config_.resendMs;
    }
}

std::optional<uint32_t> LinkEngine::NextDeadline() const {
    std::optional<uint32_t> at;
    if (state_ == State::Shy || state_ == State::Curious) {
        at = nextLinkMsgAt_;
    }
    if (inFlight_ && (!at || static_cast<int32_t>(nextResendAt_ - *at) < 0)) {
        at = nextResendAt_;
    }
    return at;
}

}  // namespace kzsim
