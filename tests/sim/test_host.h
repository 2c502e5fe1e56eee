// The host's end of the simulator's pty for its tests, without the library:
// a second link engine of the simulator's own does the host's side of the
// link, and every valid packet from the module is recorded with its time.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame_collector.h"
#include "sim_link.h"
#include "support/test_support.h"

namespace kzsim::test {

struct HostPacket {
    DecodedPacket packet;
    std::vector<uint8_t> frame;
    uint32_t atMs = 0;   // since the host opened the line
};

class TestHost {
public:
    explicit TestHost(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)), start_(KzGetTickCount()),
          link_(LinkConfig{}, [this](const std::vector<uint8_t>& f) { Write(f); }) {
        link_.Start(NowMs());
    }
    ~TestHost() { close(fd_); }
    bool ok() const { return fd_ >= 0; }
    uint32_t NowMs() const { return KzGetTickCount() - start_; }
    LinkEngine& link() { return link_; }
    std::vector<HostPacket> packets;   // every valid packet from the module

    void Write(const std::vector<uint8_t>& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<size_t>(n);
            else PollFor(POLLOUT);
        }
    }

    // Reads, answers and records until pred() holds or ms pass.
    template <typename Pred>
    bool PumpUntil(Pred pred, uint32_t ms) {
        return kztest::PollUntil(pred, ms, [this] { PollFor(POLLIN); ReadAll(); link_.Tick(NowMs()); });
    }
    bool WaitLinkUp(uint32_t ms) { return PumpUntil([this] { return link_.Up(); }, ms); }
    // Waits for the n-th reliable packet from the module.
    bool WaitReliable(size_t n, uint32_t ms) { return PumpUntil([&] { return Reliable().size() >= n; }, ms); }
    std::vector<HostPacket> Reliable() const {
        std::vector<HostPacket> r;
        std::copy_if(packets.begin(), packets.end(), std::back_inserter(r), [](auto& p) { return p.packet.reliable; });
        return r;
    }

private:
    void PollFor(short events) {
        pollfd p{fd_, events, 0};
        poll(&p, 1, 5);
    }
    void ReadAll() {
        uint8_t buf[4096];
        ssize_t n;
        while ((n = read(fd_, buf, sizeof buf)) > 0) {
            std::vector<std::vector<uint8_t>> frames;
            collector_.Feed(buf, static_cast<size_t>(n), frames);
            for (auto& f : frames) {
                const DecodedPacket p = DecodeFrame(f);
                if (p.error == DecodeError::None) packets.push_back({p, f, NowMs()});
                link_.OnFrame(f, NowMs());
                link_.FlushAck();
            }
        }
    }

    int fd_;
    uint32_t start_;
    LinkEngine link_;
    FrameCollector collector_;
};

}  // namespace kzsim::test
