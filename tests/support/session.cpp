#include "support/session.h"

#include <algorithm>
#include <cstdio>

#include "channel/command_queue.h"
#include "channel/module_ids.h"
#include "events/calls.h"
#include "events/connection.h"
#include "link/bcsp_link.h"
#include "phonebook/download.h"

namespace kztest {

namespace {

template <class T, class Keep>
std::vector<T> Filter(std::vector<T> all, Keep keep) {
    std::erase_if(all, [&](const T& t) { return !keep(t); });
    return all;
}

bool LibraryQuiet() {
    return kz::CmdListSize() == 0 && kz::g_bCfmForTheLastREQ.load() && !kz::ubcsp_config.awaiting_ack.load();
}

}  // namespace

std::vector<kzsim::Contact> Contacts(size_t n) {
    std::vector<kzsim::Contact> out;
    for (size_t i = 0; i < n; ++i) {
        const std::string k = std::to_string(1000000 + i).substr(1);
        out.push_back({"Contact " + k, "Family" + k, "Given", {{"CELL", "+49 170 " + k}}});
        if (i % 3 == 0) out.back().numbers.push_back({"WORK", "030-" + k});
    }
    return out;
}

Wait Note(uint32_t code, uint32_t param, size_t count) {
    return [=](Session& s) { return s.Count(code, param) >= count; };
}
Wait Post(uintptr_t w, intptr_t l, size_t count) {
    return [=](Session& s) { return s.CountPosts(w, l) >= count; };
}
Wait Request(uint16_t id, size_t count) {
    return [=](Session& s) { return s.Requests(id).size() >= count; };
}
Wait Quiet() {
    // Twice, with the host loop pumped between: a request released by the
    // last confirmation is seen too.
    return [](Session& s) {
        if (!s.sim().WaitOutgoingIdle(0) || !LibraryQuiet()) return false;
        const size_t before = s.sim().Received().size();
        s.host().Pump(30);
        return s.sim().WaitOutgoingIdle(0) && LibraryQuiet() && s.sim().Received().size() == before;
    };
}

bool Session::Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.act) step.act();
        for (size_t i = 0; i < step.waits.size(); ++i)
            if (!Until([&] { return step.waits[i](*this); }, step.ms)) {
                std::fprintf(stderr, "step \"%s\", wait %zu: not reached\n", step.what.c_str(), i);
                return false;
            }
    }
    return true;
}

bool Session::Until(const std::function<bool()>& pred, uint32_t ms) {
    const auto answerSizes = [&] {
        const auto notes = host().Notifications();
        for (; answered_ < notes.size(); ++answered_)
            if (notes[answered_].code == KZ_NOTIFY_PHONEBOOK_SIZE)
                KZ_BT_GetPhonebookData(int(notes[answered_].param), int(notes[answered_].len));
        return pred();
    };
    if (host().WaitFor(answerSizes, ms)) return true;
    std::fprintf(stderr, "wait of %u ms timed out:%s\n", ms, Dump().c_str());
    return false;
}

bool Session::Restart() {
    Close();
    Forget();
    Reopen();
    sim().PeerReset();
    return Until([&] { return !Notes(KZ_NOTIFY_MODULE_VERSION).empty() && Count(KZ_NOTIFY_DEVICE_READY, 1) > 0; });
}

std::vector<Notification> Session::Notes(uint32_t code) {
    return Filter(host().Notifications(), [&](const Notification& n) { return n.code == code; });
}

size_t Session::Count(uint32_t code, uint32_t param) {
    return Filter(Notes(code), [&](const Notification& n) { return n.param == param; }).size();
}

std::vector<std::pair<uint32_t, uint32_t>> Session::NotesAmong(const std::vector<uint32_t>& codes) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (auto& n : host().Notifications())
        if (std::find(codes.begin(), codes.end(), n.code) != codes.end()) out.emplace_back(n.code, n.param);
    return out;
}

size_t Session::CountPosts(uintptr_t w, intptr_t l) {
    return Filter(host().NavigPosts(), [&](const NavigPost& p) { return p.wParam == w && p.lParam == l; }).size();
}

std::vector<kzsim::ReceivedMessage> Session::Requests(uint16_t id) {
    return Filter(sim().Received(), [&](const kzsim::ReceivedMessage& m) { return m.id == id; });
}

std::vector<uint8_t> Session::ByteAt(uint16_t id, size_t at) {
    std::vector<uint8_t> out;
    for (const auto& m : Requests(id)) out.push_back(m.bytes.at(at));
    return out;
}

std::vector<Pull> Session::Pulls() {
    std::vector<Pull> out;   // type, count and start big-endian at 6, 16 and 18
    for (auto& m : Requests(kz::msgid::kPbapPull)) {
        const auto be16 = [&](size_t at) { return uint16_t(m.bytes.at(at) << 8 | m.bytes.at(at + 1)); };
        out.push_back({be16(6), be16(16), be16(18)});
    }
    return out;
}

std::string Session::Dump() {
    std::string out = "\nnotifications:";
    for (const auto& n : host().Notifications()) out += " " + std::to_string(n.code) + "/" + std::to_string(n.param);
    out += "\nmodule received:";
    for (const auto& m : sim().Received()) out += " " + std::to_string(m.id);
    return out;
}

void Session::StorePhone() {
    const std::string key(32, '0');
    root().Write(kTarnIni, "[Device0]\r\nid=0\r\nname=" + std::string(kSimPhoneName) + "\r\naddress=" + Hex(kSimPhone) +
                               "\r\nkey=" + key + "\r\npb=255\r\n[General]\r\nCurrIndex=0\r\n");
    root().Write(kTarnDat, Hex(kSimPhone) + key);
}

bool Session::ConnectStoredPhone() {
    KZ_BT_SetInitialValue();
    return Run({{"stored phone connects", {}, {Note(KZ_NOTIFY_CONNECT_COMPLETE, 0), Note(KZ_NOTIFY_PHONEBOOK_STATE, 2), Quiet()}}});
}

bool Session::StartWithConnectedPhone() {
    StorePhone();
    const bool connected = Start() && ConnectStoredPhone();
    Forget();
    return connected;
}

bool Session::PhoneConnects(uint32_t ms) {
    phone().connectProfile(kzsim::Profile::Hfp);
    return Until([] { return kz::g_bHfpConnected.load() && kz::g_bPbapConnected.load(); }, ms) && WaitQuiet(ms);
}

bool Session::DownloadPhonebook(uint32_t ms) {
    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
    // The file thread writes the files once the download is complete.
    return Until([&] { return kz::g_bPhoneBookDone.load() && root().Exists(kBookFile); }, ms) && WaitQuiet(ms);
}

bool Session::TakeCall(const std::string& number, uint32_t ms) {
    phone().ring(number);
    if (!Until([] { return kz::g_nCallSetup.load() == 1; }, ms)) return false;
    phone().answer();
    if (!Until([] { return kz::g_bCallActive.load() != 0; }, ms)) return false;
    phone().hangup();
    return Until([] { return !kz::g_bCallActive.load() && !kz::g_bInCall.load(); }, ms) && WaitQuiet(ms);
}

bool Session::ModuleRestarts(uint32_t ms) {
    kz::g_bModuleInited = 0;
    sim().PeerReset();
    phone().Reset();
    return Until([] { return kz::ubcsp_config.link_establishment_state == kz::kGarrulous && kz::g_bModuleInited.load(); }, ms);
}

}  // namespace kztest
