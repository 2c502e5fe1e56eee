#include "event.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace kztool {

namespace {
std::string Pad(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

std::tm Local(int64_t wallMs) {
    const std::time_t t = static_cast<std::time_t>(wallMs / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}
}  // namespace

std::string JsonEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int64_t Event::Number(const std::string& key, int64_t fallback) const {
    for (const auto& f : fields)
        if (f.number && f.key == key) return std::stoll(f.value);
    return fallback;
}

std::string Event::Text(const std::string& key) const {
    for (const auto& f : fields)
        if (!f.number && f.key == key) return f.value;
    return "";
}

std::string Event::Line(const std::string& time) const {
    return time + " " + Pad(name, 8) + (text.empty() ? "" : " " + text);
}

std::string Event::Json(const std::string& time) const {
    std::string out = "{\"time\":\"" + time + "\",\"channel\":\"" + channel +
                      "\",\"code\":" + std::to_string(code) + ",\"event\":\"" + JsonEscape(name) + "\"";
    for (const auto& f : fields) {
        out += ",\"" + JsonEscape(f.key) + "\":";
        out += f.number ? f.value : "\"" + JsonEscape(f.value) + "\"";
    }
    out += ",\"text\":\"" + JsonEscape(text) + "\"}";
    return out;
}

std::string Event::ClockTime(int64_t wallMs) {
    const std::tm local = Local(wallMs);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(wallMs % 1000));
    return text;
}

std::string Event::IsoTime(int64_t wallMs) {
    const std::tm local = Local(wallMs);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);   // +0100
    const std::string z = zone;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%s:%s", date, static_cast<int>(wallMs % 1000),
                  z.substr(0, 3).c_str(), z.substr(3).c_str());
    return text;
}

int64_t Event::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace kztool
