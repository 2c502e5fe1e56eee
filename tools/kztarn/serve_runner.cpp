#include "serve_runner.h"

#include "kz_platform.h"
#include "phone.h"
#include "session.h"

namespace kztool {

std::future<ServeReply> CommandRunner::Submit(ApiCommand command) {
    Job job{std::move(command), {}};
    auto future = job.done.get_future();
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) job.done.set_value({503, false, "the server is stopping"});
    else queued_.push_back(std::move(job));
    return future;
}

void CommandRunner::Poll() {
    std::vector<Job> jobs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs.swap(queued_);
    }
    for (auto& job : jobs) Start(job);
    const uint32_t now = KzGetTickCount();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (ExpectSatisfied(session_, it->expect, it->hostMark, it->simMark)) {
            it->done.set_value({200, true, "confirmed"});
        } else if (static_cast<int32_t>(now - it->deadline) >= 0) {
            it->done.set_value({504, false, "not confirmed within " + std::to_string(kConfirmMs / 1000) + " s"});
        } else {
            ++it;
            continue;
        }
        it = pending_.erase(it);
    }
}

void CommandRunner::Abandon() {
    Poll();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    Poll();
    for (auto& p : pending_) p.done.set_value({503, false, "the server is stopping"});
    pending_.clear();
}

ServeReply CommandRunner::RunServeCommand(const ApiCommand& command) {
    kzsim::ModuleSimulator* sim = session_.simulator();
    if (!sim) return {409, false, command.name + ": needs the built-in simulator"};
    // "phone contact NAME NUMBER": the simulated phone gets one more contact.
    auto contacts = sim->phone().contacts();
    contacts.push_back({command.args[0], "", command.args[0], {{"CELL", command.args[1]}}});
    sim->phone().setContacts(contacts);
    return {200, true, "the phone has " + std::to_string(contacts.size()) + " contacts"};
}

void CommandRunner::Start(Job& job) {
    if (IsServeCommand(job.command)) {
        job.done.set_value(RunServeCommand(job.command));
        return;
    }
    const size_t hostMark = session_.host().Mark();
    const size_t simMark = session_.simulator() ? session_.simulator()->Received().size() : 0;
    const LineOutcome outcome = RunLine(session_, ConsoleLine(job.command));
    switch (outcome.result) {
        case RunResult::kOk: break;
        case RunResult::kUsage:
        case RunResult::kUnknown:
            job.done.set_value({400, false, outcome.message});
            return;
        default:
            job.done.set_value({409, false, outcome.message});
            return;
    }
    if (outcome.expect.Empty() || outcome.expect.sleepMs) {
        job.done.set_value({200, true, outcome.message.empty() ? "done" : outcome.message});
        return;
    }
    pending_.push_back({job.command.name, outcome.expect, hostMark, simMark,
                        KzGetTickCount() + kConfirmMs, std::move(job.done)});
}

}  // namespace kztool
