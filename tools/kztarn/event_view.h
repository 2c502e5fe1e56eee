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
#include <optional>
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
    // A contact held for its numbers, once it has waited holdMs, and a ring
    // held for its caller's number, once it has waited ringHoldMs.
    std::vector<Event> Flush(int64_t nowMs, int64_t holdMs = 300, int64_t ringHoldMs = 500);
    // The user asked for a download: its entries are news again.
    void DownloadRequested();

private:
    // An entry waiting for its number records (they follow the batch).
    struct Held {
        Event entry;
        int64_t wanted = 0;
        int64_t seen = 0;
        std::string numbers;
    };
    // The events to show for one that is not a call record.
    std::vector<Event> Sort(const Event& event);
    bool Repeated(const Event& event);
    // A call record: shown, held for its number, or completing the held ring.
    void TakeCall(std::vector<Event>& out, const Event& event);
    // Shows the held ring and the events that came after it.
    void ReleaseRing(std::vector<Event>& out);
    // Shows held entries from the front that are complete (all: every one).
    void Release(std::vector<Event>& out, bool all);

    bool verbose_;
    std::deque<Held> held_;
    std::map<std::string, std::string> last_;   // state key -> last text shown
    std::set<std::string> entriesShown_;
    // The library reports a ring before the caller's number arrives: the
    // numberless report waits for it (a withheld number never comes), and
    // the events after it wait behind it.
    std::optional<Event> ring_;
    std::vector<Event> afterRing_;
};

}  // namespace kztool
