// The library over a line that corrupts, drops and duplicates bytes both
// ways: indications and requests once and in order, never stuck, and the
// session ending where a clean one ends. `make test` runs the traffic alone;
// `make soak` the full sessions, disabled here for their length.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "events/calls.h"
#include "events/connection.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "phonebook/download.h"
#include "support/session.h"

namespace {

using namespace kztest;
namespace id = kz::msgid;

struct Load { size_t requests, indications, contacts, calls; };
struct FinalState {   // what a session left behind
    std::string phoneBook, phoneBookNum, tarnIni;
    std::vector<uint32_t> batteryLevels;
    bool hfp, pbap, inCall, phoneBookDone;
    bool operator==(const FinalState&) const = default;
};
constexpr uint32_t kPhaseMs = 600000;   // each phase of a session ends within this
constexpr uint8_t kBatteryIndicator = 6;

// One session of the whole load over a line with this fault rate.
FinalState RunSession(double faultRate, uint32_t seed, const Load& load) {
    kzsim::Options o;
    o.seed = seed;
    o.corrupt = o.drop = o.duplicate = faultRate / 3;
    // The module repeats its packets sooner than the library, and the phone
    // sends its vCards in short pieces: a 200-byte frame at 3% errors arrives
    // intact once in 500 tries.
    o.resendMs = 50;
    Session s(o);
    kz::SetConfirmationTimeoutForTest(3000);
    s.phone().setVCardStyle({false, false, false, 40});
    s.phone().setContacts(Contacts(load.contacts));
    s.phone().setCallList(kzsim::ListType::Dialed, {{"Caller", "08001", "20240101T120000"}, {"", "08002", "20240102T120000"}});
    const uint32_t start = KzGetTickCount();
    const auto phase = [&](const char* name, bool ok) {
        EXPECT_TRUE(ok) << name;
        std::printf("  %-9s %s at %u ms\n", name, ok ? "done" : "FAILED", KzGetTickCount() - start);
    };
    if (load.contacts) {
        phase("connect", s.StartAndPhoneConnects(kPhaseMs));
        phase("phonebook", s.DownloadPhonebook(kPhaseMs));
    } else {
        phase("start", s.Start(true, kPhaseMs));
    }
    // Indications from the module and requests from the host at once, eight in flight.
    s.sim().ClearReceived();
    for (size_t i = 0; i < load.indications; ++i) s.sim().SendIndication(id::kHfpIndicator, {kBatteryIndicator, uint8_t(i % 251)});
    for (size_t i = 0; i < load.requests; ++i) {
        s.Until([] { return kz::CmdListSize() < 8; }, kPhaseMs);
        SubmitSerial(id::kSetNibbleMask, uint16_t(i));
    }
    phase("traffic", s.WaitQuiet(kPhaseMs));
    for (size_t i = 0; i < load.calls; ++i) phase("call", s.TakeCall("+4930555" + std::to_string(i), kPhaseMs));
    // Not stuck: one more request goes through, behind whatever is in flight.
    SubmitSerial(id::kSetLevel, 0);
    EXPECT_TRUE(s.sim().WaitForMessage(id::kSetLevel, 8 * 3000 + 10000)) << "final request";
    EXPECT_TRUE(s.WaitQuiet(kPhaseMs)) << "final quiet";

    // Every request reached the module once, in order: a given-up one goes
    // again once the module shows it never had it.
    std::vector<uint16_t> seqs;
    for (const auto& m : s.Requests(id::kSetNibbleMask)) seqs.push_back(Serial(m, id::kSetNibbleMask));
    EXPECT_EQ(seqs.size(), load.requests);
    EXPECT_EQ(std::adjacent_find(seqs.begin(), seqs.end(), std::greater_equal<>()), seqs.end()) << "out of order";
    const auto& c = kz::g_LinkCounters;
    std::printf("rate %.3f: %u ms, given up %u, resent %u, rejected %u, module resends %u, passed over %u, recovered %u, "
                "offered again %u\n", faultRate, KzGetTickCount() - start, c.givenUp.load(), c.retransmitted.load(),
                c.rejectedFrames.load(), s.sim().Stats().resends, c.unconfirmedPassedOver.load(), c.recovered.load(), c.offeredAgain.load());
    std::vector<uint32_t> levels;
    for (const Notification& n : s.Notes(KZ_NOTIFY_BATTERY)) levels.push_back(n.len);
    return {s.root().Read(kBookFile), s.root().Read(kNumberFile), s.root().Read(kTarnIni), levels, kz::g_bHfpConnected != 0,
            kz::g_bPbapConnected != 0, kz::g_bInCall != 0, kz::g_bPhoneBookDone != 0};
}

TEST(NoisyLine, ThreePercentFaults_IndicationsOnceInOrder_RequestsOnceInOrder) {
    constexpr Load kLoad{40, 30, 0, 0};
    std::vector<uint32_t> sent;
    for (size_t i = 0; i < kLoad.indications; ++i) sent.push_back(uint32_t(i % 251));
    EXPECT_EQ(RunSession(0.03, 7, kLoad).batteryLevels, sent);
}

// The full session, compared with the same session on a clean line.
class NoisyLineSoak : public testing::TestWithParam<double> {};

TEST_P(NoisyLineSoak, DISABLED_LongSession_SameEndAsACleanLine) {
    constexpr Load kLoad{2000, 1000, 300, 5};
    const FinalState clean = RunSession(0, 1, kLoad);
    ASSERT_FALSE(testing::Test::HasFailure());
    ASSERT_EQ(clean.batteryLevels.size(), kLoad.indications);
    ASSERT_EQ(clean.phoneBook.size(), kLoad.contacts * sizeof(structPhoneDate));
    EXPECT_EQ(RunSession(GetParam(), 20240611, kLoad), clean);
}

INSTANTIATE_TEST_SUITE_P(Rates, NoisyLineSoak, testing::Values(0.01, 0.03),
                         [](const auto& i) { return i.param < 0.02 ? "OnePercent" : "ThreePercent"; });

}  // namespace
