// The send window of one reliable packet: numbering, strict acknowledgement,
// packets held for the window, and the packet in doubt after a give-up.
#include "link/send_window.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

#include "channel/command_queue.h"
#include "frame/sync_objects.h"
#include "frame/trace.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_link.h"

namespace kz {

using namespace bcsp;

namespace {

struct TxPacket {
    uint8_t header[kHeaderSize] = {};   // template: sequence and ack bits clear
    uint8_t payload[0xFF] = {};
    uint8_t length = 0;
    PacketKind kind = PacketKind::kOther;
    uint32_t since = 0;      // tick its delivery bound counts from
    uint32_t boundMs = 0;    // the delivery bound when it was made
};

struct Frame {
    uint8_t bytes[kFrameBufferSize];
    size_t length = 0;
};

// Everything below changes under g_LinkStateMutex.
std::optional<TxPacket> g_outstanding;   // on the line, awaiting its acknowledgement
std::deque<TxPacket> g_held;             // waiting for the window, in order
// Packets given up since the module last said which number it expects,
// numbered sequence_number - size() up to sequence_number - 1: the module may
// expect any of these numbers (or sequence_number).
std::deque<TxPacket> g_inDoubt;
// The module expects g_resendAs: it never had the packets in doubt from there.
bool g_resendDue = false;
uint8_t g_resendAs = 0;
BcspPacket g_TxPacket{};   // descriptor of the outstanding packet (send_packet)

// Work for WindowAfterReceive, checked without a lock on every frame.
std::atomic<bool> g_work{false};
// A request was dropped for good: the command queue must go on.
std::atomic<bool> g_requestDropped{false};
std::atomic<uint32_t> g_boundMs{kDeliveryBoundMs};
// When the link last came up, and when the module last acknowledged one of
// our packets.
std::atomic<uint32_t> g_upTick{0};
std::atomic<uint32_t> g_progressTick{0};

bool Before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

void Progress() { g_progressTick = KzGetTickCount(); }

uint8_t Next(uint8_t n) { return static_cast<uint8_t>((n + 1) & kSeqMask); }
uint8_t Behind(uint8_t from, uint8_t to) { return static_cast<uint8_t>((to - from) & kSeqMask); }

TxPacket Copy(const uint8_t header[4], const uint8_t* payload, uint8_t length, PacketKind kind,
              uint32_t since) {
    TxPacket p;
    std::memcpy(p.header, header, kHeaderSize);
    p.header[0] &= static_cast<uint8_t>(~(kSeqMask | kAckMask));
    if (length != 0) std::memcpy(p.payload, payload, length);
    p.length = length;
    p.kind = kind;
    p.since = since;
    p.boundMs = g_boundMs.load();
    return p;
}

bool Expired(const TxPacket& p, uint32_t now) { return DeliveryExpired(p.since, p.boundMs, now); }

// Traced and counted. A dropped request that was never given up (so never
// passed over) lets the command queue go on.
void DropForGood(const TxPacket& p, const char* why, bool passedOver = false) {
    ++g_LinkCounters.droppedForGood;
    if (p.kind == PacketKind::kRequest && !passedOver) g_requestDropped = true;
    KZ_TRACE("reliable packet %02x-%02x dropped for good: %s", p.length > 5 ? p.payload[5] : 0,
             p.length > 4 ? p.payload[4] : 0, why);
}

// A new number's acknowledgement (and an offer's number) must stay clear of
// every number the module may expect: at most kMaxInDoubt in doubt.
bool CanNumber() { return g_inDoubt.size() < kMaxInDoubt; }

// The module's position is known again: nothing is in doubt.
void Settle() {
    g_inDoubt.clear();
    g_resendDue = false;
}

// The frame of p numbered seq, carrying the current acknowledgement: never
// an old one, which after eight packets from the module would acknowledge
// one the library has not delivered.
void BuildNumbered(const TxPacket& p, uint8_t seq, Frame& out) {
    uint8_t header[kHeaderSize];
    std::memcpy(header, p.header, kHeaderSize);
    header[0] |= static_cast<uint8_t>(seq | (ubcsp_config.ack_number << kAckShift));
    header[3] = HeaderChecksum(header[0], header[1], header[2]);
    out.length = BcspBuildFrame(header, p.payload, p.length, out.bytes, sizeof out.bytes);
}

// p goes on the line as the outstanding packet.
void MakeOutstanding(const TxPacket& p, Frame& out) {
    g_outstanding = p;
    BuildNumbered(*g_outstanding, ubcsp_config.sequence_number, out);
    // Channel and CRC flag are the template's own.
    const uint8_t* h = g_outstanding->header;
    g_TxPacket = BcspPacket{HeaderChannel(h), 1, static_cast<uint8_t>(HeaderCrcPresent(h) ? 1 : 0),
                            p.length, g_outstanding->payload};
    ubcsp_config.send_packet = &g_TxPacket;
    ubcsp_config.awaiting_ack = 1;
}

// The next held packet within its bound, when the window is free.
bool TakeHeld(Frame& out) {
    if (g_outstanding || !CanNumber()) return false;
    const uint32_t now = KzGetTickCount();
    while (!g_held.empty()) {
        const TxPacket p = g_held.front();
        g_held.pop_front();
        if (Expired(p, now)) {
            DropForGood(p, "not delivered within its bound");
            continue;
        }
        MakeOutstanding(p, out);
        return true;
    }
    return false;
}

bool IsRequest(const TxPacket& p) { return p.kind == PacketKind::kRequest; }

// Something in doubt or waiting may still be delivered.
bool WaitingWithinBound() {
    const uint32_t now = KzGetTickCount();
    const auto live = [now](const TxPacket& p) { return !Expired(p, now); };
    return std::any_of(g_inDoubt.begin(), g_inDoubt.end(), live) || std::any_of(g_held.begin(), g_held.end(), live);
}

// Every held request after the first goes to `requeue`, in order.
void TakeLaterRequests(std::vector<TxPacket>& requeue) {
    auto it = std::find_if(g_held.begin(), g_held.end(), IsRequest);
    if (it == g_held.end()) return;
    for (++it; it != g_held.end();) {
        if (!IsRequest(*it)) {
            ++it;
            continue;
        }
        requeue.push_back(*it);
        it = g_held.erase(it);
    }
}

// The module expects g_resendAs: it never had the packets in doubt from that
// number on, nor anything numbered after them (it drops packets out of
// sequence). Those packets go again, in their order, starting with that
// number; the outstanding and held ones follow. A request among them had
// let the next request through when the give-up passed it over: every later
// request goes back to the command queue (`requeue`), and the request sent
// again awaits its confirmation once more (`request`).
bool ResendInDoubt(Frame& out, std::vector<TxPacket>& requeue, bool& request) {
    g_resendDue = false;
    const size_t missing = Behind(g_resendAs, ubcsp_config.sequence_number);
    if (missing == 0 || missing > g_inDoubt.size()) return TakeHeld(out);   // settled meanwhile
    if (g_outstanding) {
        g_held.push_front(*g_outstanding);
        g_outstanding.reset();
    }
    // Those past their bound are not sent again; their numbers go to the next ones.
    const uint32_t now = KzGetTickCount();
    std::vector<TxPacket> again;
    for (auto it = g_inDoubt.end() - static_cast<std::ptrdiff_t>(missing); it != g_inDoubt.end(); ++it) {
        if (Expired(*it, now))
            DropForGood(*it, "the module never had it, and its bound has passed", true);
        else
            again.push_back(*it);
    }
    g_held.insert(g_held.begin(), again.begin(), again.end());
    g_LinkCounters.recovered += static_cast<uint32_t>(again.size());
    ubcsp_config.sequence_number = g_resendAs;
    Settle();
    request = std::any_of(again.begin(), again.end(), IsRequest);
    if (request) TakeLaterRequests(requeue);
    KZ_TRACE("module never had %u given-up packet(s): %u sent again from %u", unsigned(missing),
             unsigned(again.size()), g_resendAs);
    return TakeHeld(out);
}

void Write(const Frame& f) {
    BcspWriteReliableFrame(f.bytes, static_cast<uint16_t>(f.length));
    SignalEvent(g_hResendEvent);
}

}  // namespace

void WindowSend(const uint8_t header[4], const uint8_t* payload, uint8_t length, PacketKind kind,
                uint32_t since) {
    Frame f;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        g_held.push_back(Copy(header, payload, length, kind, since));
        if (g_held.size() > kMaxHeld) {
            DropForGood(g_held.front(), "too many packets waiting for the window");
            g_held.pop_front();
        }
        if (!TakeHeld(f)) {
            KZ_TRACE("reliable packet waits for the window (%u waiting)", unsigned(g_held.size()));
            return;
        }
    }
    Write(f);
}

uint8_t WindowTakeAck(uint8_t ack) {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    const uint8_t seq = ubcsp_config.sequence_number;
    if (g_outstanding && ack == Next(seq)) {
        ubcsp_config.sequence_number = Next(seq);
        g_outstanding.reset();
        ubcsp_config.send_packet = nullptr;
        ubcsp_config.awaiting_ack = 0;
        Settle();   // the module took a packet numbered after anything in doubt
        Progress();
        if (!g_held.empty()) g_work = true;
        SignalEvent(g_hAckEvent);
        return BCSP_ACT_ACKED;
    }
    if (!g_inDoubt.empty()) {
        const uint8_t behind = Behind(ack, seq);
        if (behind == 0) {
            Settle();   // it has every packet in doubt
            Progress();
            if (!g_held.empty()) g_work = true;   // they may be numbered again
            // With nothing else on the line that is the acknowledgement of
            // the last packet sent: what waited for it may go.
            if (!g_outstanding) return BCSP_ACT_ACKED;
        } else if (behind <= g_inDoubt.size()) {
            g_resendDue = true;
            g_resendAs = ack;
            g_work = true;
        }
    }
    return 0;
}

void WindowAfterReceive() {
    if (!g_work.load()) return;
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    Frame f;
    bool write = false;
    std::vector<TxPacket> requeue;
    bool request = false;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        g_work = false;
        write = g_resendDue ? ResendInDoubt(f, requeue, request) : TakeHeld(f);
    }
    for (auto it = requeue.rbegin(); it != requeue.rend(); ++it)
        ReturnToQueueFront(it->header, it->payload, it->length, it->since);
    if (request) AwaitConfirmationAgain();
    if (write) Write(f);
}

namespace {

// The outstanding packet is no longer resent: it is in doubt until the
// module's next acknowledgement, and the window is free for the next number.
PacketKind PutInDoubt() {
    ubcsp_config.awaiting_ack = 0;
    ubcsp_config.send_packet = nullptr;
    if (!g_outstanding) return PacketKind::kOther;
    const PacketKind kind = g_outstanding->kind;
    g_inDoubt.push_back(*g_outstanding);   // at most kMaxInDoubt: numbered only below it
    g_outstanding.reset();
    ubcsp_config.sequence_number = Next(ubcsp_config.sequence_number);
    return kind;
}

}  // namespace

bool WindowRetransmit() {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    Frame f;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        if (!g_outstanding) return false;
        BuildNumbered(*g_outstanding, ubcsp_config.sequence_number, f);
    }
    BcspWriteReliableFrame(f.bytes, static_cast<uint16_t>(f.length));
    return true;
}

bool WindowOfferInDoubt() {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    Frame f;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        if (g_outstanding || g_inDoubt.empty()) return false;
        // The oldest packet in doubt, under its own number.
        uint8_t number = static_cast<uint8_t>((ubcsp_config.sequence_number - g_inDoubt.size()) & kSeqMask);
        if (Expired(g_inDoubt.front(), KzGetTickCount())) {
            if (!WaitingWithinBound()) return false;   // nothing left to settle it for
            number = static_cast<uint8_t>((number - 1) & kSeqMask);   // one it had: a repeat
        }
        BuildNumbered(g_inDoubt.front(), number, f);
    }
    ++g_LinkCounters.offeredAgain;
    BcspWriteReliableFrame(f.bytes, static_cast<uint16_t>(f.length));
    return true;
}

bool WindowDropExpired() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    const uint32_t now = KzGetTickCount();
    for (auto it = g_held.begin(); it != g_held.end();) {
        if (!Expired(*it, now)) {
            ++it;
            continue;
        }
        DropForGood(*it, "not delivered within its bound");
        it = g_held.erase(it);
    }
    return g_requestDropped.exchange(false);
}

bool WindowNeedsTimer() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    return !g_held.empty() || (!g_inDoubt.empty() && WaitingWithinBound());
}

PacketKind WindowGiveUp() {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    Frame f;
    bool write = false;
    PacketKind kind = PacketKind::kOther;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        kind = PutInDoubt();
        write = TakeHeld(f);
    }
    if (write) Write(f);
    return kind;
}

void WindowCancel() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    if (!g_outstanding) return;
    PutInDoubt();
    if (!g_held.empty()) g_work = true;
    SignalEvent(g_hAckEvent);
    SignalEvent(g_hResendEvent);   // the send thread now offers it at intervals
}

void WindowRestart() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    g_held.clear();
    PutInDoubt();
    g_work = false;
}

void WindowReset() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    g_outstanding.reset();
    g_held.clear();
    Settle();
    g_work = false;
    g_requestDropped = false;
    ubcsp_config.send_packet = nullptr;
}

bool DeliveryExpired(uint32_t since, uint32_t boundMs, uint32_t now) {
    uint32_t from = since;
    const bool madeWhileUp =
        ubcsp_config.link_establishment_state.load() == kGarrulous && !Before(since, g_upTick.load());
    if (madeWhileUp && Before(from, g_progressTick.load())) from = g_progressTick.load();
    return now - from > boundMs;
}

void WindowLinkUp() { g_upTick = KzGetTickCount(); }

void SetDeliveryBoundForTest(uint32_t ms) { g_boundMs = ms != 0 ? ms : kDeliveryBoundMs; }

uint32_t DeliveryBoundMs() { return g_boundMs; }

size_t WindowHeldCount() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    return g_held.size();
}

bool WindowInDoubt() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    return !g_inDoubt.empty();
}

}  // namespace kz
