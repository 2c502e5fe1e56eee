// BCSP link engine: acknowledgement and sequencing of received packets, link
// establishment and peer reset, the activity step, and the receive and send
// threads.
#include "link/bcsp_link.h"

#include <algorithm>
#include <cstdlib>

#include "core/sync_objects.h"
#include "core/trace.h"
#include "link/link_handlers.h"
#include "link/send_window.h"
#include "link/serial_port.h"

namespace kz {

using namespace bcsp;


namespace {

// The receive thread waits for input without a timeout: shut-down wakes it
// (CancelWait), so an idle library does not wake up at all.
constexpr uint32_t kRecvIdleWaitMs = KZ_INFINITE;

uint8_t Next(uint8_t n) { return static_cast<uint8_t>((n + 1) & kSeqMask); }

uint8_t PeerReset() {
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        ubcsp_config.sequence_number = 0;
        ubcsp_config.ack_number = 0;
        ubcsp_config.awaiting_ack = 0;
    }
    WindowReset();   // packets of the old session are not sent any more
    ubcsp_config.link_establishment_state = kShy;
    SendLinkMsg(kSync);
    return BCSP_ACT_PEER_RESET;
}

// The host only answers the module's link messages; it never starts them.
uint8_t HandleLinkMessage(const uint8_t* payload, size_t length) {
    const uint8_t state = ubcsp_config.link_establishment_state;
    switch (MatchLinkMsg(payload, length)) {
        case kSync:
            if (state == kGarrulous) return PeerReset();
            SendLinkMsg(state == kShy ? kSync : kSyncResp);
            return 0;
        case kSyncResp:
            if (state == kShy) {
                ubcsp_config.link_establishment_state = kCurious;
                SendLinkMsg(kConf);
            }
            return 0;
        case kConf:
            SendLinkMsg(state == kGarrulous ? kConfResp : kConf);
            return 0;
        case kConfResp:
            if (state == kGarrulous) return 0;
            ubcsp_config.link_establishment_state = kGarrulous;
            WindowLinkUp();
            SendLinkMsg(kConfResp);
            return BCSP_ACT_ACKED;
        default:
            return 0;
    }
}

uint8_t AcceptDataPacket(const uint8_t header[4]) {
    const uint16_t length = HeaderPayloadLength(header);
    if (!HeaderReliable(header)) {
        g_RxPacket.length = length;
        return BCSP_ACT_RECEIVED;
    }
    ubcsp_config.send_ack = true;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        if (HeaderSeq(header) == ubcsp_config.ack_number) {
            ubcsp_config.ack_number = Next(ubcsp_config.ack_number);
            g_RxPacket.length = length;
            return BCSP_ACT_RECEIVED | BCSP_ACT_RELIABLE;
        }
    }
    KZ_TRACE("!!!!!!!!!!!!!!!!!!!!!!!Receive Error Packet!!!!!!!!!!!!!!!!!!!!!");
    return 0;
}

}  // namespace

void SendLinkMsg(uint8_t index) {
    if (index > kConfResp) return;
    uint8_t header[kHeaderSize];
    for (size_t i = 0; i < kHeaderSize; ++i) header[i] = kLinkMsgHeaderTemplate[i];
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    BcspSendPacket(header, kLinkMsgPayloads[index], sizeof kLinkMsgPayloads[index]);
}

uint8_t BcspReceive(const uint8_t* frame, size_t length) {
    uint8_t header[kHeaderSize];
    if (!BcspValidateFrame(frame, length, header)) {
        ++g_LinkCounters.rejectedFrames;
        return 0;
    }

    const size_t payloadLength = HeaderPayloadLength(header);
    if (HeaderChannel(header) == kChannelLink) {
        // Link messages carry no acknowledgement (the module sends them with
        // 0); while the module is in its handshake our packet is not resent.
        WindowCancel();
        return HandleLinkMessage(g_RxPayloadBuf, payloadLength);
    }
    uint8_t flags = WindowTakeAck(HeaderAck(header));
    // Before the link is up, data packets count only for their acknowledgement.
    const bool carriedBytes = payloadLength > 0 || HeaderCrcPresent(header);
    if (carriedBytes && ubcsp_config.link_establishment_state == kGarrulous)
        flags |= AcceptDataPacket(header);
    return flags;
}

void BcspActivity(uint8_t flags) {
    if (ubcsp_config.send_ack.exchange(false)) BcspSendPureAck();
    WindowAfterReceive();
    if (flags & BCSP_ACT_ACKED) {
        KZ_TRACE("Recive last ack cmd...");
        if (g_bModuleReadyPending.exchange(0)) {
            KZ_TRACE("Init succes , send next REQ packet");
            SignalEvent(g_hModuleReadyEvent);
        }
        if (g_bCfmForTheLastREQ.load()) linkup::ReleaseNext(true);
    }
    const uint8_t delivered = BCSP_ACT_RECEIVED | BCSP_ACT_RELIABLE;
    if ((flags & delivered) == delivered) linkup::Deliver(g_RxPayloadBuf, g_RxPacket.length);
}

// ------------------------------------------------------------ receive thread

namespace {

// One pass: poll, take at most one frame, receive it and act. True when a
// frame was handled.
bool ReceivePass() {
    PollUart();
    Framer& framer = g_Link.framer;
    if (!framer.ready()) return false;
    framer.Take();
    BcspActivity(BcspReceive(framer.frame(), framer.frameLength()));
    return true;
}

}  // namespace

uint32_t RecvPollIntervalMs() {
    const char* v = std::getenv(kRecvPollEnv);
    if (v == nullptr) return 0;
    const long ms = std::strtol(v, nullptr, 10);
    return ms > 0 && ms <= static_cast<long>(kRecvPollMaxMs) ? static_cast<uint32_t>(ms) : 0;
}

namespace {

constexpr uint32_t kBitsPerByte = 11;   // 8E1: start, 8 data, parity, stop

// Inside a frame whose header has arrived, its length is known: the line
// time that the bytes of it not yet in the driver still need, rounded up to
// the millisecond (escapes only make the frame longer; the rounding costs
// less than a millisecond). 0 outside a frame, before its header, or once
// it is all there.
uint32_t RestOfFrameMs() {
    const Framer& framer = g_Link.framer;
    const size_t have = framer.writeIndex;   // the opening 0xC0 included
    if (framer.state != kFramerInFrame || have < 1 + kHeaderSize || g_SerialPort.baudRate == 0) return 0;
    uint8_t header[kHeaderSize];
    size_t decoded = 0;
    SlipDecode(framer.buffer + 1, header, true, have - 1, kHeaderSize, &decoded);
    if (decoded < kHeaderSize || HeaderChecksum(header[0], header[1], header[2]) != header[3]) return 0;
    size_t whole = 1 + kHeaderSize + HeaderPayloadLength(header) + (HeaderCrcPresent(header) ? 2 : 0) + 1;
    whole = std::min<size_t>(whole, kFrameBufferSize);   // the framer gives up there
    // The pass just before found the driver empty: only the read-ahead counts.
    const size_t present = have + g_SerialPort.ReadAheadCount();
    if (present >= whole) return 0;
    const uint64_t bits = uint64_t(whole - present) * kBitsPerByte * 1000;
    return static_cast<uint32_t>((bits + g_SerialPort.baudRate - 1) / g_SerialPort.baudRate);
}

}  // namespace

uint32_t RecvThreadProc(void*) {
    const uint32_t pollMs = RecvPollIntervalMs();
    while (g_bRunning) {
        const bool handled = ReceivePass();
        if (!g_bRunning) break;
        // Benchmarks only: a fixed sleep between passes, for comparison.
        if (pollMs != 0) {
            KzSleep(pollMs);
            continue;
        }
        // Frames are taken one per pass; with more input waiting, go on at once.
        const uint8_t* pending = nullptr;
        if (handled && g_SerialPort.Pending(&pending) > 0) continue;
        // In the middle of a frame: one wait for the line time of the rest
        // instead of a wake-up for every burst the line delivers.
        if (const uint32_t restMs = RestOfFrameMs()) g_SerialPort.Pause(restMs);
        g_SerialPort.WaitForInput(kRecvIdleWaitMs);
    }
    return 0;
}

// --------------------------------------------------------------- send thread

namespace {

// Retransmits the last frame at 250 and 500 ms and gives it up at 750 ms,
// unless the acknowledgement comes first.
void RetransmissionCycle(uint32_t& resendCount) {
    // Woken for a packet that the module has acknowledged already.
    if (!ubcsp_config.awaiting_ack.load()) return;
    for (;;) {
        const KzHandle handles[2] = {g_hAckEvent.load(), g_hResendEvent.load()};
        const uint32_t r = KzWaitForMultipleObjects(2, handles, 0, kResendTimeoutMs);
        if (!g_bRunning) return;
        if (r == KZ_WAIT_OBJECT_0) {
            resendCount = 0;
            // A newer packet may already be out: its timing goes on.
            if (!ubcsp_config.awaiting_ack.load()) return;
            continue;
        }
        if (r != KZ_WAIT_TIMEOUT) continue;
        if (++resendCount < kResendGiveUpCount) {
            if (WindowRetransmit()) ++g_LinkCounters.retransmitted;
            continue;
        }
        resendCount = 0;
        GiveUpOutstanding();
        return;
    }
}

}  // namespace

void GiveUpOutstanding() {
    ++g_LinkCounters.givenUp;
    const PacketKind kind = WindowGiveUp();
    if (!g_bCfmForTheLastREQ.load()) {
        // Pass over the request that the module never acknowledged.
        if (kind == PacketKind::kRequest) linkup::ReleaseNext(false);
    } else {
        // Requests that waited only for this packet's acknowledgement go.
        linkup::ReleaseNext(true);
    }
}

namespace {

// Idle (no request outstanding, nothing in the window within its bound) the
// send thread sleeps until a packet goes out.
uint32_t SendThreadWaitMs() {
    uint32_t wait = g_bCfmForTheLastREQ.load() ? KZ_INFINITE : linkup::ConfirmationPollMs();
    if (WindowNeedsTimer() && wait > kResendTimeoutMs) wait = kResendTimeoutMs;
    return wait;
}

}  // namespace

uint32_t SendThreadProc(void*) {
    uint32_t resendCount = 0;
    while (g_bRunning) {
        // A request dropped for good is never confirmed: the queue goes on.
        if (WindowDropExpired()) linkup::ReleaseNext(false);
        const uint32_t r = KzWaitForSingleObject(g_hResendEvent.load(), SendThreadWaitMs());
        if (!g_bRunning) break;
        if (r == KZ_WAIT_TIMEOUT) {
            WindowOfferInDoubt();
            linkup::CheckConfirmation();
            continue;
        }
        RetransmissionCycle(resendCount);
    }
    return 0;
}

}  // namespace kz
