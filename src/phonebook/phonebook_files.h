// The two record files of a phone's phonebook: bare records, no header.
#pragma once
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace kz {

// "\BACKUP\KZ_Config\BlueTooth\PhoneBookNN.dat" and "...\PhoneBookNumNN.dat".
std::string PhoneBookFilePath(int fileNumber);
std::string PhoneBookNumFilePath(int fileNumber);

// The whole file; nullopt when it cannot be opened.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& unitPath);
// Replaces the file (temporary file, then rename); false on failure, the old
// content then stays.
bool ReplaceFile(const std::string& unitPath, const std::vector<uint8_t>& bytes);

// Whole records only: trailing bytes of a short last record are ignored.
template <class Record>
std::optional<std::vector<Record>> ReadRecordFile(const std::string& unitPath) {
    auto bytes = ReadWholeFile(unitPath);
    if (!bytes) return std::nullopt;
    std::vector<Record> records(bytes->size() / sizeof(Record));
    if (!records.empty()) std::memcpy(records.data(), bytes->data(), records.size() * sizeof(Record));
    return records;
}

template <class Record>
bool WriteRecordFile(const std::string& unitPath, const std::vector<Record>& records) {
    std::vector<uint8_t> bytes(records.size() * sizeof(Record));
    if (!bytes.empty()) std::memcpy(bytes.data(), records.data(), bytes.size());
    return ReplaceFile(unitPath, bytes);
}

}  // namespace kz
