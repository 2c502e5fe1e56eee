// What the console shows of the events: one line per thing that happened.
// The library tells one event on up to three channels (a notification, a
// status post, a status-bar record), repeats states that did not change and
// replays lists; the view keeps the notification, drops the repeats, and
// puts a contact's numbers on the contact's line. With verbose every record
// is shown as it came.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "event.h"

namespace kztool {

class EventView {
public:
    explicit EventView(bool verbose) : verbose_(verbose) {}
    // The events to show now because this one arrived (none, it, or a held
    // contact before it).
    std::vector<Event> Take(const Event& event);
    // A contact held for its numbers, once it has waited holdMs.
    std::vector<Event> Flush(int64_t nowMs, int64_t holdMs = 300);
    // The user asked for a download: its entries are news again, and a call
    // that interrupts it is worth telling.
    void DownloadRequested();

private:
    // An entry waiting for its number records (they follow the batch).
    struct Held {
        Event entry;
        int64_t wanted = 0;
        int64_t seen = 0;
        std::string numbers;
    };
    bool Repeated(const Event& event);
    // Shows held entries from the front that are complete (all: every one).
    void Release(std::vector<Event>& out, bool all);

    bool verbose_;
    std::deque<Held> held_;
    std::map<std::string, std::string> last_;   // state key -> last text shown
    std::set<std::string> entriesShown_;
    bool downloadRunning_ = false;
};

}  // namespace kztool
