// A tiny host for the simulator's tests: the other end of the pty, with the
// host's side of link establishment and plain packet sending. It does not use
// the library, so these tests stand on the simulator alone.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "frame_collector.h"
#include "sim_codec.h"

namespace kzsim::test {

struct HostPacket {
    DecodedPacket packet;
    std::vector<uint8_t> frame;
    uint32_t atMs = 0;   // since the host opened the line
};

class TestHost {
public:
    using Clock = std::chrono::steady_clock;

    explicit TestHost(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        start_ = Clock::now();
    }
    ~TestHost() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // Host behaviour switches.
    bool answerLink = true;      // answer link messages as the host's table says
    bool ackReliable = true;     // acknowledge the module's reliable packets

    enum class State { Shy, Curious, Garrulous };
    State state = State::Shy;
    uint8_t txSeq = 0;
    uint8_t rxAck = 0;
    std::vector<HostPacket> packets;       // every valid packet from the module

    uint32_t NowMs() const {
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
    }

    void Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 10);
            }
        }
    }
    void SendLink(uint8_t index) {
        Write(BuildLinkMessage(index));
    }
    void SendReliable(const std::vector<uint8_t>& payload, uint8_t seq, uint8_t channel = 13) {
        Write(BuildFrame(MakeHeader(true, seq, rxAck, channel, payload.size()), payload));
    }
    // Sends with the next sequence number (no retransmission).
    void SendNext(const std::vector<uint8_t>& payload, uint8_t channel = 13) {
        SendReliable(payload, txSeq, channel);
        txSeq = static_cast<uint8_t>((txSeq + 1) & 7);
    }
    void SendAck() { Write(BuildPureAck(rxAck)); }

    // Reads and handles everything that arrives within ms, or until pred()
    // holds. Returns pred's final value.
    template <typename Pred>
    bool PumpUntil(Pred pred, uint32_t ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - Clock::now()).count();
            if (left <= 0) return pred();
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
            ReadAll();
        }
        return true;
    }
    void Pump(uint32_t ms) { PumpUntil([] { return false; }, ms); }

    bool WaitLinkUp(uint32_t ms) {
        return PumpUntil([this] { return state == State::Garrulous; }, ms);
    }
    // Waits for the n-th (1-based) reliable channel-13 packet.
    bool WaitReliable(size_t n, uint32_t ms) {
        return PumpUntil([&] { return Reliable().size() >= n; }, ms);
    }
    std::vector<HostPacket> Reliable() const {
        std::vector<HostPacket> r;
        for (const auto& p : packets)
            if (p.packet.reliable) r.push_back(p);
        return r;
    }

private:
    void ReadAll() {
        uint8_t buf[4096];
        for (;;) {
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            std::vector<std::vector<uint8_t>> frames;
            collector_.Feed(buf, static_cast<size_t>(n), frames);
            for (auto& f : frames) Handle(f);
        }
    }
    void Handle(const std::vector<uint8_t>& frame) {
        HostPacket hp{DecodeFrame(frame), frame, NowMs()};
        if (hp.packet.error != DecodeError::None) return;
        packets.push_back(hp);
        const DecodedPacket& p = hp.packet;
        if (p.channel == 1 && !p.reliable) {
            if (answerLink) AnswerLink(LinkMessageIndex(p.payload));
            return;
        }
        if (p.reliable && state == State::Garrulous) {
            if (p.seq == rxAck) rxAck = static_cast<uint8_t>((rxAck + 1) & 7);
            if (ackReliable) SendAck();
        }
    }
    // The host's answers to the module's link messages.
    void AnswerLink(uint8_t m) {
        switch (m) {
        case 0:  // sync
            if (state == State::Garrulous) {
                state = State::Shy;
                txSeq = rxAck = 0;
                SendLink(0);
            } else {
                SendLink(state == State::Shy ? 0 : 1);
            }
            break;
        case 1:  // sync-resp
            if (state == State::Shy) {
                state = State::Curious;
                SendLink(2);
            }
            break;
        case 2:  // conf
            SendLink(state == State::Garrulous ? 3 : 2);
            break;
        case 3:  // conf-resp
            if (state != State::Garrulous) {
                state = State::Garrulous;
                SendLink(3);
            }
            break;
        default:
            break;
        }
    }

    int fd_ = -1;
    Clock::time_point start_;
    FrameCollector collector_;
};

}  // namespace kzsim::test
