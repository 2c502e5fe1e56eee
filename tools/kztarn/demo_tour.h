// The tour that `kztarn demo` runs: its steps, what each wants to see, the
// checks of the line and the files, and the phone it runs against.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "event_printer.h"

namespace kzsim {
class Phone;
}

namespace kztool {

class Session;

// Generous bounds: the machine may be busy. Auto-answer comes on the fifth
// one-second tick, music after the fourth.
inline constexpr uint32_t kStepTimeoutMs = 10000;
inline constexpr uint32_t kWantTimeoutMs = 15000;

// An event that must be seen: its first word and a part of its text.
struct Want {
    const char* name;
    const char* text;
};

// Where a step's record begins: the host windows' log and the simulator's
// record of received messages.
struct Marks {
    size_t host = 0;
    size_t sim = 0;
};

using Check = bool (*)(Session&, const Marks&);
using Ready = bool (*)(Session&);

// What the user interface (or the phone) does when an event arrives: the
// command runs once per step, on the first matching event, when ready()
// (if given) also holds. "{count}" takes the event's count field. A
// phone-side command may run at once, on the library's thread that reports
// the event, so that the phone acts before the library goes on (events from
// the step's start only).
struct Reaction {
    Want when;
    const char* command;
    Ready ready = nullptr;
    bool atOnce = false;
};

struct Step {
    const char* capability;
    std::vector<const char*> commands;
    std::vector<Want> wants;
    Check check = nullptr;     // a further condition, checked after the wants
    bool essential = false;    // the rest of the tour needs it: stop when it fails
    std::vector<Reaction> reactions = {};
};

// The steps in order. Phone-side commands play the phone's part. A step
// without commands watches what the step before it started.
const std::vector<Step>& Tour();
// The console's phone with a phonebook long enough to interrupt and longer
// call lists.
void SetUpTourPhone(kzsim::Phone& phone);

bool Matches(const Event& e, const Want& w);
// Whether an event after mark matches w.
bool Seen(Session& s, size_t mark, const Want& w);
// Position (from 0) of the first event matching w, or -1.
long FirstIndex(const std::vector<Event>& events, const Want& w);

}  // namespace kztool
