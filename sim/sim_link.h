// The module's BCSP link engine. It starts link establishment itself (sync
// every interval until answered, then conf until answered), answers the
// host's link messages, and carries reliable packets both ways with 3-bit
// sequence numbers and a window of one.
//
// It is driven by its owner: frames in (OnFrame), time (Tick), packets out
// (Queue); frames to write go to the writer callback. Not thread-safe: the
// owner serialises calls.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "module_simulator.h"
#include "sim_codec.h"

namespace kzsim {

struct LinkConfig {
    uint32_t linkIntervalMs = 250;
    uint32_t resendMs = 250;
    uint32_t maxResends = 0;      // 0 = retransmit until acknowledged
};

struct LinkPacket {
    uint8_t channel = bcsp::kChannelModule;
    bool reliable = true;
    std::vector<uint8_t> payload;
};

// What one received frame did.
struct LinkEvents {
    std::vector<LinkPacket> delivered;   // data packets for the module, in order
    bool cameUp = false;                 // the link became garrulous
    bool peerReset = false;              // the host restarted while garrulous
    bool bad = false;                    // the frame was rejected
};

class LinkEngine {
public:
    enum class State : uint8_t { Idle, Shy, Curious, Garrulous };
    using Writer = std::function<void(const std::vector<uint8_t>& frame)>;

    LinkEngine(LinkConfig config, Writer writer);

    // Begins link establishment: shy, sync now and every interval.
    void Start(uint32_t now);
    // Module restart: fresh numbers, outgoing packets dropped, sync again.
    void Restart(uint32_t now);
    void Stop();

    LinkEvents OnFrame(const std::vector<uint8_t>& frame, uint32_t now);
    void Tick(uint32_t now);
    // Earliest time Tick has work to do; nullopt when nothing is timed.
    std::optional<uint32_t> NextDeadline() const;

    void Queue(LinkPacket packet, uint32_t now);
    // Writes an unreliable packet at once (no queueing, carries the ack).
    void SendUnreliable(const LinkPacket& packet);

    // Sends the pure acknowledgement that received packets made due, unless a
    // packet carrying the acknowledgement went out since.
    void FlushAck();

    void SetAcknowledge(bool on) { acknowledge_ = on; }
    State state() const { return state_; }
    bool Up() const { return state_ == State::Garrulous; }
    bool Idle() const { return !inFlight_ && queue_.empty(); }
    const LinkStats& stats() const { return stats_; }
    uint8_t txSeq() const { return txSeq_; }
    uint8_t rxAck() const { return rxAck_; }

private:
    void HandleLinkMessage(uint8_t index, uint32_t now, LinkEvents& ev);
    void HandleData(const DecodedPacket& p, LinkEvents& ev);
    void HandleAck(uint8_t ack, uint32_t now);
    void SendNext(uint32_t now);
    void WriteInFlight();
    void EnterShy(uint32_t now);

    LinkConfig config_;
    Writer write_;
    State state_ = State::Idle;
    uint8_t txSeq_ = 0;        // sequence number of the next / in-flight packet
    uint8_t rxAck_ = 0;        // sequence number expected next from the host
    bool acknowledge_ = true;
    bool ackDue_ = false;
    uint32_t nextLinkMsgAt_ = 0;
    std::deque<LinkPacket> queue_;
    std::optional<LinkPacket> inFlight_;
    uint32_t nextResendAt_ = 0;
    uint32_t resends_ = 0;
    LinkStats stats_;
};

}  // namespace kzsim
