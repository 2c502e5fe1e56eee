// Phonebook store: the four lists and the phonebook file thread.
#pragma once
#include <mutex>
#include <vector>

#include "KZ_Tarn.h"

namespace kz {

// Guarded together by g_PhoneBookListMutex.
extern std::vector<structPhoneDate> g_vecTempPhoneBook;
extern std::vector<structPhoneNum> g_vecTempPhoneBookNum;
extern std::vector<structPhoneDate> g_vecPhoneBook;
extern std::vector<structPhoneNum> g_vecPhoneBookNum;
extern std::mutex g_PhoneBookListMutex;

void StartPhoneBookSyncThread();      // after a completed phonebook download
void StartPhoneBookLoadThread();      // KZ_BT_GetContactsFromFile
void JoinPhoneBookThread();           // close: waits for a running file thread
void ResetPhoneBookStore();

}  // namespace kz
