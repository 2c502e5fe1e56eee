// A phonebook download as a phone may send it: a sequence of phonebook data
// indications through the vCard parser. The first byte chooses the list (1
// phonebook, 2-4 call lists); then each indication is a 16-bit length and
// the whole message, so the text count in bytes 6-7 may lie.
#include <cstdlib>

#include "KZ_Tarn.h"
#include "fuzz_support.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "phonebook/vcard_parser.h"

namespace {
constexpr size_t kMaxMessage = 1100;
constexpr uint32_t kListTypes = 4;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kzfuzz::InitOnce();
    kzfuzz::ResetAll();
    kzfuzz::Input in(data, size);
    kz::g_nCurrReqPhoneBookType = 1 + in.Byte() % kListTypes;
    size_t cards = 0;
    while (!in.empty()) {
        size_t n = 0;
        const uint8_t* msg = in.Take(in.Word() % kMaxMessage, &n);
        // Each entry needs its END:VCARD, which needs 9 bytes of text.
        cards += n / 9 + 1;
        kz::ParseVCardChunk(msg, n);
        if (kz::g_nVCardBufferLen >= kz::kVCardBufferSize) std::abort();
    }
    {
        std::lock_guard<std::mutex> lock(kz::g_PhoneBookListMutex);
        if (kz::g_vecTempPhoneBook.size() > cards) std::abort();
    }
    kzfuzz::PumpHost();
    return 0;
}
