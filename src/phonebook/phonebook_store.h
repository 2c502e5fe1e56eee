// Phonebook store: the four lists and the phonebook file thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "KZ_Tarn.h"

namespace kz {

// Guarded together by g_PhoneBookListMutex. Nothing that notifies the host is
// called while it is held.
extern std::vector<structPhoneDate> g_vecTempPhoneBook;
extern std::vector<structPhoneNum> g_vecTempPhoneBookNum;
extern std::vector<structPhoneDate> g_vecPhoneBook;
extern std::vector<structPhoneNum> g_vecPhoneBookNum;
extern std::mutex g_PhoneBookListMutex;

// Mode of the file thread's latest request: 1 sync, 0 load.
extern std::atomic<uint8_t> g_bPhoneBookSyncMode;

inline constexpr uint32_t kFileThreadDone = 1;
inline constexpr uint32_t kFileThreadFailed = 0xFFFFFFFFu;

// Body of KZ_BT_GetContactsFromFile: empties the stored lists and, when the
// current phone has a stored phonebook, loads it on the file thread.
void LoadContactsFromFile();
void StartPhoneBookSyncThread();      // after a completed phonebook download
void StartPhoneBookLoadThread();      // the file thread in load mode
// Waits until the file thread has finished (close). A request that was
// waiting for the running thread is dropped.
void JoinPhoneBookThread();

// The file thread's two kinds of work, run on the calling thread; they
// return kFileThreadDone or kFileThreadFailed.
uint32_t LoadPhoneBookFiles();
uint32_t SyncPhoneBookFiles();

// Used by the parser during a phonebook download.
void AppendDownloadedEntry(const structPhoneDate& entry, const std::vector<structPhoneNum>& numbers);
// A phonebook download starts: empties both temporary lists.
void ClearDownloadedPhoneBook();
// True when the current phone has no stored phonebook yet, so entries are
// announced one by one while they download.
bool ShouldAnnounceDownloadedEntries();

void ResetPhoneBookStore();

}  // namespace kz
