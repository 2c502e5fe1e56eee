// A head-unit session on the module simulator: every wait pumps the host's
// loop and answers each phonebook size report with the download request. A
// scenario is a table of steps: what the user or phone does, what must follow.
#pragma once
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
    std::string s;
    for (uint8_t b : bytes) s += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return s;
}
// A record handed over as bytes; zero when the size is not its own.
template <class T>
T As(const std::vector<uint8_t>& bytes) {
    T t{};
    if (bytes.size() == sizeof t) std::memcpy(&t, bytes.data(), sizeof t);
    return t;
}

// n contacts in name order, every third with a second number.
std::vector<kzsim::Contact> Contacts(size_t n);

struct Pull {   // of the phonebook profile
    uint16_t type, count, start;
    bool operator==(const Pull&) const = default;
};

class Session;
using Wait = std::function<bool(Session&)>;
Wait Note(uint32_t code, uint32_t param, size_t count = 1);
Wait Post(uintptr_t w, intptr_t l, size_t count = 1);
Wait Request(uint16_t id, size_t count = 1);
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
    bool Restart();   // the library closed, what came forgotten, opened again, module ready

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
    void Forget() {
        host().Clear();
        sim().ClearReceived();
        answered_ = 0;
    }

    void StorePhone();   // the simulator's phone, current, in tarn.ini and tarn.dat
    bool ConnectStoredPhone();   // after KZ_BT_SetInitialValue, its call lists announced
    bool StartWithConnectedPhone();   // stored, started, connected, then forgotten
    bool PhoneConnects(uint32_t ms = kWaitMs);   // on its own
    bool StartEmpty(uint32_t ms = kWaitMs) {   // an empty registry: nothing to connect to
        if (!Start(true, ms)) return false;
        KZ_BT_SetInitialValue();
        return WaitQuiet(ms);
    }
    bool StartAndPhoneConnects(uint32_t ms = kWaitMs) { return StartEmpty(ms) && PhoneConnects(ms); }
    bool DownloadPhonebook(uint32_t ms = kWaitMs);
    bool TakeCall(const std::string& number, uint32_t ms = kWaitMs);
    bool ModuleRestarts(uint32_t ms = kWaitMs);

private:
    size_t answered_ = 0;   // size reports answered
};

}  // namespace kztest
