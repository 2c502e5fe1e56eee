// The library's spine against the module simulator: link, queue pacing,
// retransmission, peer reset, bad frames and the event thread.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "events/connection.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_link.h"
#include "support/library_on_sim.h"
#include "support/link_support.h"

namespace {

using namespace kztest;

TEST(SpineSystem, ModuleReady_IsAnsweredWithItsRes) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    const auto msgs = lib.sim().Received();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.front().bytes, (std::vector<uint8_t>{0x03, 0x00, 0x55, 0x02, 0x30, 0x00}));
    EXPECT_TRUE(msgs.front().reliable);
    EXPECT_EQ(msgs.front().channel, 13);
    EXPECT_EQ(kz::ubcsp_config.link_establishment_state, kz::kGarrulous);
}

TEST(SpineSystem, SecondRequest_WaitsUntilTheFirstIsConfirmed) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    lib.sim().SetAutoConfirm(false);
    lib.sim().ClearReceived();
    SubmitTestRequest(3);
    SubmitTestRequest(5);
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kSetNibbleMask, 2000));
    ASSERT_TRUE(lib.sim().WaitOutgoingIdle(2000));
    // Acknowledged on the link, not confirmed: the second stays queued.
    EXPECT_FALSE(lib.sim().WaitForMessage(kz::msgid::kSetLevel, 300));
    lib.sim().SendConfirm(kz::msgid::kSetNibbleMask, 0);
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kSetLevel, 2000));
    const auto msgs = lib.sim().Received();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].id, 3);
    EXPECT_EQ(msgs[1].id, 5);
}

TEST(SpineSystem, Unacknowledged_ResentAt250And500_NextGoesAt750) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    lib.sim().SetAutoConfirm(false);
    lib.sim().SetAcknowledge(false);
    lib.sim().ClearWire();
    SubmitTestRequest(3);
    SubmitTestRequest(5);
    // Without acknowledgements the module takes nothing in: watch the wire.
    const auto sent5 = [&] {
        for (const auto& f : lib.HostFrames())
            if (ParseFrame(f).id() == 5) return true;
        return false;
    };
    const uint32_t start = KzGetTickCount();
    while (!sent5() && KzGetTickCount() - start < 3000) KzSleep(10);

    std::vector<uint32_t> ticks3, ticks5;
    for (const auto& f : lib.sim().Wire()) {
        if (!f.fromHost) continue;
        const ParsedFrame p = ParseFrame(f.bytes);
        if (p.id() == 3) ticks3.push_back(f.tickMs);
        if (p.id() == 5) ticks5.push_back(f.tickMs);
    }
    ASSERT_EQ(ticks3.size(), 3u);
    ASSERT_FALSE(ticks5.empty());
    constexpr int kTolerance = 80;
    EXPECT_NEAR(int(ticks3[1] - ticks3[0]), 250, kTolerance);
    EXPECT_NEAR(int(ticks3[2] - ticks3[0]), 500, kTolerance);
    EXPECT_NEAR(int(ticks5[0] - ticks3[0]), 750, kTolerance);
    // The retransmissions are the very same frame, sequence number included.
    std::vector<std::vector<uint8_t>> copies;
    for (const auto& f : lib.sim().Wire())
        if (f.fromHost && ParseFrame(f.bytes).id() == 3) copies.push_back(f.bytes);
    EXPECT_EQ(copies[0], copies[1]);
    EXPECT_EQ(copies[0], copies[2]);
}

TEST(SpineSystem, PeerReset_LinkComesBackAndTheRestartedModuleStartsWithAnEmptyQueue) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    lib.sim().SetAutoConfirm(false);
    SubmitTestRequest(3);
    SubmitTestRequest(5);
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kSetNibbleMask, 2000));
    ASSERT_TRUE(lib.sim().WaitOutgoingIdle(2000));

    lib.sim().ClearReceived();
    kz::g_bModuleInited = 0;
    lib.sim().PeerReset();
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kModuleReady, 5000));   // the RES of the new module-ready
    ASSERT_TRUE(lib.sim().LinkUp());
    // The module-ready handler drops what the old module was asked, so the
    // next request goes out at once, without a confirmation.
    const uint32_t start = KzGetTickCount();
    while (!kz::g_bModuleInited && KzGetTickCount() - start < 2000) KzSleep(5);
    ASSERT_EQ(kz::g_bModuleInited, 1);
    SubmitTestRequest(6);
    ASSERT_TRUE(lib.sim().WaitForMessage(kz::msgid::kSetOption6, 2000));
    for (const auto& m : lib.sim().Received()) EXPECT_NE(m.id, 5) << "a request of the old module went out";
}

TEST(SpineSystem, BadFrames_GetAPureAckAndNothingElse) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    const std::vector<uint8_t> ind = {0x03, 0x00, 0x55, 0x02, 0x36, 0x00};
    const uint8_t seq = 7;   // far from what the library expects: never delivered
    const auto good = ModuleFrame(seq, 1, true, 13, ind);
    auto checksum = good;
    checksum[3] ^= 0x01;
    auto crc = good;
    crc[8] ^= 0x01;
    auto length = good;
    length.erase(length.begin() + 6);
    const auto oversized = ModuleFrame(seq, 1, true, 13, std::vector<uint8_t>(600, 0x11));
    const std::vector<uint8_t>* cases[] = {&checksum, &crc, &length, &oversized};
    for (const auto* frame : cases) {
        lib.sim().ClearWire();
        lib.sim().ClearReceived();
        lib.sim().SendRawBytes(*frame);
        // Wait for the library's answer, then check it is the only thing.
        const uint32_t start = KzGetTickCount();
        while (lib.HostFrames().empty() && KzGetTickCount() - start < 2000) KzSleep(5);
        const auto frames = lib.HostFrames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_TRUE(ParseFrame(frames[0]).pureAck());
        EXPECT_TRUE(lib.sim().Received().empty());
    }
}

struct Boxes {
    std::mutex m;
    std::vector<std::string> texts;
};
Boxes g_boxes;
int RecordBox(const char* text, const char*, uint32_t, void*) {
    std::lock_guard<std::mutex> lock(g_boxes.m);
    g_boxes.texts.push_back(text);
    return KZ_IDNO;
}

TEST(SpineSystem, BurstOfFive_ReachesTheEventThreadInArrivalOrder) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    g_boxes.texts.clear();
    KzSetMessageBoxHandler(&RecordBox, nullptr);
    const uint8_t statuses[] = {0, 4, 4, 0, 4};
    for (uint8_t s : statuses) lib.sim().SendConfirm(kz::msgid::kEnterDutMode, s);
    const uint32_t start = KzGetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(g_boxes.m);
            if (g_boxes.texts.size() >= 5 || KzGetTickCount() - start > 3000) break;
        }
        KzSleep(5);
    }
    KzSetMessageBoxHandler(nullptr, nullptr);
    std::vector<std::string> expected;
    for (uint8_t s : statuses) expected.push_back(s ? "Enter DUT Mode FAILED" : "Enter DUT Mode SUCCESS");
    std::lock_guard<std::mutex> lock(g_boxes.m);
    EXPECT_EQ(g_boxes.texts, expected);
}

}  // namespace
