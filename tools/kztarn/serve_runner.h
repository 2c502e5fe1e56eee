// Runs the page's commands on the thread of the library's message loop, as
// the library wants its exports called. HTTP threads submit a checked command
// and wait for its reply; the loop runs one command at a time and waits for
// its outcome as the console does (the module's confirmation and status, a
// notification, or the stored value read back), for at most kConfirmMs,
// with the library's events flowing meanwhile.
#pragma once
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "serve_api.h"

namespace kztool {

class Session;

struct ServeReply {
    int status = 200;      // HTTP status: 200 done, 400 bad arguments, 409 refused or failed
    bool ok = true;
    std::string message;
};

class CommandRunner {
public:
    static constexpr uint32_t kConfirmMs = 5000;

    explicit CommandRunner(Session& session) : session_(session) {}

    // Any thread: queues a checked command; the future has its reply.
    std::future<ServeReply> Submit(ApiCommand command);
    // Loop thread: runs the queued commands, each until its outcome shows.
    void Poll();
    // Loop thread: refuses what is queued and what comes later (the server
    // is stopping).
    void Abandon();

private:
    struct Job {
        ApiCommand command;
        std::promise<ServeReply> done;
    };
    ServeReply Run(const ApiCommand& command);
    ServeReply RunServeCommand(const ApiCommand& command);

    Session& session_;
    std::mutex mutex_;
    std::vector<Job> queued_;
    bool stopping_ = false;
};

}  // namespace kztool
