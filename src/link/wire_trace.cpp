// pcap writer of the wire trace (see wire_trace.h for the format).
#include "link/wire_trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kz {

namespace {

std::mutex traceMutex;
FILE* traceFile = nullptr;     // guarded by traceMutex
bool environmentRead = false;  // guarded by traceMutex

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Caller holds traceMutex.
bool OpenLocked(const char* path) {
    if (traceFile) std::fclose(traceFile);
    traceFile = std::fopen(path, "wb");
    if (!traceFile) return false;
    uint8_t header[pcap::kFileHeaderSize] = {};
    Put32(header, pcap::kMagicMicroseconds);
    Put16(header + 4, pcap::kVersionMajor);
    Put16(header + 6, pcap::kVersionMinor);
    Put32(header + 16, pcap::kSnapLength);
    Put32(header + 20, pcap::kLinkTypeSlip);
    std::fwrite(header, 1, sizeof header, traceFile);
    std::fflush(traceFile);
    return true;
}

}  // namespace

bool WireTraceStart(const char* path) {
    std::lock_guard<std::mutex> lock(traceMutex);
    environmentRead = true;
    return path && OpenLocked(path);
}

void WireTraceStop() {
    std::lock_guard<std::mutex> lock(traceMutex);
    environmentRead = true;
    if (traceFile) std::fclose(traceFile);
    traceFile = nullptr;
}

void WireTraceFrame(WireDir dir, const uint8_t* frame, size_t n) {
    if (!frame || n == 0) return;
    std::lock_guard<std::mutex> lock(traceMutex);
    if (!environmentRead) {
        environmentRead = true;
        const char* path = std::getenv(kWireTraceEnv);
        if (path && *path && !OpenLocked(path))
            std::fprintf(stderr, "KZ_Tarn: cannot write the wire trace %s\n", path);
    }
    if (!traceFile) return;
    if (n > pcap::kSnapLength - pcap::kSlipPseudoHeaderSize)
        n = pcap::kSnapLength - pcap::kSlipPseudoHeaderSize;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    const uint32_t length = static_cast<uint32_t>(n + pcap::kSlipPseudoHeaderSize);
    uint8_t record[pcap::kRecordHeaderSize + pcap::kSlipPseudoHeaderSize] = {};
    Put32(record, static_cast<uint32_t>(us / 1000000));
    Put32(record + 4, static_cast<uint32_t>(us % 1000000));
    Put32(record + 8, length);
    Put32(record + 12, length);
    record[pcap::kRecordHeaderSize] = static_cast<uint8_t>(dir);
    std::fwrite(record, 1, sizeof record, traceFile);
    std::fwrite(frame, 1, n, traceFile);
    // Flushed per frame: a trace of a session that crashes is still readable.
    std::fflush(traceFile);
}

}  // namespace kz
