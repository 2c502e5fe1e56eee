// INI file contents as found on disk (any bytes, any size up to 20000), then
// reads and writes on it. Sections and keys are the library's own (plain
// names); values may hold any bytes, as names from a phone do. A write must
// never add more than the three line ends of a new section, key and value,
// and a file the engine wrote stays within its 1 MiB bound.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "settings/ini_file.h"

namespace {

constexpr const char* kPath = "\\BACKUP\\KZ_Config\\BlueTooth\\fuzz.ini";
constexpr size_t kMaxFile = 20000;
constexpr size_t kMaxName = 12;
constexpr size_t kMaxValue = 300;
constexpr size_t kMaxLineEndsAdded = 3;
constexpr uint8_t kOps = 3;

std::string Name(kzfuzz::Input& in) {
    static const char kChars[] = "abcDEVICEidnmkey0123_ ";
    std::string s;
    const size_t n = 1 + in.Byte() % kMaxName;
    for (size_t i = 0; i < n; ++i) s += kChars[in.Byte() % (sizeof kChars - 1)];
    return s;
}

std::string Value(kzfuzz::Input& in) {
    size_t n = 0;
    const uint8_t* p = in.Take(in.Byte() * 2 % kMaxValue, &n);
    std::string s(reinterpret_cast<const char*>(p), n);
    return s.substr(0, s.find('\0'));
}

size_t LineEnds(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += c == '\n' || c == '\r';
    return n;
}

std::string ReadBack() {
    FILE* f = std::fopen(kzfuzz::HostPath(kPath).c_str(), "rb");
    if (f == nullptr) return {};
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::Input in(data, size);
    size_t fileBytes = 0;
    const uint8_t* file = in.Take(in.Word() % kMaxFile, &fileBytes);
    if (in.Byte() & 1)
        kzfuzz::WriteUnitFile(kPath, file, fileBytes);
    else
        kzfuzz::RemoveUnitFile(kPath);

    char out[65536];   // a read never writes past the caller's size, whatever the file holds
    while (!in.empty()) {
        const uint8_t op = in.Byte() % kOps;
        const std::string section = Name(in), key = Name(in);
        if (op == 0) {
            const size_t cap = 1 + in.Word() % sizeof out;
            kz::IniReadString(section.c_str(), key.c_str(), out, cap, "UnKnown", kPath);
            if (std::memchr(out, 0, cap) == nullptr) std::abort();
        } else if (op == 1) {
            kz::IniReadInt(section.c_str(), key.c_str(), 255, kPath);
        } else {
            const std::string value = Value(in);
            const std::string before = ReadBack();
            if (kz::IniWriteString(section.c_str(), key.c_str(), value.c_str(), kPath)) {
                const std::string after = ReadBack();
                if (after.size() >= kz::kIniBufferSize) std::abort();
                if (LineEnds(after) > LineEnds(before) + kMaxLineEndsAdded) std::abort();
            } else if (ReadBack() != before) {
                std::abort();   // a refused write leaves the file as it was
            }
        }
    }
    return 0;
}
