// The send window as transcripts of what the library is asked, what the
// module acknowledges and what goes on the line: one reliable packet at a
// time, packets held in order, and those in doubt after a give-up sent again
// when the module shows it never had them (with the command queue's state).
#include <gtest/gtest.h>

#include <sstream>

#include "channel/command_queue.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "support/library_on_sim.h"
#include "support/link_fixture.h"

namespace {

using namespace kz;
using namespace kztest;

// The module's acknowledgement: the number it expects next.
uint8_t ModuleExpects(uint8_t n) { return Feed(ModuleFrame(0, n, false, 0, {})) & BCSP_ACT_ACKED; }

// An indication the library answers with a RES only.
const Bytes kInd113 = {0x03, 0x00, 0x55, 0x02, 0x71, 0x00};

class SendWindow : public LinkUpTest {
protected:
    uint8_t moduleSeq_ = 0;
    // Reliable frames written since the last call, as "id/seq" separated by commas, or "-".
    std::string Written() {
        std::string out;
        char one[16];
        for (const auto& f : wire.Parsed())
            if (f.reliable() && snprintf(one, sizeof one, ",%x/%d", f.id(), f.seq()) > 0) out += one;
        wire.Clear();
        return out.empty() ? "-" : out.substr(1);
    }

    // Runs one transcript; steps separated by spaces, ids in hex. R36 a reply,
    // Q3 a request, G the outstanding packet given up, C the request's awaited
    // confirmation, X a restart after a close, S the module restarts, L a link
    // message arrives, M9 the module sends nine packets. A1 / N1 / E1: the module
    // expects 1, which acknowledges / does not / either. W36/0,37/1: written
    // since the last W ("-" nothing, "*" anything). H2 held, K2 requests queued,
    // F1 the confirmation flag, D/d in doubt or not, O/o an offer written or not,
    // T/t a retransmission written or not, a1 the last frame acknowledges 1.
    void Run(const std::string& script) {
        std::istringstream steps(script);
        std::string s;
        while (steps >> s) {
            SCOPED_TRACE("at " + s);
            const char op = s[0];
            const std::string arg = s.substr(1);
            const auto num = [&] { return uint16_t(std::stoul(arg, nullptr, 16)); };
            switch (op) {
                case 'R': SubmitTestRequest(num(), kSubmitReply); break;
                case 'Q': SubmitTestRequest(num(), kSubmitQueued); break;
                case 'G': GiveUpOutstanding(); break;
                case 'C': SendNextCmd(); break;
                case 'X': WindowRestart(); break;
                case 'S': ASSERT_EQ(Feed(LinkMsgFrame(bcsp::kSync)), BCSP_ACT_PEER_RESET); break;
                case 'L': Feed(LinkMsgFrame(bcsp::kConf)); break;
                case 'M':   // the module sends that many packets, in sequence
                    for (int i = 0; i < num(); ++i) Feed(ModuleFrame(moduleSeq_++ & 7, 0, true, 13, kInd113));
                    break;
                case 'a': ASSERT_EQ(wire.Parsed().back().ack(), num()); break;
                case 'A': ASSERT_EQ(ModuleExpects(uint8_t(num())), BCSP_ACT_ACKED); break;
                case 'N': ASSERT_EQ(ModuleExpects(uint8_t(num())), 0); break;
                case 'E': ModuleExpects(uint8_t(num())); break;
                case 'W': {
                    const std::string written = Written();
                    ASSERT_TRUE(arg == "*" || written == arg) << written;
                    break;
                }
                case 'H': ASSERT_EQ(WindowHeldCount(), num()); break;
                case 'K': ASSERT_EQ(CmdListSize(), num()); break;
                case 'F': ASSERT_EQ(g_bCfmForTheLastREQ, num()); break;
                case 'D': case 'd': ASSERT_EQ(WindowInDoubt(), op == 'D'); break;
                case 'O': case 'o': ASSERT_EQ(WindowOfferInDoubt(), op == 'O'); break;
                case 'T': case 't': ASSERT_EQ(WindowRetransmit(), op == 'T'); break;
                default: FAIL() << "unknown step";
            }
        }
    }
};

// recovered: packets sent again because the module never had them.
struct Transcript { const char* name; const char* script; uint32_t recovered; };

TEST_F(SendWindow, Transcripts) {
    const Transcript cases[] = {
        {"second packet waits for the first's acknowledgement; only the next number acknowledges",
         "R36 R37 R38 W36/0 H2 N0 N5 W- A1 W37/1 A2 W38/2 A3 W- H0 t", 0},
        {"given-up packet the module never had goes again ahead of the next",
         "R36 G R37 R38 W36/0,37/1 N0 W36/0 A1 W37/1 A2 W38/2", 1},
        {"the module heard from after a give-up settles before anything is sent",
         "R36 G A1 d R37 W36/0,37/1 G N1 W37/1 A2", 1},
        {"two give-ups unanswered: both go again in order",
         "R36 G R37 G R38 W36/0,37/1,38/2 N0 W36/0 A1 W37/1 A2 W38/2", 2},
        {"idle line with packets in doubt: the oldest is offered under its own number",
         "R36 G R37 G W* O W36/0 N1 W37/1 o A2 d o W-", 1},
        {"offered packet the module had: settles with nothing sent again",
         "R36 G W* O W* A1 d W- R37 W37/1", 0},
        {"given-up request the module never had: requests keep their order",
         "Q3 Q5 Q6 W3/0 G W5/1 K1 N0 W3/0 K2 F0 A1 W- C W5/1 A2 C W6/2", 1},
        {"two requests given up in a row: the first awaits its confirmation, the rest queue",
         "Q3 Q5 Q6 Q9 G G W3/0,5/1,6/2 N0 W3/0 K3 F0 A1 C W5/1 A2 C W6/2 A3 C W9/3 A4 K0", 2},
        {"given-up request with nothing queued awaits its confirmation again",
         "Q3 G F1 W* N0 W3/0 F0 Q5 K1", 1},
        {"a given-up reply does not pass over the request awaiting confirmation",
         "Q3 A1 Q5 R36 W* G K1 F0 W-", 0},
        {"a request waiting only for a given-up reply goes at the give-up",
         "R36 Q3 K1 W* G W3/1 K0 F0", 0},
        {"start after a close: the cut-off packet in doubt, the waiting ones dropped",
         "R36 R37 W* X H0 R38 W38/1 N0 W36/0 A1 W38/1", 1},
        {"peer reset drops what was held and in doubt", "R36 R37 G R38 S H0 d", 0},
        {"a link message while outstanding: the packet in doubt, settled by the next acknowledgement",
         "R36 R37 W* L W37/1 N0 W36/0 A1 W37/1", 1},
        // Nine packets from the module meanwhile: the first sending's
        // acknowledgement (0) would now acknowledge the ninth.
        {"a retransmission carries the acknowledgement of now", "R36 a0 M9 W* T a1 W36/0", 0},
        // With six in doubt the module may expect any of seven numbers: the
        // next is not numbered until it says where it stands.
        {"seven give-ups in a row: no number aliases the module's position",
         "R40 G R41 G R42 G R43 G R44 G R45 G R46 G R47 W40/0,41/1,42/2,43/3,44/4,45/5 H2 N0 "
         "W40/0 A1 W41/1 A2 W42/2 A3 W43/3 A4 W44/4 A5 W45/5 A6 W46/6 A7 W47/7 A0 W-", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetAllState();
        EstablishLink();
        wire.Clear();
        moduleSeq_ = 0;
        Run(c.script);
        EXPECT_EQ(g_LinkCounters.recovered, c.recovered);
    }
}

// Past its bound a packet is never written again: not offered, not sent
// again when the module turns out never to have had it; its number goes to
// the next packet. A waiting request past its bound lets the queue go on.
TEST_F(SendWindow, PastItsBound_NeverWrittenAgainItsNumberReused) {
    SetDeliveryBoundForTest(1);
    Run("Q3 G R36 G R37 G R37 G R37 G R37 G Q5");   // six in doubt, 5 waits
    SetDeliveryBoundForTest(0);
    Run("Q6");   // queued behind 5 with the default bound
    const uint32_t queued = KzGetTickCount();
    ASSERT_TRUE(PollUntil([&] { return KzGetTickCount() - queued > 2; }, 1000));
    Written();
    EXPECT_TRUE(WindowDropExpired());   // 5 dropped: the queue goes on
    Run("H0 o");   // nothing left that an answer would help
    SendNextCmdIf(false);
    Run("H1 O");   // 6, within its bound; asks where the module stands
    const auto offer = wire.Parsed();
    ASSERT_EQ(offer.size(), 1u);
    EXPECT_EQ(offer[0].seq(), 7);   // a number it had: dropped as a repeat
    wire.Clear();
    Run("E0 W6/0 A1");   // it never had any of them
    EXPECT_EQ(g_LinkCounters.droppedForGood, 7u);
}

}  // namespace
