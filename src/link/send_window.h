// The link's send window of one reliable packet.
//
// At most one reliable packet is on the line at a time. It is acknowledged
// only by the number after its own (the module says which number it expects
// next); any other acknowledgement leaves it outstanding. A reliable packet
// built while one is outstanding waits here, in order, and goes out when the
// window frees (acknowledgement or give-up).
//
// A given-up packet may or may not have reached the module. The next packet
// takes the following number, and the module's next acknowledgement settles
// it: if the module still expects the given-up number, it never had that
// packet (nor anything numbered after it), so the given-up packet goes out
// again under that number, ahead of the rest. When it was a request, the
// request that its give-up let through goes back to the head of the command
// queue, so requests reach the module once and in order.
//
// The module may expect any number from the oldest in doubt up to the next
// one; the next packet's acknowledgement must differ from all of them, and so
// must the number of an offer that only asks the module where it stands. So
// at most six packets are in doubt: while six are, nothing new is numbered
// (packets wait here) until the module shows where it stands.
//
// Bounds: a packet that the link could not deliver within kDeliveryBoundMs is
// never written again: it is dropped for good and traced (its number stays in
// doubt until the module shows where it stands), offers of it stop, and a
// dropped request lets the command queue go on. The bound counts from when
// the packet was made (a request: queued); for one made while the link was
// up, from the module's last acknowledgement if that came later, so a working
// but slow link (a backlog of replies on a noisy line) drops nothing. One made
// before the link came up is never written later than the bound after it was
// made. At most kMaxHeld packets wait for the window; beyond that the oldest
// is dropped.
//
// Locks: every function that writes takes "MUTEX_SEND" (or runs under it);
// the window's fields change under g_LinkStateMutex.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "link/bcsp_protocol.h"

namespace kz {

enum class PacketKind : uint8_t { kOther, kRequest };

// Ten seconds: a working link, noisy or not, makes progress far more often
// (a give-up costs 750 ms and the module's next frame, at most 250 ms later,
// settles it; six give-ups in a row take 4.5 s), and a module that starts up
// answers its first link message within a second or two; a user who dialled,
// answered or pressed a key longer ago than that has given up on it, so
// carrying it out later would surprise more than losing it.
inline constexpr uint32_t kDeliveryBoundMs = 10000;
void SetDeliveryBoundForTest(uint32_t ms);   // 0: back to the default
uint32_t DeliveryBoundMs();
// Whether a packet made at `since` is past the bound now (see above).
bool DeliveryExpired(uint32_t since, uint32_t boundMs, uint32_t now);
// Receive thread: the link came up (the bound's start for packets made since).
void WindowLinkUp();
// A burst of indications makes a RES each; 256 of 255 bytes stay below 70 KB.
inline constexpr size_t kMaxHeld = 256;
inline constexpr size_t kMaxInDoubt = 6;

// A reliable packet as the window keeps it.
struct TxPacket {
    uint8_t header[bcsp::kHeaderSize] = {};   // template: sequence and ack bits clear
    uint8_t payload[0xFF] = {};
    uint8_t length = 0;
    PacketKind kind = PacketKind::kOther;
    uint32_t since = 0;      // tick its delivery bound counts from
    uint32_t boundMs = 0;    // the delivery bound when it was made
};

// The window's state, part of the link's (link/link_state.h). The plain
// fields change under g_LinkStateMutex.
struct SendWindowState {
    std::optional<TxPacket> outstanding;   // on the line, awaiting its acknowledgement
    std::deque<TxPacket> held;             // waiting for the window, in order
    // Packets given up since the module last said which number it expects,
    // numbered sequence_number - size() up to sequence_number - 1: the module
    // may expect any of these numbers (or sequence_number).
    std::deque<TxPacket> inDoubt;
    // The module expects resendAs: it never had the packets in doubt from there.
    bool resendDue = false;
    uint8_t resendAs = 0;
    // Work for WindowAfterReceive, checked without a lock on every frame.
    std::atomic<bool> work{false};
    // A request was dropped for good: the command queue must go on.
    std::atomic<bool> requestDropped{false};
    std::atomic<uint32_t> boundMs{kDeliveryBoundMs};
    // When the link last came up, and when the module last acknowledged one
    // of our packets.
    std::atomic<uint32_t> upTick{0};
    std::atomic<uint32_t> progressTick{0};
};

// Under "MUTEX_SEND". A reliable packet: numbered and written now when the
// window is free, else kept in order. `header` is the template (numbers
// clear); `since` is the tick its delivery bound counts from.
void WindowSend(const uint8_t header[4], const uint8_t* payload, uint8_t length, PacketKind kind,
                uint32_t since);

// Receive thread, for every valid frame: the module's acknowledgement number.
// Returns BCSP_ACT_ACKED when it acknowledges the outstanding packet, or,
// with nothing outstanding, shows that the module has the packets in doubt.
uint8_t WindowTakeAck(uint8_t ack);

// Receive thread, after the receive step: sends a given-up packet again when
// the module turned out never to have had it, and lets the next held packet
// out when the window is free. Takes "MUTEX_SEND" only when there is work.
void WindowAfterReceive();

// Send thread, at 250 and 500 ms: writes the outstanding packet again, with
// the acknowledgement number of now. False when nothing is outstanding.
bool WindowRetransmit();

// Send thread, every 250 ms while packets are in doubt and nothing else is on
// the line: writes the oldest of them again under its own number. A module
// that had it drops it as a repeat, one that had not takes it; either way its
// acknowledgement settles the doubt. Without this a module that waits for
// the packet (the phone waits for the RES of each phonebook piece) and has
// nothing else to send would leave it unsettled for good. Once the oldest is
// past its bound it goes under the number before its own, which the module
// had: it drops it as a repeat and only says where it stands; that is done
// only while a packet in doubt or waiting is still within its bound. False
// when there was nothing to offer.
bool WindowOfferInDoubt();

// Send thread, on every pass: drops waiting packets past their bound. True
// when a request was dropped for good since the last call (here or when the
// window passed over one): the command queue goes on.
bool WindowDropExpired();

// Send thread: something in the window still needs its 250 ms timer (an offer
// or a waiting packet's bound).
bool WindowNeedsTimer();

// Send thread, on a give-up: the outstanding packet becomes the one in doubt
// and the next held packet goes out. Returns the given-up packet's kind.
PacketKind WindowGiveUp();

// Receive thread, on a link-establishment message from the module: the
// outstanding packet is no longer resent and is in doubt, as after a give-up
// (not counted as one, and a request is not passed over).
void WindowCancel();

// Start-up after a close: the packet that the close cut off (no send thread
// resends it any more) is in doubt, to be settled with the module, which
// may still be up with the same numbers; packets still waiting are dropped
// with the rest of the old session.
void WindowRestart();

// Peer reset and tests: numbers to 0, nothing outstanding, held or in doubt.
void WindowReset();

// For tests and figures.
size_t WindowHeldCount();
bool WindowInDoubt();

}  // namespace kz
