// The link's state (see link_state.h) and its reset.
#include "link/link_state.h"

namespace kz {

BcspLink g_Link;

void ResetLinkState() {
    {
        std::lock_guard<std::mutex> state(g_Link.stateMutex);
        UbcspConfig& c = g_Link.config;
        c.link_establishment_state = kShy;
        c.sequence_number = 0;
        c.ack_number = 0;
        c.send_ack = false;
        c.send_packet = nullptr;
        c.receive_packet = nullptr;
        c.awaiting_ack = 0;
    }
    WindowReset();
    g_Link.window.boundMs = kDeliveryBoundMs;
    g_Link.moduleReadyPending = 0;
    g_Link.rxPacket = BcspPacket{};
    g_Link.txFrameLength = 0;
    LinkCounters& n = g_Link.counters;
    n.retransmitted = 0;
    n.givenUp = 0;
    n.rejectedFrames = 0;
    n.unconfirmedPassedOver = 0;
    n.recovered = 0;
    n.offeredAgain = 0;
    n.droppedForGood = 0;
    g_Link.framer.Reset();
}

}  // namespace kz
