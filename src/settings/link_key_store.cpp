// Link-key store: every link key the module reported, in tarn.dat as 44
// hexadecimal characters per phone (12 of the address, 32 of the key).
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/trace.h"
#include "kz_platform.h"
#include "settings/registry.h"
#include "settings/registry_internal.h"

namespace kz {

namespace {

// The list: readers (the receive thread's link-key reply) take copies under
// linkKeyMutex. linkKeyFileMutex keeps one list change and its file write
// together, so tarn.dat follows the list in order (taken before linkKeyMutex).
std::mutex linkKeyMutex;
std::mutex linkKeyFileMutex;
std::vector<LinkKeyEntry> linkKeys;
// Set when tarn.dat could not be written: the list holds keys the file lacks,
// so the next store rewrites the file even when its key is already listed.
bool fileStale = false;   // guarded by linkKeyFileMutex

enum class FileChange { None, Append, Rewrite };

std::string RecordText(const LinkKeyEntry& e) {
    char text[kLinkKeyRecordChars + 1];
    FormatHex(e.address, kAddressBytes, text);
    FormatHex(e.key, kKeyBytes, text + kAddressHexChars);
    return std::string(text, kLinkKeyRecordChars);
}

bool ParseRecord(const char* text, LinkKeyEntry* e) {
    return ParseHexDigits(text, kAddressBytes, e->address) &&
           ParseHexDigits(text + kAddressHexChars, kKeyBytes, e->key);
}

// Every whole record of the file; a trailing partial record and records that
// are not hexadecimal are skipped.
std::vector<LinkKeyEntry> ReadLinkKeyFile() {
    std::vector<LinkKeyEntry> entries;
    FILE* f = KzFopen(kTarnDatPath, "rb");
    if (!f) {
        KZ_TRACE("Open address file error \n");
        return entries;
    }
    char chunk[kLinkKeyRecordChars];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        LinkKeyEntry e{};
        if (n < sizeof chunk) {
            KZ_TRACE("tarn.dat: partial record of %zu bytes skipped", n);
            break;
        }
        if (ParseRecord(chunk, &e)) entries.push_back(e);
        else KZ_TRACE("tarn.dat: damaged record skipped");
    }
    std::fclose(f);
    return entries;
}

// Updates the list; says what the file needs.
FileChange UpdateList(const LinkKeyEntry& entry, std::vector<LinkKeyEntry>* all) {
    std::lock_guard<std::mutex> lock(linkKeyMutex);
    for (LinkKeyEntry& e : linkKeys) {
        if (std::memcmp(e.address, entry.address, kAddressBytes) != 0) continue;
        if (std::memcmp(e.key, entry.key, kKeyBytes) == 0) return FileChange::None;
        std::memcpy(e.key, entry.key, kKeyBytes);
        *all = linkKeys;
        return FileChange::Rewrite;
    }
    linkKeys.push_back(entry);
    *all = linkKeys;
    return FileChange::Append;
}

// Bytes in tarn.dat now, 0 when it is missing.
uint64_t LinkKeyFileSize() {
    KzFindData fd{};
    KzHandle find = KzFindFirstFile(kTarnDatPath, &fd);
    if (find == KZ_INVALID_HANDLE) return 0;
    KzFindClose(find);
    return fd.nFileSize;
}

bool RewriteLinkKeyFile(const std::vector<LinkKeyEntry>& all) {
    std::string text;
    for (const LinkKeyEntry& e : all) text += RecordText(e);
    if (KzWriteFileAtomic(kTarnDatPath, text.data(), text.size())) return true;
    KZ_TRACE("Open address file error \n");
    return false;
}

}  // namespace

bool FindLinkKey(const uint8_t address[6], uint8_t key[16]) {
    std::lock_guard<std::mutex> lock(linkKeyMutex);
    for (const LinkKeyEntry& e : linkKeys) {
        if (std::memcmp(e.address, address, kAddressBytes) != 0) continue;
        std::memcpy(key, e.key, kKeyBytes);
        return true;
    }
    return false;
}

std::vector<LinkKeyEntry> LinkKeySnapshot() {
    std::lock_guard<std::mutex> lock(linkKeyMutex);
    return linkKeys;
}

void ReloadLinkKeys() {
    std::lock_guard<std::mutex> fileLock(linkKeyFileMutex);
    std::vector<LinkKeyEntry> fresh = ReadLinkKeyFile();
    std::lock_guard<std::mutex> lock(linkKeyMutex);
    linkKeys.swap(fresh);
    fileStale = false;   // the list is the file's again
}

namespace {

bool WriteChange(FileChange change, const LinkKeyEntry& entry, const std::vector<LinkKeyEntry>& all) {
    if (KzGetFileAttributes(kTarnDir) != KZ_FILE_ATTRIBUTE_DIRECTORY) KzCreateDirectory(kTarnDir);
    // A torn earlier append would shift the new record: rewrite instead.
    if (change == FileChange::Rewrite || LinkKeyFileSize() % kLinkKeyRecordChars != 0)
        return RewriteLinkKeyFile(all);
    std::string record = RecordText(entry);
    if (KzAppendFile(kTarnDatPath, record.data(), record.size()) == record.size()) return true;
    KZ_TRACE("Write File error\n");
    // A torn append would shift every later record: put the whole list back.
    return RewriteLinkKeyFile(all);
}

}  // namespace

void StoreLinkKey(const LinkKeyEntry& entry) {
    std::lock_guard<std::mutex> fileLock(linkKeyFileMutex);
    std::vector<LinkKeyEntry> all;
    FileChange change = UpdateList(entry, &all);
    if (change == FileChange::None) {
        if (!fileStale) return;
        all = LinkKeySnapshot();
        change = FileChange::Rewrite;
    }
    fileStale = !WriteChange(change, entry, all);
}

void ResetLinkKeyState() {
    std::lock_guard<std::mutex> fileLock(linkKeyFileMutex);
    std::lock_guard<std::mutex> lock(linkKeyMutex);
    linkKeys.clear();
    fileStale = false;
}

}  // namespace kz
