// The vCard parser on a phone's phonebook text: contacts and bytes per second
// through ParseVCardChunk, fed as the module cuts the text into phonebook data
// indications.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_util.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "phonebook/vcard_parser.h"
#include "settings/registry.h"

namespace {

using namespace kz;

constexpr size_t kContacts = 300;   // one pass; the parser keeps no state across batches

struct Input {
    std::vector<std::vector<uint8_t>> indications;
    size_t textBytes = 0;
};

Input MakeInput(bool version30, size_t chunk) {
    kzsim::VCardStyle style;
    style.version30 = version30;
    style.quotedPrintable = !version30;   // 2.1: UTF-8 names in quoted-printable
    style.foldLongLines = true;
    const std::string text = kzbench::VCardText(kzbench::RealisticContacts(kContacts), style);
    return {kzbench::VCardIndications(text, chunk), text.size()};
}

// Phonebook type 1, no phone connected (so nothing is announced: the parse
// and the temporary lists alone are measured).
void PrepareState() {
    ResetDownloadState();
    ResetPhoneBookStore();
    ClearVCardBuffer();
    g_nCurrReqPhoneBookType = KZ_PB_PHONEBOOK;
    g_CurrConnectIndex = kEmptySlot;
}

void BM_ParseVCardChunk(benchmark::State& state) {
    const Input in = MakeInput(state.range(0) != 0, static_cast<size_t>(state.range(1)));
    PrepareState();
    for (auto _ : state) {
        for (const auto& m : in.indications) ParseVCardChunk(m.data(), m.size());
        state.PauseTiming();
        if (g_vecTempPhoneBook.size() != kContacts) state.SkipWithError("contacts lost");
        PrepareState();
        state.ResumeTiming();
    }
    state.counters["contacts_per_s"] =
        benchmark::Counter(static_cast<double>(kContacts), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.textBytes));
    state.SetLabel(state.range(0) ? "vCard 3.0" : "vCard 2.1 QP");
}
BENCHMARK(BM_ParseVCardChunk)->ArgNames({"v30", "chunk"})->Args({0, 200})->Args({1, 200})->Args({0, 500});

void BM_DecodeQuotedPrintable(benchmark::State& state) {
    const std::string qp = kzsim::QuotedPrintable("Jørgen Müller-Lefèvre 张三 García", true);
    char out[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeQuotedPrintable(qp.c_str(), out, qp.size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(qp.size()));
}
BENCHMARK(BM_DecodeQuotedPrintable);

}  // namespace

BENCHMARK_MAIN();
