// `kztarn demo`: starts the built-in module simulator, points serial port 3 at
// it, starts the library as a head unit's user interface would, and tells in
// plain words what happens on the line and in the host windows. Each step is
// one entry of kSteps; a step that does not happen ends the tour with exit 1.
// To extend the tour, write a step function and add its row to kSteps.
#include "demo.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "kz_platform.h"
#include "module_simulator.h"
#include "sim_codec.h"

namespace {

constexpr uint32_t kStepTimeoutMs = 5000;
constexpr uint16_t kIdModuleReady = 48;
constexpr uint16_t kIdDial = 82;
constexpr const char* kDemoNumber = "5551234";

// ------------------------------------------------------------ host windows

struct HostEvent {
    bool navig;   // a status post to "NavigRecive", else a notification to "Bluetooth"
    uint32_t code, param, len;
};

std::mutex g_hostMutex;
std::vector<HostEvent> g_hostEvents;
size_t g_printed = 0;

const char* NotificationName(uint32_t code) {
    switch (code) {
        case KZ_NOTIFY_DEVICE_READY: return "device ready";
        case KZ_NOTIFY_CONNECTION: return "connection state";
        case KZ_NOTIFY_SIGNAL: return "signal level";
        case KZ_NOTIFY_BATTERY: return "battery level";
        case KZ_NOTIFY_CALL_RECORD: return "call record";
        case KZ_NOTIFY_CALL_AUDIO: return "call audio";
        case KZ_NOTIFY_CALL_COUNT: return "number of calls";
        case KZ_NOTIFY_AUTO_CONNECT: return "auto-connect setting";
        case KZ_NOTIFY_PIN_CODE: return "PIN code setting";
        case KZ_NOTIFY_AUTO_ANSWER: return "auto-answer setting";
        case KZ_NOTIFY_MODULE_VERSION: return "module version";
        default: return "notification";
    }
}

KzLResult HostProc(KzHwnd, uint32_t msg, KzWParam w, KzLParam l) {
    std::lock_guard<std::mutex> lock(g_hostMutex);
    if (msg == KZ_MSG_NOTIFY && w) {
        const auto* rec = reinterpret_cast<const BtNotifyRecord*>(w);
        g_hostEvents.push_back({false, rec->nCode, rec->nParam, rec->nLen});
    } else if (msg == KZ_MSG_NAVIG_STATUS) {
        g_hostEvents.push_back({true, static_cast<uint32_t>(w), static_cast<uint32_t>(l), 0});
    }
    return 0;
}

void PrintNewHostEvents() {
    std::lock_guard<std::mutex> lock(g_hostMutex);
    for (; g_printed < g_hostEvents.size(); ++g_printed) {
        const HostEvent& e = g_hostEvents[g_printed];
        if (e.navig)
            std::printf("      host: status post to \"NavigRecive\" (%u, %u)\n", e.code, e.param);
        else
            std::printf("      host: \"Bluetooth\" got %s (code %u, value %u, length %u)\n",
                        NotificationName(e.code), e.code, e.param, e.len);
    }
}

bool SawHostEvent(bool navig, uint32_t code, uint32_t param) {
    std::lock_guard<std::mutex> lock(g_hostMutex);
    for (const auto& e : g_hostEvents)
        if (e.navig == navig && e.code == code && e.param == param) return true;
    return false;
}

// Runs the host's message loop until pred() holds or the time is up.
bool Until(const std::function<bool()>& pred, uint32_t ms = kStepTimeoutMs) {
    const uint32_t start = KzGetTickCount();
    for (;;) {
        KzMsg m;
        while (KzPeekMessage(&m, 0)) KzDispatchMessage(&m);
        PrintNewHostEvents();
        if (pred()) return true;
        if (KzGetTickCount() - start > ms) return false;
        if (KzPeekMessage(&m, 10)) KzDispatchMessage(&m);
    }
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", x);
        s += b;
    }
    return s;
}

// ------------------------------------------------------------------- tour

struct Tour {
    kzsim::ModuleSimulator sim;
    std::string root;
    bool libraryOpen = false;

    const kzsim::ReceivedMessage* Received(uint16_t id, std::vector<kzsim::ReceivedMessage>& all) {
        all = sim.Received();
        for (const auto& m : all)
            if (m.id == id) return &m;
        return nullptr;
    }
    bool ModuleSent(uint16_t id) {
        for (const auto& f : sim.Wire()) {
            if (f.fromHost) continue;
            const kzsim::DecodedPacket p = kzsim::DecodeFrame(f.bytes);
            if (p.error == kzsim::DecodeError::None && p.reliable &&
                kzsim::MessageId(p.payload) == id)
                return true;
        }
        return false;
    }
};

struct Step {
    const char* title;
    bool (*run)(Tour&);
};

bool StartSimulator(Tour& t) {
    if (!t.sim.Start()) return false;
    setenv("KZ_TARN_COM3", t.sim.DevicePath().c_str(), 1);
    std::printf("      the simulated module listens on %s (used as COM3)\n", t.sim.DevicePath().c_str());
    return true;
}

bool PrepareRoot(Tour& t) {
    char tmpl[] = "/tmp/kztarn-demo-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    t.root = tmpl;
    KzSetRootDir(t.root.c_str());
    std::printf("      head-unit files go below %s\n", t.root.c_str());
    return true;
}

bool CreateHostWindows(Tour&) {
    KzRegisterClass("KzDemoHost", &HostProc, 0);
    return KzCreateWindow("KzDemoHost", KZ_WND_NOTIFY_TITLE, 0) != nullptr &&
           KzCreateWindow("KzDemoHost", KZ_WND_NAVIG_TITLE, 0) != nullptr;
}

bool InitLibrary(Tour& t) {
    const int r = KZ_BT_DeviceInit();
    t.libraryOpen = true;
    std::printf("      KZ_BT_DeviceInit returned %d\n", r);
    return r == 0;
}

bool StartupPosted(Tour&) {
    return Until([] { return SawHostEvent(true, KZ_NAVIG_STARTED_W, KZ_NAVIG_STARTED_L); });
}

bool LinkUp(Tour& t) {
    if (!t.sim.WaitLinkUp(kStepTimeoutMs)) return false;
    std::printf("      sync, sync-resp, conf, conf-resp exchanged: the BCSP link is up\n");
    return true;
}

bool ModuleReadyAnswered(Tour& t) {
    std::vector<kzsim::ReceivedMessage> all;
    if (!Until([&] { return t.Received(kIdModuleReady, all) != nullptr; })) return false;
    const auto* res = t.Received(kIdModuleReady, all);
    std::printf("      the module said it is ready (indication 48); the library answered RES %s\n",
                Hex(res->bytes).c_str());
    return true;
}

bool DeviceReadyNotified(Tour&) {
    return Until([] { return SawHostEvent(false, KZ_NOTIFY_DEVICE_READY, 1); });
}

bool DialGoesOut(Tour& t) {
    t.sim.ClearReceived();
    KZ_BT_Dial(kDemoNumber);
    std::vector<kzsim::ReceivedMessage> all;
    if (!Until([&] { return t.Received(kIdDial, all) != nullptr; })) return false;
    std::printf("      KZ_BT_Dial(\"%s\") reached the module as request 82: %s\n", kDemoNumber,
                Hex(t.Received(kIdDial, all)->bytes).c_str());
    return true;
}

bool DialConfirmed(Tour& t) {
    if (!Until([&] { return t.ModuleSent(kIdDial); })) return false;
    if (!t.sim.WaitOutgoingIdle(kStepTimeoutMs)) return false;
    std::printf("      the module confirmed it (CFM 82) and the library acknowledged the confirmation\n");
    // Let the phone's call indications that follow reach the host.
    Until([] { return false; }, 300);
    return true;
}

bool CloseLibrary(Tour& t) {
    const int first = KZ_BT_CloseDevice();
    t.libraryOpen = false;
    const int second = KZ_BT_CloseDevice();
    std::printf("      KZ_BT_CloseDevice returned %d (port closed); again: %d (not open)\n", first, second);
    return first != -1 && second == -1;
}

constexpr Step kSteps[] = {
    {"Start the module simulator", &StartSimulator},
    {"Prepare a temporary head-unit root", &PrepareRoot},
    {"Create the host windows \"Bluetooth\" and \"NavigRecive\"", &CreateHostWindows},
    {"Start the library", &InitLibrary},
    {"The library announces its start to \"NavigRecive\"", &StartupPosted},
    {"The module brings the link up", &LinkUp},
    {"The module-ready indication is answered", &ModuleReadyAnswered},
    {"The user interface hears that the device is ready", &DeviceReadyNotified},
    {"A request goes out: dial a number", &DialGoesOut},
    {"Its confirmation comes back", &DialConfirmed},
    {"Close the library", &CloseLibrary},
};

void RemoveTree(const std::string& path) {
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string child = path + "/" + name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(child);
            else unlink(child.c_str());
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

}  // namespace

int RunDemo(int, char**) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("KZ_Tarn demo: the library against a simulated Bluetooth module\n\n");
    Tour tour;
    size_t done = 0;
    for (const Step& step : kSteps) {
        std::printf("[%zu/%zu] %s\n", done + 1, std::size(kSteps), step.title);
        if (!step.run(tour)) {
            std::printf("      did not happen\n");
            break;
        }
        ++done;
    }
    if (tour.libraryOpen) KZ_BT_CloseDevice();
    tour.sim.Stop();
    if (!tour.root.empty()) RemoveTree(tour.root);
    const bool ok = done == std::size(kSteps);
    std::printf("\n%s (%zu of %zu steps)\n", ok ? "Demo complete" : "Demo FAILED", done,
                std::size(kSteps));
    return ok ? 0 : 1;
}
