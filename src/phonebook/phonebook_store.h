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
// Body of KZ_BT_GetContactsFromFile: empties the stored lists and, when the
// current phone has a stored phonebook, loads it on the file thread.
void LoadContactsFromFile();
void StartPhoneBookLoadThread();      // the file thread in load mode
void JoinPhoneBookThread();           // close: waits for a running file thread
void ResetPhoneBookStore();

}  // namespace kz
