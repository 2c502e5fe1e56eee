// A whole head-unit session against the module simulator, driven the way a
// user interface drives the library: it answers the phonebook size
// notification with the download request, connects the phone, downloads the
// call lists and the phonebook, takes calls, and collects what the library
// reported. Shared by the noisy-line, fault and hostile-phone tests.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "phone.h"
#include "support/library_on_sim.h"

namespace kztest {

// Contacts with names and numbers derived from their position.
std::vector<kzsim::Contact> NumberedContacts(size_t n);
std::vector<kzsim::CallEntry> NumberedCalls(const char* kind, size_t n);

// What a session left behind, compared between a clean and a noisy line.
struct FinalState {
    std::string phoneBook, phoneBookNum, tarnIni;   // file contents
    std::vector<uint32_t> batteryLevels;            // notification 6, in order
    uint32_t callRecords = 0;                       // notification 16 count
    bool hfp = false, pbap = false, inCall = false, phoneBookDone = false;
    bool operator==(const FinalState&) const = default;
};

class PhoneSession {
public:
    explicit PhoneSession(kzsim::Options options = {});
    ~PhoneSession();

    LibraryOnSimulator& lib() { return lib_; }
    kzsim::Phone& phone() { return lib_.sim().phone(); }

    // Starts the library and waits for the device-ready notification.
    bool Start(uint32_t ms);
    // The phone connects HFP; the library connects PBAP and fetches the call
    // lists (answered here); done when they are and the channel is quiet.
    bool ConnectPhone(uint32_t ms);
    // Phonebook size, then its download, until the phonebook file is written.
    bool DownloadPhonebook(uint32_t ms);
    // An incoming call: ring, answer, hang up; waits for quiet after it.
    bool TakeCall(const std::string& number, uint32_t ms);

    // Pumps the host windows and answers notification 34 with the download
    // request. Call it while waiting for anything.
    void Pump(uint32_t ms = 5);
    bool PumpUntil(const std::function<bool()>& pred, uint32_t ms);
    // Nothing queued or unconfirmed, no download running, the module has
    // nothing left to send, for `stableMs` in a row.
    bool WaitQuiet(uint32_t ms, uint32_t stableMs = 600);

    size_t Count(uint32_t code);
    FinalState Final();

private:
    LibraryOnSimulator lib_;
    size_t answered_ = 0;   // notifications looked at for code 34
};

}  // namespace kztest
