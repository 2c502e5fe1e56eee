// Seeded fault injection and byte timing of the serial line.
#include "line_model.h"

#include "sim_protocol.h"

namespace kzsim {
namespace {
constexpr double kTwoTo32 = 4294967296.0;
constexpr uint32_t kUsPerSecond = 1000000;
constexpr uint8_t kNonZeroFlip = 0xFF;
}  // namespace

LineModel::LineModel(uint32_t seed, FaultRates rates) : rng_(seed), rates_(rates) {}

bool LineModel::Active() const {
    return rates_.corrupt > 0 || rates_.drop > 0 || rates_.duplicate > 0;
}

// Uniform in [0, 1), computed from the raw engine output so the sequence is
// the same with every standard library.
double LineModel::Draw() { return static_cast<double>(rng_()) / kTwoTo32; }

std::vector<uint8_t> LineModel::Transfer(const std::vector<uint8_t>& bytes) {
    if (!Active()) {
        return bytes;
    }
    std::vector<uint8_t> out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (uint8_t b : bytes) {
        // Three draws per byte whatever happens, so one fault does not shift
        // the decisions for every later byte.
        const double dropDraw = Draw();
        const double corruptDraw = Draw();
        const double dupDraw = Draw();
        if (dropDraw < rates_.drop) {
            ++counts_.dropped;
            continue;
        }
        if (corruptDraw < rates_.corrupt) {
            const uint8_t mask = static_cast<uint8_t>(rng_() & kNonZeroFlip);
            b = static_cast<uint8_t>(b ^ (mask == 0 ? 1 : mask));
            ++counts_.corrupted;
        }
        out.push_back(b);
        if (dupDraw < rates_.duplicate) {
            out.push_back(b);
            ++counts_.duplicated;
        }
    }
    return out;
}

uint32_t ByteTimeUs() { return kBitsPerByte * kUsPerSecond / kBaud; }

}  // namespace kzsim
