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

#include "core/sync_objects.h"
#include "core/trace.h"
#include "link/bcsp_link.h"
#include "link/bcsp_packet.h"
#include "link/link_handlers.h"
#include "link/link_state.h"

namespace kz {

using namespace bcsp;

namespace {

struct Frame {
    uint8_t bytes[kFrameBufferSize];
    size_t length = 0;
};

// The window's state is the link's (link/link_state.h); the plain fields
// change under g_LinkStateMutex.
SendWindowState& window = g_Link.window;
std::optional<TxPacket>& outstanding = window.outstanding;
std::deque<TxPacket>& held = window.held;
std::deque<TxPacket>& inDoubt = window.inDoubt;
bool& resendDue = window.resendDue;
uint8_t& resendAs = window.resendAs;
std::atomic<bool>& work = window.work;
std::atomic<bool>& requestDropped = window.requestDropped;
std::atomic<uint32_t>& boundMs = window.boundMs;
std::atomic<uint32_t>& upTick = window.upTick;
std::atomic<uint32_t>& progressTick = window.progressTick;

bool Before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

void Progress() { progressTick = KzGetTickCount(); }

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
    p.boundMs = boundMs.load();
    return p;
}

bool Expired(const TxPacket& p, uint32_t now) { return DeliveryExpired(p.since, p.boundMs, now); }

// Traced and counted. A dropped request that was never given up (so never
// passed over) lets the command queue go on.
void DropForGood(const TxPacket& p, const char* why, bool passedOver = false) {
    ++g_LinkCounters.droppedForGood;
    if (p.kind == PacketKind::kRequest && !passedOver) requestDropped = true;
    KZ_TRACE("reliable packet %02x-%02x dropped for good: %s", p.length > 5 ? p.payload[5] : 0,
             p.length > 4 ? p.payload[4] : 0, why);
}

// A new number's acknowledgement (and an offer's number) must stay clear of
// every number the module may expect: at most kMaxInDoubt in doubt.
bool CanNumber() { return inDoubt.size() < kMaxInDoubt; }

// The module's position is known again: nothing is in doubt.
void Settle() {
    inDoubt.clear();
    resendDue = false;
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
    outstanding = p;
    BuildNumbered(*outstanding, ubcsp_config.sequence_number, out);
    // Channel and CRC flag are the template's own.
    const uint8_t* h = outstanding->header;
    g_Link.txDescriptor = BcspPacket{HeaderChannel(h), 1, static_cast<uint8_t>(HeaderCrcPresent(h) ? 1 : 0),
                            p.length, outstanding->payload};
    ubcsp_config.send_packet = &g_Link.txDescriptor;
    ubcsp_config.awaiting_ack = 1;
}

// The next held packet within its bound, when the window is free.
bool TakeHeld(Frame& out) {
    if (outstanding || !CanNumber()) return false;
    const uint32_t now = KzGetTickCount();
    while (!held.empty()) {
        const TxPacket p = held.front();
        held.pop_front();
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
    return std::any_of(inDoubt.begin(), inDoubt.end(), live) || std::any_of(held.begin(), held.end(), live);
}

// Every held request after the first goes to `requeue`, in order.
void TakeLaterRequests(std::vector<TxPacket>& requeue) {
    auto it = std::find_if(held.begin(), held.end(), IsRequest);
    if (it == held.end()) return;
    for (++it; it != held.end();) {
        if (!IsRequest(*it)) {
            ++it;
            continue;
        }
        requeue.push_back(*it);
        it = held.erase(it);
    }
}

// The module expects resendAs: it never had the packets in doubt from that
// number on, nor anything numbered after them (it drops packets out of
// sequence). Those packets go again, in their order, starting with that
// number; the outstanding and held ones follow. A request among them had
// let the next request through when the give-up passed it over: every later
// request goes back to the command queue (`requeue`), and the request sent
// again awaits its confirmation once more (`request`).
bool ResendInDoubt(Frame& out, std::vector<TxPacket>& requeue, bool& request) {
    resendDue = false;
    const size_t missing = Behind(resendAs, ubcsp_config.sequence_number);
    if (missing == 0 || missing > inDoubt.size()) return TakeHeld(out);   // settled meanwhile
    if (outstanding) {
        held.push_front(*outstanding);
        outstanding.reset();
    }
    // Those past their bound are not sent again; their numbers go to the next ones.
    const uint32_t now = KzGetTickCount();
    std::vector<TxPacket> again;
    for (auto it = inDoubt.end() - static_cast<std::ptrdiff_t>(missing); it != inDoubt.end(); ++it) {
        if (Expired(*it, now))
            DropForGood(*it, "the module never had it, and its bound has passed", true);
        else
            again.push_back(*it);
    }
    held.insert(held.begin(), again.begin(), again.end());
    g_LinkCounters.recovered += static_cast<uint32_t>(again.size());
    ubcsp_config.sequence_number = resendAs;
    Settle();
    request = std::any_of(again.begin(), again.end(), IsRequest);
    if (request) TakeLaterRequests(requeue);
    KZ_TRACE("module never had %u given-up packet(s): %u sent again from %u", unsigned(missing),
             unsigned(again.size()), resendAs);
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
        held.push_back(Copy(header, payload, length, kind, since));
        if (held.size() > kMaxHeld) {
            DropForGood(held.front(), "too many packets waiting for the window");
            held.pop_front();
        }
        if (!TakeHeld(f)) {
            KZ_TRACE("reliable packet waits for the window (%u waiting)", unsigned(held.size()));
            return;
        }
    }
    Write(f);
}

uint8_t WindowTakeAck(uint8_t ack) {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    const uint8_t seq = ubcsp_config.sequence_number;
    if (outstanding && ack == Next(seq)) {
        ubcsp_config.sequence_number = Next(seq);
        outstanding.reset();
        ubcsp_config.send_packet = nullptr;
        ubcsp_config.awaiting_ack = 0;
        Settle();   // the module took a packet numbered after anything in doubt
        Progress();
        if (!held.empty()) work = true;
        SignalEvent(g_hAckEvent);
        return BCSP_ACT_ACKED;
    }
    if (!inDoubt.empty()) {
        const uint8_t behind = Behind(ack, seq);
        if (behind == 0) {
            Settle();   // it has every packet in doubt
            Progress();
            if (!held.empty()) work = true;   // they may be numbered again
            // With nothing else on the line that is the acknowledgement of
            // the last packet sent: what waited for it may go.
            if (!outstanding) return BCSP_ACT_ACKED;
        } else if (behind <= inDoubt.size()) {
            resendDue = true;
            resendAs = ack;
            work = true;
        }
    }
    return 0;
}

void WindowAfterReceive() {
    if (!work.load()) return;
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    Frame f;
    bool write = false;
    std::vector<TxPacket> requeue;
    bool request = false;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        work = false;
        write = resendDue ? ResendInDoubt(f, requeue, request) : TakeHeld(f);
    }
    for (auto it = requeue.rbegin(); it != requeue.rend(); ++it)
        linkup::Requeue(it->header, it->payload, it->length, it->since);
    if (request) linkup::AwaitConfirmationAgain();
    if (write) Write(f);
}

namespace {

// The outstanding packet is no longer resent: it is in doubt until the
// module's next acknowledgement, and the window is free for the next number.
PacketKind PutInDoubt() {
    ubcsp_config.awaiting_ack = 0;
    ubcsp_config.send_packet = nullptr;
    if (!outstanding) return PacketKind::kOther;
    const PacketKind kind = outstanding->kind;
    inDoubt.push_back(*outstanding);   // at most kMaxInDoubt: numbered only below it
    outstanding.reset();
    ubcsp_config.sequence_number = Next(ubcsp_config.sequence_number);
    return kind;
}

}  // namespace

bool WindowRetransmit() {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    Frame f;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        if (!outstanding) return false;
        BuildNumbered(*outstanding, ubcsp_config.sequence_number, f);
    }
    BcspWriteReliableFrame(f.bytes, static_cast<uint16_t>(f.length));
    return true;
}

bool WindowOfferInDoubt() {
    NamedLock send(g_hMutexSend, "MUTEX_SEND");
    Frame f;
    {
        std::lock_guard<std::mutex> state(g_LinkStateMutex);
        if (outstanding || inDoubt.empty()) return false;
        // The oldest packet in doubt, under its own number.
        uint8_t number = static_cast<uint8_t>((ubcsp_config.sequence_number - inDoubt.size()) & kSeqMask);
        if (Expired(inDoubt.front(), KzGetTickCount())) {
            if (!WaitingWithinBound()) return false;   // nothing left to settle it for
            number = static_cast<uint8_t>((number - 1) & kSeqMask);   // one it had: a repeat
        }
        BuildNumbered(inDoubt.front(), number, f);
    }
    ++g_LinkCounters.offeredAgain;
    BcspWriteReliableFrame(f.bytes, static_cast<uint16_t>(f.length));
    return true;
}

bool WindowDropExpired() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    const uint32_t now = KzGetTickCount();
    for (auto it = held.begin(); it != held.end();) {
        if (!Expired(*it, now)) {
            ++it;
            continue;
        }
        DropForGood(*it, "not delivered within its bound");
        it = held.erase(it);
    }
    return requestDropped.exchange(false);
}

bool WindowNeedsTimer() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    return !held.empty() || (!inDoubt.empty() && WaitingWithinBound());
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
    if (!outstanding) return;
    PutInDoubt();
    if (!held.empty()) work = true;
    SignalEvent(g_hAckEvent);
    SignalEvent(g_hResendEvent);   // the send thread now offers it at intervals
}

void WindowRestart() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    held.clear();
    PutInDoubt();
    work = false;
}

void WindowReset() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    outstanding.reset();
    held.clear();
    Settle();
    work = false;
    requestDropped = false;
    ubcsp_config.send_packet = nullptr;
}

bool DeliveryExpired(uint32_t since, uint32_t boundMs, uint32_t now) {
    uint32_t from = since;
    const bool madeWhileUp =
        ubcsp_config.link_establishment_state.load() == kGarrulous && !Before(since, upTick.load());
    if (madeWhileUp && Before(from, progressTick.load())) from = progressTick.load();
    return now - from > boundMs;
}

void WindowLinkUp() { upTick = KzGetTickCount(); }

void SetDeliveryBoundForTest(uint32_t ms) { boundMs = ms != 0 ? ms : kDeliveryBoundMs; }

uint32_t DeliveryBoundMs() { return boundMs; }

size_t WindowHeldCount() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    return held.size();
}

bool WindowInDoubt() {
    std::lock_guard<std::mutex> state(g_LinkStateMutex);
    return !inDoubt.empty();
}

}  // namespace kz
