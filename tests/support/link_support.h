// Link-level test helpers: frames the library writes to the port (captured
// through the UART tap) and frames "from the module" fed to the receive step.
#pragma once
#include <cstdint>
#include <vector>

namespace kztest {

using Bytes = std::vector<uint8_t>;

struct ParsedFrame {
    bool valid = false;
    uint8_t header[4] = {};
    Bytes payload;   // without the CRC
    uint8_t seq() const { return header[0] & 0x07; }
    uint8_t ack() const { return (header[0] >> 3) & 0x07; }
    bool reliable() const { return (header[0] & 0x80) != 0; }
    uint16_t id() const { return payload.size() >= 6 ? uint16_t(payload[4] | (payload[5] << 8)) : 0; }
};

ParsedFrame ParseFrame(const Bytes& frame);

// A frame as the module would send it (complete header, CRC present).
Bytes ModuleFrame(uint8_t seq, uint8_t ack, bool reliable, uint8_t channel, const Bytes& payload);
Bytes LinkMsgFrame(int index);

// Installs the UART tap for its lifetime; records every write as one frame.
class UartCapture {
public:
    UartCapture();
    ~UartCapture();
    std::vector<Bytes> Frames() const;
    std::vector<ParsedFrame> Parsed() const;
    void Clear();
};

// Runs the receive step and the activity step on one frame, as the receive
// thread does. Returns the activity flags.
uint8_t Feed(const Bytes& frame);

// Brings the link to garrulous through the module's side of the handshake.
void EstablishLink();

}  // namespace kztest
