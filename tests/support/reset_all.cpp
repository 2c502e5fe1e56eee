// Resets the process-wide state of every subsystem between tests. Each
// subsystem adds its reset here when it lands.
#include "channel/command_queue.h"
#include "events/calls.h"
#include "events/connection.h"
#include "support/test_support.h"

namespace kztest {

void ResetAllState() {
    kz::ResetCommandQueue();
    kz::ResetConnectionState();
    kz::ResetCallState();
}

}  // namespace kztest
