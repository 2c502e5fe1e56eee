// Shared set-up of the libFuzzer harnesses: a temporary head-unit root, taps
// on the serial line and on SubmitPacket that check what the library would
// send, host windows that read every notification block in full (so an
// over-read shows up under AddressSanitizer), and a reset of every
// subsystem's process-wide state between inputs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kzfuzz {

// Once per process: root directory, taps, host windows, message-box handler.
void InitOnce();
// Before each input: every subsystem back to its start state.
void ResetAll();
// A SubmitPacket tap that checks each message (install it where a harness
// wants messages kept off the link).
void SubmitTapChecked(const uint8_t header[4], const uint8_t* payload, uint32_t length,
                      uint32_t mode);
// After each input: drains posted messages so that nothing piles up.
void PumpHost();
// Host path of a head-unit path below the fuzz root (folders created).
std::string HostPath(const std::string& unitPath);
void WriteUnitFile(const std::string& unitPath, const uint8_t* data, size_t n);
void RemoveUnitFile(const std::string& unitPath);

// A small cursor over the fuzz input.
class Input {
public:
    Input(const uint8_t* data, size_t n) : p_(data), n_(n) {}
    bool empty() const { return n_ == 0; }
    size_t left() const { return n_; }
    uint8_t Byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    // Up to max bytes (fewer at the end of the input).
    const uint8_t* Take(size_t want, size_t* got) {
        *got = want < n_ ? want : n_;
        const uint8_t* at = p_;
        p_ += *got;
        n_ -= *got;
        return at;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

}  // namespace kzfuzz
