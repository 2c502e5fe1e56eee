#include "phonebook/phonebook_files.h"

#include <cstdio>

#include "kz_platform.h"

namespace kz {

namespace {

constexpr const char* kPhoneBookFolders[] = {"\\BACKUP", "\\BACKUP\\KZ_Config",
                                             "\\BACKUP\\KZ_Config\\BlueTooth"};
constexpr size_t kReadChunk = 4096;

std::string FilePath(const char* format, int fileNumber) {
    char path[64];
    std::snprintf(path, sizeof path, format, fileNumber);
    return path;
}

}  // namespace

std::string PhoneBookFilePath(int fileNumber) {
    return FilePath("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook%02d.dat", fileNumber);
}

std::string PhoneBookNumFilePath(int fileNumber) {
    return FilePath("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum%02d.dat", fileNumber);
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& unitPath) {
    FILE* f = KzFopen(unitPath.c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t chunk[kReadChunk];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

bool ReplaceFile(const std::string& unitPath, const std::vector<uint8_t>& bytes) {
    // Start-up creates the folders; a phonebook written before that still finds them.
    for (const char* folder : kPhoneBookFolders) KzCreateDirectory(folder);
    static const uint8_t kNothing = 0;
    return KzWriteFileAtomic(unitPath.c_str(), bytes.empty() ? &kNothing : bytes.data(), bytes.size()) != 0;
}

}  // namespace kz
