#include "session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "KZ_Tarn.h"
#include "channel/module_ids.h"
#include "kz_platform.h"
#include "link/wire_trace.h"
#include "phone.h"
#include "scenario.h"
#include "session_state.h"

namespace kztool {

namespace {
constexpr uint32_t kPumpSliceMs = 10;
constexpr char kComEnv[] = "KZ_TARN_COM3";
constexpr char kRootEnv[] = "KZ_TARN_ROOT";

bool MakeDirs(const std::string& dir, std::string& failed) {
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        path = dir.substr(0, pos);
        if (path.empty()) continue;
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
            failed = path;
            return false;
        }
    }
    return true;
}
}  // namespace

std::string DefaultRoot() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/kztarn";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/kztarn";
}

bool PrepareRoot(const std::string& dir, std::string& error) {
    std::string failed;
    if (!MakeDirs(dir, failed)) {
        error = "cannot create the root folder " + dir + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "the root folder " + dir + " is not a folder";
        return false;
    }
    const std::string probe = dir + "/.kztarn-write-test";
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        error = "cannot write in the root folder " + dir + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

bool CheckSerialDevice(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot open the serial device " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool tty = isatty(fd) != 0;
    const int savedErrno = errno;
    close(fd);
    if (!tty) {
        error = "cannot use " + path + " as a serial device: " + std::strerror(savedErrno);
        return false;
    }
    return true;
}

void SetUpDemoPhone(kzsim::Phone& phone) {
    phone.setName("Pixel Demo");
    phone.setAddress({0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13});
    phone.setContacts({
        {"John Doe", "Doe", "John", {{"HOME", "+49 89 765430"}, {"CELL", "+49 171 2233445"}}},
        {"Erika Mustermann", "Mustermann", "Erika", {{"CELL", "0151 98765432"}}},
        {"Office", "", "", {{"WORK", "+49 30 1234567"}}},
    });
    phone.setCallList(kzsim::ListType::Received, {{"John Doe", "+4989765430", "20240501T081500"}});
    phone.setCallList(kzsim::ListType::Dialed, {{"Office", "+49301234567", "20240501T090000"}});
    phone.setCallList(kzsim::ListType::Missed, {{"", "+4940555666", "20240430T193000"}});
    phone.setNearbyDevices({
        {{0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13}, "Pixel Demo", true},
        {{0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}, "Galaxy Test", true},
    });
    phone.setPlaylist({{"Blue in Green", "Miles Davis", "Kind of Blue"},
                       {"So What", "Miles Davis", "Kind of Blue"},
                       {"Freddie Freeloader", "Miles Davis", "Kind of Blue"}});
    phone.setTrack({"Blue in Green", "Miles Davis", "Kind of Blue"});
    phone.setAuthentication(true, "1234");
}

Session::Session(Output& output) : output_(output) {}

Session::~Session() { Close(); }

bool Session::Open(const SessionOptions& options, std::string& error) {
    const std::string root = options.root.empty() ? DefaultRoot() : options.root;
    if (!PrepareRoot(root, error)) return false;
    setenv(kRootEnv, root.c_str(), 1);
    KzSetRootDir(root.c_str());

    root_ = root;
    json_ = options.json;
    if (!SetUpTrace(options, error)) return false;

    if (!options.port.empty()) {
        if (!CheckSerialDevice(options.port, error)) return false;
        setenv(kComEnv, options.port.c_str(), 1);
    } else {
        sim_ = std::make_unique<kzsim::ModuleSimulator>();
        SetUpDemoPhone(sim_->phone());
        if (!options.scenario.empty()) {
            std::ifstream scenario(options.scenario);
            if (!scenario) {
                error = "cannot read the scenario " + options.scenario;
                return false;
            }
            if (!ApplyScenario(scenario, sim_->phone(), error)) {
                error = options.scenario + ": " + error;
                return false;
            }
        }
        if (!sim_->Start()) {
            error = std::string("cannot start the module simulator: ") + std::strerror(errno);
            sim_.reset();
            return false;
        }
        setenv(kComEnv, sim_->DevicePath().c_str(), 1);
    }

    host_ = std::make_unique<HostWindows>(printer_, output_, options.json, options.verbose);
    host_->SetQuiet(options.quiet);
    host_->SetHook(options.onEvent);
    if (!host_->Create(error)) return false;

    const size_t mark = host_->Mark();
    StartLibrary();
    if (!options.port.empty()) WatchLine(options.port);
    ready_ = WaitForNotify(KZ_NOTIFY_DEVICE_READY, mark, options.readyTimeoutMs);
    if (ready_ && options.initialise) KZ_BT_SetInitialValue();
    return true;
}

// The console learns what the module confirmed from the wire trace: the
// user's file (--trace or $KZ_TARN_WIRE_TRACE), else one of its own in the
// root folder, removed when the session ends.
bool Session::SetUpTrace(const SessionOptions& options, std::string& error) {
    std::string path = options.trace;
    const char* env = std::getenv(kz::kWireTraceEnv);
    if (path.empty() && env && *env) path = env;
    if (path.empty()) {
        path = root_ + "/.kztarn-wire-" + std::to_string(getpid()) + ".pcap";
        ownTrace_ = path;
    }
    FILE* probe = std::fopen(path.c_str(), "wb");
    if (!probe) {
        error = "cannot write the wire trace " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(probe);
    setenv(kz::kWireTraceEnv, path.c_str(), 1);
    wire_.Follow(path);
    return true;
}

namespace {
constexpr uint8_t kIndicatorCall = 1;
constexpr uint8_t kIndicatorCallSetup = 2;
constexpr uint8_t kCallSetupIncoming = 1;
constexpr size_t kWaitingNumberAt = 8;   // after its 16-bit length, high byte first
}  // namespace

// A waiting call the library keeps to itself: the console shows it from the
// module's messages on the wire, the phone's indicators (a call up and an
// incoming call set up) and the waiting number when the module sends it.
void Session::ShowWaitingCalls() {
    const auto& messages = wire_.messages();
    for (; wireSeen_ < messages.size(); ++wireSeen_) {
        const TappedMessage& m = messages[wireSeen_];
        if (m.fromHost || m.bytes.size() < kWaitingNumberAt) continue;
        std::string number;
        if (m.id == kz::msgid::kHfpIndicator) {
            const uint8_t which = m.bytes[6], value = m.bytes[7];
            if (which == kIndicatorCall) callUp_ = value != 0;
            if (which != kIndicatorCallSetup || value != kCallSetupIncoming || !callUp_) continue;
        } else if (m.id == kz::msgid::kWaitingNumber) {
            const size_t length = std::min<size_t>((m.bytes[6] << 8) | m.bytes[7], m.bytes.size() - kWaitingNumberAt);
            number.assign(m.bytes.begin() + kWaitingNumberAt, m.bytes.begin() + kWaitingNumberAt + length);
        } else {
            continue;
        }
        const std::string name = contacts_.NameFor(number);
        Event e;
        e.channel = "wire";
        e.code = kz::msgid::kWaitingNumber;
        e.name = "call";
        e.text = "waiting   " + number + (name.empty() ? "" : "  (" + name + ")");
        e.fields = {{"kind", "waiting", false}, {"number", number, false}};
        if (!name.empty()) e.fields.push_back({"name", name, false});
        if (host_) host_->Add(e);
    }
}

// A line that hangs up (the module's end closed, a USB adapter pulled) while
// the host sends nothing leaves no trace on the wire: the console watches the
// device itself, on a descriptor of its own that it never reads from.
void Session::WatchLine(const std::string& port) {
    lineWatch_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

bool Session::LineHungUp() {
    if (lineWatch_ < 0) return false;
    pollfd p{lineWatch_, 0, 0};
    if (poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) return false;
    close(lineWatch_);
    lineWatch_ = -1;
    return true;
}

void Session::ShowLineChanges() {
    wire_.Poll(KzGetTickCount());
    if (LineHungUp()) wire_.LineHungUp();
    ShowWaitingCalls();
    for (const auto& note : wire_.TakeNotes()) {
        Event e;
        e.channel = "link";
        e.name = "module";
        e.text = note.text.substr(note.text.find(' ') + 1);   // "lost: ..." / "back: ..."
        e.fields = {{"state", note.up ? "back" : "lost", false}};
        if (host_) host_->Add(e);
    }
}

void Session::Note(const std::string& text) {
    if (!json_) {
        output_.Print(text);
        return;
    }
    output_.Flush();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void Session::ShowState(const Event& event, const std::string& title) {
    if (json_) {
        host_->Log(event, true);
        output_.Flush();
        return;
    }
    output_.Print(title);
    for (const auto& line : StateLines(event)) output_.Print(line);
}

void Session::StartLibrary() {
    if (running_) return;
    KZ_BT_DeviceInit();
    running_ = true;
    // A restarted library only answers the module's link set-up, and the
    // module restarts with the unit: the built-in one does so now.
    if (sim_ && startedBefore_) sim_->PeerReset();
    startedBefore_ = true;
}

int Session::StopLibrary() {
    if (!running_) return -1;
    const int result = KZ_BT_CloseDevice();
    running_ = false;
    ready_ = false;
    return result;
}

void Session::Close() {
    if (lineWatch_ >= 0) close(lineWatch_);
    lineWatch_ = -1;
    StopLibrary();
    Pump(0);
    if (host_) host_->FlushHeld(true);
    host_.reset();
    if (sim_) sim_->Stop();
    sim_.reset();
    output_.Flush();
    if (!ownTrace_.empty()) unlink(ownTrace_.c_str());
    ownTrace_.clear();
}

void Session::Pump(uint32_t ms) {
    const uint32_t start = KzGetTickCount();
    do {
        KzMsg msg{};
        const uint32_t elapsed = KzGetTickCount() - start;
        const uint32_t slice = elapsed >= ms ? 0 : std::min(kPumpSliceMs, ms - elapsed);
        if (KzPeekMessage(&msg, slice)) {
            if (msg.message != KZ_WM_QUIT) KzDispatchMessage(&msg);
            while (KzPeekMessage(&msg, 0))
                if (msg.message != KZ_WM_QUIT) KzDispatchMessage(&msg);
        }
        ShowLineChanges();
        if (host_) host_->FlushHeld();
        output_.Flush();
    } while (KzGetTickCount() - start < ms);
}

bool Session::WaitFor(const std::function<bool()>& pred, uint32_t ms) {
    const uint32_t start = KzGetTickCount();
    while (!pred()) {
        if (KzGetTickCount() - start >= ms) return pred();
        Pump(kPumpSliceMs);
    }
    return true;
}

bool Session::WaitForNotify(uint32_t code, size_t mark, uint32_t ms) {
    return WaitFor(
        [&] {
            for (const auto& e : host_->Since(mark))
                if (e.channel == "notify" && e.code == code &&
                    (code != KZ_NOTIFY_DEVICE_READY || e.text == "device ready"))
                    return true;
            return false;
        },
        ms);
}

}  // namespace kztool
