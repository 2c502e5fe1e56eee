#include "event_printer.h"

#include <cstdio>
#include <cstring>

#include "kz_platform.h"

namespace kztool {

namespace {

std::string Bounded(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

std::string Wide(const uint16_t* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != 0) ++n;
    char out[4 * 81 + 1];
    KzUtf16ToUtf8(text, n, out, sizeof out);
    return out;
}

Field Num(const std::string& key, int64_t value) { return {key, std::to_string(value), true}; }
Field Str(const std::string& key, const std::string& value) { return {key, value, false}; }

Event Make(const char* channel, uint32_t code, const char* name, std::string text,
           std::vector<Field> fields = {}) {
    return Event{channel, code, name, std::move(text), std::move(fields)};
}

// The library's states (0, 2, 4) and the others a phone's call list gives.
const char* CallStateName(uint32_t state) {
    switch (state) {
        case 0: return "active";
        case 1: return "held";
        case 2: return "outgoing";
        case 3: return "alerting";
        case 4: return "incoming";
        case 5: return "waiting";
        default: return "state";
    }
}

const char* BarCallKindName(uint32_t kind) {
    static const char* const kNames[] = {"incoming", "outgoing", "active", "ended"};
    return kind < 4 ? kNames[kind] : "kind";
}

// Notifications that carry one value: code, name, value source, words by value.
enum class From : uint8_t { kParam, kLen };
struct SimpleCode {
    uint32_t code;
    const char* name;
    From from;
    const char* words[4];   // by value 0..3; null = print the number
};
constexpr SimpleCode kSimpleCodes[] = {
    {KZ_NOTIFY_SIGNAL, "signal", From::kParam, {}},
    {KZ_NOTIFY_BATTERY, "battery", From::kLen, {}},
    {KZ_NOTIFY_CALL_AUDIO, "audio", From::kParam, {"phone", "car"}},
    {KZ_NOTIFY_CALL_COUNT, "calls", From::kParam, {}},
    {KZ_NOTIFY_CALL_HELD, "held", From::kParam, {}},
    {KZ_NOTIFY_PHONEBOOK_STATE, "download", From::kParam,
     {"restarted after the call", "phonebook finished", "call lists finished"}},
    {KZ_NOTIFY_PLAY_STATE, "music", From::kParam, {"stopped", "playing", "paused"}},
    {KZ_NOTIFY_AUTO_CONNECT, "autoconnect", From::kParam, {"on"}},
    {KZ_NOTIFY_MIC_MODE, "micmode", From::kParam, {"internal", "external"}},
    {KZ_NOTIFY_MIC_GAIN, "micgain", From::kParam, {}},
    {KZ_NOTIFY_MIC_MUTE, "mic", From::kParam, {"muted", "unmuted"}},
    {KZ_NOTIFY_AUTO_ANSWER, "autoanswer", From::kParam, {"on"}},
    {KZ_NOTIFY_CONNECT_COMPLETE, "connected", From::kParam, {"complete"}},
    {KZ_NOTIFY_PBAP_PENDING, "pbap", From::kParam, {"ready", "pending"}},
};

// Settings whose value 0 means on and anything else off.
bool ZeroMeansOn(uint32_t code) {
    return code == KZ_NOTIFY_AUTO_CONNECT || code == KZ_NOTIFY_AUTO_ANSWER;
}

Event SimpleEvent(const SimpleCode& c, const BtNotifyRecord& r) {
    const uint32_t value = c.from == From::kParam ? r.nParam : r.nLen;
    std::string text;
    if (ZeroMeansOn(c.code)) text = value == 0 ? "on" : "off";
    else if (value < 4 && c.words[value]) text = c.words[value];
    else text = std::to_string(value);
    std::vector<Field> fields{Num("value", value)};
    if (text != std::to_string(value)) fields.push_back(Str("state", text));
    return Make("notify", c.code, c.name, text, fields);
}

std::string Pad(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

}  // namespace

const char* PhonebookTypeName(uint32_t type) {
    switch (type) {
        case KZ_PB_PHONEBOOK: return "contact";
        case KZ_PB_RECEIVED: return "received";
        case KZ_PB_DIALED: return "dialed";
        case KZ_PB_MISSED: return "missed";
        default: return "list";
    }
}

const char* NumberTypeName(uint32_t type) {
    static const char* const kNames[] = {"cell", "work", "home", "fax"};
    return type < 4 ? kNames[type] : "other";
}

std::string EventPrinter::CallerName(const std::string& number) const {
    return contacts_.NameFor(number);
}

Event EventPrinter::CallRecordEvent(const CallRecord& call) {
    const std::string number = Bounded(call.number, sizeof call.number);
    const std::string name = CallerName(number);
    std::string text = Pad(CallStateName(call.state), 9) + " " + number;
    if (!name.empty()) text += "  (" + name + ")";
    std::vector<Field> fields{Num("index", call.index), Num("state", call.state),
                              Str("kind", CallStateName(call.state)), Str("number", number)};
    if (!name.empty()) fields.push_back(Str("name", name));
    return Make("notify", KZ_NOTIFY_CALL_RECORD, "call", text, fields);
}

Event EventPrinter::PhonebookEntryEvent(const structPhoneDate& e) {
    const std::string name = Bounded(e.PBName, sizeof e.PBName);
    const std::string number = Bounded(e.PBNumber, sizeof e.PBNumber);
    const std::string date = Bounded(e.date, sizeof e.date);
    const std::string time = Bounded(e.time, sizeof e.time);
    contacts_.AddEntry(e.type, e.index, name, number);
    uint32_t total = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = listSizes_.find(e.type);
        if (it != listSizes_.end()) total = it->second;
    }
    // Indexes are 0-based; people count from 1.
    std::string position = std::to_string(e.index + 1);
    if (total != 0) position += "/" + std::to_string(total);
    std::string text = position + " " + (name.empty() ? "(no name)" : name) + "  " + number +
                       "  (" + NumberTypeName(e.numberType) + ")";
    if (!date.empty() || !time.empty()) text += "  " + date + " " + time;
    if (e.PNCount > 1) text += "  +" + std::to_string(e.PNCount - 1) + " more";
    std::vector<Field> fields{Num("type", e.type),         Str("list", PhonebookTypeName(e.type)),
                              Num("index", e.index),       Num("total", total),
                              Str("name", name),           Str("number", number),
                              Str("numberType", NumberTypeName(e.numberType)),
                              Num("numbers", e.PNCount),   Str("date", date),
                              Str("clock", time)};
    return Make("notify", KZ_NOTIFY_PHONEBOOK_ENTRY, PhonebookTypeName(e.type), text, fields);
}

Event EventPrinter::PhonebookNumberEvent(const structPhoneNum& n) {
    const std::string number = Bounded(n.number, sizeof n.number);
    contacts_.AddNumber(n.entryIndex, n.type, number);
    std::string text = std::to_string(n.entryIndex + 1) + "." + std::to_string(n.ordinal + 1) + " " +
                       number + "  (" + NumberTypeName(n.numberType) + ")";
    return Make("notify", KZ_NOTIFY_PHONEBOOK_NUMBER, "number", text,
                {Num("entry", n.entryIndex), Num("ordinal", n.ordinal), Num("type", n.type),
                 Str("number", number), Str("numberType", NumberTypeName(n.numberType))});
}

Event EventPrinter::DeviceEvent(const char* name, const DeviceInfoRecord& d) {
    const std::string slot = Bounded(d.slot, sizeof d.slot);
    const std::string phone = Bounded(d.name, sizeof d.name);
    const std::string address = Bounded(d.address, sizeof d.address);
    std::string text = slot + " " + (phone.empty() ? "(no name)" : phone) + "  " + address;
    if (d.connected == 1) text += "  connected";
    return Make("notify", 0, name, text,
                {Str("slot", slot), Str("name", phone), Str("address", address),
                 Num("connected", d.connected)});
}

Event EventPrinter::Notification(const BtNotifyRecord& r) {
    for (const auto& c : kSimpleCodes)
        if (c.code == r.nCode) return SimpleEvent(c, r);
    const auto* data = static_cast<const char*>(r.pData);
    switch (r.nCode) {
        case KZ_NOTIFY_DEVICE_READY:
            return Make("notify", r.nCode, "ready", r.nParam == 1 ? "device ready" : "module failed",
                        {Num("value", r.nParam)});
        case KZ_NOTIFY_CONNECTION: {
            const char* word = r.nParam == KZ_CONNECTION_CONNECTED      ? "phone connected"
                               : r.nParam == KZ_CONNECTION_FAILED       ? "connection failed"
                               : r.nParam == KZ_CONNECTION_DISCONNECTED ? "phone disconnected"
                                                                        : "state";
            if (r.nParam == KZ_CONNECTION_DISCONNECTED) contacts_.SetPhone("");
            return Make("notify", r.nCode, "phone", word, {Num("value", r.nParam)});
        }
        case KZ_NOTIFY_CALL_RECORD:
            if (!data) break;
            return CallRecordEvent(*static_cast<const CallRecord*>(r.pData));
        case KZ_NOTIFY_PHONEBOOK_ENTRY:
            if (!data) break;
            return PhonebookEntryEvent(*static_cast<const structPhoneDate*>(r.pData));
        case KZ_NOTIFY_PHONEBOOK_NUMBER:
            if (!data) break;
            return PhonebookNumberEvent(*static_cast<const structPhoneNum*>(r.pData));
        case KZ_NOTIFY_PHONEBOOK_SIZE: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                listSizes_[r.nParam] = r.nLen;
            }
            return Make("notify", r.nCode, "size",
                        std::string(PhonebookTypeName(r.nParam)) + " list has " +
                            std::to_string(r.nLen) + " entries",
                        {Num("type", r.nParam), Str("list", PhonebookTypeName(r.nParam)),
                         Num("count", r.nLen)});
        }
        case KZ_NOTIFY_PHONEBOOK_CHANGED:
            return Make("notify", r.nCode, "changed",
                        r.nParam == 1 ? std::to_string(r.nLen) + " entries differ from the stored ones"
                                      : "numbers differ from the stored ones",
                        {Num("value", r.nParam), Num("count", r.nLen)});
        case KZ_NOTIFY_TRACK_INFO: {
            if (!data) break;
            const auto& t = *static_cast<const TrackInfoBlock*>(r.pData);
            const std::string title = Bounded(t.title, sizeof t.title);
            const std::string artist = Bounded(t.artist, sizeof t.artist);
            const std::string album = Bounded(t.album, sizeof t.album);
            return Make("notify", r.nCode, "track", title + " / " + artist + " / " + album,
                        {Str("title", title), Str("artist", artist), Str("album", album)});
        }
        case KZ_NOTIFY_DEVICE_INFO: {
            if (!data) break;
            const auto& d = *static_cast<const DeviceInfoRecord*>(r.pData);
            if (d.connected == 1) contacts_.SetPhone(Bounded(d.address, sizeof d.address));
            Event e = DeviceEvent("device", d);
            e.code = r.nCode;
            return e;
        }
        case KZ_NOTIFY_INQUIRY: {
            if (r.nParam != 1 || !data)
                return Make("notify", r.nCode, "inquiry", "over", {Num("value", r.nParam)});
            Event e = DeviceEvent("found", *static_cast<const DeviceInfoRecord*>(r.pData));
            e.code = r.nCode;
            return e;
        }
        case KZ_NOTIFY_PAIRING: {
            static const char* const kWords[] = {"", "chosen", "connected", "failed"};
            const std::string position = data ? std::string(data, strnlen(data, 2)) : "";
            return Make("notify", r.nCode, "pairing",
                        std::string(r.nParam < 4 ? kWords[r.nParam] : "state") + " " + position,
                        {Num("value", r.nParam), Str("position", position)});
        }
        case KZ_NOTIFY_DEVICE_DELETED: {
            const std::string slot = data ? std::string(data, strnlen(data, 2)) : "";
            return Make("notify", r.nCode, "deleted", "slot " + slot, {Str("slot", slot)});
        }
        case KZ_NOTIFY_PIN_CODE: {
            const std::string pin = data ? std::string(data, strnlen(data, r.nLen)) : "";
            return Make("notify", r.nCode, "pin", pin, {Str("pin", pin)});
        }
        case KZ_NOTIFY_SETTING_NOT_SAVED: {
            const std::string key = data ? std::string(data, strnlen(data, r.nLen)) : "";
            const char* file = r.nParam == 2 ? "pairings" : "settings";
            return Make("notify", r.nCode, "notsaved", key + " not saved in the " + file + " file",
                        {Num("value", r.nParam), Str("file", file), Str("key", key)});
        }
        case KZ_NOTIFY_MODULE_VERSION: {
            const std::string version = data ? std::string(data, strnlen(data, r.nLen)) : "";
            return Make("notify", r.nCode, "version", version, {Str("version", version)});
        }
        default:
            break;
    }
    char text[96];
    std::snprintf(text, sizeof text, "code %u param %u len %u", r.nCode, r.nParam, r.nLen);
    return Make("notify", r.nCode, "notify", text,
                {Num("param", r.nParam), Num("len", r.nLen)});
}

Event EventPrinter::StatusPost(uintptr_t w, intptr_t l) {
    struct Status {
        uintptr_t w;
        intptr_t l;
        const char* text;
    };
    static const Status kStatus[] = {
        {KZ_NAVIG_STARTED_W, KZ_NAVIG_STARTED_L, "library started"},
        {KZ_NAVIG_HFP_CONNECTED_W, KZ_NAVIG_HFP_CONNECTED_L, "hands-free connected"},
        {KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_IN_CAR_L, "call audio in the car"},
        {KZ_NAVIG_STATE_W, KZ_NAVIG_AUDIO_ON_PHONE_L, "call audio on the phone"},
        {KZ_NAVIG_STATE_W, KZ_NAVIG_MUSIC_PLAYING_L, "music playing"},
        {KZ_NAVIG_STATE_W, KZ_NAVIG_MUSIC_PAUSED_L, "music paused"},
        {KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_PRESENT_L, "call present"},
        {KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L, "call ended"},
        {KZ_NAVIG_SOURCE_W, KZ_NAVIG_SOURCE_NOT_A2DP_L, "source is no longer A2DP"},
    };
    std::string text = "wParam " + std::to_string(w) + " lParam " + std::to_string(l);
    for (const auto& s : kStatus)
        if (s.w == w && s.l == l) text = s.text;
    return Make("status", static_cast<uint32_t>(w), "status", text,
                {Num("wParam", static_cast<int64_t>(w)), Num("lParam", l)});
}

Event EventPrinter::StatusBar(uintptr_t kind, const void* data, uint32_t size) {
    if (kind == KZ_INFORBAR_CALL_INFO && data && size >= sizeof(CallInfoRecord)) {
        CallInfoRecord rec;
        std::memcpy(&rec, data, sizeof rec);
        const std::string number = Wide(rec.number, 81);
        const std::string name = CallerName(number);
        std::string text = std::string("call ") + Pad(BarCallKindName(rec.kind), 9) + " " + number;
        if (!name.empty()) text += "  (" + name + ")";
        std::vector<Field> fields{Num("kind", rec.kind), Str("call", BarCallKindName(rec.kind)),
                                  Str("number", number)};
        if (!name.empty()) fields.push_back(Str("name", name));
        return Make("bar", static_cast<uint32_t>(kind), "bar", text, fields);
    }
    if (kind == KZ_INFORBAR_NOW_PLAYING && data && size >= sizeof(NowPlayingRecord)) {
        const auto* rec = static_cast<const NowPlayingRecord*>(data);
        static const char* const kStates[] = {"stopped", "playing", "paused"};
        const char* state = rec->playState < 3 ? kStates[rec->playState] : "stopped";
        std::string text = std::string("now ") + state;
        std::vector<Field> fields{Num("flags", rec->flags), Str("state", state)};
        if (rec->flags & 0x01u) {
            const std::string title = Wide(rec->title, 80), artist = Wide(rec->artist, 80),
                              album = Wide(rec->album, 80);
            text += "  " + title + " / " + artist + " / " + album;
            fields.push_back(Str("title", title));
            fields.push_back(Str("artist", artist));
            fields.push_back(Str("album", album));
        }
        return Make("bar", static_cast<uint32_t>(kind), "bar", text, fields);
    }
    return Make("bar", static_cast<uint32_t>(kind), "bar",
                "record kind " + std::to_string(kind) + ", " + std::to_string(size) + " bytes",
                {Num("size", size)});
}

}  // namespace kztool
