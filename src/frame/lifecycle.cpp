// Start-up and shut-down: the serial line, the hidden control window, the
// shared events and mutexes, and the three worker threads.
#include "frame/lifecycle.h"

#include "KZ_Tarn.h"
#include "channel/command_queue.h"
#include "core/sync_objects.h"
#include "core/trace.h"
#include "events/dispatcher.h"
#include "events/inquiry.h"
#include "frame/control_window.h"
#include "frame/library_state.h"
#include "link/bcsp_link.h"
#include "link/send_window.h"
#include "link/serial_port.h"
#include "phonebook/phonebook_store.h"
#include "settings/settings.h"

namespace kz {

std::atomic<uint32_t> g_nTimerID{0};
std::atomic<KzHandle> g_hRecvThread{nullptr};
std::atomic<KzHandle> g_hEventThread{nullptr};
std::atomic<KzHandle> g_hSendThread{nullptr};

namespace {

constexpr uintptr_t kHousekeepingTimerId = 1;
constexpr uint32_t kHousekeepingPeriodMs = 1000;
constexpr uint32_t kThreadsSettleMs = 10;

constexpr KzWndProc kControlWndProc = &ControlWndProc;
constexpr KzTimerProc kHousekeepingProc = &HousekeepingTimerProc;

void LoadReportedSettings() {
    LoadPinCode();
    LoadAutoConnect();
    LoadAutoAnswer();
}

// The head unit has \BACKUP already; on a fresh root its parents are made too.
void CreateDirectoryPath(const char* const* parts, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (KzGetFileAttributes(parts[i]) == KZ_INVALID_FILE_ATTRIBUTES) KzCreateDirectory(parts[i]);
    }
}

void CreateStorageDirectories() {
    static const char* const kBluetooth[] = {"\\BACKUP", "\\BACKUP\\KZ_Config",
                                             "\\BACKUP\\KZ_Config\\BlueTooth"};
    static const char* const kTarn[] = {"\\BACKUP", "\\BACKUP\\KZ_TARN"};
    CreateDirectoryPath(kBluetooth, std::size(kBluetooth));
    CreateDirectoryPath(kTarn, std::size(kTarn));
}

void CreateControlWindow() {
    if (g_hBTWnd.load()) return;
    // The class outlives a close; registering it again fails harmlessly.
    KzRegisterClass(KZ_WND_CONTROL, kControlWndProc, KZ_CS_HREDRAW | KZ_CS_VREDRAW);
    KzHwnd wnd = KzCreateWindow(KZ_WND_CONTROL, KZ_WND_CONTROL, KZ_WS_POPUP);
    if (wnd == nullptr) return;
    KzSetWindowText(wnd, KZ_WND_CONTROL);
    KzShowWindow(wnd, KZ_SW_HIDE);
    KzUpdateWindow(wnd);
    g_hBTWnd = wnd;
}

void StartThread(std::atomic<KzHandle>& handle, KzThreadProc proc) {
    KzHandle h = KzCreateThread(proc, nullptr);
    if (h) KzSetThreadPriority(h, kWorkerPriority);
    handle = h;
}

// The threads end on their own once g_bRunning is clear and they are woken.
void JoinThread(std::atomic<KzHandle>& handle) {
    KzHandle h = handle.exchange(nullptr);
    if (h == nullptr) return;
    KzWaitForSingleObject(h, KZ_INFINITE);
    KzCloseHandle(h);
}

void WakeWorkers() {
    SignalEvent(g_hAckEvent);
    SignalEvent(g_hResendEvent);
    SignalEvent(g_hInboundEvent);
    g_SerialPort.CancelWait();
}

}  // namespace

}  // namespace kz

using namespace kz;

extern "C" KZ_TARN_API int KZ_BT_DeviceInit(void) {
    if (g_nTimerID.load() == 0)
        g_nTimerID = static_cast<uint32_t>(
            KzSetTimer(nullptr, kHousekeepingTimerId, kHousekeepingPeriodMs, kHousekeepingProc));
    if (OpenModulePort(kModulePort, kModuleBaud)) LoadReportedSettings();
    g_bRunning = 1;
    CreateStorageDirectories();
    CreateControlWindow();
    CreateSyncObjects();
    ConnectLayers();
    // A packet whose retransmission the last close cut off.
    WindowRestart();
    ResetFramer();
    StartThread(g_hRecvThread, &RecvThreadProc);
    StartThread(g_hEventThread, &EventThreadProc);
    StartThread(g_hSendThread, &SendThreadProc);
    KzSleep(kThreadsSettleMs);
    if (KzHwnd navig = KzFindWindow(nullptr, KZ_WND_NAVIG_TITLE))
        KzPostMessage(navig, KZ_MSG_NAVIG_STATUS, KZ_NAVIG_STARTED_W, KZ_NAVIG_STARTED_L);
    return 0;
}

extern "C" KZ_TARN_API int KZ_BT_CloseDevice(void) {
    if (uint32_t timer = g_nTimerID.exchange(0)) KzKillTimer(nullptr, timer);
    g_bRunning = 0;
    ClearCmdList();
    // Every wait of the workers also wakes for shut-down; nothing is killed.
    WakeWorkers();
    JoinThread(g_hRecvThread);
    JoinThread(g_hEventThread);
    JoinThread(g_hSendThread);
    JoinPhoneBookThread();
    // The event thread went on handling queued messages until it ended, and
    // the requests they built must not go out after the next init. Nor may
    // the next session wait for the confirmation of a request of this one.
    ClearCmdList();
    g_bCfmForTheLastREQ = 1;
    FreeInboundQueue();
    ClearInquiryList();
    return g_SerialPort.Close();
}
