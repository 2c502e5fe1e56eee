// The handlers the link was given (see link_handlers.h).
#include "link/link_handlers.h"

#include <atomic>

#include "kz_platform.h"

namespace kz {

namespace {
std::atomic<const LinkHandlers*> installedHandlers{nullptr};
}  // namespace

void SetLinkHandlers(const LinkHandlers* handlers) { installedHandlers = handlers; }

namespace linkup {

void Deliver(const uint8_t* message, size_t length) {
    const LinkHandlers* h = installedHandlers.load();
    if (h && h->deliver) h->deliver(message, length);
}

void ReleaseNext(bool whileConfirmed) {
    const LinkHandlers* h = installedHandlers.load();
    if (h && h->releaseNext) h->releaseNext(whileConfirmed);
}

void Requeue(const uint8_t header[4], const uint8_t* payload, uint32_t length, uint32_t queuedTick) {
    const LinkHandlers* h = installedHandlers.load();
    if (h && h->requeue) h->requeue(header, payload, length, queuedTick);
}

void AwaitConfirmationAgain() {
    const LinkHandlers* h = installedHandlers.load();
    if (h && h->awaitConfirmationAgain) h->awaitConfirmationAgain();
}

uint32_t ConfirmationPollMs() {
    const LinkHandlers* h = installedHandlers.load();
    return h && h->confirmationPollMs ? h->confirmationPollMs() : KZ_INFINITE;
}

void CheckConfirmation() {
    const LinkHandlers* h = installedHandlers.load();
    if (h && h->checkConfirmation) h->checkConfirmation();
}

}  // namespace linkup

}  // namespace kz
