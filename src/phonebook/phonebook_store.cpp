// The four phonebook lists and the work of the phonebook file thread: load a
// phone's stored phonebook, or compare a downloaded one with it and rewrite
// the files when they differ.
#include "phonebook/phonebook_store.h"

#include <cstring>
#include <optional>

#include "core/trace.h"
#include "events/notify.h"
#include "phonebook/phonebook_files.h"
#include "settings/registry.h"

namespace kz {

std::vector<structPhoneDate> g_vecTempPhoneBook;
std::vector<structPhoneNum> g_vecTempPhoneBookNum;
std::vector<structPhoneDate> g_vecPhoneBook;
std::vector<structPhoneNum> g_vecPhoneBookNum;
std::mutex g_PhoneBookListMutex;
std::atomic<uint8_t> g_bPhoneBookSyncMode{1};

namespace {

constexpr uint8_t kPhoneBookStored = 1;
constexpr uint8_t kNoPhoneBook = 255;
constexpr uint32_t kChangedEntries = 1;
constexpr uint32_t kChangedNumbers = 2;

using Lock = std::lock_guard<std::mutex>;

std::optional<PairedDeviceRecord> CurrentDevice() {
    int32_t index = g_CurrConnectIndex;
    PairedDeviceRecord rec;
    if (index == kEmptySlot || !GetSlot(index, &rec)) return std::nullopt;
    return rec;
}

// The number in the file names of the current phone; none without a phone.
std::optional<int> CurrentFileNumber() {
    auto device = CurrentDevice();
    if (!device || device->id >= kSlotCount) return std::nullopt;
    return device->id;
}

void Announce(const std::vector<structPhoneDate>& entries) {
    for (const structPhoneDate& e : entries) NotifyHost(KZ_NOTIFY_PHONEBOOK_ENTRY, 0, &e, sizeof e);
}

void Announce(const std::vector<structPhoneNum>& numbers) {
    for (const structPhoneNum& n : numbers) NotifyHost(KZ_NOTIFY_PHONEBOOK_NUMBER, 0, &n, sizeof n);
}

struct Comparison {
    bool changed = false;
    bool recordDiffers = false;   // same length, some record differs
};

// An empty stored list counts as changed, so that a first download is written.
template <class Record>
Comparison Compare(const std::vector<Record>& downloaded, const std::vector<Record>& stored) {
    if (stored.empty() || downloaded.size() != stored.size()) return {true, false};
    for (size_t i = 0; i < stored.size(); ++i)
        if (std::memcmp(&downloaded[i], &stored[i], sizeof(Record)) != 0) return {true, true};
    return {};
}

// The phone's files cannot be read: it counts as having no stored phonebook
// until its next download is written.
uint32_t LoadFailed() {
    SetSlotPhonebookFlag(g_CurrConnectIndex, kNoPhoneBook);
    return kFileThreadFailed;
}

// Compares and, when changed, replaces the stored list with the downloaded
// one; returns the new stored list then.
template <class Record>
std::optional<std::vector<Record>> TakeIfChanged(const std::vector<Record>& downloaded,
                                                 std::vector<Record>& stored, uint32_t what,
                                                 uint32_t count) {
    Comparison cmp;
    std::vector<Record> copy;
    {
        Lock lock(g_PhoneBookListMutex);
        cmp = Compare(downloaded, stored);
        if (cmp.changed) stored = copy = downloaded;
    }
    if (cmp.recordDiffers) NotifyHost(KZ_NOTIFY_PHONEBOOK_CHANGED, what, nullptr, count);
    if (!cmp.changed) return std::nullopt;
    return copy;
}

// A failed write leaves the stored list empty, so that the next download
// counts as changed and is written again.
template <class Record>
bool WriteStored(const std::string& path, const std::vector<Record>& records, std::vector<Record>& stored) {
    if (WriteRecordFile(path, records)) {
        MarkPhonebookStored();
        return true;
    }
    KZ_TRACE("writing %s failed", path.c_str());
    Lock lock(g_PhoneBookListMutex);
    stored.clear();
    return false;
}

bool SyncEntries(int fileNumber) {
    std::vector<structPhoneDate> downloaded;
    {
        Lock lock(g_PhoneBookListMutex);
        downloaded = g_vecTempPhoneBook;
        KZ_TRACE("g_vecTempPhoneBook size = %zu", g_vecTempPhoneBook.size());
        KZ_TRACE("g_vecPhoneBook size = %zu", g_vecPhoneBook.size());
    }
    auto changed = TakeIfChanged(downloaded, g_vecPhoneBook, kChangedEntries,
                                 static_cast<uint32_t>(downloaded.size()));
    if (!changed) return true;
    KZ_TRACE("Need Write PhoneBook to File size = %zu", changed->size());
    if (!WriteStored(PhoneBookFilePath(fileNumber), *changed, g_vecPhoneBook)) return false;
    Announce(downloaded);
    return true;
}

bool SyncNumbers(int fileNumber) {
    std::vector<structPhoneNum> downloaded;
    {
        Lock lock(g_PhoneBookListMutex);
        downloaded = g_vecTempPhoneBookNum;
    }
    auto changed = TakeIfChanged(downloaded, g_vecPhoneBookNum, kChangedNumbers, 0);
    if (!changed) return true;
    KZ_TRACE("Need Write PhoneBookNum to File Size = %zu", changed->size());
    bool written = WriteStored(PhoneBookNumFilePath(fileNumber), *changed, g_vecPhoneBookNum);
    if (written) Announce(*changed);
    Lock lock(g_PhoneBookListMutex);
    g_vecTempPhoneBookNum.clear();
    return written;
}

}  // namespace

namespace {

// A stored file may be damaged or written by something else: every text field
// of a loaded record ends inside its field before the host reads it.
template <size_t N>
void Terminate(char (&field)[N]) {
    field[N - 1] = '\0';
}

void TerminateTexts(std::vector<structPhoneDate>& entries) {
    for (structPhoneDate& e : entries) {
        Terminate(e.PBNumber);
        Terminate(e.PBName);
        Terminate(e.date);
        Terminate(e.time);
    }
}

void TerminateTexts(std::vector<structPhoneNum>& numbers) {
    for (structPhoneNum& n : numbers) Terminate(n.number);
}

}  // namespace

uint32_t LoadPhoneBookFiles() {
    {
        Lock lock(g_PhoneBookListMutex);
        g_vecPhoneBook.clear();
        g_vecPhoneBookNum.clear();
    }
    auto fileNumber = CurrentFileNumber();
    if (!fileNumber) return kFileThreadFailed;
    auto entries = ReadRecordFile<structPhoneDate>(PhoneBookFilePath(*fileNumber));
    if (!entries) return LoadFailed();
    TerminateTexts(*entries);
    {
        Lock lock(g_PhoneBookListMutex);
        g_vecPhoneBook = *entries;
    }
    KZ_TRACE("Need Download PhoneBook From File size = %zu", entries->size());
    Announce(*entries);
    auto numbers = ReadRecordFile<structPhoneNum>(PhoneBookNumFilePath(*fileNumber));
    if (!numbers) return LoadFailed();
    TerminateTexts(*numbers);
    {
        Lock lock(g_PhoneBookListMutex);
        g_vecPhoneBookNum = *numbers;
    }
    KZ_TRACE("Need Download PhoneBook Num From File size = %zu", numbers->size());
    Announce(*numbers);
    return kFileThreadDone;
}

uint32_t SyncPhoneBookFiles() {
    auto fileNumber = CurrentFileNumber();
    if (!fileNumber) return kFileThreadFailed;
    KZ_TRACE("Start sync phonebook");
    if (!SyncEntries(*fileNumber)) return kFileThreadFailed;
    if (!SyncNumbers(*fileNumber)) return kFileThreadFailed;
    return kFileThreadDone;
}

void LoadContactsFromFile() {
    {
        Lock lock(g_PhoneBookListMutex);
        g_vecPhoneBookNum.clear();
        g_vecPhoneBook.clear();
    }
    auto device = CurrentDevice();
    if (!device) return;
    KZ_TRACE("is suncPB = %d", device->pb);
    if (device->pb != kPhoneBookStored) return;
    StartPhoneBookLoadThread();
}

void AppendDownloadedEntry(const structPhoneDate& entry, const std::vector<structPhoneNum>& numbers) {
    Lock lock(g_PhoneBookListMutex);
    g_vecTempPhoneBook.push_back(entry);
    g_vecTempPhoneBookNum.insert(g_vecTempPhoneBookNum.end(), numbers.begin(), numbers.end());
}

void ClearDownloadedPhoneBook() {
    Lock lock(g_PhoneBookListMutex);
    g_vecTempPhoneBook.clear();
    g_vecTempPhoneBookNum.clear();
}

bool ShouldAnnounceDownloadedEntries() {
    auto device = CurrentDevice();
    return device && device->pb == kNoPhoneBook;
}

void ResetPhoneBookStore() {
    JoinPhoneBookThread();
    Lock lock(g_PhoneBookListMutex);
    g_vecTempPhoneBook.clear();
    g_vecTempPhoneBookNum.clear();
    g_vecPhoneBook.clear();
    g_vecPhoneBookNum.clear();
    g_bPhoneBookSyncMode = 1;
}

}  // namespace kz
