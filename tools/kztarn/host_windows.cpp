#include "host_windows.h"

#include <atomic>

#include "KZ_Tarn.h"

namespace kztool {

namespace {
// Window procedures are plain functions: they reach the one console's
// windows through this pointer.
std::atomic<HostWindows*> g_host{nullptr};

constexpr char kNotifyClass[] = "KzTarnConsoleNotify";
constexpr char kNavigClass[] = "KzTarnConsoleNavig";
}  // namespace

HostWindows::HostWindows(EventPrinter& printer, Output& output, bool json, bool verbose)
    : printer_(printer), output_(output), json_(json), verbose_(verbose), view_(verbose) {}

HostWindows::~HostWindows() {
    for (KzHwnd w : windows_) KzDestroyWindow(w);
    HostWindows* self = this;
    g_host.compare_exchange_strong(self, nullptr);
}

bool HostWindows::Create(std::string& error) {
    g_host = this;
    struct WindowDef {
        const char* cls;
        const char* title;
        KzWndProc proc;
    };
    const WindowDef defs[] = {
        {kNotifyClass, KZ_WND_NOTIFY_TITLE, &HostWindows::NotifyProc},
        {kNavigClass, KZ_WND_NAVIG_TITLE, &HostWindows::NavigProc},
        {KZ_WND_INFORBAR, KZ_WND_INFORBAR, &HostWindows::InforbarProc},
    };
    for (const auto& s : defs) {
        // A class left registered by an earlier console in this process is reused.
        KzRegisterClass(s.cls, s.proc, 0);
        KzHwnd w = KzCreateWindow(s.cls, s.title, KZ_WS_POPUP);
        if (!w) {
            error = std::string("cannot create the window \"") + s.title + "\"";
            return false;
        }
        windows_.push_back(w);
    }
    return true;
}

size_t HostWindows::Mark() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_.size();
}

std::vector<Event> HostWindows::Since(size_t mark) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mark >= log_.size()) return {};
    return std::vector<Event>(log_.begin() + static_cast<std::ptrdiff_t>(mark), log_.end());
}

void HostWindows::Show(const std::vector<Event>& events) {
    for (const auto& e : events) output_.Post(json_ ? e.Json() : e.Line());
}

void HostWindows::FlushHeld(bool all) {
    std::lock_guard<std::mutex> lock(viewMutex_);
    Show(all ? view_.Flush(Event::NowMs(), 0, 0) : view_.Flush(Event::NowMs()));
}

void HostWindows::DownloadRequested(int type) {
    std::lock_guard<std::mutex> lock(viewMutex_);
    view_.DownloadRequested();
    download_.Requested(type);
}

std::string HostWindows::DownloadWords() {
    std::lock_guard<std::mutex> lock(viewMutex_);
    return download_.words();
}

void HostWindows::Log(Event event, bool show) { Deliver(event, show); }

void HostWindows::Deliver(const Event& event, bool show) {
    Event logged = event;
    logged.tickMs = KzGetTickCount();
    logged.wallMs = Event::NowMs();
    {
        std::lock_guard<std::mutex> lock(viewMutex_);
        const bool news = download_.Follow(logged);
        if (show && !quiet_ && (news || verbose_)) Show(view_.Take(logged));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(logged);
    }
    std::lock_guard<std::mutex> lock(hookMutex_);
    if (hook_) hook_(logged);
}

void HostWindows::SetHook(Hook hook) {
    std::lock_guard<std::mutex> lock(hookMutex_);
    hook_ = std::move(hook);
}

KzLResult HostWindows::NotifyProc(KzHwnd, uint32_t msg, KzWParam wParam, KzLParam) {
    HostWindows* host = g_host.load();
    if (!host || msg != KZ_MSG_NOTIFY || wParam == 0) return 0;
    host->Deliver(host->printer_.Notification(*reinterpret_cast<const BtNotifyRecord*>(wParam)));
    return 1;
}

KzLResult HostWindows::NavigProc(KzHwnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    HostWindows* host = g_host.load();
    if (!host || msg != KZ_MSG_NAVIG_STATUS) return 0;
    host->Deliver(host->printer_.StatusPost(wParam, lParam));
    return 1;
}

KzLResult HostWindows::InforbarProc(KzHwnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    HostWindows* host = g_host.load();
    if (!host || msg != KZ_WM_COPYDATA || lParam == 0) return 0;
    const auto* cds = reinterpret_cast<const KzCopyDataStruct*>(lParam);
    host->Deliver(host->printer_.StatusBar(wParam, cds->lpData, cds->cbData));
    return 1;
}

}  // namespace kztool
