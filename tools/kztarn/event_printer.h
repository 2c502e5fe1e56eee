// Decodes what the library sends to the user interface (notifications 1974
// to "Bluetooth", status posts 1141 to "NavigRecive", WM_COPYDATA records to
// "KZ_INFORBAR") into one readable line or one JSON object each.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "contacts.h"
#include "event.h"

namespace kztool {

// Stateful: remembers list sizes (for "3/42") and the contacts (for names).
class EventPrinter {
public:
    explicit EventPrinter(ContactBook& contacts) : contacts_(contacts) {}
    // The record is read during the call only (it lives on the sender's stack).
    Event Notification(const BtNotifyRecord& record);
    Event StatusPost(uintptr_t wParam, intptr_t lParam);
    Event StatusBar(uintptr_t kind, const void* data, uint32_t size);

private:
    std::string CallerName(const std::string& number) const;
    Event CallRecordEvent(const CallRecord& call);
    Event PhonebookEntryEvent(const structPhoneDate& entry);
    Event PhonebookNumberEvent(const structPhoneNum& number);
    Event DeviceEvent(const char* name, const DeviceInfoRecord& device);

    ContactBook& contacts_;
    std::mutex mutex_;
    std::map<uint32_t, uint32_t> listSizes_;   // phonebook type -> reported size
};

// Words used in lines and completions.
const char* PhonebookTypeName(uint32_t type);   // "contact", "received", "dialed", "missed"
const char* NumberTypeName(uint32_t type);      // "cell", "work", "home", "fax"

}  // namespace kztool
