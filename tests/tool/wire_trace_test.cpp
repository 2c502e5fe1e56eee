#include "link/wire_trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include <csignal>
#include <iterator>
#include <sstream>

#include "kztarn_process.h"
#include "sim_codec.h"
#include "wire_decoder.h"

namespace kztool {
namespace {

class WireTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kz_wire_XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
        ASSERT_TRUE(kz::WireTraceStart(path_.c_str()));
    }
    void TearDown() override {
        kz::WireTraceStop();
        std::remove(path_.c_str());
    }
    static std::vector<uint8_t> Module(uint16_t id, uint8_t cls, std::vector<uint8_t> params, uint8_t seq) {
        std::vector<uint8_t> m(6 + params.size());
        m[2] = 0x55;
        m[3] = cls;
        m[4] = static_cast<uint8_t>(id);
        m[5] = static_cast<uint8_t>(id >> 8);
        std::copy(params.begin(), params.end(), m.begin() + 6);
        if (m.size() % 2) m.push_back(0);
        m[0] = static_cast<uint8_t>(m.size() / 2);
        return kzsim::BuildFrame(kzsim::MakeHeader(true, seq, 0, 13, m.size()), m);
    }
    std::string path_;
};

TEST_F(WireTraceTest, Frames_AreReadBackWithDirectionAndDecoded) {
    // REQ_DIAL "123456" from the host; CFM 82 and an escaped byte from the module.
    const auto dial = Module(82, 2, {1, 0, 6, '1', '2', '3', '4', '5', '6'}, 1);
    const auto cfm = Module(82, 2, {0, 0xC0, 0xDB}, 2);
    const auto sync = kzsim::BuildLinkMessage(kz::bcsp::kSync);
    kz::WireTraceFrame(kz::WireDir::kToModule, dial.data(), dial.size());
    kz::WireTraceFrame(kz::WireDir::kFromModule, cfm.data(), cfm.size());
    kz::WireTraceFrame(kz::WireDir::kFromModule, sync.data(), sync.size());

    std::vector<TraceRecord> records;
    std::string error;
    ASSERT_TRUE(ReadWireTrace(path_, records, error)) << error;
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(records[0].fromHost);
    EXPECT_FALSE(records[1].fromHost);
    EXPECT_EQ(records[0].frame, dial);
    EXPECT_EQ(records[1].frame, cfm);

    const std::string d = DescribeFrame(records[0].frame, true);
    EXPECT_NE(d.find("rel   seq 1"), std::string::npos) << d;
    EXPECT_NE(d.find("ch 13"), std::string::npos) << d;
    EXPECT_NE(d.find("REQ_DIAL (82): number \"123456\""), std::string::npos) << d;
    EXPECT_NE(DescribeFrame(records[1].frame, false).find("CFM dial (82): status 0 c0 db"), std::string::npos)
        << DescribeFrame(records[1].frame, false);
    EXPECT_NE(DescribeFrame(records[2].frame, false).find("link sync"), std::string::npos);
    EXPECT_NE(DescribeFrame({0xC0, 0x01, 0xC0}, true).find("bad frame"), std::string::npos);
}

TEST_F(WireTraceTest, ConcurrentWriters_LeaveWholeRecords) {
    const auto ack = kzsim::BuildPureAck(3);
    auto writer = [&](kz::WireDir dir) {
        for (int i = 0; i < 200; ++i) kz::WireTraceFrame(dir, ack.data(), ack.size());
    };
    std::thread a(writer, kz::WireDir::kToModule), b(writer, kz::WireDir::kFromModule);
    a.join();
    b.join();
    std::vector<TraceRecord> records;
    std::string error;
    ASSERT_TRUE(ReadWireTrace(path_, records, error)) << error;
    ASSERT_EQ(records.size(), 400u);
    for (const auto& r : records) EXPECT_EQ(r.frame, ack);
    EXPECT_NE(DescribeFrame(records[0].frame, true).find("| ack"), std::string::npos);
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The same records as Wireshark saves them by default: pcapng.
std::vector<uint8_t> AsPcapng(const std::vector<TraceRecord>& records) {
    std::vector<uint8_t> out;
    Put32(out, 0x0A0D0D0A), Put32(out, 28), Put32(out, 0x1A2B3C4D), Put32(out, 1);
    Put32(out, 0xFFFFFFFF), Put32(out, 0xFFFFFFFF), Put32(out, 28);
    Put32(out, 1), Put32(out, 20), Put32(out, 8), Put32(out, 65535), Put32(out, 20);
    for (const auto& r : records) {
        std::vector<uint8_t> data(16, 0);
        data[0] = r.fromHost ? 1 : 0;
        data.insert(data.end(), r.frame.begin(), r.frame.end());
        const uint32_t padded = static_cast<uint32_t>((data.size() + 3) / 4 * 4);
        const uint64_t micros = uint64_t(r.seconds) * 1000000 + r.micros;
        Put32(out, 6), Put32(out, 32 + padded), Put32(out, 0);
        Put32(out, static_cast<uint32_t>(micros >> 32)), Put32(out, static_cast<uint32_t>(micros));
        Put32(out, static_cast<uint32_t>(data.size())), Put32(out, static_cast<uint32_t>(data.size()));
        data.resize(padded, 0);
        out.insert(out.end(), data.begin(), data.end());
        Put32(out, 32 + padded);
    }
    return out;
}

// pcap, pcapng, a trace cut inside its last record, and a trace read as it
// grows byte by byte all give the same whole records.
TEST_F(WireTraceTest, EveryFormAndCut_GiveTheWholeRecords) {
    const auto dial = Module(82, 2, {1, 0, 3, '1', '2', '3'}, 1);
    const auto cfm = Module(82, 2, {12}, 2);
    kz::WireTraceFrame(kz::WireDir::kToModule, dial.data(), dial.size());
    kz::WireTraceFrame(kz::WireDir::kFromModule, cfm.data(), cfm.size());
    const std::vector<uint8_t> pcap = FileBytes(path_);
    std::vector<TraceRecord> expected;
    std::string error;
    ASSERT_TRUE(ReadWireTrace(path_, expected, error)) << error;
    ASSERT_EQ(expected.size(), 2u);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        size_t piece;
        size_t records;
        bool cut;
    };
    const Case cases[] = {
        {"pcap", pcap, pcap.size(), 2, false},
        {"pcapng", AsPcapng(expected), 1 << 16, 2, false},
        {"cut", std::vector<uint8_t>(pcap.begin(), pcap.end() - 3), 1 << 16, 1, true},
        {"growing", pcap, 1, 2, false},
    };
    for (const auto& c : cases) {
        TraceReader reader;
        std::vector<TraceRecord> records;
        for (size_t at = 0; at < c.bytes.size(); at += c.piece)
            ASSERT_TRUE(reader.Feed(c.bytes.data() + at, std::min(c.piece, c.bytes.size() - at), records, error))
                << c.name << ": " << error;
        ASSERT_EQ(records.size(), c.records) << c.name;
        EXPECT_EQ(reader.Pending() > 0, c.cut) << c.name;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].frame, expected[i].frame) << c.name;
            EXPECT_EQ(records[i].fromHost, expected[i].fromHost) << c.name;
            EXPECT_EQ(records[i].micros, expected[i].micros) << c.name;
        }
    }
    std::ofstream(path_ + ".cut", std::ios::binary).write(reinterpret_cast<const char*>(cases[2].bytes.data()),
                                                          static_cast<std::streamsize>(cases[2].bytes.size()));
    const auto decoded = kztooltest::RunKztarn({"decode", path_ + ".cut"});
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_NE(decoded.out.find("REQ_DIAL (82)"), std::string::npos) << decoded.out;
    EXPECT_NE(decoded.out.find("the last record is cut short"), std::string::npos) << decoded.out;
    std::remove((path_ + ".cut").c_str());
}

TEST_F(WireTraceTest, Follow_DecodesATraceStillBeingWritten) {
    kztooltest::PtyProcess follow(kztooltest::KztarnPath(), {"decode", "--follow", path_});
    ASSERT_TRUE(follow.Started());
    const auto dial = Module(82, 2, {1, 0, 3, '4', '5', '6'}, 1);
    kz::WireTraceFrame(kz::WireDir::kToModule, dial.data(), dial.size());
    EXPECT_TRUE(follow.WaitFor("REQ_DIAL (82): number \"456\"")) << follow.Screen();
    const auto cfm = Module(82, 2, {0}, 2);
    kz::WireTraceFrame(kz::WireDir::kFromModule, cfm.data(), cfm.size());
    EXPECT_TRUE(follow.WaitFor("CFM dial (82): status 0")) << follow.Screen();
    follow.Signal(SIGTERM);
    EXPECT_TRUE(follow.WaitFor("2 frames")) << follow.Screen();
    EXPECT_EQ(follow.Wait(), 0);
}

// A console session's trace decodes frame by frame, a damaged frame named as
// such; the Wireshark dissector, loaded into tshark, reads every frame as
// decode does and flags the damaged one.
TEST(Trace_DecodeAndDissector, FieldsAgree) {
    kztooltest::TempDir dir;
    const std::string trace = dir.File("wire.pcap");
    const auto run = kztooltest::RunKztarn({"console", "--root", dir.path(), "--trace", trace},
                                           "micgain 7\nphone connect hfp\nwait phone connected\ndial 0123\n");
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    // One more record: a frame whose CRC is damaged.
    std::vector<uint8_t> bad = kzsim::BuildFrame(kzsim::MakeHeader(true, 0, 0, 13, 6), {3, 0, 0x55, 2, 48, 0});
    bad[bad.size() - 2] ^= 0x01;
    std::vector<uint8_t> record;
    Put32(record, 1), Put32(record, 0), Put32(record, static_cast<uint32_t>(16 + bad.size()));
    Put32(record, static_cast<uint32_t>(16 + bad.size()));
    record.resize(record.size() + 16, 0);
    record.insert(record.end(), bad.begin(), bad.end());
    std::ofstream(trace, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));

    const auto decoded = kztooltest::RunKztarn({"decode", trace});
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    for (const char* expected : {"module->host unrel seq 0 ack 0 crc ch 1 len 4 | link sync", "IND module ready (48)",
                                 "RES to IND module ready (48)", "REQ_SET_MIC_GAIN (4): 80 07",
                                 "CFM microphone gain (4): status 0", "bad frame (bad CRC)"})
        EXPECT_NE(decoded.out.find(expected), std::string::npos) << expected << "\n" << decoded.out;
    if (access("/usr/bin/tshark", X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed: `make deps` installs it (Debian package tshark)";
    const std::string tshark = "/usr/bin/tshark -X lua_script:" + std::string(KZ_TARN_BINARY) +
                               "/share/kztarn.lua -r " + trace + " 2>/dev/null";
    const auto lines = [](const std::string& command) {
        std::vector<std::string> out;
        FILE* p = popen(command.c_str(), "r");
        char buffer[4096];
        while (p && std::fgets(buffer, sizeof buffer, p)) out.emplace_back(buffer);
        if (p) pclose(p);
        return out;
    };
    const auto fields = lines(tshark + " -T fields -E separator=, -e kztarn.dir -e kztarn.seq -e kztarn.ack"
                                       " -e kztarn.channel -e kztarn.length -e kztarn.link -e kztarn.msg.name"
                                       " -e kztarn.msg.id");
    std::vector<std::string> frames;
    std::istringstream in(decoded.out);
    for (std::string l; std::getline(in, l);)
        if (l.find("->") != std::string::npos) frames.push_back(l);
    ASSERT_EQ(fields.size(), frames.size()) << decoded.out;
    size_t modules = 0;
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        unsigned dir = 0, seq = 0, ack = 0, ch = 0, len = 0;
        char link[32] = "", name[96] = "";
        unsigned id = 0;
        const int n = std::sscanf(fields[i].c_str(), "%u,%u,%u,%u,%u,%31[^,],%95[^,],%u", &dir, &seq, &ack, &ch, &len,
                                  link, name, &id);
        const int m = n >= 6 ? n : std::sscanf(fields[i].c_str(), "%u,%u,%u,%u,%u,,%95[^,],%u", &dir, &seq, &ack,
                                               &ch, &len, name, &id);
        ASSERT_GE(m, 5) << fields[i];
        const std::string& f = frames[i];
        const std::string head = std::string(dir ? "host->module" : "module->host");
        EXPECT_NE(f.find(head), std::string::npos) << f << " vs " << fields[i];
        EXPECT_NE(f.find("seq " + std::to_string(seq) + " ack " + std::to_string(ack)), std::string::npos) << f;
        EXPECT_NE(f.find("ch " + std::to_string(ch) + " len " + std::to_string(len)), std::string::npos) << f;
        if (*name) {
            ++modules;
            EXPECT_NE(f.find(std::string(name) + " (" + std::to_string(id) + ")"), std::string::npos)
                << f << " vs " << fields[i];
        }
    }
    EXPECT_GT(modules, 10u);
    EXPECT_NE(frames.back().find("bad frame (bad CRC)"), std::string::npos) << frames.back();
    EXPECT_EQ(lines(tshark + " -Y kztarn.bad_crc").size(), 1u);
}

}  // namespace
}  // namespace kztool
