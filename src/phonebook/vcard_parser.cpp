// Phonebook data indications: accumulate, cut into vCards, turn each into an
// entry, announce and store it, advance the download position.
#include "phonebook/vcard_parser.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/trace.h"
#include "events/notify.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "phonebook/vcard_accumulator.h"
#include "phonebook/vcard_entry.h"

namespace kz {

char g_szVCardBuffer[kVCardBufferSize];
uint32_t g_nVCardBufferLen = 0;

namespace {

constexpr size_t kCountOffset = 6;   // text byte count, big-endian
constexpr size_t kTextOffset = 8;

std::mutex bufferMutex;
VCardAccumulator g_accumulator(g_szVCardBuffer, kVCardBufferSize, &g_nVCardBufferLen);

// The text of an indication; an announced count beyond the message is cut to it.
std::string_view ChunkText(const uint8_t* msg, size_t len) {
    if (!msg || len < kTextOffset) return {};
    size_t count = (size_t(msg[kCountOffset]) << 8) | msg[kCountOffset + 1];
    if (count > len - kTextOffset) {
        KZ_TRACE("phonebook data length %zu cut to %zu", count, len - kTextOffset);
        count = len - kTextOffset;
    }
    return {reinterpret_cast<const char*>(msg + kTextOffset), count};
}

std::vector<structPhoneNum> NumberRecords(const VCardEntry& entry) {
    std::vector<structPhoneNum> records;
    if (entry.record.PNCount < 2) return records;
    for (size_t k = 0; k < entry.numbers.size(); ++k) {
        structPhoneNum n{};
        n.entryIndex = entry.record.index;
        n.ordinal = static_cast<uint32_t>(k);
        n.numberType = entry.numbers[k].type;
        n.type = KZ_PB_PHONEBOOK;
        std::memcpy(n.number, entry.numbers[k].number, sizeof n.number);
        records.push_back(n);
    }
    return records;
}

void AnnounceEntry(const structPhoneDate& rec) {
    NotifyHost(KZ_NOTIFY_PHONEBOOK_ENTRY, 0, &rec, sizeof rec);
}

void AnnounceNumber(const structPhoneNum& num) {
    NotifyHost(KZ_NOTIFY_PHONEBOOK_NUMBER, 0, &num, sizeof num);
}

// Call-list entries are announced and never stored. Phonebook entries are
// stored for the sync, and announced one by one only while the phone has no
// stored phonebook (otherwise the sync announces the new phonebook).
void DeliverEntry(const VCardEntry& entry) {
    const structPhoneDate& rec = entry.record;
    KZ_TRACE("structPhoneDate.PBName = %s, structPhoneDate.PBNumber %s", rec.PBName, rec.PBNumber);
    if (rec.type != KZ_PB_PHONEBOOK) {
        AnnounceEntry(rec);
        return;
    }
    std::vector<structPhoneNum> numbers = NumberRecords(entry);
    if (ShouldAnnounceDownloadedEntries()) {
        AnnounceEntry(rec);
        for (const structPhoneNum& n : numbers) AnnounceNumber(n);
    }
    AppendDownloadedEntry(rec, numbers);
    KZ_TRACE("structPhoneDate.PNCount = %u", rec.PNCount);
}

void HandleBlock(std::string_view block) {
    VCardEntry entry;
    uint32_t type = g_nCurrReqPhoneBookType;
    if (!ParseVCardBlock(block, type, entry)) {
        ConsumePhoneBookPosition();   // a skipped vCard still takes its place in the list
        return;
    }
    entry.record.index = ConsumePhoneBookPosition();
    entry.record.type = static_cast<uint8_t>(type);
    KZ_TRACE("CurrDowload type = %u, the index is %u -- %d", type, entry.record.index,
             type >= 1 && type <= 4 ? int(g_anPhoneBookCount[type - 1]) : 0);
    DeliverEntry(entry);
}

}  // namespace

void ParseVCardChunk(const uint8_t* msg, size_t len) {
    std::vector<std::string> blocks;
    {
        std::lock_guard<std::mutex> lock(bufferMutex);
        g_accumulator.Feed(ChunkText(msg, len), blocks);
    }
    KZ_TRACE("szPhoneBookBuff.size = %zu", blocks.size());
    for (const std::string& block : blocks) HandleBlock(block);
}

void ClearVCardBuffer() {
    std::lock_guard<std::mutex> lock(bufferMutex);
    g_accumulator.Clear();
}

}  // namespace kz
