// The library-side state at a glance, gathered from what the console has
// seen: the events the library sent and the module messages on the wire.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "event.h"

namespace kztool {

class Session;

struct SessionState {
    bool moduleReady = false;
    bool moduleAnswering = true;
    std::string moduleVersion;
    bool phoneConnected = false;
    std::string phoneName, phoneAddress;
    std::map<std::string, bool> profiles;         // "HFP" -> connected
    std::map<int64_t, std::string> calls;         // call index -> "active 0123 (John)"
    std::string waitingCall;
    std::string audio;                            // "car", "phone" or ""
    std::string music;                            // "playing", "paused", "stopped" or ""
    std::string track;
    std::string download;                         // where the phonebook download stands, in words
    std::map<std::string, int64_t> listEntries;   // "contact" -> entries seen
    std::map<std::string, int64_t> listSizes;     // "contact" -> size reported
};

SessionState GatherState(Session& session);

// One event (channel "state") per view, for the screen and for --json.
Event StatusEvent(const SessionState& state);
Event CallsEvent(const SessionState& state);
Event InfoEvent(Session& session, const SessionState& state);

// The readable lines of such an event.
std::vector<std::string> StateLines(const Event& event);

}  // namespace kztool
