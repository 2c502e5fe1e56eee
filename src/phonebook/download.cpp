#include "phonebook/download.h"

#include <algorithm>

#include "channel/inbound_view.h"
#include "channel/requests.h"
#include "core/trace.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "phonebook/phonebook_store.h"
#include "phonebook/vcard_parser.h"

namespace kz {

std::atomic<uint32_t> g_nCurrReqPhoneBookType{KZ_PB_PHONEBOOK};
std::atomic<uint8_t> startDownload{0};
std::atomic<int32_t> g_anPhoneBookCount[4] = {};
std::atomic<uint16_t> uPhoneBookIndex{0};
std::atomic<uint16_t> uPhoneBookPauseIndex{0};
std::atomic<uint8_t> g_bPhoneBookDone{0};
std::atomic<uint16_t> g_nPhoneBookSize{0};

namespace {

// Position at which the outstanding batch started: a batch after which the
// position has not moved brought no entry.
std::atomic<uint16_t> batchStart{0};

// A size answer names no list: it is taken for the list last asked for. A
// host request made while a size request is outstanding would change that
// list under it (and its batch would be taken for the size answer), so it
// waits for the answer and goes out after it. One request waits, the latest.
std::atomic<bool> sizeOutstanding{false};
std::atomic<uint32_t> waitingHostRequest{0};
constexpr uint32_t kHostRequest = 0x80000000u;
constexpr uint32_t kHostSizeRequest = 0x40000000u;

constexpr size_t kStatusOffset = 6;
constexpr size_t kSizeOffset = 7;    // list size, big-endian
constexpr uint32_t kStateAfterCall = 0;
constexpr uint32_t kStatePhoneBookDone = 1;
constexpr uint32_t kStateCallListsDone = 2;

bool ValidType(uint32_t type) { return type >= KZ_PB_PHONEBOOK && type <= KZ_PB_MISSED; }

std::atomic<uint16_t>& PositionOf(uint32_t type) {
    return type == KZ_PB_PHONEBOOK ? uPhoneBookPauseIndex : uPhoneBookIndex;
}

// The call lists are fetched dialed, received, missed; 0 after the last.
uint8_t NextCallList(uint32_t type) {
    switch (type) {
        case KZ_PB_DIALED: return KZ_PB_RECEIVED;
        case KZ_PB_RECEIVED: return KZ_PB_MISSED;
        default: return 0;
    }
}

void StartHostRequest(uint32_t request) {
    const uint8_t t = static_cast<uint8_t>(request >> 16);
    if (request & kHostSizeRequest) {
        RequestPhoneBook(t, 0, 0);
        return;
    }
    int32_t n = static_cast<uint16_t>(request);
    if (t != KZ_PB_PHONEBOOK) n = std::min(n, kCallListLimit);
    g_anPhoneBookCount[t - 1] = n;
    // A phonebook download from the start never keeps entries of an earlier
    // one that ended short or was abandoned.
    if (t == KZ_PB_PHONEBOOK && !startDownload && !g_bPhoneBookDone) ClearDownloadedPhoneBook();
    g_nCurrReqPhoneBookType = t;
    RequestNextPhoneBookBatch(0, kPhoneBookBatch);
}

// Host thread. The request waits while a size request is outstanding; the
// thread that clears that state takes it over (whoever exchanges it out
// first starts it, so it goes out exactly once).
void FromHost(uint32_t request) {
    if (sizeOutstanding) {
        KZ_TRACE("phonebook request waits for the size answer");
        waitingHostRequest = request;
        if (sizeOutstanding) return;
        request = waitingHostRequest.exchange(0);
        if (request == 0) return;
    }
    StartHostRequest(request);
}

void RunWaitingHostRequest() {
    if (sizeOutstanding || startDownload) return;
    if (uint32_t request = waitingHostRequest.exchange(0)) StartHostRequest(request);
}

void NotifyState(uint32_t state) { NotifyHost(KZ_NOTIFY_PHONEBOOK_STATE, state, nullptr, 0); }

// End of the call lists: a phonebook download that a call interrupted
// resumes where it stopped.
void CallListsDone(bool announceWhenDone) {
    uint16_t pause = uPhoneBookPauseIndex;
    if (g_bPhoneBookDone) {
        if (announceWhenDone) NotifyState(kStateCallListsDone);
    } else if (pause != 0) {
        g_nCurrReqPhoneBookType = KZ_PB_PHONEBOOK;
        RequestNextPhoneBookBatch(pause, kPhoneBookBatch);
    } else {
        NotifyState(kStateCallListsDone);
    }
}

// complete: the position reached the list's size. A phonebook that ended
// short (a batch brought nothing: stall, lost data, a list that shrank) is
// not the phone's phonebook, so it never replaces the stored one; the flag
// that refuses a second phonebook download stays clear, so the next download
// tries again.
void ListFinished(uint32_t type, bool complete) {
    if (type == KZ_PB_PHONEBOOK) {
        uPhoneBookPauseIndex = 0;
        if (complete) g_bPhoneBookDone = 1;
        NotifyState(kStatePhoneBookDone);
        if (complete) {
            StartPhoneBookSyncThread();
        } else {
            KZ_TRACE("phonebook ended short of %d entries, stored phonebook kept",
                     int(g_anPhoneBookCount[KZ_PB_PHONEBOOK - 1]));
        }
        return;
    }
    uPhoneBookIndex = 0;
    if (uint8_t next = NextCallList(type)) {
        RequestPhoneBook(next, 0, 0);
    } else {
        CallListsDone(false);
    }
}

// The hands-free link went down or work waits: the download ends here.
void AbandonDownload() {
    switch (g_nPendingAction.load()) {
        case kPendingInquiry:
            StartInquiry();
            break;
        case kPendingDisconnect:
            REQ_DISCONNECT_PROFILE(kProfileHfp);
            REQ_DISCONNECT_PROFILE(kProfileA2dp);
            break;
        default:
            if (g_bPbapConnected) REQ_DISCONNECT_PROFILE(kProfilePbap);
            break;
    }
    g_nPendingAction = kPendingNone;
    uPhoneBookIndex = 0;
    uPhoneBookPauseIndex = 0;
}

// Branch for a delivered batch.
void BatchComplete() {
    startDownload = 0;
    KZ_TRACE("Out download phonebook");
    ClearVCardBuffer();
    if (!g_bHfpConnected || g_nPendingAction != kPendingNone) {
        AbandonDownload();
        return;
    }
    uint32_t type = g_nCurrReqPhoneBookType;
    if (!ValidType(type)) return;
    int32_t position = PositionOf(type);
    int32_t count = g_anPhoneBookCount[type - 1];
    if (position == batchStart && position < count) {
        // Asking again would bring nothing again.
        KZ_TRACE("batch brought no entry, list %u ends at %d", type, position);
        ListFinished(type, false);
    } else if (position >= count) {
        ListFinished(type, true);
    } else if (!g_bCallPausedPb) {
        RequestNextPhoneBookBatch(static_cast<uint16_t>(position), kPhoneBookBatch);
    }
    KZ_TRACE("Get phone book complete\n");
}

// Branch for an answered size request.
void SizeComplete() {
    sizeOutstanding = false;
    uint32_t type = g_nCurrReqPhoneBookType;
    if (type == KZ_PB_PHONEBOOK) {
        uPhoneBookPauseIndex = 0;
        ClearDownloadedPhoneBook();
    } else {
        uPhoneBookIndex = 0;
    }
    g_nPendingAction = kPendingNone;
    int32_t size = g_nPhoneBookSize;
    if (type != KZ_PB_PHONEBOOK) size = std::min(size, kCallListLimit);
    if (ValidType(type)) g_anPhoneBookCount[type - 1] = size;
    if (size != 0) {
        NotifyHost(KZ_NOTIFY_PHONEBOOK_SIZE, type, nullptr, static_cast<uint32_t>(size));
    } else if (uint8_t next = NextCallList(type)) {
        RequestPhoneBook(next, 0, 0);
    } else if (type == KZ_PB_MISSED) {
        CallListsDone(true);
    } else if (type == KZ_PB_PHONEBOOK) {
        NotifyState(kStatePhoneBookDone);
    }
    KZ_TRACE("GetThe book size is --- %u", g_nPhoneBookSize.load());
    g_nPhoneBookSize = 0;
    KZ_TRACE("Get phone book complete\n");
    RunWaitingHostRequest();
}

}  // namespace

void RequestPhoneBook(uint8_t type, uint16_t count, uint16_t start) {
    if (!g_bPbapConnected || startDownload) return;
    if (!ValidType(type)) {
        KZ_TRACE("phonebook type %u refused", type);
        return;
    }
    if (type == KZ_PB_PHONEBOOK && g_bPhoneBookDone) {
        KZ_TRACE("--------Error : PhoneBook is download finished");
        return;
    }
    if (count != 0) {
        KZ_TRACE("Enter download phonebook");
        batchStart = start;
        startDownload = 1;
    } else {
        sizeOutstanding = true;
    }
    g_nCurrReqPhoneBookType = type;
    REQ_PBAP_PULL(type, count, start);
}

void RequestNextPhoneBookBatch(uint16_t start, uint16_t count) {
    uint32_t type = g_nCurrReqPhoneBookType;
    int32_t n = count;
    if (type != KZ_PB_PHONEBOOK && int32_t(start) + n > kCallListLimit) n = kCallListLimit - start;
    if (start == 0) KZ_TRACE("g_nCurrReqPhoneBookType = %u", type);
    KZ_TRACE("Download from %d -- %d", start, start + n);
    if (n <= 0) return;   // a call list never goes past its limit
    RequestPhoneBook(static_cast<uint8_t>(type), static_cast<uint16_t>(n), start);
}

void OnPhoneBookSizeCfm(const uint8_t* msg, size_t len) {
    // Bytes past the message read 0: a confirmation cut short is a success
    // with the size it carries (0 when it carries none).
    InboundView m(msg, len);
    if (m.at(kStatusOffset) == 0) {
        g_nPhoneBookSize = m.be16(kSizeOffset);
        return;
    }
    KZ_TRACE("Get phone book error\n");
    startDownload = 0;
    sizeOutstanding = false;
    ClearVCardBuffer();
    uPhoneBookIndex = 0;
    uPhoneBookPauseIndex = 0;
    g_nPendingAction = kPendingNone;
    RunWaitingHostRequest();
}

void OnPhoneBookComplete(const uint8_t*, size_t) {
    if (startDownload) {
        BatchComplete();
    } else {
        SizeComplete();
    }
}

void PhoneBookAfterCall() {
    if (g_bCallPausedPb) {
        g_bCallPausedPb = 0;
        KZ_TRACE("Start download last phone book after call");
        NotifyState(kStateAfterCall);
        uPhoneBookIndex = 0;
        RequestPhoneBook(KZ_PB_DIALED, 0, 0);
    } else if (g_bPhoneBookDone) {
        NotifyState(kStateAfterCall);
        RequestPhoneBook(KZ_PB_DIALED, 0, 0);
    }
}

bool IsPhoneBookDownloading() { return startDownload != 0; }
bool IsPhoneBookDone() { return g_bPhoneBookDone != 0; }
void SetPhoneBookPendingAction(uint32_t action) { g_nPendingAction = static_cast<int32_t>(action); }

uint16_t ConsumePhoneBookPosition() { return PositionOf(g_nCurrReqPhoneBookType).fetch_add(1); }

void GetPhoneBookSize(int32_t type) {
    uint8_t t = static_cast<uint8_t>(type);
    if (!ValidType(t)) {
        KZ_TRACE("phonebook type %d ignored", type);
        return;
    }
    FromHost(kHostRequest | kHostSizeRequest | uint32_t(t) << 16);
}

void GetPhoneBookData(int32_t type, int32_t count) {
    uint8_t t = static_cast<uint8_t>(type);
    if (!ValidType(t)) {
        KZ_TRACE("phonebook type %d ignored", type);
        return;
    }
    FromHost(kHostRequest | uint32_t(t) << 16 | static_cast<uint16_t>(count));
}

void ForgetOutstandingPulls() {
    startDownload = 0;
    sizeOutstanding = false;
    waitingHostRequest = 0;
}

void ResetDownloadState() {
    g_nCurrReqPhoneBookType = KZ_PB_PHONEBOOK;
    startDownload = 0;
    for (auto& c : g_anPhoneBookCount) c = 0;
    uPhoneBookIndex = 0;
    uPhoneBookPauseIndex = 0;
    g_bPhoneBookDone = 0;
    g_nPhoneBookSize = 0;
    batchStart = 0;
    sizeOutstanding = false;
    waitingHostRequest = 0;
    ClearVCardBuffer();
}

}  // namespace kz
