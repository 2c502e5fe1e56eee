// End-to-end figures of the whole library against the module simulator, with
// the line paced at the real byte time of 115200 baud 8E1:
//   - request -> confirmation round trip (median, p99);
//   - a phonebook download plus the three call lists, against the line-time
//     lower bound (every byte that crossed the line, both ways, x 11/115200 s);
//   - the library idle with the link up: CPU time and wake-ups of its threads.
// Each runs twice, side by side: with the receive thread waiting for input,
// and with it sleeping 15 ms between passes (KZ_TARN_RX_POLL_MS=15).
//
// Every measurement runs in a fresh child process (this program again, with
// --run=...), so no library state leaks from one into the next and the idle
// figures belong to the library alone: for the idle run the simulator itself
// runs in a third process. The parent prints a table and, when BENCHMARK_OUT
// names a file, writes the figures there as JSON (bench/plot_download.py
// draws the download plot from it).
//
// Environment: KZ_BENCH_SMOKE=1 runs one short unpaced pass of each (the
// smoke test); KZ_BENCH_SWEEP="10 50 ..." sets the phonebook sizes of the
// plot ("none" skips it); KZ_BENCH_IDLE_S sets the idle window (default 10);
// KZ_BENCH_VERBOSE=1 prints the notes, the frames and the per-thread use of
// a download run to standard error.
#include <dirent.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KZ_Tarn.h"
#include "bench_util.h"
#include "channel/command_queue.h"
#include "channel/requests.h"
#include "kz_platform.h"
#include "link/bcsp_link.h"
#include "module_simulator.h"
#include "phone.h"
#include "settings/registry.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Fields = std::map<std::string, std::string>;

constexpr const char* kPollEnv = "KZ_TARN_RX_POLL_MS";
constexpr const char* kPollMs = "15";
constexpr double kBitsPerByte = 11;     // 8E1: start, 8 data, parity, stop
constexpr double kBaud = 115200;
constexpr size_t kCallListSize = 20;    // the library fetches at most 20 per call list
constexpr size_t kDownloadContacts = 1000;
constexpr int kRoundTrips = 200;
constexpr uint32_t kReadyTimeoutMs = 15000;
constexpr uint32_t kWakeMessage = KZ_WM_USER + 77;   // host window: "a note arrived"
constexpr int kBenchRtPriority = 10;                 // low among real-time priorities

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double LineSeconds(uint64_t bytes) { return static_cast<double>(bytes) * kBitsPerByte / kBaud; }

bool Smoke() { return std::getenv("KZ_BENCH_SMOKE") != nullptr; }

// ------------------------------------------------------------------- host

struct Note {
    uint32_t code, param, len;
};

// The user interface's side: the "Bluetooth" window (notifications arrive on
// the library's threads) plus "NavigRecive" and "KZ_INFORBAR" to take their
// posts. A note of interest wakes the main thread's loop.
class Host {
public:
    Host() {
        KzRegisterClass("KzBenchHost", &Host::Proc, 0);
        notify_ = KzCreateWindow("KzBenchHost", KZ_WND_NOTIFY_TITLE, KZ_WS_POPUP);
        navig_ = KzCreateWindow("KzBenchHost", KZ_WND_NAVIG_TITLE, KZ_WS_POPUP);
        bar_ = KzCreateWindow("KzBenchHost", KZ_WND_INFORBAR, KZ_WS_POPUP);
        instance_ = this;
    }
    ~Host() {
        instance_ = nullptr;
        KzDestroyWindow(notify_);
        KzDestroyWindow(navig_);
        KzDestroyWindow(bar_);
    }
    // Runs the main thread's loop until pred() or the timeout; the notes that
    // arrived are handed to onNote first, on this thread.
    bool Run(const std::function<bool()>& pred, uint32_t timeoutMs,
             const std::function<void(const Note&)>& onNote = {}) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (const Note& n : Take()) {
                if (onNote) onNote(n);
            }
            if (pred()) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            KzMsg msg;
            if (KzPeekMessage(&msg, static_cast<uint32_t>(left.count())) && msg.message != KZ_WM_QUIT)
                KzDispatchMessage(&msg);
        }
    }
    uint32_t Count(uint32_t code, uint32_t param) const {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = counts_.find((uint64_t{code} << 32) | param);
        return it == counts_.end() ? 0 : it->second;
    }

private:
    std::vector<Note> Take() {
        std::lock_guard<std::mutex> lock(mu_);
        std::vector<Note> out;
        out.swap(notes_);
        return out;
    }
    static KzLResult Proc(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam) {
        Host* self = instance_;
        if (self == nullptr || msg != KZ_MSG_NOTIFY || wnd != self->notify_ || wParam == 0) return 0;
        const auto* r = reinterpret_cast<const BtNotifyRecord*>(wParam);
        const uint32_t param = r->nCode == KZ_NOTIFY_PHONEBOOK_ENTRY && r->pData
                                   ? static_cast<const structPhoneDate*>(r->pData)->type
                                   : r->nParam;
        {
            std::lock_guard<std::mutex> lock(self->mu_);
            ++self->counts_[(uint64_t{r->nCode} << 32) | param];
            // Entries only count; the rest may need an answer from the host.
            if (r->nCode == KZ_NOTIFY_PHONEBOOK_ENTRY || r->nCode == KZ_NOTIFY_PHONEBOOK_NUMBER) return 0;
            self->notes_.push_back({r->nCode, r->nParam, r->nLen});
        }
        KzPostMessage(self->notify_, kWakeMessage, 0, 0);
        return 0;
    }

    static inline Host* instance_ = nullptr;
    KzHwnd notify_ = nullptr, navig_ = nullptr, bar_ = nullptr;
    mutable std::mutex mu_;
    std::vector<Note> notes_;
    std::map<uint64_t, uint32_t> counts_;
};

// Starts the library on COM3 = device and waits for the module-ready report.
bool StartLibrary(Host& host, const std::string& device) {
    setenv("KZ_TARN_COM3", device.c_str(), 1);
    KZ_BT_DeviceInit();   // its status says nothing about the module: wait for ready
    return host.Run([&] { return host.Count(KZ_NOTIFY_DEVICE_READY, 1) > 0; }, kReadyTimeoutMs);
}

void Emit(const Fields& f) {
    std::printf("RESULT");
    for (const auto& [k, v] : f) std::printf(" %s=%s", k.c_str(), v.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

std::string Num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.6g", v);
    return b;
}

kzsim::Options SimOptions() {
    kzsim::Options o;
    o.pace = !Smoke();
    return o;
}

// --------------------------------------------------------- round trip

// A request goes out through the command queue; the confirmation frees the
// queue again (g_bCfmForTheLastREQ back to 1 on the receive thread).
int RunRoundTrip() {
    kzbench::TempRoot root;
    Host host;
    kzsim::ModuleSimulator sim(SimOptions());
    if (!sim.Start() || !StartLibrary(host, sim.DevicePath())) return 2;
    host.Run([&] { return sim.WaitOutgoingIdle(0); }, 2000);
    const int n = Smoke() ? 5 : kRoundTrips;
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        // Both sides quiet, so each trip starts from the same state.
        sim.WaitOutgoingIdle(1000);
        sim.ClearWire();
        const auto t0 = Clock::now();
        kz::REQ_SET_MIC_GAIN(static_cast<uint16_t>(i % 16));
        while (!kz::g_bCfmForTheLastREQ.load()) {
            if (Clock::now() - t0 > std::chrono::seconds(5)) return 3;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        ms.push_back(Seconds(Clock::now() - t0) * 1000);
    }
    if (std::getenv("KZ_BENCH_VERBOSE")) {
        // The frames of the last trip.
        for (const auto& f : sim.Wire())
            std::fprintf(stderr, "%6u %s %zu bytes\n", f.tickMs, f.fromHost ? "H>" : "M>", f.bytes.size());
    }
    KZ_BT_CloseDevice();
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * ms.size()))]; };
    Emit({{"kind", "rtt"}, {"n", std::to_string(n)}, {"median_ms", Num(at(0.5))},
          {"p99_ms", Num(at(0.99))}, {"min_ms", Num(ms.front())}, {"max_ms", Num(ms.back())}});
    return 0;
}

// ------------------------------------------------------------- threads

struct ThreadStat {
    std::string name;
    uint64_t voluntary = 0, involuntary = 0;
    uint64_t cpuNs = 0;   // time on a CPU (schedstat)
};

std::map<int, ThreadStat> ThreadStats() {
    std::map<int, ThreadStat> out;
    DIR* d = opendir("/proc/self/task");
    if (d == nullptr) return out;
    while (dirent* e = readdir(d)) {
        const int tid = std::atoi(e->d_name);
        if (tid <= 0) continue;
        std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/status");
        ThreadStat s;
        std::string line;
        while (std::getline(f, line)) {
            if (line.rfind("Name:", 0) == 0) s.name = line.substr(line.find_first_not_of(" \t", 5));
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) s.voluntary = std::stoull(line.substr(24));
            if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) s.involuntary = std::stoull(line.substr(27));
        }
        std::ifstream sched(std::string("/proc/self/task/") + e->d_name + "/schedstat");
        sched >> s.cpuNs;
        out[tid] = s;
    }
    closedir(d);
    return out;
}

// What the given threads did between two snapshots.
struct ThreadUse {
    double cpuMs = 0;
    uint64_t wakeups = 0;
};
ThreadUse Use(const std::map<int, ThreadStat>& before, const std::map<int, ThreadStat>& after,
              const std::function<bool(int)>& counts) {
    ThreadUse u;
    for (const auto& [tid, s] : after) {
        if (!counts(tid)) continue;
        const auto it = before.find(tid);
        const ThreadStat base = it == before.end() ? ThreadStat{} : it->second;
        u.cpuMs += static_cast<double>(s.cpuNs - base.cpuNs) / 1e6;
        u.wakeups += s.voluntary - base.voluntary;
    }
    return u;
}

// ------------------------------------------------------------- download

std::vector<kzsim::CallEntry> Calls(const char* prefix) {
    std::vector<kzsim::CallEntry> out;
    for (size_t i = 0; i < kCallListSize; ++i) {
        char num[32], when[32];
        std::snprintf(num, sizeof num, "+49 89 %s%04zu", prefix, i * 37);
        std::snprintf(when, sizeof when, "202601%02zuT%02zu%02zu%02zu", 1 + i % 28, i % 24, (i * 7) % 60, (i * 13) % 60);
        out.push_back({i % 3 == 0 ? "" : "Jürgen Müller", num, when});
    }
    return out;
}

// The phone is paired (slot 0) and has no stored phonebook yet, so the host
// is told of every entry as it arrives. No current slot: nothing connects
// before the benchmark says so.
void RegisterPhone(const kzsim::Address& address) {
    char hex[13];
    for (size_t i = 0; i < address.size(); ++i) std::snprintf(hex + 2 * i, 3, "%02x", address[i]);
    const std::string text = std::string("[General]\nCurrIndex=255\n\n[Device0]\nid=0\nname=Bench phone\n") +
                             "address=" + hex + "\nkey=000102030405060708090a0b0c0d0e0f\npb=255\n";
    char host[1024];
    if (KzMapPath("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini", host, sizeof host) < 0) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(host).parent_path(), ec);
    std::ofstream(host) << text;
}

// The phone connects; the library fetches the three call lists on its own
// (each announced by notification 34, answered with KZ_BT_GetPhonebookData),
// then the host asks for the phonebook once the call lists are done. Timed
// from the phone's connection to the phonebook's completion.
int RunDownload(size_t contacts) {
    kzbench::TempRoot root;
    Host host;
    kzsim::ModuleSimulator sim(SimOptions());
    auto& phone = sim.phone();
    phone.setContacts(kzbench::RealisticContacts(contacts));
    phone.setCallList(kzsim::ListType::Dialed, Calls("1"));
    phone.setCallList(kzsim::ListType::Received, Calls("2"));
    phone.setCallList(kzsim::ListType::Missed, Calls("3"));
    kzsim::VCardStyle style;
    style.quotedPrintable = true;   // vCard 2.1 with UTF-8 names in quoted-printable
    phone.setVCardStyle(style);
    RegisterPhone(phone.address());
    if (!sim.Start()) return 2;
    // Threads that exist now (this one, the simulator's) are not the library's.
    const auto notLibrary = ThreadStats();
    const auto isLibrary = [&](int tid) { return notLibrary.count(tid) == 0; };
    if (!StartLibrary(host, sim.DevicePath())) return 2;
    KZ_BT_GetPairedDevices();   // as the user interface does after start-up
    host.Run([&] { return sim.WaitOutgoingIdle(0); }, 2000);

    sim.ClearWire();
    const auto threads0 = ThreadStats();
    bool done = false;
    uint32_t announced = 0, entriesPb = 0;
    const auto t0 = Clock::now();
    phone.connectProfile(kzsim::Profile::Hfp);
    const bool verbose = std::getenv("KZ_BENCH_VERBOSE") != nullptr;
    const auto onNote = [&](const Note& n) {
        if (verbose) std::fprintf(stderr, "note %u %u %u\n", n.code, n.param, n.len);
        if (n.code == KZ_NOTIFY_PHONEBOOK_SIZE) {
            if (n.param == KZ_PB_PHONEBOOK) announced = n.len;
            KZ_BT_GetPhonebookData(static_cast<int>(n.param), static_cast<int>(n.len));
        } else if (n.code == KZ_NOTIFY_PHONEBOOK_STATE && n.param == 2) {
            KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
        } else if (n.code == KZ_NOTIFY_PHONEBOOK_STATE && n.param == 1) {
            done = true;
            // Entries announced by the download itself (the store's sync that
            // follows may announce the phonebook again).
            entriesPb = host.Count(KZ_NOTIFY_PHONEBOOK_ENTRY, KZ_PB_PHONEBOOK);
        }
    };
    const uint32_t timeoutMs = static_cast<uint32_t>((Smoke() ? 10000 : 60000) + contacts * 300);
    const bool ok = host.Run([&] { return done; }, timeoutMs, onNote);
    const double seconds = Seconds(Clock::now() - t0);
    const auto threads1 = ThreadStats();
    const ThreadUse use = Use(threads0, threads1, isLibrary);
    if (verbose) {
        for (const auto& [tid, st] : threads1) {
            const auto it = threads0.find(tid);
            const ThreadStat b = it == threads0.end() ? ThreadStat{} : it->second;
            std::fprintf(stderr, "thread %d %s: cpu %.1f ms, %llu wake-ups\n", tid,
                         isLibrary(tid) ? "library" : "other", static_cast<double>(st.cpuNs - b.cpuNs) / 1e6,
                         static_cast<unsigned long long>(st.voluntary - b.voluntary));
        }
    }
    uint64_t hostBytes = 0, moduleBytes = 0;
    for (const auto& f : sim.Wire()) (f.fromHost ? hostBytes : moduleBytes) += f.bytes.size();
    if (verbose) {
        // Time between pull requests, every 50th: a download that slows down shows here.
        uint32_t last = 0;
        size_t pulls = 0;
        for (const auto& m : sim.Received()) {
            if (m.id != kz::msgid::kPbapPull) continue;
            if (pulls++ % 50 == 0) {
                std::fprintf(stderr, "pull %zu at %u ms (+%u)\n", pulls, m.tickMs, m.tickMs - last);
                last = m.tickMs;
            }
        }
        const kzsim::LinkStats ls = sim.Stats();
        std::fprintf(stderr, "module: frames in %u, bad %u, duplicates %u, resends %u, given up %u\n",
                     ls.framesIn, ls.badFramesIn, ls.duplicatesIn, ls.resends, ls.givenUp);
        std::fprintf(stderr, "library: resent %u, given up %u, rejected %u\n",
                     kz::g_LinkCounters.retransmitted.load(), kz::g_LinkCounters.givenUp.load(),
                     kz::g_LinkCounters.rejectedFrames.load());
        PairedDeviceRecord r{};
        kz::GetSlot(0, &r);
        std::fprintf(stderr, "current slot %d, slot0 id %u pb %u addr %02x%02x%02x%02x%02x%02x\n",
                     kz::g_CurrConnectIndex.load(), r.id, r.pb, r.address[0], r.address[1], r.address[2],
                     r.address[3], r.address[4], r.address[5]);
        for (const auto& f : sim.Wire()) {
            std::fprintf(stderr, "%6u %s", f.tickMs, f.fromHost ? "H>" : "M>");
            for (size_t i = 0; i < f.bytes.size() && i < 24; ++i) std::fprintf(stderr, " %02X", f.bytes[i]);
            std::fprintf(stderr, "\n");
        }
    }
    KZ_BT_CloseDevice();
    if (!ok) return 4;
    const double bound = LineSeconds(hostBytes + moduleBytes);
    Emit({{"kind", "download"}, {"contacts", std::to_string(contacts)}, {"time_s", Num(seconds)},
          {"host_bytes", std::to_string(hostBytes)}, {"module_bytes", std::to_string(moduleBytes)},
          {"bound_s", Num(bound)}, {"ratio", Num(seconds / bound)},
          {"contacts_announced", std::to_string(announced)},
          {"library_cpu_ms", Num(use.cpuMs)}, {"library_wakeups", std::to_string(use.wakeups)},
          {"entries_pb", std::to_string(entriesPb)},
          {"entries_calls", std::to_string(host.Count(KZ_NOTIFY_PHONEBOOK_ENTRY, KZ_PB_DIALED) +
                                           host.Count(KZ_NOTIFY_PHONEBOOK_ENTRY, KZ_PB_RECEIVED) +
                                           host.Count(KZ_NOTIFY_PHONEBOOK_ENTRY, KZ_PB_MISSED))}});
    return 0;
}

// ----------------------------------------------------------------- idle

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The simulator in its own process: prints its device path, runs until its
// standard input closes.
int RunSimChild() {
    kzsim::ModuleSimulator sim(SimOptions());
    if (!sim.Start()) return 2;
    std::printf("%s\n", sim.DevicePath().c_str());
    std::fflush(stdout);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    sim.Stop();
    return 0;
}

struct Child {
    pid_t pid = -1;
    int in = -1;    // child's stdin (write end)
    int out = -1;   // child's stdout (read end)
};

Child Spawn(const std::vector<std::string>& args) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, toChild[1]);
    posix_spawn_file_actions_addclose(&fa, fromChild[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child c;
    if (posix_spawn(&c.pid, "/proc/self/exe", &fa, nullptr, argv.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(toChild[0]);
    close(fromChild[1]);
    c.in = toChild[1];
    c.out = fromChild[0];
    return c;
}

// Reads one line, waiting at most timeoutMs. Empty on timeout or end.
std::string ReadLine(int fd, uint32_t timeoutMs) {
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return {};
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) return {};
        if (c == '\n') return line;
        line += c;
    }
}

int RunIdle() {
    const double window = Smoke() ? 0.5 : std::getenv("KZ_BENCH_IDLE_S") ? std::atof(std::getenv("KZ_BENCH_IDLE_S")) : 10.0;
    // The simulator must not see the poll switch nor count in our figures.
    const std::string poll = std::getenv(kPollEnv) ? std::getenv(kPollEnv) : "";
    unsetenv(kPollEnv);
    Child sim = Spawn({"bench_e2e", "--sim-child"});
    if (!poll.empty()) setenv(kPollEnv, poll.c_str(), 1);
    const std::string device = ReadLine(sim.out, 5000);
    if (device.empty()) return 2;
    int rc = 0;
    {
        kzbench::TempRoot root;
        Host host;
        if (!StartLibrary(host, device)) {
            rc = 2;
        } else {
            // Let the start-up traffic (module ready, its reply) settle.
            host.Run([] { return false; }, Smoke() ? 100 : 1000);
            const int self = static_cast<int>(gettid());
            const auto before = ThreadStats();
            const double cpu0 = ProcessCpuSeconds();
            const auto t0 = Clock::now();
            host.Run([] { return false; }, static_cast<uint32_t>(window * 1000));
            const double elapsed = Seconds(Clock::now() - t0);
            const double cpu = ProcessCpuSeconds() - cpu0;
            const auto after = ThreadStats();
            uint64_t wakes = 0, mainWakes = 0;
            std::string perThread;
            for (const auto& [tid, s] : after) {
                const auto it = before.find(tid);
                const uint64_t v = s.voluntary - (it == before.end() ? 0 : it->second.voluntary);
                if (tid == self) {
                    mainWakes = v;
                    continue;
                }
                wakes += v;
                perThread += (perThread.empty() ? "" : ",") + s.name + ":" + std::to_string(v);
            }
            KZ_BT_CloseDevice();
            Emit({{"kind", "idle"}, {"window_s", Num(elapsed)}, {"cpu_ms", Num(cpu * 1000)},
                  {"cpu_percent", Num(100 * cpu / elapsed)},
                  {"wakeups_per_s", Num(static_cast<double>(wakes) / elapsed)},
                  {"main_wakeups_per_s", Num(static_cast<double>(mainWakes) / elapsed)},
                  {"threads", perThread.empty() ? "-" : perThread}});
        }
    }
    close(sim.in);
    waitpid(sim.pid, nullptr, 0);
    close(sim.out);
    return rc;
}

// --------------------------------------------------------------- parent

struct Mode {
    const char* name;
    bool poll;
};
constexpr Mode kModes[] = {{"wait", false}, {"poll15", true}};

// Runs one measurement in a child; its RESULT line's fields, empty on failure.
Fields Measure(const Mode& mode, const std::vector<std::string>& args, uint32_t timeoutMs) {
    if (mode.poll) {
        setenv(kPollEnv, kPollMs, 1);
    } else {
        unsetenv(kPollEnv);
    }
    std::vector<std::string> all{"bench_e2e"};
    all.insert(all.end(), args.begin(), args.end());
    Child c = Spawn(all);
    unsetenv(kPollEnv);
    Fields f;
    if (c.pid < 0) return f;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const std::string line = left.count() > 0 ? ReadLine(c.out, static_cast<uint32_t>(left.count())) : "";
        if (line.empty()) break;
        if (line.rfind("RESULT ", 0) != 0) continue;
        std::istringstream in(line.substr(7));
        std::string kv;
        while (in >> kv) {
            const auto eq = kv.find('=');
            if (eq != std::string::npos) f[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        break;
    }
    close(c.in);
    int status = 0;
    if (waitpid(c.pid, &status, WNOHANG) == 0) {
        // Still running past its time: stop this child (ours) and collect it.
        if (f.empty()) kill(c.pid, SIGKILL);
        waitpid(c.pid, &status, 0);
    }
    close(c.out);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_e2e: %s %s failed (status %d)\n", args[0].c_str(), mode.name, status);
        if (!f.empty() && !WIFEXITED(status)) f.clear();
    }
    f["mode"] = mode.name;
    return f;
}

std::vector<size_t> SweepSizes() {
    if (Smoke()) return {};
    const char* env = std::getenv("KZ_BENCH_SWEEP");
    std::string sizes = env ? env : "10 50 100 250 500 1000 2000";
    if (sizes == "none") return {};
    std::vector<size_t> out;
    std::istringstream in(sizes);
    size_t n;
    while (in >> n) out.push_back(n);
    return out;
}

std::string Get(const Fields& f, const char* key) {
    auto it = f.find(key);
    return it == f.end() ? "-" : it->second;
}

std::string Json(const std::vector<Fields>& rows) {
    std::string s = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        s += i ? ",\n    {" : "\n    {";
        bool first = true;
        for (const auto& [k, v] : rows[i]) {
            char* end = nullptr;
            std::strtod(v.c_str(), &end);
            const bool number = !v.empty() && end && *end == '\0';
            s += (first ? "" : ", ") + ("\"" + k + "\": ") + (number ? v : "\"" + v + "\"");
            first = false;
        }
        s += "}";
    }
    return s + "\n  ]";
}

std::string Machine() {
    std::string model = "unknown";
    std::ifstream f("/proc/cpuinfo");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return "{\"nproc\": " + std::to_string(std::thread::hardware_concurrency()) + ", \"cpu\": \"" +
           model + "\"}";
}

// The head unit runs the library's threads at a high priority; on a shared
// build machine, compile jobs would otherwise decide the figures. So the
// measurements run under round-robin real-time scheduling when allowed
// (children inherit it); KZ_BENCH_RT=0 keeps normal scheduling.
std::string RaisePriority() {
    const char* env = std::getenv("KZ_BENCH_RT");
    if (Smoke() || (env && std::strcmp(env, "0") == 0)) return "normal";
    sched_param p{};
    p.sched_priority = kBenchRtPriority;
    return sched_setscheduler(0, SCHED_RR, &p) == 0 ? "SCHED_RR" : "normal";
}

int RunAll() {
    const std::string scheduling = RaisePriority();
    std::printf("scheduling: %s\n", scheduling.c_str());
    std::vector<Fields> rtt, download, idle, sweep;
    const size_t contacts = Smoke() ? 10 : kDownloadContacts;
    for (const Mode& m : kModes) {
        rtt.push_back(Measure(m, {"--run=rtt"}, 120000));
        download.push_back(Measure(m, {"--run=download", "--contacts=" + std::to_string(contacts)},
                                   static_cast<uint32_t>(120000 + contacts * 400)));
        idle.push_back(Measure(m, {"--run=idle"}, 60000));
    }
    for (size_t n : SweepSizes()) {
        for (const Mode& m : kModes) {
            Fields f = Measure(m, {"--run=download", "--contacts=" + std::to_string(n)},
                               static_cast<uint32_t>(120000 + n * 400));
            std::printf("sweep %-6s %5zu contacts: %s s (bound %s s)\n", m.name, n,
                        Get(f, "time_s").c_str(), Get(f, "bound_s").c_str());
            std::fflush(stdout);
            sweep.push_back(std::move(f));
        }
    }

    std::printf("\n%-8s %-28s %-44s %s\n", "mode", "round trip (median / p99)",
                "download (time / bound / ratio)", "idle (cpu / wake-ups per s)");
    for (size_t i = 0; i < std::size(kModes); ++i) {
        std::printf("%-8s %8s ms / %8s ms      %8s s / %8s s / %6s x          %6s%% / %s\n", kModes[i].name,
                    Get(rtt[i], "median_ms").c_str(), Get(rtt[i], "p99_ms").c_str(),
                    Get(download[i], "time_s").c_str(), Get(download[i], "bound_s").c_str(),
                    Get(download[i], "ratio").c_str(), Get(idle[i], "cpu_percent").c_str(),
                    Get(idle[i], "wakeups_per_s").c_str());
    }
    bool ok = true;
    for (const auto* rows : {&rtt, &download, &idle, &sweep})
        for (const auto& f : *rows) ok = ok && f.count("kind");

    if (const char* out = std::getenv("BENCHMARK_OUT")) {
        std::ofstream f(out);
        f << "{\n  \"machine\": " << Machine() << ",\n  \"scheduling\": \"" << scheduling
          << "\",\n  \"paced\": " << (Smoke() ? "false" : "true")
          << ",\n  \"round_trip\": " << Json(rtt) << ",\n  \"download\": " << Json(download)
          << ",\n  \"idle\": " << Json(idle) << ",\n  \"sweep\": " << Json(sweep) << "\n}\n";
    }
    return ok ? 0 : 1;
}

std::string Arg(int argc, char** argv, const char* name) {
    const size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, n) == 0 && argv[i][n] == '=') return argv[i] + n + 1;
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--sim-child") == 0) return RunSimChild();
    const std::string run = Arg(argc, argv, "--run");
    if (run == "rtt") return RunRoundTrip();
    if (run == "download") {
        const std::string n = Arg(argc, argv, "--contacts");
        return RunDownload(n.empty() ? kDownloadContacts : std::stoul(n));
    }
    if (run == "idle") return RunIdle();
    // Other arguments (--benchmark_* of the smoke test) are the micro-benchmarks'.
    return RunAll();
}
