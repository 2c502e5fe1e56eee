// Phonebook download control: size requests, batches of three, list chaining
// 3 -> 2 -> 4, pause during a call and resume after it.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kz {

inline constexpr uint16_t kPhoneBookBatch = 3;      // entries asked for per batch
inline constexpr int32_t kCallListLimit = 20;       // entries of a call list at most

extern std::atomic<uint32_t> g_nCurrReqPhoneBookType;   // 1 at start
extern std::atomic<uint8_t> startDownload;
extern std::atomic<int32_t> g_anPhoneBookCount[4];       // types 1..4
extern std::atomic<uint16_t> uPhoneBookIndex;
extern std::atomic<uint16_t> uPhoneBookPauseIndex;
extern std::atomic<uint8_t> g_bPhoneBookDone;
extern std::atomic<uint16_t> g_nPhoneBookSize;

void RequestPhoneBook(uint8_t type, uint16_t count, uint16_t start);
void RequestNextPhoneBookBatch(uint16_t start, uint16_t count);
void OnPhoneBookSizeCfm(const uint8_t* msg, size_t len);   // receive thread
void OnPhoneBookComplete(const uint8_t* msg, size_t len);  // event thread
// The phonebook part of the after-call handler (event thread): when the call
// paused a download (g_bCallPausedPb of events/calls.h) clear that flag,
// send notification 37 with 0, set uPhoneBookIndex to 0 and RequestPhoneBook(3, 0, 0);
// otherwise, when g_bPhoneBookDone is set, notification 37 with 0 and
// RequestPhoneBook(3, 0, 0).
void PhoneBookAfterCall();
bool IsPhoneBookDownloading();
bool IsPhoneBookDone();
void SetPhoneBookPendingAction(uint32_t action);

// The parser's hold on the position of the list being fetched
// (uPhoneBookPauseIndex for the phonebook, uPhoneBookIndex for the call
// lists): returns the current position and advances it by one.
uint16_t ConsumePhoneBookPosition();

// Bodies of KZ_BT_GetPhonBookSize and KZ_BT_GetPhonebookData: only the low
// 8 bits of the type and the low 16 bits of the count are used; types outside
// 1..4 are ignored.
void GetPhoneBookSize(int32_t type);
void GetPhoneBookData(int32_t type, int32_t count);

// HFP went down or the module restarted: no pull is outstanding any more, and
// a host request that waited for a size answer is dropped with it.
void ForgetOutstandingPulls();

void ResetDownloadState();

}  // namespace kz
