// `kztarn demo`: a tour of the library against the built-in simulator. Each
// step runs console commands and checks that the notifications it should
// cause arrived; the summary names what worked, and the exit code is 0 only
// when every step did.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "KZ_Tarn.h"
#include "commands.h"
#include "console.h"
#include "demo_tour.h"
#include "session.h"

namespace kztool {

namespace {

// The command of a reaction, with the event's count in place of "{count}".
std::string Expand(const std::string& command, const Event& e) {
    static const std::string kCount = "{count}";
    std::string out = command;
    const size_t at = out.find(kCount);
    if (at != std::string::npos) out.replace(at, kCount.size(), std::to_string(e.Number("count", 0)));
    return out;
}

std::string Because(const std::string& line, const Event& e) {
    return "  > " + line + "   (on: " + e.name + " " + e.text + ")";
}

// Runs the reactions whose event has come (and that are ready).
void React(Session& s, const Step& step, size_t mark, std::vector<bool>& done) {
    for (size_t i = 0; i < step.reactions.size(); ++i) {
        if (done[i] || step.reactions[i].atOnce) continue;
        const Reaction& r = step.reactions[i];
        const auto events = s.host().Since(mark);
        const long at = FirstIndex(events, r.when);
        if (at < 0 || (r.ready && !r.ready(s))) continue;
        done[i] = true;
        const std::string line = Expand(r.command, events[at]);
        s.output().Print(Because(line, events[at]));
        const LineOutcome outcome = RunLine(s, line);
        if (outcome.result != RunResult::kOk) s.output().Print("      " + outcome.message);
    }
}

// Prints the events as they arrive, with the long runs of phonebook entries
// cut short, and runs the current step's at-once reactions.
class TourPrinter {
public:
    explicit TourPrinter(Output& out) : out_(out) {}

    // Main thread: the step whose at-once reactions run from now on.
    void SetStep(Session* session, const Step* step) {
        std::lock_guard<std::mutex> lock(mutex_);
        EndRunLocked();
        session_ = session;
        step_ = step;
        done_.assign(step ? step->reactions.size() : 0, false);
    }

    // On the library's thread that reports the event, before it goes on.
    void OnEvent(const Event& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        Print(e);
        if (!step_ || !session_ || !session_->simulator()) return;
        for (size_t i = 0; i < step_->reactions.size(); ++i) {
            const Reaction& r = step_->reactions[i];
            if (!r.atOnce || done_[i] || !Matches(e, r.when)) continue;
            done_[i] = true;
            const std::string line = Expand(r.command, e);
            out_.Post(Because(line, e));
            const LineOutcome outcome = RunPhoneLine(*session_->simulator(), line);
            if (outcome.result != RunResult::kOk) out_.Post("      " + outcome.message);
        }
    }

private:
    static constexpr long kShownPerRun = 4;   // entries shown at the start of a run

    // A run is a series of phonebook entries (with their further numbers);
    // its first entries and the list's last one are shown, the rest counted.
    void Print(const Event& e) {
        const bool entry = e.name == "contact";
        if (!entry && !(e.name == "number" && inRun_)) EndRunLocked();
        bool show = true;
        if (entry) {
            const long index = e.Number("index"), total = e.Number("total");
            show = runLength_ < kShownPerRun || index + 1 == total;
            if (index + 1 == total) EndRunLocked();
            ++runLength_;
            inRun_ = true;
            if (!show) {
                if (hiddenFirst_ < 0) hiddenFirst_ = index;
                hiddenLast_ = index;
                hiddenTotal_ = total;
            }
            lastEntryShown_ = show;
        } else if (e.name == "number" && inRun_) {
            show = lastEntryShown_;
        }
        if (show) out_.Post(e.Line(TimeStamp()));
    }

    void EndRunLocked() {
        if (hiddenFirst_ >= 0) {
            const std::string of = hiddenTotal_ > 0 ? "/" + std::to_string(hiddenTotal_) : "";
            out_.Post("         ... contacts " + std::to_string(hiddenFirst_ + 1) + of + " to " +
                      std::to_string(hiddenLast_ + 1) + of);
        }
        hiddenFirst_ = hiddenLast_ = -1;
        inRun_ = false;
        runLength_ = 0;
    }

    Output& out_;
    std::mutex mutex_;
    Session* session_ = nullptr;
    const Step* step_ = nullptr;
    std::vector<bool> done_;
    bool inRun_ = false;
    bool lastEntryShown_ = true;
    long runLength_ = 0;
    long hiddenFirst_ = -1, hiddenLast_ = -1, hiddenTotal_ = 0;
};

// Runs the step's commands (each waits for its own confirmation), then
// waits for the wanted events, reacting to events on the way. Returns what
// is missing ("" = all there).
std::string RunStep(Session& s, const Step& step, const Marks& marks) {
    for (const char* line : step.commands) {
        s.output().Print("  > " + std::string(line));
        const CommandMarks before = MarksNow(s);
        const LineOutcome r = RunLine(s, line);
        if (r.result != RunResult::kOk) return std::string("'") + line + "': " + r.message;
        if (!AwaitExpect(s, r.expect, before, kStepTimeoutMs))
            return std::string("'") + line + "' was not confirmed";
        if (!r.message.empty()) s.output().Print(r.message);
    }
    std::vector<bool> reacted(step.reactions.size(), false);
    std::string missing;
    for (const auto& w : step.wants) {
        const bool seen = s.WaitFor(
            [&] {
                React(s, step, marks.host, reacted);
                return Seen(s, marks.host, w);
            },
            kWantTimeoutMs);
        if (!seen) missing += std::string(missing.empty() ? "" : ", ") + w.name + " " + w.text;
    }
    if (!missing.empty()) return "missing: " + missing;
    if (step.check && !step.check(s, marks)) return "did not happen";
    return "";
}

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> opts;
    std::string error;
    if (auto exit = ReadCommandLine("demo", args, {{"--root", true}, {"--trace", true}, {"--help", false}},
                                    "usage: kztarn demo [--root DIR] [--trace FILE]", opts))
        return *exit;
    SessionOptions so;
    HasOption(opts, "--trace", &so.trace);
    // A fresh folder per run, so the tour starts unpaired with the default
    // settings: a temporary one, or a new one inside the given folder (kept
    // there for a look at the files afterwards).
    std::string tempRoot, given;
    const bool keep = HasOption(opts, "--root", &given);
    if (keep && !PrepareRoot(given, error)) {
        std::fprintf(stderr, "kztarn demo: %s\n", error.c_str());
        return kExitFailure;
    }
    std::string pattern = (keep ? given : std::string("/tmp")) + "/kztarn-demo-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "kztarn demo: cannot create a folder in %s: %s\n", keep ? given.c_str() : "/tmp",
                     std::strerror(errno));
        return kExitFailure;
    }
    so.root = pattern;
    if (!keep) tempRoot = pattern;
    Output out;
    TourPrinter printer(out);
    so.quiet = true;   // the tour's printer shows the events
    so.onEvent = [&printer](const Event& e) { printer.OnEvent(e); };
    Session session(out);
    out.Print("KZ_Tarn demo: the library against the built-in module simulator" +
              (keep ? ", files in " + so.root : std::string()));
    if (!session.Open(so, error)) {
        std::fprintf(stderr, "kztarn demo: %s\n", error.c_str());
        return kExitFailure;
    }
    SetUpTourPhone(session.simulator()->phone());
    std::vector<std::pair<const char*, std::string>> results;
    int number = 0;
    Marks marks;   // the first steps look at the start-up
    for (const auto& step : Tour()) {
        ++number;
        out.Print("== " + std::to_string(number) + ". " + step.capability);
        if (!step.commands.empty()) marks = {session.host().Mark(), session.simulator()->Received().size()};
        printer.SetStep(&session, &step);
        const std::string problem = RunStep(session, step, marks);
        printer.SetStep(&session, nullptr);
        out.Print(problem.empty() ? "   ok" : "   FAILED: " + problem);
        results.emplace_back(step.capability, problem);
        if (!problem.empty() && step.essential) {
            out.Print("   the rest of the tour needs this step: stopping");
            break;
        }
    }
    session.Close();
    size_t passed = 0;
    out.Print("\nsummary:");
    for (const auto& [capability, problem] : results) {
        out.Print(std::string(problem.empty() ? "  ok      " : "  FAILED  ") + capability);
        if (problem.empty()) ++passed;
    }
    out.Print(std::to_string(passed) + " of " + std::to_string(Tour().size()) + " steps passed");
    std::error_code ignored;
    if (!tempRoot.empty()) std::filesystem::remove_all(tempRoot, ignored);
    return passed == Tour().size() ? kExitOk : kExitFailure;
}

}  // namespace kztool
