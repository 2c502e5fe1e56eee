// Pieces shared by the registry's source files: file locations, hexadecimal
// text of addresses and keys, and the link-key store's reload.
#pragma once
#include <cstddef>
#include <cstdint>

#include "KZ_Tarn.h"

namespace kz {

inline constexpr char kTarnIniPath[] = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
inline constexpr char kTarnDir[] = "\\BACKUP\\KZ_TARN";
inline constexpr char kTarnDatPath[] = "\\BACKUP\\KZ_TARN\\tarn.dat";
inline constexpr size_t kAddressBytes = 6;
inline constexpr size_t kKeyBytes = 16;
inline constexpr size_t kAddressHexChars = 2 * kAddressBytes;   // 12
inline constexpr size_t kKeyHexChars = 2 * kKeyBytes;           // 32
inline constexpr size_t kLinkKeyRecordChars = kAddressHexChars + kKeyHexChars;  // 44
inline constexpr uint8_t kNoKeyByte = 0xFF;
inline constexpr uint8_t kNoPhonebook = 255;

// Two lower-case digits per byte ("%0.2x"), zero-terminated: out holds 2n + 1.
void FormatHex(const uint8_t* bytes, size_t n, char* out);
// Parses exactly 2n hexadecimal digits (either case) from the first 2n
// characters of text. False, and out untouched, when any is not a digit.
bool ParseHexDigits(const char* text, size_t n, uint8_t* out);
// Removes white space around a zero-terminated text, in place: a hand-edited
// tarn.ini may hold "address=001122334455 ".
void TrimWhiteSpace(char* text);
// Like ParseHexDigits, but the text must be exactly 2n characters long.
bool ParseHexText(const char* text, size_t n, uint8_t* out);

// A record as a fresh slot holds it: no address, no name, no key, empty.
PairedDeviceRecord EmptyRecord();

// Replaces the link-key list with what tarn.dat holds now.
void ReloadLinkKeys();
void ResetLinkKeyState();

}  // namespace kz
