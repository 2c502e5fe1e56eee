// Reading a wire trace (pcap, see src/link/wire_trace.h) and putting each
// frame into words: BCSP header, link message, module message.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kztool {

struct TraceRecord {
    uint32_t seconds = 0;
    uint32_t micros = 0;
    bool fromHost = false;             // direction byte 1: sent by the head unit
    std::vector<uint8_t> frame;        // C0 ... C0 as on the line
};

// False with a message when the file cannot be read or is not such a trace.
bool ReadWireTrace(const std::string& path, std::vector<TraceRecord>& records, std::string& error);

// "rel seq 1 ack 2 crc ch 13 len 16 | REQ_DIAL (82): number ..." or the reason
// the frame is broken.
std::string DescribeFrame(const std::vector<uint8_t>& frame, bool fromHost);

}  // namespace kztool
