// The module simulator: pty, thread, line model, link engine, the record of
// what the host sent, and the module's message handling.
#include "module_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "frame_collector.h"
#include "line_model.h"
#include "channel/module_ids.h"
#include "phone.h"
#include "sim_link.h"
#include "sim_protocol.h"

namespace kzsim {

namespace msgid = kz::msgid;
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kReadChunk = 4096;
constexpr size_t kMaxUnreadOutput = 64 * 1024;   // the line drops what nobody reads
constexpr int kNoHostPollMs = 20;                 // serveHosts: how often to look for a host
constexpr int kMaxPollMs = 100;
constexpr uint32_t kSeedOtherDirection = 0x9E3779B9;

// Bytes waiting to cross the line, released at the line's byte rate when
// pacing is on.
struct PacedBytes {
    std::deque<uint8_t> bytes;
    uint64_t nextAtUs = 0;

    void Push(const std::vector<uint8_t>& b, uint64_t nowUs) {
        if (bytes.empty() && nextAtUs < nowUs) {
            nextAtUs = nowUs;
        }
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    // How many bytes may cross by nowUs.
    size_t Due(uint64_t nowUs, bool pace) const {
        if (!pace) {
            return bytes.size();
        }
        if (nowUs < nextAtUs) {
            return 0;
        }
        return std::min<size_t>(bytes.size(), (nowUs - nextAtUs) / ByteTimeUs() + 1);
    }
    void Consumed(size_t n, bool pace) {
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(n));
        if (pace) {
            nextAtUs += static_cast<uint64_t>(n) * ByteTimeUs();
        }
    }
};

std::vector<uint8_t> StatusAndParams(uint8_t status, const std::vector<uint8_t>& extra) {
    std::vector<uint8_t> params;
    params.reserve(extra.size() + 1);
    params.push_back(status);
    for (uint8_t b : extra) {
        params.push_back(b);
    }
    return params;
}

}  // namespace

struct ModuleSimulator::Impl : Outbox {
    explicit Impl(Options o)
        : options(o),
          toHost(o.seed, FaultRates{o.corrupt, o.drop, o.duplicate}),
          fromHost(o.seed ^ kSeedOtherDirection, FaultRates{o.corrupt, o.drop, o.duplicate}),
          link(LinkConfig{o.linkIntervalMs, o.resendMs, o.maxResends},
               [this](const std::vector<uint8_t>& f) { WriteFrame(f); }) {
        phone.SetOutbox(this);
    }

    // ---- Outbox (called with the phone's lock held, never with mu) ----
    void Indication(uint16_t id, const std::vector<uint8_t>& params) override {
        std::lock_guard<std::mutex> lock(mu);
        sentIndications.insert(id);
        QueueLocked(BuildModuleMessage(id, kClassReq2, params));
    }
    void Confirm(uint16_t id, uint8_t status, const std::vector<uint8_t>& extra) override {
        std::lock_guard<std::mutex> lock(mu);
        if (!autoConfirm) {
            return;
        }
        auto it = confirmStatus.find(id);
        QueueLocked(BuildModuleMessage(
            id, currentClass, StatusAndParams(it != confirmStatus.end() ? it->second : status, extra)));
    }

    // ---- state, all under mu unless noted ----
    Options options;
    mutable std::mutex mu;
    std::condition_variable cv;
    LineModel toHost, fromHost;
    LinkEngine link;
    FrameCollector collector;
    PacedBytes outBytes, inBytes;
    std::vector<ReceivedMessage> received;
    std::vector<WireFrame> wire;
    std::map<uint16_t, uint8_t> confirmStatus;
    std::set<uint16_t> sentIndications;
    bool autoConfirm = true;
    bool linkUp = false;
    bool readyPending = false;
    uint8_t currentClass = kClassReq2;   // class of the request being confirmed
    std::function<void(const ReceivedMessage&)> observer;
    Phone phone;   // own lock

    int master = -1, slave = -1, wake = -1;
    bool hostAbsent = true;   // serveHosts: nobody has the line open
    std::string path;
    Clock::time_point start = Clock::now();
    std::thread thread;
    bool running = false;

    uint64_t NowUs() const {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    }
    uint32_t NowMs() const { return static_cast<uint32_t>(NowUs() / 1000); }

    void Wake() {
        if (wake >= 0) {
            const uint64_t one = 1;
            (void)!write(wake, &one, sizeof one);
        }
    }

    void WriteFrame(const std::vector<uint8_t>& frame) {
        wire.push_back(WireFrame{false, NowMs(), frame});
        if (outBytes.bytes.size() < kMaxUnreadOutput) {
            outBytes.Push(toHost.Transfer(frame), NowUs());
        }
    }

    void QueueLocked(std::vector<uint8_t> message, uint8_t channel = bcsp::kChannelModule) {
        link.Queue(LinkPacket{channel, true, std::move(message)}, NowMs());
        Wake();
    }

    bool IsResponse(const std::vector<uint8_t>& m) const {
        return m.size() == kResSize && m[3] == kClassReq2 &&
               (msgid::TakesRes(MessageId(m)) || sentIndications.count(MessageId(m)) != 0);
    }

    void ModuleReadyLocked() {
        const uint8_t* v = options.version;
        const std::vector<uint8_t> params{0, v[0], v[1], v[2], v[3]};
        sentIndications.insert(msgid::kModuleReady);
        QueueLocked(BuildModuleMessage(msgid::kModuleReady, kClassReq2, params));
    }

    // ---- the thread ----
    void Run();
    bool WaitForHost(short revents);
    int PollTimeoutMs();
    void ReadInput();
    void ProcessInput();
    void HandleMessage(const ReceivedMessage& m);
    void FlushOutput();
};

int ModuleSimulator::Impl::PollTimeoutMs() {
    std::lock_guard<std::mutex> lock(mu);
    int timeout = kMaxPollMs;
    const uint32_t now = NowMs();
    if (auto at = link.NextDeadline()) {
        const int32_t d = static_cast<int32_t>(*at - now);
        timeout = std::clamp(d, 0, timeout);
    }
    if (options.pace) {
        // Bytes not yet due set the timeout; due output waits on POLLOUT.
        const uint64_t nowUs = NowUs();
        for (const PacedBytes* q : {&outBytes, &inBytes}) {
            if (q->bytes.empty()) continue;
            const int64_t d = static_cast<int64_t>(q->nextAtUs) - static_cast<int64_t>(nowUs);
            if (d > 0) {
                timeout = std::min<int>(timeout, static_cast<int>(d / 1000) + 1);
            } else if (q == &inBytes) {
                timeout = 0;
            }
        }
    } else if (!inBytes.bytes.empty()) {
        timeout = 0;
    }
    return timeout;
}

void ModuleSimulator::Impl::ReadInput() {
    uint8_t buf[kReadChunk];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            return;
        }
        std::lock_guard<std::mutex> lock(mu);
        inBytes.Push(fromHost.Transfer(std::vector<uint8_t>(buf, buf + n)), NowUs());
    }
}

void ModuleSimulator::Impl::ProcessInput() {
    std::vector<ReceivedMessage> delivered;
    {
        std::lock_guard<std::mutex> lock(mu);
        const size_t due = inBytes.Due(NowUs(), options.pace);
        if (due == 0) {
            return;
        }
        std::vector<uint8_t> bytes(inBytes.bytes.begin(),
                                   inBytes.bytes.begin() + static_cast<long>(due));
        inBytes.Consumed(due, options.pace);
        std::vector<std::vector<uint8_t>> frames;
        collector.Feed(bytes.data(), bytes.size(), frames);
        for (auto& f : frames) {
            const uint32_t now = NowMs();
            wire.push_back(WireFrame{true, now, f});
            LinkEvents ev = link.OnFrame(f, now);
            if (ev.peerReset) {
                linkUp = false;
            }
            if (ev.cameUp) {
                linkUp = true;
                if (readyPending) {
                    readyPending = false;
                    ModuleReadyLocked();
                }
            }
            for (auto& p : ev.delivered) {
                ReceivedMessage m;
                m.id = MessageId(p.payload);
                m.bytes = std::move(p.payload);
                m.channel = p.channel;
                m.reliable = p.reliable;
                m.tickMs = now;
                received.push_back(m);
                delivered.push_back(std::move(m));
            }
        }
    }
    cv.notify_all();
    for (const auto& m : delivered) {
        HandleMessage(m);
    }
    {
        std::lock_guard<std::mutex> lock(mu);
        link.FlushAck();
    }
}

// The module's answer to one message from the host: requests are confirmed
// (by the phone model where it knows them), responses and indication replies
// are not.
void ModuleSimulator::Impl::HandleMessage(const ReceivedMessage& m) {
    std::function<void(const ReceivedMessage&)> obs;
    bool isResponse = false;
    {
        std::lock_guard<std::mutex> lock(mu);
        obs = observer;
        isResponse = IsResponse(m.bytes);
        if (m.bytes.size() > 3) {
            currentClass = m.bytes[3];
        }
    }
    if (obs) {
        obs(m);
    }
    if (!m.reliable || m.channel != bcsp::kChannelModule || m.bytes.size() < kMsgParams ||
        isResponse) {
        return;
    }
    const bool handled = phone.OnRequest(m.id, m.bytes);
    if (!handled && !msgid::TakesReply(m.id)) {
        Confirm(m.id, 0, {});
    }
}

void ModuleSimulator::Impl::FlushOutput() {
    std::lock_guard<std::mutex> lock(mu);
    const size_t due = outBytes.Due(NowUs(), options.pace);
    if (due == 0) {
        return;
    }
    std::vector<uint8_t> bytes(outBytes.bytes.begin(),
                               outBytes.bytes.begin() + static_cast<long>(due));
    const ssize_t n = write(master, bytes.data(), bytes.size());
    if (n > 0) {
        outBytes.Consumed(static_cast<size_t>(n), options.pace);
    } else if (n < 0 && errno == EAGAIN && outBytes.bytes.size() >= kMaxUnreadOutput) {
        outBytes.bytes.clear();   // nobody reads the line: the bytes are lost
    }
}

// With serveHosts: true while no host has the line open (the loop idles
// then); a host that opens it meets a module that has just started.
bool ModuleSimulator::Impl::WaitForHost(short revents) {
    if (revents & POLLHUP) {
        hostAbsent = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kNoHostPollMs));
        return true;
    }
    if (!hostAbsent) {
        return false;
    }
    hostAbsent = false;
    phone.Reset();
    std::lock_guard<std::mutex> lock(mu);
    outBytes.bytes.clear();   // what the last host did not read is gone with it
    linkUp = false;
    readyPending = options.sendModuleReady;
    link.Restart(NowMs());
    return false;
}

void ModuleSimulator::Impl::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mu);
            if (!running) {
                return;
            }
        }
        const int timeout = PollTimeoutMs();
        bool wantWrite = false;
        {
            std::lock_guard<std::mutex> lock(mu);
            wantWrite = outBytes.Due(NowUs(), options.pace) > 0;
        }
        // Output that is due makes the poll also wait for room on the line,
        // so a host that does not read never turns this into a busy loop.
        pollfd fds[2] = {{master, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                         {wake, POLLIN, 0}};
        const int r = poll(fds, 2, timeout);
        if (r < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t v;
            (void)!read(wake, &v, sizeof v);
        }
        if (options.serveHosts && WaitForHost(fds[0].revents)) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            ReadInput();
        }
        ProcessInput();
        {
            std::lock_guard<std::mutex> lock(mu);
            link.Tick(NowMs());
        }
        FlushOutput();
        cv.notify_all();
    }
}

// ---------------------------------------------------------------- public API

ModuleSimulator::ModuleSimulator(Options options) : impl_(std::make_unique<Impl>(options)) {}

ModuleSimulator::~ModuleSimulator() { Stop(); }

bool ModuleSimulator::Start() {
    Impl& s = *impl_;
    if (s.thread.joinable()) {
        return true;
    }
    termios tio{};
    cfmakeraw(&tio);
    char name[256] = {};
    if (openpty(&s.master, &s.slave, name, &tio, nullptr) != 0) {
        return false;
    }
    s.path = name;
    fcntl(s.master, F_SETFL, fcntl(s.master, F_GETFL) | O_NONBLOCK);
    fcntl(s.master, F_SETFD, FD_CLOEXEC);
    fcntl(s.slave, F_SETFD, FD_CLOEXEC);
    if (s.options.serveHosts) {
        close(s.slave);   // the line hangs up whenever the last host closes it
        s.slave = -1;
    }
    s.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.start = Clock::now();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.running = true;
        s.readyPending = s.options.sendModuleReady;
        if (s.options.startLink) {
            s.link.Start(s.NowMs());
        }
    }
    s.thread = std::thread([&s] { s.Run(); });
    return true;
}

void ModuleSimulator::Stop() {
    Impl& s = *impl_;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.running = false;
    }
    s.Wake();
    if (s.thread.joinable()) {
        s.thread.join();
    }
    for (int* fd : {&s.master, &s.slave, &s.wake}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    std::lock_guard<std::mutex> lock(s.mu);
    s.link.Stop();
    s.linkUp = false;
}

std::string ModuleSimulator::DevicePath() const { return impl_->path; }

bool ModuleSimulator::LinkUp() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->linkUp;
}

bool ModuleSimulator::WaitLinkUp(uint32_t ms) {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return impl_->linkUp; });
}

void ModuleSimulator::StartLink() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->link.Start(impl_->NowMs());
    impl_->Wake();
}

LinkStats ModuleSimulator::Stats() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->link.stats();
}

std::vector<ReceivedMessage> ModuleSimulator::Received() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->received;
}

void ModuleSimulator::ClearReceived() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->received.clear();
}

bool ModuleSimulator::WaitForMessage(uint16_t id, uint32_t ms, size_t count) {
    return WaitFor(
        [id, count](const std::vector<ReceivedMessage>& r) {
            return static_cast<size_t>(std::count_if(r.begin(), r.end(), [id](const auto& m) {
                       return m.id == id;
                   })) >= count;
        },
        ms);
}

bool ModuleSimulator::WaitFor(
    const std::function<bool(const std::vector<ReceivedMessage>&)>& pred, uint32_t ms) {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(ms),
                              [&] { return pred(impl_->received); });
}

std::vector<WireFrame> ModuleSimulator::Wire() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->wire;
}

void ModuleSimulator::ClearWire() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->wire.clear();
}

bool ModuleSimulator::WaitOutgoingIdle(uint32_t ms) {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return impl_->link.Idle() && impl_->outBytes.bytes.empty();
    });
}

void ModuleSimulator::SendIndication(uint16_t id, const std::vector<uint8_t>& params,
                                     uint8_t cls) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->sentIndications.insert(id);
    impl_->QueueLocked(BuildModuleMessage(id, cls, params));
}

void ModuleSimulator::SendConfirm(uint16_t id, uint8_t status,
                                  const std::vector<uint8_t>& extra) {
    SendMessage(BuildModuleMessage(id, kClassReq2, StatusAndParams(status, extra)));
}

void ModuleSimulator::SendMessage(const std::vector<uint8_t>& wholeMessage) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->QueueLocked(wholeMessage);
}

void ModuleSimulator::SendUnreliable(const std::vector<uint8_t>& wholeMessage,
                                     uint8_t channel) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->link.SendUnreliable(LinkPacket{channel, false, wholeMessage});
    impl_->Wake();
}

void ModuleSimulator::SendRawBytes(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->outBytes.Push(bytes, impl_->NowUs());
    impl_->Wake();
}

void ModuleSimulator::SetConfirmStatus(uint16_t id, uint8_t status) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->confirmStatus[id] = status;
}

void ModuleSimulator::ClearConfirmStatus(uint16_t id) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->confirmStatus.erase(id);
}

void ModuleSimulator::SetAutoConfirm(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->autoConfirm = on;
}

void ModuleSimulator::SetAcknowledge(bool on) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->link.SetAcknowledge(on);
}

void ModuleSimulator::PeerReset() {
    impl_->phone.Reset();   // a module restart drops the phone's connections
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->linkUp = false;
    impl_->readyPending = impl_->options.sendModuleReady;
    impl_->link.Restart(impl_->NowMs());
    impl_->Wake();
}

void ModuleSimulator::SetObserver(std::function<void(const ReceivedMessage&)> observer) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->observer = std::move(observer);
}

Phone& ModuleSimulator::phone() { return impl_->phone; }

uint32_t ModuleSimulator::NowMs() const { return impl_->NowMs(); }

}  // namespace kzsim
