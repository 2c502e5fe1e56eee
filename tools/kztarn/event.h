// The console's event model: one struct per thing the user sees happen (a
// notification, a status post, a status-bar record, a change of the line, a
// command's outcome), with its readable line and its JSON object. `console`,
// `console --json` and the browser screen all show these.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kztool {

// One named value of an event, for the JSON form.
struct Field {
    std::string key;
    std::string value;
    bool number = false;
};

struct Event {
    std::string channel;    // "notify", "status", "bar", "link" or "outcome"
    uint32_t code = 0;      // notification code, status wParam, or record kind
    std::string name;       // short word: "call", "contact", "ready", ...
    std::string text;       // the rest of the readable line
    std::vector<Field> fields;
    uint32_t tickMs = 0;    // KzGetTickCount() when it arrived
    int64_t wallMs = 0;     // milliseconds since 1970 when it arrived

    // The numeric field with this key, or fallback.
    int64_t Number(const std::string& key, int64_t fallback = -1) const;
    // The text field with this key, or "".
    std::string Text(const std::string& key) const;

    std::string Line(const std::string& time) const;   // "12:01:07.250 call  incoming  +49..."
    std::string Json(const std::string& time) const;   // {"time":..,"channel":..,...}
    // The same with the event's own arrival time.
    std::string Line() const { return Line(ClockTime(wallMs)); }
    std::string Json() const { return Json(IsoTime(wallMs)); }

    // "hh:mm:ss.mmm" local time, and ISO 8601 local time with milliseconds
    // and the zone offset ("2026-12-06T16:46:16.123+01:00").
    static std::string ClockTime(int64_t wallMs);
    static std::string IsoTime(int64_t wallMs);
    static int64_t NowMs();
};

std::string JsonEscape(const std::string& text);

}  // namespace kztool
