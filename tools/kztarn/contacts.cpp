#include "contacts.h"

#include <algorithm>

#include <cctype>

#include "KZ_Tarn.h"

namespace kztool {

namespace {
constexpr char kCountryInternational[] = "0049";   // Germany, the unit's home market
constexpr char kInternationalPrefix[] = "00";
}  // namespace

std::string NormaliseNumber(const std::string& number) {
    std::string digits;
    for (char c : number) {
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
        else if (c == '+' && digits.empty()) digits += kInternationalPrefix;
    }
    const std::string country = kCountryInternational;
    if (digits.compare(0, country.size(), country) == 0) digits = "0" + digits.substr(country.size());
    return digits;
}

void ContactBook::AddEntry(uint8_t type, uint32_t index, const std::string& name,
                           const std::string& number) {
    if (type != KZ_PB_PHONEBOOK || name.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    namesByIndex_[index] = name;
    const std::string key = NormaliseNumber(number);
    if (!key.empty()) namesByNumber_[key] = name;
}

void ContactBook::AddNumber(uint32_t entryIndex, uint8_t type, const std::string& number) {
    if (type != KZ_PB_PHONEBOOK) return;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = namesByIndex_.find(entryIndex);
    const std::string key = NormaliseNumber(number);
    if (it != namesByIndex_.end() && !key.empty()) namesByNumber_[key] = it->second;
}

std::string ContactBook::NameFor(const std::string& number) const {
    const std::string key = NormaliseNumber(number);
    if (key.empty()) return "";
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = namesByNumber_.find(key);
    return it == namesByNumber_.end() ? "" : it->second;
}

void ContactBook::SetPhone(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (address == phone_) return;
    phone_ = address;
    namesByIndex_.clear();
    namesByNumber_.clear();
}

void ContactBook::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    phone_.clear();
    namesByIndex_.clear();
    namesByNumber_.clear();
}

size_t ContactBook::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return namesByNumber_.size();
}

std::vector<std::pair<std::string, std::string>> ContactBook::NamesAndNumbers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& [number, name] : namesByNumber_) out.emplace_back(name, number);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace kztool
