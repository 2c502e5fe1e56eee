// The link's recovery with bounds, over the simulator: a module that stops
// taking packets for a while, and requests made before the link ever came
// up. Every request reaches the module at most once, in order, never later
// than the delivery bound after it was made; the link comes back without
// waiting for the confirmation timeout.
#include <gtest/gtest.h>

#include <map>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "channel/module_message.h"
#include "events/connection.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "support/library_on_sim.h"

namespace {

using namespace kztest;


constexpr uint16_t kRequestId = kz::msgid::kSetNibbleMask;   // a request the module confirms
constexpr uint16_t kFirst = 0x100;   // serials of requests made while the module cannot take them
constexpr uint16_t kAfter = 0x200;   // serials of requests made once it is back

// Request 3 carrying a serial in bytes 6 and 7.
void SubmitSerial(uint16_t serial) {
    auto m = TestRequest(kRequestId, 8);
    m[6] = static_cast<uint8_t>(serial & 0xFF);
    m[7] = static_cast<uint8_t>(serial >> 8);
    uint8_t header[4];
    kz::msg::ModuleHeaderTemplate(header, m.size());
    kz::SubmitPacket(header, m.data(), static_cast<uint32_t>(m.size()), kz::kSubmitQueued);
}

uint16_t Serial(const kzsim::ReceivedMessage& m) {
    return m.id == kRequestId && m.bytes.size() >= 8 ? static_cast<uint16_t>(m.bytes[6] | m.bytes[7] << 8) : 0;
}

// Serials made while the module could not take them, with the simulator
// tick at which each was made.
using Made = std::map<uint16_t, uint32_t>;

// Requests with serials in [from, to) that the module received: once each,
// in order, within the bound after they were made; returns their serials.
std::vector<uint16_t> CheckArrivals(const std::vector<kzsim::ReceivedMessage>& got, const Made& made,
                                    uint16_t from, uint16_t to) {
    std::vector<uint16_t> serials;
    for (const auto& m : got) {
        const uint16_t s = Serial(m);
        if (s < from || s >= to) continue;
        EXPECT_TRUE(serials.empty() || serials.back() < s) << "request " << s << " out of order or twice";
        if (auto it = made.find(s); it != made.end()) {
            EXPECT_LE(m.tickMs - it->second, kz::DeliveryBoundMs() + 100) << "request " << s << " late";
        }
        serials.push_back(s);
    }
    return serials;
}

// Deaf for ten seconds while the user goes on making requests (more than
// seven give-ups in a row, so the numbers would alias), then back.
TEST(LinkRecovery, ModuleDeafForTenSeconds_LaterRequestsArriveOnceInOrderAtOnce) {
    LibraryOnSimulator lib;
    ASSERT_TRUE(lib.Start());
    ASSERT_TRUE(PollUntil([] { return kz::g_bModuleInited.load() != 0 && kz::CmdListSize() == 0; }, 3000));
    lib.sim().ClearReceived();
    lib.sim().SetAcknowledge(false);
    Made made;
    const uint32_t deafAt = lib.sim().NowMs();
    for (uint16_t id = kFirst; lib.sim().NowMs() - deafAt < 10000; ++id) {
        made[id] = lib.sim().NowMs();
        SubmitSerial(id);
        KzSleep(400);   // the user's pace
    }
    EXPECT_EQ(kz::g_LinkCounters.givenUp.load(), kz::kMaxInDoubt);   // then the window waited
    lib.sim().SetAcknowledge(true);
    const uint32_t backAt = lib.sim().NowMs();
    for (uint16_t id = kAfter; id < kAfter + 5; ++id) SubmitSerial(id);
    const bool arrived = lib.sim().WaitFor(
        [](const std::vector<kzsim::ReceivedMessage>& got) { return !got.empty() && Serial(got.back()) == kAfter + 4; },
        5000);
    ASSERT_TRUE(arrived);

    const auto got = lib.sim().Received();
    CheckArrivals(got, made, kFirst, kAfter);
    EXPECT_EQ(CheckArrivals(got, made, kAfter, kAfter + 5),
              (std::vector<uint16_t>{kAfter, kAfter + 1, kAfter + 2, kAfter + 3, kAfter + 4}));
    EXPECT_LT(got.back().tickMs - backAt, 4000u);
    EXPECT_EQ(kz::g_LinkCounters.unconfirmedPassedOver.load(), 0u);
    // Nothing left to settle: the offers have stopped.
    ASSERT_TRUE(PollUntil([] { return !kz::WindowNeedsTimer(); }, 3000));
    const uint32_t offers = kz::g_LinkCounters.offeredAgain.load();
    KzSleep(600);
    EXPECT_EQ(kz::g_LinkCounters.offeredAgain.load(), offers);
}

// Seven requests before the module's first link-up: all given up but one
// (six in doubt). The link then comes up within the bound (the ones the
// module never had go again, once and in order, with the module-ready RES)
// or after it (none is carried out).
TEST(LinkRecovery, SevenRequestsBeforeTheFirstLinkUp_WithinTheBoundOrNever) {
    struct Case {
        uint32_t boundMs;
        bool arriveLate;   // link up after the bound
    };
    for (const Case c : {Case{kz::kDeliveryBoundMs, false}, Case{5000, true}}) {
        SCOPED_TRACE(c.boundMs);
        kzsim::Options options;
        options.startLink = false;
        LibraryOnSimulator lib(options);
        ASSERT_TRUE(lib.Start(false));
        kz::SetDeliveryBoundForTest(c.boundMs);
        Made made;
        for (uint16_t id = kFirst; id < kFirst + 7; ++id) {
            made[id] = lib.sim().NowMs();
            SubmitSerial(id);
        }
        ASSERT_TRUE(PollUntil([] { return kz::g_LinkCounters.givenUp.load() >= 6; }, 8000));
        if (c.arriveLate) KzSleep(c.boundMs + 200 - (lib.sim().NowMs() - made[kFirst]));
        lib.sim().StartLink();
        ASSERT_TRUE(PollUntil([] { return kz::g_bModuleInited.load() != 0; }, 3000));
        ASSERT_TRUE(PollUntil([] { return kz::g_bCfmForTheLastREQ.load() != 0; }, 3000));
        SubmitSerial(kAfter);
        ASSERT_TRUE(lib.sim().WaitFor(
            [](const std::vector<kzsim::ReceivedMessage>& got) { return !got.empty() && Serial(got.back()) == kAfter; },
            3000));

        const auto got = lib.sim().Received();
        const auto early = CheckArrivals(got, made, kFirst, kAfter);
        EXPECT_EQ(early.empty(), c.arriveLate);
        EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const auto& m) { return m.id == kz::msgid::kModuleReady; }), 1);   // the RES
        EXPECT_EQ(kz::g_LinkCounters.unconfirmedPassedOver.load(), 0u);
    }
}

}  // namespace
