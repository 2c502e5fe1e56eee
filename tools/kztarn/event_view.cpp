#include "event_view.h"

#include "KZ_Tarn.h"

namespace kztool {

namespace {
bool IsEntry(const Event& e) { return e.channel == "notify" && e.code == KZ_NOTIFY_PHONEBOOK_ENTRY; }
bool IsNumber(const Event& e) { return e.channel == "notify" && e.code == KZ_NOTIFY_PHONEBOOK_NUMBER; }

// States that the library reports again unchanged: key of the state, or "".
std::string StateKey(const Event& e) {
    if (e.channel != "notify") return "";
    switch (e.code) {
        case KZ_NOTIFY_CALL_RECORD: return "call " + std::to_string(e.Number("index"));
        case KZ_NOTIFY_CALL_COUNT:
        case KZ_NOTIFY_CALL_HELD:
        case KZ_NOTIFY_CALL_AUDIO:
        case KZ_NOTIFY_PLAY_STATE:
        case KZ_NOTIFY_SIGNAL:
        case KZ_NOTIFY_BATTERY: return std::to_string(e.code);
        default: return "";
    }
}

bool EndsCall(const Event& e) {
    return (e.channel == "status" && e.code == KZ_NAVIG_STATE_W && e.Number("lParam") == KZ_NAVIG_CALL_ENDED_L) ||
           (e.channel == "notify" && e.code == KZ_NOTIFY_CALL_COUNT && e.Number("value") == 0);
}

std::string Position(const Event& e) {
    const int64_t total = e.Number("total", 0);
    return std::to_string(e.Number("index") + 1) + (total > 0 ? "/" + std::to_string(total) : "");
}
}  // namespace

void EventView::DownloadRequested() { entriesShown_.clear(); }

bool EventView::Repeated(const Event& e) {
    const std::string key = StateKey(e);
    if (key.empty()) return false;
    // The library reports a call once without its number and once with it:
    // the bare report of a state already shown adds nothing.
    if (e.code == KZ_NOTIFY_CALL_RECORD && e.Text("number").empty()) {
        auto it = last_.find(key);
        if (it != last_.end() && it->second.rfind(e.Text("kind"), 0) == 0) return true;
    }
    auto [it, fresh] = last_.emplace(key, e.text);
    if (fresh) return false;
    if (it->second == e.text) return true;
    it->second = e.text;
    return false;
}

void EventView::Release(std::vector<Event>& out, bool all) {
    while (!held_.empty() && (all || held_.front().seen >= held_.front().wanted)) {
        Held h = std::move(held_.front());
        held_.pop_front();
        Event& e = h.entry;
        if (h.wanted > 1) {
            e.text = Position(e) + " " + (e.Text("name").empty() ? "(no name)" : e.Text("name")) + "  " +
                     (h.numbers.empty() ? e.Text("number") : h.numbers);
            e.fields.push_back({"numberList", h.numbers, false});
        }
        out.push_back(std::move(e));
    }
}

std::vector<Event> EventView::Take(const Event& e) {
    std::vector<Event> out;
    if (verbose_) {
        out.push_back(e);
    } else if (e.channel == "notify" && e.code == KZ_NOTIFY_CALL_RECORD) {
        TakeCall(out, e);
    } else if (ring_ && !EndsCall(e)) {
        const auto shown = Sort(e);   // they follow the ring
        afterRing_.insert(afterRing_.end(), shown.begin(), shown.end());
    } else {
        if (ring_) ReleaseRing(out);   // a call that ended before its number came
        const auto shown = Sort(e);
        out.insert(out.end(), shown.begin(), shown.end());
    }
    return out;
}

std::vector<Event> EventView::Sort(const Event& e) {
    std::vector<Event> out;
    if (IsNumber(e)) {
        for (auto& h : held_)
            if (h.entry.Number("index") == e.Number("entry") && h.entry.Number("type") == e.Number("type") &&
                h.seen < h.wanted) {
                h.numbers += (h.seen++ ? ", " : "") + e.Text("number") + " (" + e.Text("numberType") + ")";
                Release(out, false);
                return out;
            }
        return out;   // the numbers of an entry not shown (a replayed one)
    }
    if (IsEntry(e)) {
        // A list sent again (after a call or a reconnect) is not news.
        const std::string key = e.name + " " + Position(e) + " " + e.Text("name") + " " + e.Text("number");
        if (!entriesShown_.insert(key).second) return out;
        // Entries wait in order while one of them waits for its numbers.
        const int64_t numbers = e.Number("numbers", 1);
        if (numbers > 1 || !held_.empty()) {
            held_.push_back({e, numbers > 1 ? numbers : 0, 0, ""});
            Release(out, false);
            return out;
        }
        out.push_back(e);
        return out;
    }
    // Held entries stay held: their numbers come after the batch, and other
    // events (a call) may come between.
    // Status posts and bar records repeat a notification of the same event,
    // except the end of a call and the change of source, which no
    // notification carries.
    if (e.channel == "status" && e.code != KZ_NAVIG_SOURCE_W &&
        !(e.code == KZ_NAVIG_STATE_W && e.Number("lParam") == KZ_NAVIG_CALL_ENDED_L))
        return out;
    if (e.channel == "bar") return out;
    if (Repeated(e)) return out;
    out.push_back(e);
    return out;
}

void EventView::TakeCall(std::vector<Event>& out, const Event& e) {
    const bool number = !e.Text("number").empty();
    if (ring_ && ring_->Number("index") == e.Number("index") && e.Text("kind") == "incoming" && number) {
        Repeated(e);   // the state shown is the ring with its number, at the time it rang
        const int64_t rang = ring_->wallMs;
        ring_ = e;
        ring_->wallMs = rang;
        ReleaseRing(out);
        return;
    }
    if (Repeated(e)) return;
    if (ring_) ReleaseRing(out);   // another state: the ring came first
    if (e.Text("kind") == "incoming" && !number) ring_ = e;
    else out.push_back(e);
}

void EventView::ReleaseRing(std::vector<Event>& out) {
    out.push_back(std::move(*ring_));
    ring_.reset();
    out.insert(out.end(), afterRing_.begin(), afterRing_.end());
    afterRing_.clear();
}

std::vector<Event> EventView::Flush(int64_t nowMs, int64_t holdMs, int64_t ringHoldMs) {
    std::vector<Event> out;
    if (ring_ && nowMs - ring_->wallMs >= ringHoldMs) ReleaseRing(out);
    if (!held_.empty() && nowMs - held_.back().entry.wallMs >= holdMs) Release(out, true);
    return out;
}

}  // namespace kztool
