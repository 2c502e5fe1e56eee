#include "phone_session.h"

#include <cstdio>

#include "KZ_Tarn.h"
#include "channel/command_queue.h"
#include "events/calls.h"
#include "events/connection.h"
#include "link/bcsp_link.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_files.h"
#include "settings/registry.h"

namespace kztest {

namespace {
constexpr const char* kTarnIni = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
constexpr uint32_t kPumpSliceMs = 5;
}  // namespace

std::vector<kzsim::Contact> NumberedContacts(size_t n) {
    std::vector<kzsim::Contact> out;
    for (size_t i = 0; i < n; ++i) {
        kzsim::Contact c;
        char buf[64];
        std::snprintf(buf, sizeof buf, "Contact %03zu", i);
        c.formattedName = buf;
        c.family = "Family" + std::to_string(i);
        c.given = "Given";
        std::snprintf(buf, sizeof buf, "+49 170 %07zu", i);
        c.numbers.push_back({"CELL", buf});
        if (i % 3 == 0) {
            std::snprintf(buf, sizeof buf, "030-%06zu", i);
            c.numbers.push_back({"WORK", buf});
        }
        out.push_back(c);
    }
    return out;
}

std::vector<kzsim::CallEntry> NumberedCalls(const char* kind, size_t n) {
    std::vector<kzsim::CallEntry> out;
    for (size_t i = 0; i < n; ++i) {
        char number[32], time[32];
        std::snprintf(number, sizeof number, "0800%s%02zu", kind, i);
        std::snprintf(time, sizeof time, "202401%02zuT1200%02zu", 1 + i % 28, i % 60);
        out.push_back({std::string("Caller ") + kind, number, time});
    }
    return out;
}

PhoneSession::PhoneSession(kzsim::Options options) : lib_(options) {}

PhoneSession::~PhoneSession() = default;

void PhoneSession::Pump(uint32_t ms) {
    lib_.host().Pump(ms);
    const auto notes = lib_.host().Notifications();
    for (; answered_ < notes.size(); ++answered_) {
        const Notification& n = notes[answered_];
        if (n.code == KZ_NOTIFY_PHONEBOOK_SIZE) kz::GetPhoneBookData(int32_t(n.param), int32_t(n.len));
    }
}

bool PhoneSession::PumpUntil(const std::function<bool()>& pred, uint32_t ms) {
    return PollUntil(pred, ms, [this] { Pump(kPumpSliceMs); });
}

bool PhoneSession::WaitQuiet(uint32_t ms, uint32_t stableMs) {
    const auto quiet = [] {
        return kz::CmdListSize() == 0 && kz::g_bCfmForTheLastREQ.load() &&
               !kz::ubcsp_config.awaiting_ack.load() && !kz::startDownload.load();
    };
    const uint32_t start = KzGetTickCount();
    uint32_t quietSince = 0;
    bool wasQuiet = false;
    while (KzGetTickCount() - start < ms) {
        Pump(kPumpSliceMs);
        const bool q = quiet() && lib_.sim().WaitOutgoingIdle(0);
        if (q && !wasQuiet) quietSince = KzGetTickCount();
        wasQuiet = q;
        if (q && KzGetTickCount() - quietSince >= stableMs) return true;
    }
    return false;
}

size_t PhoneSession::Count(uint32_t code) {
    size_t n = 0;
    for (uint32_t c : lib_.host().Codes()) n += c == code;
    return n;
}

bool PhoneSession::Start(uint32_t ms) {
    if (!lib_.Start(false)) return false;
    // What KZ_BT_SetInitialValue does for the user interface at start-up.
    kz::LoadPairedDevices();
    return PumpUntil(
        [] {
            return kz::ubcsp_config.link_establishment_state == kz::kGarrulous &&
                   kz::g_bModuleInited.load();
        },
        ms);
}

bool PhoneSession::ConnectPhone(uint32_t ms) {
    const uint32_t start = KzGetTickCount();
    phone().connectProfile(kzsim::Profile::Hfp);
    if (!PumpUntil([] { return kz::g_bHfpConnected.load() && kz::g_bPbapConnected.load(); }, ms))
        return false;
    return WaitQuiet(ms - (KzGetTickCount() - start));
}

bool PhoneSession::DownloadPhonebook(uint32_t ms) {
    const uint32_t start = KzGetTickCount();
    kz::GetPhoneBookSize(KZ_PB_PHONEBOOK);
    if (!PumpUntil([] { return kz::g_bPhoneBookDone.load() != 0; }, ms)) return false;
    // The file thread writes the files once the download is complete.
    return PumpUntil([this] { return lib_.root().Exists(kz::PhoneBookFilePath(0)); },
                     ms - (KzGetTickCount() - start)) &&
           WaitQuiet(ms - (KzGetTickCount() - start));
}

bool PhoneSession::TakeCall(const std::string& number, uint32_t ms) {
    const uint32_t start = KzGetTickCount();
    const auto left = [&] { return ms - std::min(ms, KzGetTickCount() - start); };
    phone().ring(number);
    if (!PumpUntil([] { return kz::g_nCallSetup.load() == 1; }, left())) return false;
    phone().answer();
    if (!PumpUntil([] { return kz::g_bCallActive.load() != 0; }, left())) return false;
    phone().hangup();
    if (!PumpUntil([] { return kz::g_bCallActive.load() == 0 && !kz::g_bInCall.load(); }, left()))
        return false;
    return WaitQuiet(left());
}

FinalState PhoneSession::Final() {
    FinalState f;
    TempRoot& root = lib_.root();
    f.phoneBook = root.Read(kz::PhoneBookFilePath(0));
    f.phoneBookNum = root.Read(kz::PhoneBookNumFilePath(0));
    f.tarnIni = root.Read(kTarnIni);
    for (const Notification& n : lib_.host().Notifications()) {
        if (n.code == KZ_NOTIFY_BATTERY) f.batteryLevels.push_back(n.len);
        f.callRecords += n.code == KZ_NOTIFY_CALL_RECORD;
    }
    f.hfp = kz::g_bHfpConnected.load();
    f.pbap = kz::g_bPbapConnected.load();
    f.inCall = kz::g_bInCall.load();
    f.phoneBookDone = kz::g_bPhoneBookDone.load();
    return f;
}

}  // namespace kztest
