// What crossed the serial line, read back from the library's wire trace as it
// is written. Through it the console sees which requests the library sent and
// the module's confirmations with their status, for a real module as for the
// simulator, and notices when the module stops answering or restarts.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wire_decoder.h"

namespace kztool {

// One module message on channel 13 (or the AT reset on channel 0).
struct TappedMessage {
    bool fromHost = false;
    uint16_t id = 0;
    int status = -1;            // byte 6 of a message from the module, -1 when absent
    std::vector<uint8_t> bytes;
};

// The request a command caused, told apart from the library's own requests
// with the same id by its parameters: one of ids, and for ids[0] these bytes
// at this offset of the message (none: any parameters).
struct RequestMatch {
    std::vector<uint16_t> ids;
    size_t at = 0;
    std::vector<uint8_t> bytes;
    bool Matches(const TappedMessage& m) const;
};

// A change of the line's state, for the console to show.
struct LinkNote {
    bool up = false;            // true: the module is back; false: lost
    std::string text;
};

class WireTap {
public:
    ~WireTap();
    // Follows path (it may not exist yet: the library creates it at its
    // first frame).
    void Follow(const std::string& path);
    const std::string& path() const { return path_; }
    // Reads what was written since the last call. nowMs: KzGetTickCount().
    void Poll(uint32_t nowMs);

    size_t Mark() const { return messages_.size(); }
    const std::vector<TappedMessage>& messages() const { return messages_; }
    // The index of the first request from the host at or after from that
    // matches, or -1.
    long FindRequest(size_t from, const RequestMatch& match) const;
    // The module's confirmation of the request at index: the library sends
    // one request at a time and waits for its confirmation, so it is the
    // first message from the module with the request's id after it. Null
    // while none came.
    const TappedMessage* FindConfirm(size_t request) const;

    // The serial line hung up (the console watches it): the module is lost.
    void LineHungUp();

    // Line state changes since the last call.
    std::vector<LinkNote> TakeNotes();
    bool moduleAnswering() const { return !lost_; }
    uint32_t framesFromModule() const { return framesFromModule_; }

private:
    void Take(const TraceRecord& r, uint32_t nowMs);
    void Lost(const std::string& why);

    std::string path_;
    FILE* file_ = nullptr;
    TraceReader reader_;
    std::vector<TappedMessage> messages_;
    std::vector<LinkNote> notes_;
    std::vector<uint8_t> lastReliable_[2];   // by direction: 0 module, 1 host
    bool linkUp_ = false;
    bool lost_ = false;
    uint32_t unansweredSinceMs_ = 0;          // a host frame waits for the module; 0: none
    uint32_t framesFromModule_ = 0;
    bool broken_ = false;
};

}  // namespace kztool
