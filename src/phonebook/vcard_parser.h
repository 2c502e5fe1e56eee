// vCard parser: phonebook data indications into structPhoneDate entries and
// structPhoneNum records.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

// The accumulation buffer and its fill count. The event thread fills it and a
// failed pull empties it on the receive thread, so both are touched only
// under the parser's own lock (ParseVCardChunk, ClearVCardBuffer).
inline constexpr size_t kVCardBufferSize = 1024;
extern char g_szVCardBuffer[kVCardBufferSize];
extern uint32_t g_nVCardBufferLen;

void ParseVCardChunk(const uint8_t* msg, size_t len);       // event thread, IND 529
// out must hold length + 1 bytes; returns the bytes written before the NUL.
size_t DecodeQuotedPrintable(const char* in, char* out, size_t length);
void ClearVCardBuffer();

}  // namespace kz
