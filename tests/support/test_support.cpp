#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "channel/command_queue.h"
#include "frame/library_state.h"

namespace kztest {

namespace {

std::mutex g_recMutex;
std::vector<SubmittedMessage> g_submitted;

std::mutex g_hostMutex;
std::vector<Notification> g_notes;
std::vector<NavigPost> g_posts;
std::vector<InforbarRecord> g_bar;

// A copy taken under the lock the recording threads hold.
template <class T>
std::vector<T> Copy(std::mutex& m, const std::vector<T>& v) {
    std::lock_guard<std::mutex> lock(m);
    return v;
}

}  // namespace

size_t NotificationBlockSize(uint32_t code, uint32_t nParam, uint32_t nLen) {
    switch (code) {
        case KZ_NOTIFY_CALL_RECORD: return sizeof(CallRecord);
        case KZ_NOTIFY_PHONEBOOK_ENTRY: return sizeof(structPhoneDate);
        case KZ_NOTIFY_PHONEBOOK_NUMBER: return sizeof(structPhoneNum);
        case KZ_NOTIFY_TRACK_INFO: return sizeof(TrackInfoBlock);
        case KZ_NOTIFY_DEVICE_INFO: return sizeof(DeviceInfoRecord);
        case KZ_NOTIFY_INQUIRY: return nParam == 1 ? sizeof(DeviceInfoRecord) : 0;
        case KZ_NOTIFY_PAIRING: case KZ_NOTIFY_DEVICE_DELETED: return 2;
        case KZ_NOTIFY_PIN_CODE: return 4;
        case KZ_NOTIFY_MODULE_VERSION: case KZ_NOTIFY_SETTING_NOT_SAVED: return nLen;
        default: return 0;
    }
}


TempRoot::TempRoot() {
    char tmpl[] = "/tmp/kztarn-test-XXXXXX";
    char* dir = mkdtemp(tmpl);
    path_ = dir ? dir : "/tmp";
    KzSetRootDir(path_.c_str());
}

TempRoot::~TempRoot() {
    std::error_code ignored;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ignored);
}

std::string TempRoot::Host(const std::string& unitPath) const {
    char out[1024];
    return KzMapPath(unitPath.c_str(), out, sizeof out) < 0 ? std::string() : std::string(out);
}

std::string TempRoot::Read(const std::string& unitPath) const {
    std::ifstream f(Host(unitPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool TempRoot::Exists(const std::string& unitPath) const {
    std::error_code ignored;
    return std::filesystem::exists(Host(unitPath), ignored);
}

void TempRoot::Write(const std::string& unitPath, const std::string& content) const {
    const std::filesystem::path host = Host(unitPath);
    std::error_code ignored;
    std::filesystem::create_directories(host.parent_path(), ignored);
    std::ofstream(host, std::ios::binary | std::ios::trunc) << content;
}

SubmitRecorder::SubmitRecorder() {
    Clear();
    Reattach();
}
SubmitRecorder::~SubmitRecorder() { kz::SetSubmitTapForTest(nullptr); }
void SubmitRecorder::Reattach() { kz::SetSubmitTapForTest(&SubmitRecorder::Tap); }

void SubmitRecorder::Tap(const uint8_t header[4], const uint8_t* payload, uint32_t length, uint32_t mode) {
    std::lock_guard<std::mutex> lock(g_recMutex);
    g_submitted.push_back({{header[0], header[1], header[2], header[3]}, {payload, payload + length}, mode});
}

std::vector<SubmittedMessage> SubmitRecorder::Messages() const { return Copy(g_recMutex, g_submitted); }
std::vector<uint16_t> SubmitRecorder::Ids() const {
    std::vector<uint16_t> ids;
    for (const auto& m : Messages()) ids.push_back(m.id());
    return ids;
}

void SubmitRecorder::Clear() {
    std::lock_guard<std::mutex> lock(g_recMutex);
    g_submitted.clear();
}

KzLResult HostWindows::Proc(KzHwnd, uint32_t msg, KzWParam w, KzLParam l) {
    std::lock_guard<std::mutex> lock(g_hostMutex);
    if (msg == KZ_MSG_NOTIFY) {
        const auto* rec = reinterpret_cast<const BtNotifyRecord*>(w);
        Notification n{rec->nCode, rec->nParam, rec->nLen, {}};
        const auto* p = static_cast<const uint8_t*>(rec->pData);
        if (p) n.data.assign(p, p + NotificationBlockSize(rec->nCode, rec->nParam, rec->nLen));
        g_notes.push_back(std::move(n));
    } else if (msg == KZ_MSG_NAVIG_STATUS) {
        g_posts.push_back({w, l});
    } else if (msg == KZ_WM_COPYDATA) {
        const auto* cds = reinterpret_cast<const KzCopyDataStruct*>(l);
        InforbarRecord r{w, cds->dwData, {}};
        const auto* p = static_cast<const uint8_t*>(cds->lpData);
        if (p) r.bytes.assign(p, p + cds->cbData);
        g_bar.push_back(std::move(r));
    }
    return 0;
}

HostWindows::HostWindows() {
    Clear();
    KzRegisterClass("KzTestHost", &HostWindows::Proc, 0);
    notify_ = KzCreateWindow("KzTestHost", KZ_WND_NOTIFY_TITLE, 0);
    navig_ = KzCreateWindow("KzTestHost", KZ_WND_NAVIG_TITLE, 0);
    KzRegisterClass(KZ_WND_INFORBAR, &HostWindows::Proc, 0);
    inforbar_ = KzCreateWindow(KZ_WND_INFORBAR, KZ_WND_INFORBAR, 0);
}

HostWindows::~HostWindows() {
    KzDestroyWindow(notify_);
    KzDestroyWindow(navig_);
    KzDestroyWindow(inforbar_);
}

std::vector<Notification> HostWindows::Notifications() const { return Copy(g_hostMutex, g_notes); }
std::vector<NavigPost> HostWindows::NavigPosts() const { return Copy(g_hostMutex, g_posts); }
std::vector<InforbarRecord> HostWindows::Inforbar() const { return Copy(g_hostMutex, g_bar); }

std::vector<uint32_t> HostWindows::Codes() const {
    std::vector<uint32_t> codes;
    for (const auto& n : Notifications()) codes.push_back(n.code);
    return codes;
}

void HostWindows::Clear() {
    std::lock_guard<std::mutex> lock(g_hostMutex);
    g_notes.clear();
    g_posts.clear();
    g_bar.clear();
}

void HostWindows::Pump(uint32_t ms) {
    KzMsg m;
    uint32_t start = KzGetTickCount();
    do {
        while (KzPeekMessage(&m, 0)) KzDispatchMessage(&m);
        if (ms) KzPeekMessage(&m, 1) ? (void)KzDispatchMessage(&m) : (void)0;
    } while (KzGetTickCount() - start < ms);
}

void ResetAllState() { kz::ResetLibraryState(); }

}  // namespace kztest
