// The link's recovery over the simulator: every request reaches the module
// at most once, in order, within the delivery bound after it was made;
// nothing waits longer than its timeout.
#include <gtest/gtest.h>

#include <map>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "events/connection.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "support/library_on_sim.h"
#include "support/link_support.h"

namespace {

using namespace kztest;
namespace id = kz::msgid;

constexpr uint16_t kFirst = 0x100;   // serials of requests made while the module cannot take them
constexpr uint16_t kAfter = 0x200;   // serials of requests made once it is back

void SubmitSerial(uint16_t serial) { kztest::SubmitSerial(id::kSetNibbleMask, serial); }
uint16_t Serial(const kzsim::ReceivedMessage& m) { return kztest::Serial(m, id::kSetNibbleMask); }
bool Got(LibraryOnSimulator& lib, uint16_t serial, uint32_t ms) {
    return lib.sim().WaitFor([=](const auto& got) { return !got.empty() && Serial(got.back()) == serial; }, ms);
}
bool Inited() { return PollUntil([] { return kz::g_bModuleInited.load() != 0 && kz::CmdListSize() == 0; }, 3000); }
std::vector<uint16_t> Ids(LibraryOnSimulator& lib) {
    std::vector<uint16_t> ids;
    for (const auto& m : lib.sim().Received()) ids.push_back(m.id);
    return ids;
}

using Made = std::map<uint16_t, uint32_t>;   // serial: tick it was made at

// Requests with serials in [from, to) that the module received: once each,
// in order, within the bound after they were made; returns their serials.
std::vector<uint16_t> CheckArrivals(LibraryOnSimulator& lib, const Made& made, uint16_t from, uint16_t to) {
    std::vector<uint16_t> serials;
    for (const auto& m : lib.sim().Received()) {
        const uint16_t s = Serial(m);
        if (s < from || s >= to) continue;
        EXPECT_TRUE(serials.empty() || serials.back() < s) << "request " << s << " out of order or twice";
        const auto it = made.find(s);
        EXPECT_TRUE(it == made.end() || m.tickMs - it->second <= kz::DeliveryBoundMs() + 100) << "request " << s << " late";
        serials.push_back(s);
    }
    return serials;
}

// The module takes nothing in: the same frame goes at 0, 250 and 500 ms, is
// given up at 750 and the next goes out, dropped as out of sequence. The
// module's acknowledgement shows it never had the first: it goes again.
TEST(GivenUpRequest, ResentAt250And500_GivenUpAt750_ThenBothArriveOnceInOrder_AnUnconfirmedOneHoldsTheNextForTheTimeout) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start() && Inited());
    lib.sim().ClearReceived();
    lib.sim().ClearWire();
    lib.sim().SetAcknowledge(false);
    SubmitTestRequest(3);
    SubmitTestRequest(5);
    std::map<uint16_t, std::vector<std::pair<uint32_t, std::vector<uint8_t>>>> sent;   // id: (tick, frame)
    ASSERT_TRUE(PollUntil([&] {
        sent.clear();
        for (const auto& f : lib.sim().Wire())
            if (f.fromHost) sent[ParseFrame(f.bytes).id()].emplace_back(f.tickMs, f.bytes);
        return !sent[5].empty();
    }));
    lib.sim().SetAcknowledge(true);
    ASSERT_EQ(sent[3].size(), 3u);
    for (int i : {1, 2}) {
        EXPECT_NEAR(int(sent[3][i].first - sent[3][0].first), 250 * i, 80);
        EXPECT_EQ(sent[3][i].second, sent[3][0].second);
    }
    EXPECT_NEAR(int(sent[5][0].first - sent[3][0].first), 750, 80);
    ASSERT_TRUE(lib.sim().WaitForMessage(id::kSetLevel, 3000));
    EXPECT_EQ(Ids(lib), (std::vector<uint16_t>{3, 5}));
    EXPECT_GE(kz::g_LinkCounters.recovered.load(), 1u);
    EXPECT_TRUE(PollUntil([] { return kz::g_bCfmForTheLastREQ.load() != 0; }, 2000));
    EXPECT_EQ(kz::g_LinkCounters.unconfirmedPassedOver.load() + kz::g_LinkCounters.rejectedFrames.load(), 0u);

    // Delivered but never confirmed, a request holds the next one for the
    // confirmation timeout (polled at a quarter of it), no longer; a
    // confirmed one never.
    constexpr uint32_t kTimeoutMs = 400;
    kz::SetConfirmationTimeoutForTest(kTimeoutMs);
    lib.sim().SetAutoConfirm(false);
    lib.sim().ClearReceived();
    SubmitTestRequest(3);
    SubmitTestRequest(5);
    ASSERT_TRUE(lib.sim().WaitForMessage(id::kSetLevel, 3000));
    const auto msgs = lib.sim().Received();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_GE(msgs[1].tickMs - msgs[0].tickMs, kTimeoutMs - 20);
    EXPECT_LE(msgs[1].tickMs - msgs[0].tickMs, 2 * kTimeoutMs + 200);
    EXPECT_EQ(kz::g_LinkCounters.unconfirmedPassedOver.load(), 1u);
    lib.sim().SetAutoConfirm(true);
    lib.sim().SendConfirm(id::kSetLevel, 0);
    SubmitTestRequest(6);
    ASSERT_TRUE(lib.sim().WaitForMessage(id::kSetOption6, 2000));
    KzSleep(2 * kTimeoutMs);   // nothing more is passed over
    EXPECT_EQ(kz::g_LinkCounters.unconfirmedPassedOver.load(), 1u);
}

// Deaf past the six give-ups after which the window waits (more requests
// than sequence numbers would alias), then back.
TEST(LinkRecovery, DeafModule_LaterRequestsArriveOnceInOrderAtOnce) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start() && Inited());
    lib.sim().ClearReceived();
    lib.sim().SetAcknowledge(false);
    Made made;
    uint32_t waitingSince = 0;
    for (uint16_t id = kFirst; id < kFirst + 10 || !waitingSince || lib.sim().NowMs() - waitingSince < 1000; ++id) {
        made[id] = lib.sim().NowMs();
        SubmitSerial(id);
        KzSleep(300);   // the user's pace
        if (!waitingSince && kz::g_LinkCounters.givenUp.load() >= kz::kMaxInDoubt) waitingSince = lib.sim().NowMs();
        ASSERT_LT(id, kFirst + 60) << "never reached the give-up bound";
    }
    EXPECT_EQ(kz::g_LinkCounters.givenUp.load(), kz::kMaxInDoubt);   // then the window waited
    lib.sim().SetAcknowledge(true);
    const uint32_t backAt = lib.sim().NowMs();
    for (uint16_t id = kAfter; id < kAfter + 5; ++id) SubmitSerial(id);
    ASSERT_TRUE(Got(lib, kAfter + 4, 5000));
    CheckArrivals(lib, made, kFirst, kAfter);
    EXPECT_EQ(CheckArrivals(lib, made, kAfter, kAfter + 5), (std::vector<uint16_t>{kAfter, kAfter + 1, kAfter + 2, kAfter + 3, kAfter + 4}));
    EXPECT_LT(lib.sim().Received().back().tickMs - backAt, 4000u);
    EXPECT_EQ(kz::g_LinkCounters.unconfirmedPassedOver.load(), 0u);
    ASSERT_TRUE(PollUntil([] { return !kz::WindowNeedsTimer(); }, 3000));
    const uint32_t offers = kz::g_LinkCounters.offeredAgain.load();
    KzSleep(400);
    EXPECT_EQ(kz::g_LinkCounters.offeredAgain.load(), offers);
}

// Seven requests before the first link-up, six given up; the link comes up
// within the delivery bound. (Past it: the send window's unit test.)
TEST(LinkRecovery, SevenRequestsBeforeTheFirstLinkUp_TheModuleGetsThemOnceInOrder) {
    kzsim::Options options;
    options.startLink = false;
    LibraryOnSimulator lib(options);
    ASSERT_TRUE(lib.Start(false));
    Made made;
    for (uint16_t id = kFirst; id < kFirst + 7; ++id) {
        made[id] = lib.sim().NowMs();
        SubmitSerial(id);
    }
    ASSERT_TRUE(PollUntil([] { return kz::g_LinkCounters.givenUp.load() >= 6; }, 8000));
    lib.sim().StartLink();
    ASSERT_TRUE(PollUntil([] { return kz::g_bModuleInited.load() && kz::g_bCfmForTheLastREQ.load(); }, 3000));
    SubmitSerial(kAfter);
    ASSERT_TRUE(Got(lib, kAfter, 3000));
    EXPECT_FALSE(CheckArrivals(lib, made, kFirst, kAfter).empty());
    const auto ids = Ids(lib);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id::kModuleReady), 1);   // the RES
    EXPECT_EQ(kz::g_LinkCounters.unconfirmedPassedOver.load(), 0u);
}

}  // namespace
