// The receive path below the dispatcher: validation and BCSP receive of
// valid frames (frames per second), and the framer reading frames from a
// pseudo-terminal as it reads them from the module's port.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_util.h"
#include "link/bcsp_link.h"
#include "link/bcsp_packet.h"
#include "link/serial_port.h"

namespace {

using namespace kz;

constexpr size_t kVCardChunk = 200;   // text bytes per phonebook data indication
constexpr uint8_t kSeqCount = 8;

// A reliable channel-13 frame from the module, carrying a phonebook data
// indication of `text` bytes, with this sequence number and ack 0.
std::vector<uint8_t> ModuleFrame(size_t text, uint8_t seq) {
    const std::string vcards = kzbench::VCardText(kzbench::RealisticContacts(4), {});
    const auto msg = kzbench::VCardIndications(vcards.substr(0, text), text).front();
    const uint16_t len = static_cast<uint16_t>(msg.size());
    const uint8_t h0 = static_cast<uint8_t>(bcsp::kReliable | bcsp::kCrcPresent | seq);
    const uint8_t h1 = static_cast<uint8_t>(((len & 0x0F) << 4) | bcsp::kChannelModule);
    const uint8_t h2 = static_cast<uint8_t>(len >> 4);
    const uint8_t header[4] = {h0, h1, h2, bcsp::HeaderChecksum(h0, h1, h2)};
    std::vector<uint8_t> frame(bcsp::kFrameBufferSize);
    frame.resize(BcspBuildFrame(header, msg.data(), msg.size(), frame.data(), frame.size()));
    return frame;
}

std::vector<std::vector<uint8_t>> SequencedFrames(size_t text) {
    std::vector<std::vector<uint8_t>> frames;
    for (uint8_t s = 0; s < kSeqCount; ++s) frames.push_back(ModuleFrame(text, s));
    return frames;
}

void BM_BcspValidateFrame(benchmark::State& state) {
    const auto frame = ModuleFrame(static_cast<size_t>(state.range(0)), 0);
    uint8_t header[4];
    for (auto _ : state) {
        if (!BcspValidateFrame(frame.data(), frame.size(), header)) state.SkipWithError("rejected");
        benchmark::DoNotOptimize(header);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_BcspValidateFrame)->Arg(16)->Arg(kVCardChunk);

// Frames in sequence on an established link: each is accepted, acknowledged
// (send_ack) and marked for delivery.
void BM_BcspReceive(benchmark::State& state) {
    const auto frames = SequencedFrames(static_cast<size_t>(state.range(0)));
    ResetLinkState();
    ubcsp_config.link_establishment_state = kGarrulous;
    size_t i = 0;
    for (auto _ : state) {
        const auto& f = frames[i++ % kSeqCount];
        const uint8_t flags = BcspReceive(f.data(), f.size());
        if ((flags & BCSP_ACT_RELIABLE) == 0) state.SkipWithError("not delivered");
        ubcsp_config.send_ack = false;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frames[0].size()));
}
BENCHMARK(BM_BcspReceive)->Arg(16)->Arg(kVCardChunk);

// The framer on the module port (a pseudo-terminal): a burst of frames is
// written to the line, then polled until every frame has been taken.
void BM_FramerOverPty(benchmark::State& state) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    setenv("KZ_TARN_COM3", ptsname(master), 1);
    if (!OpenModulePort(3, 115200)) {
        state.SkipWithError("port did not open");
        close(master);
        return;
    }
    const auto frame = ModuleFrame(kVCardChunk, 0);
    const size_t burst = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> line;
    for (size_t k = 0; k < burst; ++k) line.insert(line.end(), frame.begin(), frame.end());
    for (auto _ : state) {
        state.PauseTiming();
        ResetFramer();
        if (write(master, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            state.SkipWithError("short write");
        // The line discipline hands the bytes over asynchronously.
        while (g_SerialPort.BytesWaiting() < line.size()) usleep(50);
        state.ResumeTiming();
        size_t taken = 0;
        while (taken < burst) {
            PollUart();
            if (g_bRxFrameReady) {
                g_bRxFrameReady = 0;
                ++taken;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(burst));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
    g_SerialPort.Close();
    close(master);
}
BENCHMARK(BM_FramerOverPty)->Arg(1)->Arg(16);

}  // namespace

BENCHMARK_MAIN();
