// The Bluetooth module's side of the serial line, for tests, benchmarks and
// the command-line tool. It owns the master end of a pseudo-terminal pair; the
// library opens the slave end (DevicePath()) as its module port.
//
// It behaves like a real module: it starts BCSP link establishment itself
// (sync until answered, then conf), numbers, acknowledges and retransmits
// reliable packets with a window of one, confirms every request and produces
// the indications of a phone (see phone.h). Everything it receives from the
// host and every frame on the wire is recorded, so tests can assert on bytes
// and order.
//
// Threading: one internal thread does all serial work; every public method is
// safe to call from any other thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kzsim {

class Phone;

struct Options {
    bool pace = false;          // real byte time of 115200 baud 8E1 (11 bits per byte)
    uint32_t seed = 1;          // fault-injection random seed
    double corrupt = 0;         // per-byte probabilities, applied in both directions
    double drop = 0;
    double duplicate = 0;
    bool startLink = true;      // begin link establishment as soon as Start() runs
    uint32_t linkIntervalMs = 250;   // sync / conf repeat interval
    uint32_t resendMs = 250;         // retransmission interval of an unacked packet
    uint32_t maxResends = 0;         // 0 = retransmit until acknowledged
    bool sendModuleReady = true;     // IND 48 once the link is up
    uint8_t version[4] = {0x01, 0x02, 0x03, 0x04};  // bytes 7..10 of IND 48
    // Serves one host after another: the simulator keeps no end of the line
    // open itself, notices when the last host closes it, and starts afresh
    // (as a restarted module: link establishment, module ready) for the next.
    bool serveHosts = false;
};

// A module message received from the host: one reliable (or unreliable)
// packet's payload, in arrival order, delivered once.
struct ReceivedMessage {
    uint16_t id = 0;                 // bytes 4..5, little-endian (0 if shorter)
    std::vector<uint8_t> bytes;      // the whole message
    uint8_t channel = 0;
    bool reliable = false;
    uint32_t tickMs = 0;             // ms since Start()
};

// A whole frame (C0 ... C0) as it crossed the line. Host frames are recorded
// as the module's framer collected them (after injected faults); module frames
// as the module built them (before injected faults).
struct WireFrame {
    bool fromHost = false;
    uint32_t tickMs = 0;
    std::vector<uint8_t> bytes;
};

// Link-level counters, for tests and the console.
struct LinkStats {
    uint32_t framesIn = 0;
    uint32_t badFramesIn = 0;        // checksum, CRC or length errors
    uint32_t duplicatesIn = 0;       // reliable packets with an unexpected sequence number
    uint32_t resends = 0;            // module retransmissions
    uint32_t givenUp = 0;            // packets abandoned after maxResends
    uint32_t peerResets = 0;         // host syncs seen while garrulous
};

class ModuleSimulator {
public:
    explicit ModuleSimulator(Options options = {});
    ~ModuleSimulator();
    ModuleSimulator(const ModuleSimulator&) = delete;
    ModuleSimulator& operator=(const ModuleSimulator&) = delete;

    // Opens the pty and starts the thread (and link establishment, unless
    // Options::startLink is false). False if the pty cannot be opened.
    bool Start();
    // Stops the thread and closes the pty. Safe to call twice.
    void Stop();
    std::string DevicePath() const;   // slave path, for KZ_TARN_COM3

    // Link state: true once garrulous both ways (conf-resp sent and received).
    bool LinkUp() const;
    bool WaitLinkUp(uint32_t ms);
    // Begins link establishment now (when startLink was false).
    void StartLink();
    LinkStats Stats() const;

    // Record of messages received from the host (in order) and of all frames.
    std::vector<ReceivedMessage> Received() const;
    void ClearReceived();
    // Waits until `count` messages with this id have been received since the
    // last ClearReceived(). True if they arrived within ms.
    bool WaitForMessage(uint16_t id, uint32_t ms, size_t count = 1);
    // Waits until pred(Received()) is true. pred runs under the simulator's
    // lock: it must not call the simulator.
    bool WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& pred,
                 uint32_t ms);
    std::vector<WireFrame> Wire() const;
    void ClearWire();
    // True once every queued module packet has been sent and acknowledged.
    bool WaitOutgoingIdle(uint32_t ms);

    // Scripting. Messages are queued and sent one at a time (window of one).
    // Module message: length in words, 0x55, class, id LE, params from byte 6.
    void SendIndication(uint16_t id, const std::vector<uint8_t>& params, uint8_t cls = 2);
    void SendConfirm(uint16_t id, uint8_t status, const std::vector<uint8_t>& extra = {});
    void SendMessage(const std::vector<uint8_t>& wholeMessage);   // reliable, channel 13
    void SendUnreliable(const std::vector<uint8_t>& wholeMessage, uint8_t channel = 13);
    void SendRawBytes(const std::vector<uint8_t>& bytes);          // straight onto the wire
    // Status byte of future CFMs for this id (default 0).
    void SetConfirmStatus(uint16_t id, uint8_t status);
    void ClearConfirmStatus(uint16_t id);
    void SetAutoConfirm(bool on);     // confirm every request (default on)
    void SetAcknowledge(bool on);     // acknowledge host packets (default on)
    // Restarts the link like a module reboot: fresh sequence numbers, sync
    // again, then the module-ready indication once garrulous. Queued and
    // unacknowledged module packets are dropped.
    void PeerReset();

    // Observer, called on the simulator thread for each message from the host
    // (after it is recorded, before it is confirmed). For the console's trace.
    void SetObserver(std::function<void(const ReceivedMessage&)> observer);

    Phone& phone();

    uint32_t NowMs() const;           // ms since Start()

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Module message helpers.
std::vector<uint8_t> BuildModuleMessage(uint16_t id, uint8_t cls,
                                        const std::vector<uint8_t>& params);
uint16_t MessageId(const std::vector<uint8_t>& message);

}  // namespace kzsim
