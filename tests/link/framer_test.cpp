// The receive framer: fed byte by byte, and over a pseudo-terminal as COM3.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <cstdlib>

#include "link/bcsp_link.h"
#include "link/framer.h"
#include "link/serial_port.h"
#include "support/link_support.h"
#include "support/test_support.h"

namespace {

using namespace kz;
using namespace kztest;

// The frames completed, in order; a stray byte shows as an empty one.
std::vector<Bytes> FeedBytes(Framer& f, const Bytes& in) {
    std::vector<Bytes> out;
    for (uint8_t b : in) {
        const Framer::Step step = f.Feed(b);
        if (step == Framer::Step::kStray) out.emplace_back();
        if (step != Framer::Step::kFrame) continue;
        out.emplace_back(f.frame(), f.frame() + f.frameLength());
        f.Take();
    }
    return out;
}

TEST(FramerFed, FramesAndStrayBytes_AsTheLineDeliversThem) {
    Bytes exact(1024, 0x41), over(1025, 0x41);
    exact.front() = exact.back() = over.front() = over.back() = 0xC0;
    over.insert(over.end(), {0x07, 0xC0});
    const std::pair<Bytes, std::vector<Bytes>> cases[] = {
        {{0xC0, 0x01, 0x02, 0xC0, 0xC0, 0x03, 0xC0}, {{0xC0, 0x01, 0x02, 0xC0}, {0xC0, 0x03, 0xC0}}},
        {{0x12, 0x34, 0xC0, 0x01, 0xC0}, {{}, {}, {0xC0, 0x01, 0xC0}}},   // stray bytes before a frame
        {{0xC0, 0xC0}, {{0xC0, 0xC0}}},
        {{0xC0, 0x01, 0x02}, {}},   // unclosed
        {exact, {exact}},           // 1024 bytes with both delimiters
        {over, {{0xC0, 0x07, 0xC0}}},   // the dropped frame's last 0xC0 opens the next one
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Framer f;
        EXPECT_EQ(FeedBytes(f, cases[i].first), cases[i].second) << "case " << i;
    }
}

class Framer : public ::testing::Test {
protected:
    void SetUp() override {
        ResetAllState();
        char name[128];
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        setenv("KZ_TARN_COM3", name, 1);
        ASSERT_EQ(OpenModulePort(3, 115200), 1);
    }
    void TearDown() override {
        g_SerialPort.Close();
        close(slave_);
        close(master_);
        unsetenv("KZ_TARN_COM3");
        ResetAllState();
    }

    // Writes bytes as the module and waits until the port holds them all.
    void Send(const Bytes& b) {
        const uint16_t before = g_SerialPort.BytesWaiting();
        ASSERT_EQ(write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
        ASSERT_TRUE(PollUntil([&] { return g_SerialPort.BytesWaiting() >= before + b.size(); }, 2000,
                              [] { g_SerialPort.WaitForInput(10); }));
    }

    // Polls once; returns the completed frame (empty if none) and takes it.
    Bytes Poll() {
        PollUart();
        if (!g_bRxFrameReady) return {};
        g_bRxFrameReady = 0;
        return Bytes(g_RxFrameBuf, g_RxFrameBuf + g_nRxFrameLength);
    }

    int master_ = -1, slave_ = -1;
};

// Two frames in one read come one per poll; input is read ahead in one call,
// but bytes behind a stray byte are lost as if they were still in the driver
// when it purged.
TEST_F(Framer, OneFramePerPoll_StrayByteAfterAFramePurgesWhatWasReadAhead) {
    Send({0xC0, 0x01, 0x02, 0xC0, 0xC0, 0x03, 0xC0});
    PollUart();
    PollUart();   // a frame not yet taken stops all reading
    EXPECT_EQ(g_SerialPort.BytesWaiting(), 3);
    EXPECT_EQ(Poll(), (Bytes{0xC0, 0x01, 0x02, 0xC0}));
    EXPECT_EQ(Poll(), (Bytes{0xC0, 0x03, 0xC0}));
    Send({0xC0, 0x01, 0xC0, 0x12, 0xC0, 0x02, 0xC0});
    EXPECT_EQ(Poll(), (Bytes{0xC0, 0x01, 0xC0}));
    EXPECT_EQ(g_SerialPort.BytesWaiting(), 4);
    // The driver is empty, but the receive thread must not sleep on what was read ahead.
    EXPECT_EQ(g_SerialPort.WaitForInput(0), 1);
    EXPECT_EQ(Poll(), Bytes{});
    EXPECT_EQ(g_SerialPort.BytesWaiting(), 0);
    EXPECT_EQ(g_SerialPort.WaitForInput(0), 0);
    Send({0xC0, 0x03, 0xC0});   // hunting again: the next frame comes through whole
    EXPECT_EQ(Poll(), (Bytes{0xC0, 0x03, 0xC0}));
}

}  // namespace
