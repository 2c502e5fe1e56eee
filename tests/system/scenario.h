// Helpers for the scenario tests: the library on the simulator as a user
// interface sees it. Every wait pumps the host's message loop on the test's
// thread, which also started the library, so the housekeeping timer, the
// gain-restore timer and the status posts flow while the test waits.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "phone.h"
#include "support/library_on_sim.h"

namespace kztest {

// Generous: the CI machine has two cores shared with other test processes.
inline constexpr uint32_t kWaitMs = 8000;

// The simulated phone's default address and name.
inline constexpr kzsim::Address kSimPhone = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
inline constexpr const char* kSimPhoneName = "Sim Phone";

std::string HexAddress(const kzsim::Address& a);
std::string HexKey(const std::array<uint8_t, 16>& key);

// A phone as tarn.ini and tarn.dat remember it.
struct StoredPhone {
    int slot = 0;
    kzsim::Address address = kSimPhone;
    std::string name = kSimPhoneName;
    std::array<uint8_t, 16> key{};
    int pb = 255;
};

class Scenario {
public:
    explicit Scenario(kzsim::Options options = {});

    kzsim::ModuleSimulator& sim() { return lib_.sim(); }
    kzsim::Phone& phone() { return lib_.sim().phone(); }
    HostWindows& host() { return lib_.host(); }
    TempRoot& root() { return lib_.root(); }
    LibraryOnSimulator& lib() { return lib_; }

    bool Start() { return lib_.Start(); }
    // Restarts the library on the same simulator, as a user interface that
    // closes and opens the device does: close, init (the module restarts its
    // link, as the host's sync makes a real one do), and the module-ready
    // handshake done.
    bool Restart();

    // Pumps the host loop until pred() holds.
    bool Until(const std::function<bool()>& pred, uint32_t ms = kWaitMs);

    // ---- notifications to "Bluetooth" ----
    std::vector<Notification> Notes(uint32_t code) const;
    size_t Count(uint32_t code, uint32_t param) const;
    bool WaitNote(uint32_t code, uint32_t param, size_t count = 1, uint32_t ms = kWaitMs);
    // Codes of the notifications received, restricted to those in `codes`.
    std::vector<uint32_t> CodesAmong(const std::vector<uint32_t>& codes) const;
    // (code, param) pairs restricted to the codes given, in arrival order.
    std::vector<std::pair<uint32_t, uint32_t>> NotesAmong(const std::vector<uint32_t>& codes) const;

    // ---- status posts to "NavigRecive" ----
    bool WaitPost(uintptr_t w, intptr_t l, size_t count = 1, uint32_t ms = kWaitMs);
    size_t CountPosts(uintptr_t w, intptr_t l) const;

    // ---- what the module received ----
    std::vector<kzsim::ReceivedMessage> Requests(uint16_t id) const;
    std::vector<uint16_t> RequestIds() const;
    bool WaitRequest(uint16_t id, size_t count = 1, uint32_t ms = kWaitMs);
    // Waits for a request with this id whose byte `at` is `value`.
    bool WaitRequestWith(uint16_t id, size_t at, uint8_t value, uint32_t ms = kWaitMs);
    // The module has nothing left to send and the library nothing queued.
    bool WaitQuiet(uint32_t ms = kWaitMs);

    // Codes received and ids the module received, for failure messages.
    std::string Dump() const;

    // ---- files ----
    void StorePhone(const StoredPhone& p, bool current = true);

    // The stored phone connects automatically after KZ_BT_SetInitialValue;
    // returns once the call lists (empty on the phone) have been announced
    // as done, so that later requests are the scenario's own.
    bool ConnectStoredPhone();
    // A stored phone, the library started and the phone connected; what that
    // produced (module record, host notifications) is forgotten.
    bool StartWithConnectedPhone();

private:
    mutable LibraryOnSimulator lib_;   // its accessors are not const
};

// Pulls of REQ_PBAP_PULL: (type, count, start).
struct Pull {
    uint16_t type, count, start;
    bool operator==(const Pull&) const = default;
};
std::vector<Pull> Pulls(const std::vector<kzsim::ReceivedMessage>& received);

// UTF-16 text of a record field, up to its zero.
std::u16string Wide(const uint16_t* text, size_t max);

}  // namespace kztest
