// Reading a wire trace (pcap, see src/link/wire_trace.h, or the pcapng that
// Wireshark saves) and putting each frame into words: BCSP header, link
// message, module message.
#pragma once
#include <cstddef>
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

// Takes a trace's bytes in pieces as they come (a file still being written)
// and gives each record once it is whole.
class TraceReader {
public:
    // Appends the records completed by these bytes. False with a message when
    // the bytes are not a trace of this program's link type.
    bool Feed(const uint8_t* data, size_t n, std::vector<TraceRecord>& out, std::string& error);
    // Bytes of a record (or header) that is not whole yet.
    size_t Pending() const { return buffer_.size() - used_; }
    bool started() const { return format_ != Format::kUnknown; }

private:
    enum class Format : uint8_t { kUnknown, kPcap, kPcapng };
    bool ParseHeader(std::string& error);
    // One record or block from buffer_ at used_; false when not whole yet.
    bool NextPcap(std::vector<TraceRecord>& out, std::string& error, bool& failed);
    bool NextPcapng(std::vector<TraceRecord>& out, std::string& error, bool& failed);

    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    Format format_ = Format::kUnknown;
    size_t records_ = 0;
};

// The whole file. cut is set when the last record is not whole (a trace of a
// program that was killed, or one still being written). False with a message
// when the file cannot be read or is not such a trace.
bool ReadWireTrace(const std::string& path, std::vector<TraceRecord>& records, std::string& error,
                   bool* cut = nullptr);

// "rel seq 1 ack 2 crc ch 13 len 16 | REQ_DIAL (82): number ..." or the reason
// the frame is broken.
std::string DescribeFrame(const std::vector<uint8_t>& frame, bool fromHost);

}  // namespace kztool
