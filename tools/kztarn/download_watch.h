// Where the phonebook download stands, for `status` and for the event lines.
// The library says "restarted after the call" after every call, a download
// running or not; only a download that the call interrupted starts again.
#pragma once
#include <string>

#include "event.h"

namespace kztool {

class DownloadWatch {
public:
    // The user asked for a download of this list (KZ_PB_*).
    void Requested(int type);
    // Follows the event; false for a "restarted after the call" that
    // restarts nothing.
    bool Follow(const Event& event);
    // "phonebook finished", "phonebook interrupted by the call", ... or "".
    const std::string& words() const { return words_; }

private:
    bool running_ = false;       // asked for, not finished
    bool answerDue_ = false;     // the outcome of the request has not come yet
    bool interrupted_ = false;   // a call stopped it; no entry came since
    std::string words_;
};

}  // namespace kztool
