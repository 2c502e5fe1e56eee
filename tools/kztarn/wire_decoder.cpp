#include "wire_decoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

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

}  // namespace

bool ReadWireTrace(const std::string& path, std::vector<TraceRecord>& records, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t header[kz::pcap::kFileHeaderSize];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) ||
        Le32(header) != kz::pcap::kMagicMicroseconds) {
        error = path + " is not a pcap file of this program (little-endian, microseconds)";
        return false;
    }
    if (Le32(header + 20) != kz::pcap::kLinkTypeSlip || Le16(header + 4) != kz::pcap::kVersionMajor) {
        error = path + " is a pcap file of another link type (" + std::to_string(Le32(header + 20)) + ")";
        return false;
    }
    uint8_t rec[kz::pcap::kRecordHeaderSize];
    while (in.read(reinterpret_cast<char*>(rec), sizeof rec)) {
        const uint32_t length = Le32(rec + 8);
        if (length < kz::pcap::kSlipPseudoHeaderSize || length > kz::pcap::kSnapLength) {
            error = path + ": record " + std::to_string(records.size() + 1) + " has a bad length";
            return false;
        }
        std::vector<uint8_t> data(length);
        if (!in.read(reinterpret_cast<char*>(data.data()), length)) {
            error = path + ": record " + std::to_string(records.size() + 1) + " is cut short";
            return false;
        }
        TraceRecord r;
        r.seconds = Le32(rec);
        r.micros = Le32(rec + 4);
        r.fromHost = data[0] == kz::pcap::kDirSent;
        r.frame.assign(data.begin() + kz::pcap::kSlipPseudoHeaderSize, data.end());
        records.push_back(std::move(r));
    }
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
