// Stored phonebook files as found on disk (any length, any bytes) read by the
// phonebook file thread's loader for the current phone, whose records are
// then announced to the host (checked there: every text field terminated).
#include <cstdlib>

#include "fuzz_support.h"
#include "phonebook/phonebook_files.h"
#include "phonebook/phonebook_store.h"
#include "settings/registry.h"

namespace {
constexpr const char* kTarnIni = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
constexpr char kOnePhone[] =
    "[Device0]\nid=0\nname=Phone\naddress=112233445566\nkey=ffffffffffffffffffffffffffffffff\n"
    "pb=1\n[General]\nCurrIndex=0\n";
constexpr size_t kMaxFile = 64 * 1024;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::ResetAll();
    kzfuzz::WriteUnitFile(kTarnIni, reinterpret_cast<const uint8_t*>(kOnePhone), sizeof kOnePhone - 1);
    kz::LoadPairedDevices();
    kzfuzz::Input in(data, size);
    size_t n = 0;
    const uint8_t* entries = in.Take(in.Word() * 4 % kMaxFile, &n);
    const uint8_t flags = in.Byte();
    if (flags & 1)
        kzfuzz::WriteUnitFile(kz::PhoneBookFilePath(0), entries, n);
    else
        kzfuzz::RemoveUnitFile(kz::PhoneBookFilePath(0));
    const uint8_t* numbers = in.Take(in.left(), &n);
    if (flags & 2)
        kzfuzz::WriteUnitFile(kz::PhoneBookNumFilePath(0), numbers, n);
    else
        kzfuzz::RemoveUnitFile(kz::PhoneBookNumFilePath(0));
    kz::LoadPhoneBookFiles();
    kzfuzz::PumpHost();
    return 0;
}
