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
// Locks: every function that writes takes "MUTEX_SEND" (or runs under it);
// the window's fields change under g_LinkStateMutex.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

enum class PacketKind : uint8_t { kOther, kRequest };

// Under "MUTEX_SEND". A reliable packet: numbered and written now when the
// window is free, else kept in order. `header` is the template (numbers
// clear).
void WindowSend(const uint8_t header[4], const uint8_t* payload, uint8_t length, PacketKind kind);

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
// nothing else to send would leave it unsettled for good. False when there
// was nothing to offer.
bool WindowOfferInDoubt();

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
