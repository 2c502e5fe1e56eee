// vCard parser: phonebook data indications into structPhoneDate entries and
// structPhoneNum records.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kz {

extern char g_szVCardBuffer[1024];
extern uint32_t g_nVCardBufferLen;

void ParseVCardChunk(const uint8_t* msg, size_t len);       // event thread, IND 529
void DecodeVCardValue(const char* line, size_t length, char out[64]);
size_t DecodeQuotedPrintable(const char* in, char* out, size_t length);
void ClearVCardBuffer();

}  // namespace kz
