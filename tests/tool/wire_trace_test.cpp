// The wire trace: written whole by concurrent writers, read back in every
// form, decoded as it grows, followed by the console to tell the user's
// requests and their confirmations, and read alike by the Wireshark dissector.
#include "link/wire_trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "kztarn_process.h"
#include "sim_codec.h"
#include "wire_decoder.h"
#include "wire_tap.h"

namespace kztool {
namespace {

// A module message on channel 13 in a reliable frame.
std::vector<uint8_t> Module(uint16_t id, std::vector<uint8_t> params, uint8_t seq) {
    std::vector<uint8_t> m = {0, 0, 0x55, 2, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
    m.insert(m.end(), params.begin(), params.end());
    m.resize((m.size() + 1) / 2 * 2);
    m[0] = static_cast<uint8_t>(m.size() / 2);
    return kzsim::BuildFrame(kzsim::MakeHeader(true, seq, 0, 13, m.size()), m);
}

class WireTraceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kz::WireTraceStart(path_.c_str())); }
    void TearDown() override { kz::WireTraceStop(); }
    // Records frames alternately from the host and the module.
    static void Record(const std::vector<std::vector<uint8_t>>& frames) {
        for (size_t i = 0; i < frames.size(); ++i)
            kz::WireTraceFrame(i % 2 ? kz::WireDir::kFromModule : kz::WireDir::kToModule, frames[i].data(),
                               frames[i].size());
    }
    kztooltest::TempDir dir_;
    const std::string path_ = dir_.File("wire.pcap");
};

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

// The library sends a request with the same id as the user's of its own
// accord: the console takes the confirmation of the request with the user's
// parameters, not the first one with the id.
TEST_F(WireTraceTest, UsersRequest_IsToldApartByItsParameters) {
    Record({Module(4, {0x80, 8}, 1), Module(4, {0}, 1), Module(4, {0x80, 9}, 2), Module(4, {12}, 2)});
    WireTap tap;
    tap.Follow(path_);
    tap.Poll(0);
    const long own = tap.FindRequest(0, {{4}, 0, {}}), users = tap.FindRequest(0, {{4}, 6, {0x80, 9}});
    ASSERT_TRUE(own == 0 && users == 2 && tap.FindConfirm(own) && tap.FindConfirm(users)) << own << " " << users;
    EXPECT_EQ(tap.FindConfirm(users)->status * 100 + tap.FindConfirm(own)->status, 1200);
}

void Put32(std::vector<uint8_t>& out, std::initializer_list<uint32_t> words) {
    for (uint32_t v : words)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// pcap, a trace cut inside its last record, a trace read as it grows byte by
// byte, and pcapng all give the same whole records; `decode --follow` shows
// records as they are written.
TEST_F(WireTraceTest, EveryFormAndCut_GiveTheWholeRecords) {
    Record({Module(82, {1, 0, 3, '1', '2', '3'}, 1), Module(82, {12, 0xC0, 0xDB}, 2)});   // escaped bytes
    std::ifstream file(path_, std::ios::binary);
    const std::vector<uint8_t> pcap{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<TraceRecord> expected;
    std::string error;
    ASSERT_TRUE(ReadWireTrace(path_, expected, error)) << error;
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_NE(DescribeFrame(expected[0].frame, true).find("ch 13 len 12 | REQ_DIAL (82): number \"123\""),
              std::string::npos) << DescribeFrame(expected[0].frame, true);
    EXPECT_NE(DescribeFrame(expected[1].frame, false).find("CFM dial (82): status 12 c0 db"), std::string::npos);
    const std::vector<uint8_t> cut(pcap.begin(), pcap.end() - 3);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        size_t piece;
        size_t records;
        bool cut;
    };
    const Case cases[] = {
        {"pcap", pcap, pcap.size(), 2, false},
        {"cut", cut, 1 << 16, 1, true},
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
        for (size_t i = 0; i < records.size(); ++i)
            EXPECT_TRUE(records[i].frame == expected[i].frame && records[i].fromHost == expected[i].fromHost &&
                        records[i].micros == expected[i].micros) << c.name << " record " << i;
    }
    std::ofstream(path_ + ".cut", std::ios::binary).write(reinterpret_cast<const char*>(cut.data()), cut.size());
    const auto decoded = kztooltest::RunKztarn({"decode", path_ + ".cut"});
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_NE(decoded.screen.find("REQ_DIAL (82)"), std::string::npos) << decoded.screen;
    EXPECT_NE(decoded.screen.find("the last record is cut short"), std::string::npos) << decoded.screen;
    // A trace still being written is decoded as it grows.
    kztooltest::Kztarn follow({"decode", "--follow", path_});
    Record({Module(82, {1, 0, 3, '4', '5', '6'}, 1)});
    EXPECT_TRUE(follow.WaitFor("REQ_DIAL (82): number \"456\"")) << follow.Screen();
    Record({{}, Module(82, {0}, 2)});
    EXPECT_TRUE(follow.WaitFor("CFM dial (82): status 0")) << follow.Screen();
    follow.Signal(SIGTERM);
    EXPECT_TRUE(follow.WaitFor("4 frames")) << follow.Screen();
    EXPECT_EQ(follow.Wait(), 0);
    // Wireshark's default save format, as its own editcap writes it, gives the same records.
    if (kztooltest::Shell("editcap -F pcapng " + path_ + " " + path_ + "ng") != 0)
        GTEST_SKIP() << "editcap is not installed: `make deps` installs it (Debian package tshark)";
    std::vector<TraceRecord> pcapRecords, pcapngRecords;
    ASSERT_TRUE(ReadWireTrace(path_, pcapRecords, error) && ReadWireTrace(path_ + "ng", pcapngRecords, error)) << error;
    ASSERT_EQ(pcapngRecords.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(pcapngRecords[i].frame == pcapRecords[i].frame && pcapngRecords[i].fromHost == pcapRecords[i].fromHost &&
                    pcapngRecords[i].micros == pcapRecords[i].micros) << "record " << i;
}

// A console session's trace decodes frame by frame, a damaged frame named as
// such; the Wireshark dissector, loaded into tshark, reads every frame as
// decode does and flags the damaged one.
TEST(Trace_DecodeAndDissector, FieldsAgree) {
    kztooltest::TempDir dir;
    const std::string trace = dir.File("wire.pcap");
    dir.Write("s.txt", "micgain 7\nphone connect hfp\nwait phone connected\ndial 0123\n");
    const auto run = kztooltest::RunKztarn({"console", "--root", dir.path(), "--trace", trace, "--script", dir.File("s.txt")});
    ASSERT_EQ(run.exitCode, 0) << run.screen;
    // One more record: a frame whose CRC is damaged.
    std::vector<uint8_t> bad = Module(48, {}, 0);
    bad[bad.size() - 2] ^= 0x01;
    std::vector<uint8_t> record;
    Put32(record, {1, 0, static_cast<uint32_t>(16 + bad.size()), static_cast<uint32_t>(16 + bad.size())});
    record.resize(record.size() + 16, 0);
    record.insert(record.end(), bad.begin(), bad.end());
    std::ofstream(trace, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));

    const auto decoded = kztooltest::RunKztarn({"decode", trace});
    ASSERT_EQ(decoded.exitCode, 0) << decoded.screen;
    for (const char* expected : {"module->host unrel seq 0 ack 0 crc ch 1 len 4 | link sync", "RES to IND module ready (48)",
                                 "REQ_SET_MIC_GAIN (4): 80 07", "CFM microphone gain (4): status 0", "bad frame (bad CRC)"})
        EXPECT_NE(decoded.screen.find(expected), std::string::npos) << expected << "\n" << decoded.screen;
    if (access("/usr/bin/tshark", X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed: `make deps` installs it (Debian package tshark)";
    const std::string tshark = "/usr/bin/tshark -X lua_script:" + std::string(KZ_TARN_BINARY) +
                               "/share/kztarn.lua -r " + trace + " 2>/dev/null";
    const auto lines = [](const std::string& command) {
        std::vector<std::string> out;
        std::string text;
        kztooltest::Shell(command, &text);
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    };
    const auto fields = lines(tshark + " -T fields -E separator=, -e kztarn.dir -e kztarn.seq -e kztarn.ack"
                                       " -e kztarn.channel -e kztarn.length -e kztarn.link -e kztarn.msg.name"
                                       " -e kztarn.msg.id");
    std::vector<std::string> frames;
    std::istringstream in(decoded.screen);
    for (std::string l; std::getline(in, l);)
        if (l.find("->") != std::string::npos) frames.push_back(l);
    ASSERT_EQ(fields.size(), frames.size()) << decoded.screen;
    size_t modules = 0;
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        std::vector<std::string> f;   // direction, seq, ack, channel, length, link, name, id
        std::stringstream row(fields[i]);
        for (std::string v; std::getline(row, v, ',');) f.push_back(v);
        f.resize(8);
        modules += !f[6].empty();
        for (const std::string& part : {std::string(f[0] == "1" ? "host->module" : "module->host"),
                                        "seq " + f[1] + " ack " + f[2], "ch " + f[3] + " len " + f[4],
                                        f[6].empty() ? "" : f[6] + " (" + f[7] + ")"})
            EXPECT_NE(frames[i].find(part), std::string::npos) << frames[i] << " vs " << fields[i];
    }
    EXPECT_GT(modules, 10u);
    EXPECT_NE(frames.back().find("bad frame (bad CRC)"), std::string::npos) << frames.back();
    EXPECT_EQ(lines(tshark + " -Y kztarn.bad_crc").size(), 1u);
}

}  // namespace
}  // namespace kztool
