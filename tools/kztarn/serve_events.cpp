#include "serve_events.h"

#include <chrono>

namespace kztool {

void EventBroker::Publish(std::string json) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back({++lastId_, std::move(json)});
        while (events_.size() > keep_) events_.pop_front();
    }
    changed_.notify_all();
}

std::vector<NumberedEvent> EventBroker::After(uint64_t afterId, uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [&] { return closed_ || lastId_ > afterId; });
    std::vector<NumberedEvent> out;
    if (closed_) return out;
    for (const auto& e : events_)
        if (e.id > afterId) out.push_back(e);
    return out;
}

void EventBroker::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool EventBroker::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

bool EventBroker::Enter(size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || streams_ >= limit) return false;
    ++streams_;
    return true;
}

void EventBroker::Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (streams_ > 0) --streams_;
}

}  // namespace kztool
