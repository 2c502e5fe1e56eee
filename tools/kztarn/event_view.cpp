#include "event_view.h"

#include "KZ_Tarn.h"

namespace kztool {

namespace {
constexpr int64_t kRestartedAfterCall = 0;

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

std::string Position(const Event& e) {
    const int64_t total = e.Number("total", 0);
    return std::to_string(e.Number("index") + 1) + (total > 0 ? "/" + std::to_string(total) : "");
}
}  // namespace

void EventView::DownloadRequested() {
    downloadRunning_ = true;
    entriesShown_.clear();
}

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
        return out;
    }
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
    if (e.channel == "notify" && e.code == KZ_NOTIFY_PHONEBOOK_STATE) {
        const bool restarted = e.Number("value") == kRestartedAfterCall;
        if (restarted && !downloadRunning_) return out;
        if (!restarted) downloadRunning_ = false;
    }
    if (Repeated(e)) return out;
    out.push_back(e);
    return out;
}

std::vector<Event> EventView::Flush(int64_t nowMs, int64_t holdMs) {
    std::vector<Event> out;
    if (!held_.empty() && nowMs - held_.back().entry.wallMs >= holdMs) Release(out, true);
    return out;
}

}  // namespace kztool
