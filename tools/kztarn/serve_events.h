// The events of `kztarn serve` for its event streams: every event as its
// JSON object (the same as `kztarn console --json`), numbered from 1, the
// latest ones kept so that a page opened later (or a stream that reconnects
// with its last number) catches up.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kztool {

struct NumberedEvent {
    uint64_t id = 0;
    std::string json;
};

class EventBroker {
public:
    explicit EventBroker(size_t keep) : keep_(keep) {}

    // Any thread: adds one event and wakes the streams.
    void Publish(std::string json);
    // Events after `afterId` (0: all kept ones), waiting up to waitMs for the
    // first one. Empty when none came or the broker is closed.
    std::vector<NumberedEvent> After(uint64_t afterId, uint32_t waitMs);
    // Wakes every waiting stream and makes them end.
    void Close();
    bool closed() const;

    // A stream counts while it runs; Enter fails once `limit` are running.
    bool Enter(size_t limit);
    void Leave();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<NumberedEvent> events_;
    size_t keep_;
    uint64_t lastId_ = 0;
    size_t streams_ = 0;
    bool closed_ = false;
};

}  // namespace kztool
