// Inquiry, the naming pass over its results, and the answers to the module's
// security requests (link key, PIN code, authorisation) and pairing result.
#include "events/inquiry.h"

#include <cstring>
#include <memory>

#include "channel/inbound_view.h"
#include "channel/requests.h"
#include "core/sync_objects.h"
#include "core/trace.h"
#include "events/connection.h"
#include "events/notify.h"
#include "phonebook/download.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace kz {

namespace {

constexpr size_t kStatusOffset = 6;
constexpr size_t kInquiryAddressOffset = 6;   // IND 49, 60, 61, 63
constexpr size_t kNameLenOffset = 13;         // CFM 8
constexpr size_t kNameOffset = 15;
constexpr size_t kPinNameLenOffset = 12;      // IND 61
constexpr size_t kPinNameOffset = 14;
constexpr size_t kServiceOffset = 12;         // IND 63
constexpr size_t kPairAddressOffset = 7;      // IND 59
constexpr size_t kPairKeyOffset = 15;
constexpr uint8_t kServiceHfp = 1;
constexpr uint32_t kInquiryResult = 1;
constexpr uint32_t kInquiryOver = 0;
constexpr uint32_t kPairFailed = 3;
constexpr uint32_t kPairIndexTextLen = 2;
constexpr uint8_t kNoKeyByte = 0xFF;
constexpr uint8_t kNoIdByte = 0xFF;
// KZ_BT_PairRemoteDevice takes the low 8 bits of a position, so more results
// than that could never be chosen.
constexpr size_t kMaxInquiryResults = 256;

std::unique_ptr<PairedDeviceRecord> NewInquiryRecord(const uint8_t address[6]) {
    auto rec = std::make_unique<PairedDeviceRecord>();
    std::memset(rec.get(), 0, sizeof *rec);
    std::memcpy(rec->address, address, sizeof rec->address);
    std::memset(rec->key, kNoKeyByte, sizeof rec->key);
    rec->id = kNoIdByte;
    rec->pb = kNoIdByte;
    return rec;
}

void ClearInquiryListLocked() {
    g_vecInquiry.clear();
}

size_t InquiryCount() {
    std::lock_guard<std::mutex> lock(g_InquiryMutex);
    return g_vecInquiry.size();
}

void TraceInquiryList() {
    if (!KzTraceEnabled()) return;
    std::lock_guard<std::mutex> lock(g_InquiryMutex);
    for (size_t i = 0; i < g_vecInquiry.size(); ++i) {
        char hex[13];
        FormatAddressHex(hex, g_vecInquiry[i]->address);
        KzTrace("Device %d Name = %s", static_cast<int>(i), g_vecInquiry[i]->name);
        KzTrace("Addres = %s\n", hex);
    }
}

// Writes the new key into registry slot `slot`, but only when that slot holds
// the paired phone: a stale current slot must not take another phone's key.
void UpdateSlotKey(int slot, const uint8_t address[6], const uint8_t key[16]) {
    PairedDeviceRecord rec;
    if (!GetSlot(slot, &rec) || rec.id == kEmptySlot) return;
    if (std::memcmp(rec.address, address, sizeof rec.address) != 0) {
        KZ_TRACE("Pairing result for another phone than slot %d\n", slot);
        return;
    }
    std::memcpy(rec.key, key, sizeof rec.key);
    SetSlotKey(slot, key);
    WriteSlotKey(rec);
}

}  // namespace

std::vector<std::unique_ptr<PairedDeviceRecord>> g_vecInquiry;
std::mutex g_InquiryMutex;
std::atomic<int32_t> g_nNameReqIndex{0};
std::atomic<uint8_t> g_bInquiryRunning{0};
std::atomic<uint8_t> g_bInquiryWanted{0};
std::atomic<uint8_t> g_bNameFetching{0};

namespace {
// The list owns its records: a process that ends without closing the library
// (or a test) still releases them. Defined after the list and its mutex, so it
// is destroyed before them.
struct InquiryListOwner {
    ~InquiryListOwner() { ClearInquiryList(); }
} g_InquiryListOwner;
}  // namespace

// ------------------------------------------------------------------ inquiry

void StartInquiry() {
    if (IsPhoneBookDownloading()) {
        KZ_TRACE("IsDownload phonebook,Need stop download");
        g_nPendingAction = kPendingInquiry;   // the transfer's end starts it
        return;
    }
    if (g_bHfpConnected) {
        KZ_TRACE("Device is connected");
        REQ_DISCONNECT_PROFILE(kProfileHfp);
        REQ_DISCONNECT_PROFILE(kProfileA2dp);
    } else if (g_bConnecting) {
        KZ_TRACE("Device is connecting");
        if (g_bAutoConnecting) {
            KZ_TRACE("Cancel AutoConnect");
            g_nPendingAction = kPendingInquiry;   // the attempt's end starts it
        }
        KZ_TRACE("Return connectting");
        return;
    }
    g_bPairMode = 1;
    REQ_SET_VISIBLE_MODE(false);
    if (g_bInquiryRunning) {
        KZ_TRACE("Device is inquiry...");
        g_bInquiryWanted = 1;
        return;
    }
    g_bInquiryWanted = 1;
    g_bInquiryRunning = 1;
    {
        std::lock_guard<std::mutex> lock(g_InquiryMutex);
        ClearInquiryListLocked();
    }
    g_nPairIndex = -1;
    REQ_INQUIRY();
}

void OnInquiryResult(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t address[6];
    m.address(kInquiryAddressOffset, address);
    std::lock_guard<std::mutex> lock(g_InquiryMutex);
    if (g_vecInquiry.size() >= kMaxInquiryResults) return;
    g_vecInquiry.push_back(NewInquiryRecord(address));
}

void OnInquiryComplete(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != 0) return;
    size_t count = InquiryCount();
    if (count == 0) {
        NotifyHost(KZ_NOTIFY_INQUIRY, kInquiryOver, nullptr, 0);
        g_bInquiryRunning = 0;
        g_bNameFetching = 0;
        return;
    }
    g_bInquiryRunning = 0;
    g_nNameReqIndex = 0;
    if (g_bInquiryWanted) {
        KZ_TRACE("***************Inquiry End,Num = %d\n", static_cast<int>(count));
        g_bNameFetching = 1;
        SignalEvent(g_hNameRequestEvent);
    } else {
        g_bNameFetching = 0;
    }
}

// ------------------------------------------------------------- naming pass

void RequestNextName() {
    uint8_t address[6];
    {
        std::lock_guard<std::mutex> lock(g_InquiryMutex);
        int32_t index = g_nNameReqIndex;
        if (index < 0 || static_cast<size_t>(index) >= g_vecInquiry.size()) return;
        std::memcpy(address, g_vecInquiry[index]->address, sizeof address);
    }
    REQ_REMOTE_NAME(address);
}

void OnRemoteName(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    char name[32];
    m.text(kNameOffset, m.be16(kNameLenOffset), name, sizeof name);
    if (g_bPairMode == 0) {
        // A phone that connected on its own and is not registered.
        if (g_bUnknownPeer) OnUnknownPeerNamed(name);
        return;
    }
    DeviceInfoRecord info;
    bool report = false;
    bool over = false;
    {
        std::lock_guard<std::mutex> lock(g_InquiryMutex);
        int32_t index = g_nNameReqIndex;
        if (g_vecInquiry.empty() || !g_bInquiryWanted) return;
        if (index < 0 || static_cast<size_t>(index) >= g_vecInquiry.size()) return;
        PairedDeviceRecord* rec = g_vecInquiry[index].get();
        if (m.at(kStatusOffset) != 0) {
            // No answer: drop it; the next phone moves into this position.
            g_vecInquiry.erase(g_vecInquiry.begin() + index);
        } else {
            std::memset(&info, 0, sizeof info);
            FormatSlotText(info.slot, index);
            std::memcpy(info.name, name, sizeof info.name);
            char hex[13];
            FormatAddressHex(hex, rec->address);
            std::memcpy(info.address, hex, 12);
            std::memcpy(rec->name, name, sizeof rec->name);
            report = true;
            g_nNameReqIndex = index + 1;
        }
        over = static_cast<size_t>(g_nNameReqIndex.load()) >= g_vecInquiry.size();
    }
    // Reports go out without the list lock: the host may pair from inside them.
    if (report) NotifyHost(KZ_NOTIFY_INQUIRY, kInquiryResult, &info, sizeof info);
    if (over) {
        g_bNameFetching = 0;
        TraceInquiryList();
        NotifyHost(KZ_NOTIFY_INQUIRY, kInquiryOver, nullptr, 0);
    } else {
        SignalEvent(g_hNameRequestEvent);
    }
}

bool GetInquiryAddress(size_t n, uint8_t out[6]) {
    std::lock_guard<std::mutex> lock(g_InquiryMutex);
    if (n >= g_vecInquiry.size()) return false;
    std::memcpy(out, g_vecInquiry[n]->address, 6);
    return true;
}

// --------------------------------------------------------- security requests

void OnLinkKeyRequest(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t address[6];
    m.address(kInquiryAddressOffset, address);
    if (FindSlotByAddress(address) >= 0 && g_bPairMode != 1) {
        uint8_t key[16];
        if (!FindLinkKey(address, key)) std::memset(key, kNoKeyByte, sizeof key);
        REQ_LINK_KEY_REPLY(address, key);
    } else {
        // No key: the module pairs anew and asks for the PIN.
        REQ_LINK_KEY_REPLY(address, nullptr);
    }
}

void REQ_PIN_CODE_REPLY(const uint8_t address[6]) {
    uint8_t pin[4];
    GetPinBytes(pin);
    SendPinCodeReply(address, pin);
}

void OnPinRequest(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t address[6];
    m.address(kInquiryAddressOffset, address);
    REQ_PIN_CODE_REPLY(address);
    SetConnecting(true);
    if (!g_bHfpConnected) {
        std::memcpy(g_abCurrAddr, address, sizeof address);
        std::memset(g_szCurrName, 0, sizeof g_szCurrName);
        m.text(kPinNameOffset, m.be16(kPinNameLenOffset), g_szCurrName, sizeof g_szCurrName);
    }
}

void OnAuthoriseRequest(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    uint8_t address[6];
    m.address(kInquiryAddressOffset, address);
    uint8_t service = m.at(kServiceOffset);
    bool acceptable = FindSlotByAddress(address) >= 0 || HasFreeSlot();
    bool accept = service == kServiceHfp && !g_bHfpConnected && acceptable;
    KZ_TRACE("--------------------Need  = %d Authorise to  Service = %d...", accept ? 1 : 0, service);
    REQ_AUTHORISE_REPLY(address, service, accept);
}

void OnPairingResult(const uint8_t* msg, size_t len) {
    InboundView m(msg, len);
    if (m.at(kStatusOffset) != 0) {
        KZ_TRACE("Paired remote device failed");
        if (g_bPairMode == 1 && !g_bInquiryRunning) {
            char text[8];
            FormatSlotText(text, g_nPairIndex.load());
            NotifyHost(KZ_NOTIFY_PAIRING, kPairFailed, text, kPairIndexTextLen);
        }
        SetConnecting(false);
        return;
    }
    LinkKeyEntry entry;
    m.address(kPairAddressOffset, entry.address);
    for (size_t i = 0; i < sizeof entry.key; ++i) entry.key[i] = m.at(kPairKeyOffset + i);
    int32_t pairIndex = g_nPairIndex;
    int32_t slot = g_CurrConnectIndex;
    if (g_bPairMode == 1 && pairIndex != -1) {
        {
            std::lock_guard<std::mutex> lock(g_InquiryMutex);
            if (pairIndex >= 0 && static_cast<size_t>(pairIndex) < g_vecInquiry.size())
                std::memcpy(g_vecInquiry[pairIndex]->key, entry.key, sizeof entry.key);
        }
        if (slot != kEmptySlot) UpdateSlotKey(slot, entry.address, entry.key);
    } else if (g_bPairMode == 0 && slot != kEmptySlot) {
        UpdateSlotKey(slot, entry.address, entry.key);
    }
    StoreLinkKey(entry);
}

void ClearInquiryList() {
    std::lock_guard<std::mutex> lock(g_InquiryMutex);
    ClearInquiryListLocked();
}

void ResetInquiryState() {
    ClearInquiryList();
    g_nNameReqIndex = 0;
    g_bInquiryRunning = 0;
    g_bInquiryWanted = 0;
    g_bNameFetching = 0;
}

}  // namespace kz
