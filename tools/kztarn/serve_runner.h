// Runs the page's commands on the thread of the library's message loop, as
// the library wants its exports called. HTTP threads submit a checked command
// and wait for its outcome; the loop starts it and then watches, without
// blocking, for the effect that confirms it (the same confirmation the
// console's scripts wait for), for at most kConfirmMs.
#pragma once
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "serve_api.h"

namespace kztool {

class Session;

struct ServeReply {
    int status = 200;      // HTTP status: 200 done, 400 bad arguments, 409 refused, 504 not confirmed
    bool ok = true;
    std::string message;
};

class CommandRunner {
public:
    static constexpr uint32_t kConfirmMs = 5000;

    explicit CommandRunner(Session& session) : session_(session) {}

    // Any thread: queues a checked command; the future has its outcome.
    std::future<ServeReply> Submit(ApiCommand command);
    // Loop thread: starts queued commands and settles the confirmed and the
    // overdue ones. Call often.
    void Poll();
    // Loop thread: settles everything left and refuses what comes later
    // (the server is stopping).
    void Abandon();

private:
    struct Job {
        ApiCommand command;
        std::promise<ServeReply> done;
    };
    struct Pending {
        std::string name;
        Expect expect;
        size_t hostMark = 0, simMark = 0;
        uint32_t deadline = 0;
        std::promise<ServeReply> done;
    };
    void Start(Job& job);
    ServeReply RunServeCommand(const ApiCommand& command);

    Session& session_;
    std::mutex mutex_;
    std::vector<Job> queued_;
    bool stopping_ = false;
    std::vector<Pending> pending_;   // loop thread only
};

}  // namespace kztool
