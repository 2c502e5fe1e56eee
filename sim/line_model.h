// The serial line between module and host: seeded fault injection on a byte
// stream and the byte time of 115200 baud 8E1. One LineModel per direction,
// so each direction's faults depend only on its own bytes and the seed.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

namespace kzsim {

struct FaultRates {
    double corrupt = 0;     // a byte is replaced by a different value
    double drop = 0;        // a byte is lost
    double duplicate = 0;   // a byte arrives twice
};

struct FaultCounts {
    uint32_t corrupted = 0;
    uint32_t dropped = 0;
    uint32_t duplicated = 0;
};

class LineModel {
public:
    LineModel(uint32_t seed, FaultRates rates);
    // The bytes as they arrive at the far end.
    std::vector<uint8_t> Transfer(const std::vector<uint8_t>& bytes);
    bool Active() const;
    FaultCounts Counts() const { return counts_; }

private:
    double Draw();
    std::mt19937 rng_;
    FaultRates rates_;
    FaultCounts counts_;
};

// Microseconds one byte takes on the line (11 bits at 115200 baud).
uint32_t ByteTimeUs();

}  // namespace kzsim
