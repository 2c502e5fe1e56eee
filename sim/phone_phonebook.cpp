// The phone model: phonebook access (size, vCard data in chunks, transfer
// complete).
#include <algorithm>

#include "channel/module_ids.h"
#include "phone_state.h"
#include "vcard_writer.h"

namespace kzsim {

namespace msgid = kz::msgid;
namespace {

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusRefused = 0x0C;
constexpr uint8_t kStatusBadType = 0x12;

constexpr size_t kPullTypeAt = 6;
constexpr size_t kPullCountAt = 16;
constexpr size_t kPullStartAt = 18;
constexpr size_t kContinueAt = 6;
constexpr uint8_t kReject = 0;
// A chunk and its 8 header bytes fit into the host's 512-byte receive buffer.
constexpr size_t kMaxChunk = 504;

bool ValidType(uint16_t t) {
    return t >= static_cast<uint16_t>(ListType::Phonebook) &&
           t <= static_cast<uint16_t>(ListType::Missed);
}

}  // namespace

size_t Phone::State::ListSize(ListType type) const {
    if (auto raw = rawVCards.find(type); raw != rawVCards.end()) return raw->second.size();
    if (type == ListType::Phonebook) return contacts.size();
    auto it = callLists.find(type);
    return it == callLists.end() ? 0 : it->second.size();
}

std::vector<std::string> Phone::State::Entries(ListType type, size_t start, size_t count) const {
    std::vector<std::string> out;
    const size_t end = std::min(ListSize(type), start + count);
    for (size_t i = start; i < end; ++i) {
        if (auto raw = rawVCards.find(type); raw != rawVCards.end()) {
            out.push_back(raw->second[i]);
        } else if (type == ListType::Phonebook) {
            out.push_back(ContactVCard(contacts[i], style));
        } else {
            out.push_back(CallVCard(callLists.at(type)[i], type, style));
        }
    }
    return out;
}

void Phone::State::Pull(const Bytes& m, Outbox& out) {
    const uint16_t rawType = GetBe16(m, kPullTypeAt);
    const size_t count = GetBe16(m, kPullCountAt);
    const size_t start = GetBe16(m, kPullStartAt);
    if (!IsConnected(Profile::Pbap)) {
        out.Confirm(msgid::kPbapPull, kStatusRefused, Bytes{0, 0});
        return;
    }
    if (!ValidType(rawType)) {
        out.Confirm(msgid::kPbapPull, kStatusBadType, Bytes{0, 0});
        return;
    }
    const ListType type = static_cast<ListType>(rawType);
    Bytes size;
    PutBe16(size, ListSize(type));
    out.Confirm(msgid::kPbapPull, kStatusOk, size);

    if (count == 0) {
        // A phone whose list changes after it reported the size.
        if (auto it = shrinkAfter.find(type); it != shrinkAfter.end()) {
            const size_t n = it->second;
            shrinkAfter.erase(it);
            auto drop = [n](auto& v) { v.resize(v.size() > n ? v.size() - n : 0); };
            if (auto raw = rawVCards.find(type); raw != rawVCards.end()) drop(raw->second);
            else if (type == ListType::Phonebook) drop(contacts);
            else drop(callLists[type]);
        }
        out.Indication(msgid::kPbapComplete, Bytes{kStatusOk});
        return;
    }
    std::string text;
    for (const std::string& v : Entries(type, start, count)) text += v;
    const auto chunks = CutText(text, std::min(style.chunkSize, kMaxChunk));
    pbap.chunks.assign(chunks.begin(), chunks.end());
    SendNextChunk(out);
}

// One chunk per IND 529; the next goes when the host accepts this one, and the
// transfer-complete indication after the last.
void Phone::State::SendNextChunk(Outbox& out) {
    if (pbap.chunks.empty()) {
        pbap.waitingForContinue = false;
        out.Indication(msgid::kPbapComplete, Bytes{kStatusOk});
        return;
    }
    const std::string chunk = std::move(pbap.chunks.front());
    pbap.chunks.pop_front();
    Bytes params;
    PutBe16(params, chunk.size());
    Append(params, chunk);
    pbap.waitingForContinue = true;
    out.Indication(msgid::kPbapData, params);
}

void Phone::State::Continue(const Bytes& m, Outbox& out) {
    if (!pbap.waitingForContinue) return;
    pbap.waitingForContinue = false;
    if (ByteAt(m, kContinueAt) == kReject) {
        pbap.chunks.clear();   // the host refused: the transfer ends here
    }
    SendNextChunk(out);
}

// ---------------------------------------------------------------- Phone API

void Phone::setContacts(const std::vector<Contact>& contacts) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->contacts = contacts;
    state_->rawVCards.erase(ListType::Phonebook);
}
std::vector<Contact> Phone::contacts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->contacts;
}
void Phone::setCallList(ListType type, const std::vector<CallEntry>& calls) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->callLists[type] = calls;
    state_->rawVCards.erase(type);
}
void Phone::setVCardStyle(const VCardStyle& style) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->style = style;
}
void Phone::shrinkAfterSize(ListType type, size_t entries) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->shrinkAfter[type] = entries;
}
void Phone::setRawVCards(ListType type, const std::vector<std::string>& vcards) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_->rawVCards[type] = vcards;
}
std::string Phone::vCardText(ListType type, size_t start, size_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const std::string& v : state_->Entries(type, start, count)) text += v;
    return text;
}

}  // namespace kzsim
