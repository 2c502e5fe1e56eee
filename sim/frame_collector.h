// The module's receive framer: collects 0xC0-delimited frames from a byte
// stream. Unlike the host's, it is forgiving: a shared delimiter between two
// frames starts the next one, and bytes between frames are skipped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kzsim {

class FrameCollector {
public:
    static constexpr size_t kMaxFrame = 4096;   // longer frames are dropped

    // Feeds bytes; each completed frame (both delimiters included) is appended
    // to `frames`.
    void Feed(const uint8_t* data, size_t n, std::vector<std::vector<uint8_t>>& frames);
    void Reset();
    size_t Skipped() const { return skipped_; }

private:
    enum class State { Hunting, InFrame };
    State state_ = State::Hunting;
    std::vector<uint8_t> frame_;
    size_t skipped_ = 0;
};

}  // namespace kzsim
