// The pure BCSP codec: CRC-16, SLIP escaping and unescaping, frame building
// and checking, in bytes per second.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_util.h"
#include "link/bcsp_codec.h"

namespace {

using namespace kz;

// Payload sizes: a typical module message, the largest the host sends, and a
// big block for the steady-state rate.
constexpr int64_t kSmall = 32;
constexpr int64_t kLarge = 4096;
constexpr unsigned kEscapeEvery = 64;   // vCard text escapes nothing; binary data now and then

void BM_Crc(benchmark::State& state) {
    const auto data = kzbench::PayloadBytes(static_cast<size_t>(state.range(0)), kEscapeEvery);
    for (auto _ : state) {
        benchmark::DoNotOptimize(BcspCrc(data.data(), data.size()));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc)->Arg(kSmall)->Arg(255)->Arg(kLarge);

void BM_SlipEncode(benchmark::State& state) {
    const auto data = kzbench::PayloadBytes(static_cast<size_t>(state.range(0)), kEscapeEvery);
    std::vector<uint8_t> out(2 * data.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(SlipEncode(data.data(), out.data(), data.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SlipEncode)->Arg(kSmall)->Arg(255)->Arg(kLarge);

void BM_SlipDecode(benchmark::State& state) {
    const auto data = kzbench::PayloadBytes(static_cast<size_t>(state.range(0)), kEscapeEvery);
    std::vector<uint8_t> escaped(2 * data.size());
    const size_t n = data.size() + SlipEncode(data.data(), escaped.data(), data.size());
    std::vector<uint8_t> out(data.size());
    for (auto _ : state) {
        size_t len = 0;
        benchmark::DoNotOptimize(SlipDecode(escaped.data(), out.data(), false, n, out.size(), &len));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_SlipDecode)->Arg(kSmall)->Arg(255)->Arg(kLarge);

// A reliable channel-13 frame as the module sends vCard data.
void BM_BuildFrame(benchmark::State& state) {
    const auto data = kzbench::PayloadBytes(static_cast<size_t>(state.range(0)), kEscapeEvery);
    const uint16_t len = static_cast<uint16_t>(data.size());
    const uint8_t h0 = bcsp::kReliable | bcsp::kCrcPresent;
    const uint8_t h1 = static_cast<uint8_t>(((len & 0x0F) << 4) | bcsp::kChannelModule);
    const uint8_t h2 = static_cast<uint8_t>(len >> 4);
    const uint8_t header[4] = {h0, h1, h2, bcsp::HeaderChecksum(h0, h1, h2)};
    std::vector<uint8_t> out(bcsp::kFrameBufferSize);
    for (auto _ : state) {
        benchmark::DoNotOptimize(BcspBuildFrame(header, data.data(), data.size(), out.data(), out.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildFrame)->Arg(kSmall)->Arg(255);

void BM_CheckFrame(benchmark::State& state) {
    const auto data = kzbench::PayloadBytes(static_cast<size_t>(state.range(0)), kEscapeEvery);
    const uint16_t len = static_cast<uint16_t>(data.size());
    const uint8_t h0 = bcsp::kReliable | bcsp::kCrcPresent;
    const uint8_t h1 = static_cast<uint8_t>(((len & 0x0F) << 4) | bcsp::kChannelModule);
    const uint8_t h2 = static_cast<uint8_t>(len >> 4);
    const uint8_t header[4] = {h0, h1, h2, bcsp::HeaderChecksum(h0, h1, h2)};
    std::vector<uint8_t> frame(bcsp::kFrameBufferSize);
    frame.resize(BcspBuildFrame(header, data.data(), data.size(), frame.data(), frame.size()));
    uint8_t hdr[4];
    std::vector<uint8_t> payload(bcsp::kRxPayloadSize);
    for (auto _ : state) {
        size_t decoded = 0;
        const FrameCheck r = BcspCheckFrame(frame.data(), frame.size(), hdr, payload.data(),
                                            payload.size(), &decoded);
        if (r != FrameCheck::kOk) state.SkipWithError("frame rejected");
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CheckFrame)->Arg(kSmall)->Arg(255);

}  // namespace

BENCHMARK_MAIN();
