#include "wire_decoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "link/bcsp_protocol.h"
#include "link/wire_trace.h"
#include "message_names.h"
#include "sim_codec.h"

namespace kztool {

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

const char* DecodeErrorText(kzsim::DecodeError e) {
    switch (e) {
        case kzsim::DecodeError::TooShort: return "too short";
        case kzsim::DecodeError::BadEscape: return "bad SLIP escape";
        case kzsim::DecodeError::HeaderChecksum: return "bad header checksum";
        case kzsim::DecodeError::Length: return "length field disagrees";
        case kzsim::DecodeError::Crc: return "bad CRC";
        default: return "ok";
    }
}

const char* kLinkNames[] = {"sync", "sync-resp", "conf", "conf-resp"};

// pcapng block types and the byte-order magic of a little-endian file.
constexpr uint32_t kPcapngSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kPcapngInterface = 1;
constexpr uint32_t kPcapngEnhancedPacket = 6;
constexpr uint32_t kPcapngByteOrder = 0x1A2B3C4D;
constexpr size_t kPcapngMinBlock = 12;
constexpr size_t kPcapngMaxBlock = 1u << 20;

// A SLIP pseudo-header plus frame as a record; false when too short.
bool MakeRecord(const uint8_t* data, size_t length, uint64_t micros, TraceRecord& r) {
    if (length < kz::pcap::kSlipPseudoHeaderSize) return false;
    r.seconds = static_cast<uint32_t>(micros / 1000000);
    r.micros = static_cast<uint32_t>(micros % 1000000);
    r.fromHost = data[0] == kz::pcap::kDirSent;
    r.frame.assign(data + kz::pcap::kSlipPseudoHeaderSize, data + length);
    return true;
}

}  // namespace

bool TraceReader::Feed(const uint8_t* data, size_t n, std::vector<TraceRecord>& out, std::string& error) {
    buffer_.insert(buffer_.end(), data, data + n);
    if (format_ == Format::kUnknown) {
        if (buffer_.size() < kz::pcap::kFileHeaderSize) return true;
        if (!ParseHeader(error)) return false;
    }
    for (bool failed = false;;) {
        const bool got = format_ == Format::kPcap ? NextPcap(out, error, failed) : NextPcapng(out, error, failed);
        if (failed) return false;
        if (!got) break;
    }
    // Keeps only what is not read yet.
    if (used_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
        used_ = 0;
    }
    return true;
}

bool TraceReader::ParseHeader(std::string& error) {
    const uint8_t* h = buffer_.data();
    if (Le32(h) == kz::pcap::kMagicMicroseconds) {
        if (Le32(h + 20) != kz::pcap::kLinkTypeSlip || Le16(h + 4) != kz::pcap::kVersionMajor) {
            error = "a pcap file of another link type (" + std::to_string(Le32(h + 20)) + ")";
            return false;
        }
        format_ = Format::kPcap;
        used_ = kz::pcap::kFileHeaderSize;
        return true;
    }
    if (Le32(h) == kPcapngSectionHeader) {
        if (Le32(h + 8) != kPcapngByteOrder) {
            error = "a big-endian pcapng file (only little-endian ones are read)";
            return false;
        }
        format_ = Format::kPcapng;   // the section header is read as a block
        return true;
    }
    error = "not a pcap or pcapng file of this program (little-endian, microseconds)";
    return false;
}

bool TraceReader::NextPcap(std::vector<TraceRecord>& out, std::string& error, bool& failed) {
    if (buffer_.size() - used_ < kz::pcap::kRecordHeaderSize) return false;
    const uint8_t* rec = buffer_.data() + used_;
    const uint32_t length = Le32(rec + 8);
    if (length < kz::pcap::kSlipPseudoHeaderSize || length > kz::pcap::kSnapLength) {
        error = "record " + std::to_string(records_ + 1) + " has a bad length";
        failed = true;
        return false;
    }
    if (buffer_.size() - used_ < kz::pcap::kRecordHeaderSize + length) return false;
    TraceRecord r;
    MakeRecord(rec + kz::pcap::kRecordHeaderSize, length, uint64_t(Le32(rec)) * 1000000 + Le32(rec + 4), r);
    out.push_back(std::move(r));
    ++records_;
    used_ += kz::pcap::kRecordHeaderSize + length;
    return true;
}

bool TraceReader::NextPcapng(std::vector<TraceRecord>& out, std::string& error, bool& failed) {
    if (buffer_.size() - used_ < kPcapngMinBlock) return false;
    const uint8_t* b = buffer_.data() + used_;
    const uint32_t type = Le32(b);
    const uint32_t total = Le32(b + 4);
    if (total < kPcapngMinBlock || total % 4 != 0 || total > kPcapngMaxBlock) {
        error = "block " + std::to_string(records_ + 1) + " has a bad length";
        failed = true;
        return false;
    }
    if (buffer_.size() - used_ < total) return false;
    if (type == kPcapngInterface && total >= 16 && Le16(b + 8) != kz::pcap::kLinkTypeSlip) {
        error = "a pcapng file of another link type (" + std::to_string(Le16(b + 8)) + ")";
        failed = true;
        return false;
    }
    if (type == kPcapngEnhancedPacket && total >= 32) {
        const uint32_t captured = Le32(b + 20);
        // Time stamps in microseconds, the default resolution.
        const uint64_t micros = (uint64_t(Le32(b + 12)) << 32) | Le32(b + 16);
        TraceRecord r;
        if (captured <= total - 32 && MakeRecord(b + 28, captured, micros, r)) {
            out.push_back(std::move(r));
            ++records_;
        }
    }
    used_ += total;
    return true;
}

bool ReadWireTrace(const std::string& path, std::vector<TraceRecord>& records, std::string& error, bool* cut) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TraceReader reader;
    if (!reader.Feed(bytes.data(), bytes.size(), records, error) || !reader.started()) {
        if (error.empty()) error = "too short for a trace";
        error = path + ": " + error;
        return false;
    }
    if (cut) *cut = reader.Pending() > 0;
    return true;
}

std::string DescribeFrame(const std::vector<uint8_t>& frame, bool fromHost) {
    const kzsim::DecodedPacket p = kzsim::DecodeFrame(frame);
    if (p.error != kzsim::DecodeError::None)
        return std::string("bad frame (") + DecodeErrorText(p.error) + "): " +
               HexBytes(frame.data(), frame.size());
    char head[96];
    std::snprintf(head, sizeof head, "%s seq %u ack %u%s ch %u len %zu", p.reliable ? "rel  " : "unrel",
                  p.seq, p.ack, p.crcPresent ? " crc" : "", p.channel, p.payload.size());
    std::string out = head;
    if (p.channel == kz::bcsp::kChannelLink) {
        const uint8_t link = kzsim::LinkMessageIndex(p.payload);
        out += " | link ";
        out += link < 4 ? kLinkNames[link] : "message ?";
    } else if (!p.reliable && p.payload.empty()) {
        out += " | ack";
    } else if (!p.payload.empty()) {
        out += " | " + DescribeModuleMessage(fromHost, p.payload.data(), p.payload.size());
    }
    return out;
}

}  // namespace kztool
