#include "serve_runner.h"

#include "commands.h"
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
    for (auto& job : jobs) job.done.set_value(Run(job.command));
}

void CommandRunner::Abandon() {
    std::vector<Job> jobs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        jobs.swap(queued_);
    }
    for (auto& job : jobs) job.done.set_value({503, false, "the server is stopping"});
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

ServeReply CommandRunner::Run(const ApiCommand& command) {
    if (IsServeCommand(command)) return RunServeCommand(command);
    const CommandMarks marks = MarksNow(session_);
    const LineOutcome line = RunLine(session_, ConsoleLine(command));
    switch (line.result) {
        case RunResult::kOk: break;
        case RunResult::kUsage:
        case RunResult::kUnknown: return {400, false, line.message};
        default: return {409, false, line.message};
    }
    const std::string name = line.command.empty() ? command.name : line.command;
    const CommandOutcome outcome = AwaitOutcome(session_, name, line.expect, marks, kConfirmMs);
    // Other pages (and the log) see the outcome among the events.
    session_.host().Log(OutcomeEvent(name, outcome), false);
    std::string message = outcome.text.empty() ? name + " ok" : outcome.text;
    if (!line.message.empty() && outcome.ok) message += ": " + line.message;
    return {outcome.ok ? 200 : 409, outcome.ok, message};
}

}  // namespace kztool
