// The module's receive framer.
#include "frame_collector.h"

#include "sim_codec.h"

namespace kzsim {

void FrameCollector::Reset() {
    state_ = State::Hunting;
    frame_.clear();
}

void FrameCollector::Feed(const uint8_t* data, size_t n,
                          std::vector<std::vector<uint8_t>>& frames) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        if (state_ == State::Hunting) {
            if (b == bcsp::kSlipEnd) {
                frame_.assign(1, b);
                state_ = State::InFrame;
            } else {
                ++skipped_;
            }
            continue;
        }
        if (b == bcsp::kSlipEnd) {
            if (frame_.size() == 1) {
                continue;  // C0 C0: the second one opens the frame
            }
            frame_.push_back(b);
            frames.push_back(std::move(frame_));
            frame_.clear();
            state_ = State::Hunting;
            continue;
        }
        if (frame_.size() >= kMaxFrame) {
            skipped_ += frame_.size();
            Reset();
            continue;
        }
        frame_.push_back(b);
    }
}

}  // namespace kzsim
