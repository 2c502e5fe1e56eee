#include "link/wire_trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

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
}

TEST_F(WireTraceTest, BrokenFrames_AreNamedNotDecoded) {
    auto frame = Module(12, 1, {1, 1, 2, 3, 4, 5, 6, 0x40}, 0);
    frame[frame.size() - 2] ^= 0x01;   // the CRC's low byte
    EXPECT_NE(DescribeFrame(frame, true).find("bad frame (bad CRC)"), std::string::npos);
    const std::vector<uint8_t> shortFrame = {0xC0, 0x01, 0xC0};
    EXPECT_NE(DescribeFrame(shortFrame, true).find("bad frame"), std::string::npos);
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

TEST(ReadWireTrace_NotATrace, IsRefusedWithAReason) {
    std::vector<TraceRecord> records;
    std::string error;
    EXPECT_FALSE(ReadWireTrace("/nonexistent/trace.pcap", records, error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    char pattern[] = "/tmp/kz_notpcap_XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_EQ(write(fd, "hello, this is text, not a capture", 34), 34);
    close(fd);
    EXPECT_FALSE(ReadWireTrace(pattern, records, error));
    EXPECT_NE(error.find("not a pcap"), std::string::npos) << error;
    std::remove(pattern);
}

}  // namespace
}  // namespace kztool
