// What the link hands to the layers above it. The link knows nothing of the
// command queue or the dispatcher: whoever starts the library gives it these
// handlers (frame/library_wiring.cpp), as the simulator's link is given its
// writer. Each may be null; the link then does nothing in its place.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

struct LinkHandlers {
    // Receive thread: a reliable module-channel packet taken in sequence.
    void (*deliver)(const uint8_t* message, size_t length);
    // Receive and send threads, no lock held: the channel may be free for
    // the next request. Acts only while the confirmation flag still equals
    // `whileConfirmed` (the link's release after an acknowledgement passes
    // true, the send thread's pass-over of a given-up request false).
    void (*releaseNext)(bool whileConfirmed);
    // Receive thread, "MUTEX_SEND" held: a request that the module turned
    // out never to have had, and that a give-up had let the next one pass,
    // goes back to the head of the queue, keeping the tick it was queued at.
    void (*requeue)(const uint8_t header[4], const uint8_t* payload, uint32_t length,
                    uint32_t queuedTick);
    // Receive thread, "MUTEX_SEND" held: the request sent again awaits its
    // confirmation once more.
    void (*awaitConfirmationAgain)();
    // Send thread, between its waits while a request awaits confirmation:
    // how long to wait before looking again, and the look itself (a request
    // that waited too long is passed over).
    uint32_t (*confirmationPollMs)();
    void (*checkConfirmation)();
};

// Called before the threads start (and by tests); `handlers` must outlive
// the link's use of it (a static object).
void SetLinkHandlers(const LinkHandlers* handlers);

// The link's calls through the handlers (null-safe).
namespace linkup {
void Deliver(const uint8_t* message, size_t length);
void ReleaseNext(bool whileConfirmed);
void Requeue(const uint8_t header[4], const uint8_t* payload, uint32_t length, uint32_t queuedTick);
void AwaitConfirmationAgain();
uint32_t ConfirmationPollMs();   // KZ_INFINITE without a handler
void CheckConfirmation();
}  // namespace linkup

}  // namespace kz
