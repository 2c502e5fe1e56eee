// The library as one whole: its layers connected, and its state reset.
#pragma once

namespace kz {

// Gives the link its handlers: received messages to the dispatcher, window
// events to the command queue. Start-up calls it before the threads run.
void ConnectLayers();

// Every subsystem's process-wide state back to what it is at load, lowest
// layer first, and the layers connected (tests, fuzzing). Each subsystem's
// reset is called here; `make test` fails for a Reset...State() or
// Reset...() declared in src/ that this file does not call.
void ResetLibraryState();

}  // namespace kz
