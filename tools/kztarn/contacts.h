// The contacts of the connected phone as the console has seen them
// (phonebook entries and further numbers, downloaded or loaded), to show a
// caller's name. Numbers match without separators, and a national number
// matches its +49 / 0049 form.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kztool {

// Digits only (a leading "+" kept as "00"), with "0049" turned into "0".
std::string NormaliseNumber(const std::string& number);

class ContactBook {
public:
    // Phonebook entry (type 1 only: call lists are not contacts).
    void AddEntry(uint8_t type, uint32_t index, const std::string& name, const std::string& number);
    // Further number of the contact whose entry index is given.
    void AddNumber(uint32_t entryIndex, uint8_t type, const std::string& number);
    // The name stored for this number, or "".
    std::string NameFor(const std::string& number) const;
    // Another phone connected: its contacts replace the old ones.
    void SetPhone(const std::string& address);
    void Clear();
    size_t Size() const;
    // Every known number with its contact's name, by name.
    std::vector<std::pair<std::string, std::string>> NamesAndNumbers() const;

private:
    mutable std::mutex mutex_;
    std::string phone_;
    std::map<uint32_t, std::string> namesByIndex_;
    std::map<std::string, std::string> namesByNumber_;
};

}  // namespace kztool
