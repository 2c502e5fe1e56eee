// A whole head-unit session on the module simulator, as a user interface
// drives it: every wait pumps the host's message loop on the test's thread
// (which started the library, so its timers and status posts flow) and
// answers each phonebook size report with the download request. A scenario is
// a table of steps: what the user or the phone does, then what must follow.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "phone.h"
#include "support/library_on_sim.h"

namespace kztest {

// Generous: the CI machine has two cores shared with other test processes.
inline constexpr uint32_t kWaitMs = 8000;
inline constexpr kzsim::Address kSimPhone = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
inline constexpr const char* kSimPhoneName = "Sim Phone";
inline const std::string kTarnIni = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
inline const std::string kTarnDat = "\\BACKUP\\KZ_TARN\\tarn.dat";
inline const std::string kBookFile = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook00.dat";
inline const std::string kNumberFile = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum00.dat";

template <class Bytes>
std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) s += {digits[b >> 4], digits[b & 15]};
    return s;
}
// A record handed over as bytes; zero when the size is not its own.
template <class T>
T As(const std::vector<uint8_t>& bytes) {
    T t{};
    if (bytes.size() == sizeof t) std::memcpy(&t, bytes.data(), sizeof t);
    return t;
}
// UTF-16 text of a record field, up to its zero.
std::u16string Wide(const uint16_t* text, size_t max);

// A phone as tarn.ini and tarn.dat remember it.
struct StoredPhone {
    int slot = 0;
    kzsim::Address address = kSimPhone;
    std::string name = kSimPhoneName;
    std::array<uint8_t, 16> key{};
};

struct Pull {   // of the phonebook profile
    uint16_t type, count, start;
    bool operator==(const Pull&) const = default;
};

struct FinalState {   // what a session left behind
    std::string phoneBook, phoneBookNum, tarnIni;
    std::vector<uint32_t> batteryLevels;
    bool hfp = false, pbap = false, inCall = false, phoneBookDone = false;
    bool operator==(const FinalState&) const = default;
};

class Session;
using Wait = std::function<bool(Session&)>;
Wait Note(uint32_t code, uint32_t param, size_t count = 1);
Wait Post(uintptr_t w, intptr_t l, size_t count = 1);
Wait Request(uint16_t id, size_t count = 1);
Wait RequestWith(uint16_t id, size_t at, uint8_t value);
Wait Quiet();   // the module has nothing to send, the library nothing queued or unconfirmed

struct Step {
    std::string what;
    std::function<void()> act;
    std::vector<Wait> waits;   // each in turn, within ms
    uint32_t ms = kWaitMs;
};

class Session : public LibraryOnSimulator {
public:
    explicit Session(kzsim::Options options = {}) : LibraryOnSimulator(options) {}
    kzsim::Phone& phone() { return sim().phone(); }

    bool Run(const std::vector<Step>& steps);
    bool Until(const std::function<bool()>& pred, uint32_t ms = kWaitMs);
    bool WaitQuiet(uint32_t ms = kWaitMs) { return Until([&] { return Quiet()(*this); }, ms); }
    // Close and init on the same simulator, whose module restarts its link;
    // true once the new module-ready handshake is done.
    bool Restart();

    std::vector<Notification> Notes(uint32_t code);
    size_t Count(uint32_t code, uint32_t param);
    std::vector<std::pair<uint32_t, uint32_t>> NotesAmong(const std::vector<uint32_t>& codes);
    size_t CountPosts(uintptr_t w, intptr_t l);
    template <class T>
    std::vector<T> Bar(uintptr_t kind) {
        std::vector<T> out;
        for (const auto& r : host().Inforbar())
            if (r.kind == kind) out.push_back(As<T>(r.bytes));
        return out;
    }
    std::vector<kzsim::ReceivedMessage> Requests(uint16_t id);
    std::vector<uint8_t> ByteAt(uint16_t id, size_t at);   // of each request with this id
    std::vector<Pull> Pulls();
    std::string Dump();   // what reached the host and the module, for failures
    void Forget() {   // what reached the host and the module so far
        host().Clear();
        sim().ClearReceived();
        answered_ = 0;
    }

    void StorePhone(const StoredPhone& p = {}, bool current = true);
    // The stored phone connects after KZ_BT_SetInitialValue, its call lists
    // announced; StartWithConnectedPhone then forgets what that produced.
    bool ConnectStoredPhone();
    bool StartWithConnectedPhone();
    bool PhoneConnects(uint32_t ms = kWaitMs);   // on its own
    // Started with an empty registry, and the phone connects on its own.
    bool StartAndPhoneConnects(uint32_t ms = kWaitMs) {
        if (!Start(true, ms)) return false;
        KZ_BT_SetInitialValue();
        return PhoneConnects(ms);
    }
    bool DownloadPhonebook(uint32_t ms = kWaitMs);
    bool TakeCall(const std::string& number, uint32_t ms = kWaitMs);
    FinalState Final();

private:
    size_t answered_ = 0;   // size reports answered
};

// The module restarts, its state with it; true once the link is back and the
// new module-ready handled.
bool ModuleRestarts(Session& s, uint32_t ms = kWaitMs);

}  // namespace kztest
