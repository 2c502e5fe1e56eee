// `kztarn console`: the library on the main thread's message loop, commands
// from readline (interactive) or from a script, events printed as they come.
#include "console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "commands.h"
#include "kz_platform.h"
#include "session.h"

#ifdef KZ_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace kztool {

namespace {

constexpr uint32_t kCommandTimeoutMs = 5000;
constexpr uint32_t kLoopSliceMs = 10;
constexpr char kPrompt[] = "kztarn> ";
constexpr int kHistoryLines = 500;
constexpr char kUsage[] =
    "usage: kztarn console [--json] [--verbose] [--port DEV] [--root DIR] [--trace FILE]\n"
    "                      [--script FILE] [--timeout SECONDS] [--quiet] [--scenario FILE]";

const std::vector<OptionDef> kOptions = {
    {"--json", false},  {"--port", true},    {"--root", true},   {"--trace", true},   {"--script", true},
    {"--timeout", true}, {"--quiet", false}, {"--verbose", false}, {"--help", false}, {"--scenario", true},
};

// Informational lines: standard error when standard output carries JSON.
struct Notes {
    Output& out;
    bool json;
    void operator()(const std::string& line) const {
        if (json) {
            out.Flush();
            std::fprintf(stderr, "%s\n", line.c_str());
        } else {
            out.Print(line);
        }
    }
};

// Set by SIGTERM (and SIGINT in a script): the console closes the library
// and leaves. SIGINT at the prompt only clears the typed line.
volatile std::sig_atomic_t g_terminate = 0;
volatile std::sig_atomic_t g_interrupt = 0;
void OnTerminate(int) { g_terminate = 1; }
void OnInterrupt(int) { g_interrupt = 1; }

bool IsWait(const std::string& line) {
    const Args words = SplitLine(line);
    return !words.empty() && words[0] == "wait";
}

// Runs one line and waits for its outcome, which is shown (a JSON line with
// --json). since: where `wait` looks from (the previous command's start).
// Returns false when the command failed.
// failure: what went wrong, already shown when it is an outcome; a usage
// error is left to the caller to show.
bool RunAndReport(Session& s, const Notes& note, const std::string& line, const CommandMarks& since,
                  uint32_t budgetMs, bool& quit, std::string& failure, bool& shown, bool showFailure = true) {
    shown = false;
    const CommandMarks before = IsWait(line) ? since : MarksNow(s);
    const LineOutcome outcome = RunLine(s, line);
    if (outcome.result == RunResult::kQuit) {
        quit = true;
        return true;
    }
    if (outcome.result != RunResult::kOk && outcome.result != RunResult::kFailed) {
        failure = outcome.message;
        return false;
    }
    if (outcome.result == RunResult::kOk && !outcome.message.empty()) note(outcome.message);
    CommandOutcome result;
    if (outcome.result == RunResult::kFailed) {
        result.ok = false;
        result.text = outcome.message;
    } else {
        const Expect& e = outcome.expect;
        result = AwaitOutcome(s, outcome.command, e, before, e.sleepMs ? std::max(e.sleepMs, budgetMs) : budgetMs);
        if (IsWait(line) && !result.ok) result.text = "'" + line + "' not confirmed within " +
                                                      std::to_string((budgetMs + 999) / 1000) + " s";
    }
    if (!result.text.empty()) {
        s.host().Log(OutcomeEvent(outcome.command, result), note.json);
        if (!note.json && (result.ok || showFailure)) note(result.text);
        shown = result.ok || showFailure;
    }
    if (!result.ok) failure = result.text;
    return result.ok;
}

// ------------------------------------------------------------------ script

// Every line's name and argument count, each bad line with its own message.
bool CheckScript(std::istream& in, const std::string& name) {
    bool good = true;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        const std::string problem = CheckLine(line);
        if (!problem.empty()) {
            std::fprintf(stderr, "kztarn console: %s: line %d: %s\n", name.c_str(), number, problem.c_str());
            good = false;
        }
    }
    return good;
}

int RunScript(Session& session, std::istream& in, const Notes& note, uint32_t totalMs) {
    const uint32_t start = KzGetTickCount();
    CommandMarks previous = MarksNow(session);
    std::string line;
    int number = 0;
    while (std::getline(in, line) && !g_terminate && !g_interrupt) {
        ++number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        const uint32_t elapsed = KzGetTickCount() - start;
        if (elapsed >= totalMs) {
            note("kztarn: timed out after " + std::to_string(totalMs / 1000) + " s at line " +
                 std::to_string(number) + ": " + line);
            return kExitFailure;
        }
        note("> " + line);
        const CommandMarks began = MarksNow(session);
        bool quit = false;
        std::string failure;
        bool shown = false;
        const uint32_t budget = std::min(kCommandTimeoutMs, totalMs - elapsed);
        if (!RunAndReport(session, note, line, previous, budget, quit, failure, shown, false)) {
            note("kztarn: line " + std::to_string(number) + ": " + failure);
            return kExitFailure;
        }
        if (quit) return kExitOk;
        // Waits in a row all look back to the last command's start.
        if (!IsWait(line)) previous = began;
    }
    session.Pump(0);
    if (g_terminate || g_interrupt) {
        note("kztarn: stopped by a signal at line " + std::to_string(number));
        return kExitFailure;
    }
    return kExitOk;
}

// ------------------------------------------------------------- interactive

struct Interactive {
    Session* session = nullptr;
    const Notes* note = nullptr;
    bool quit = false;
    CommandMarks previous;
};
Interactive g_interactive;

void HandleLine(const std::string& text) {
    Session& s = *g_interactive.session;
    const CommandMarks began = MarksNow(s);
    std::string failure;
    bool shown = false;
    if (!RunAndReport(s, *g_interactive.note, text, g_interactive.previous, kCommandTimeoutMs,
                      g_interactive.quit, failure, shown) && !shown)
        (*g_interactive.note)(failure);
    if (!SplitLine(text).empty() && !IsWait(text)) g_interactive.previous = began;
}

#ifdef KZ_HAVE_READLINE
std::vector<std::string> g_choices;

char* CompletionGenerator(const char* text, int state) {
    static size_t index = 0;
    if (state == 0) index = 0;
    const std::string prefix = text;
    while (index < g_choices.size()) {
        const std::string& c = g_choices[index++];
        if (c.compare(0, prefix.size(), prefix) == 0) return strdup(c.c_str());
    }
    return nullptr;
}

char** Complete(const char* text, int start, int) {
    rl_attempted_completion_over = 1;   // no file-name completion
    g_choices.clear();
    if (start == 0) {
        for (const auto& c : Commands()) g_choices.push_back(c.name);
    } else {
        g_choices = ArgumentWords(std::string(rl_line_buffer, static_cast<size_t>(start)));
    }
    return rl_completion_matches(text, CompletionGenerator);
}

void OnReadlineLine(char* line) {
    if (!line) {
        g_interactive.quit = true;
        return;
    }
    std::string text = line;
    std::free(line);
    if (text.find_first_not_of(" \t") != std::string::npos) add_history(text.c_str());
    Output& out = g_interactive.session->output();
    out.SetPromptActive(false);
    HandleLine(text);
    out.SetPromptActive(!g_interactive.quit);
    // Leaving: no prompt after the last command.
    if (g_interactive.quit) rl_callback_handler_remove();
}
#endif

int RunInteractive(Session& session, const Notes& note) {
    g_interactive = Interactive{&session, &note, false, MarksNow(session)};
    Output& out = session.output();
#ifdef KZ_HAVE_READLINE
    // History survives the session, in the root folder.
    const std::string historyFile = std::string(KzGetRootDir()) + "/console_history";
    read_history(historyFile.c_str());
    rl_attempted_completion_function = Complete;
    rl_catch_signals = 0;   // the console's own handlers decide what Ctrl-C does
    // With --json standard output carries JSON lines only: the prompt and the
    // typed line go to standard error, the terminal.
    FILE* terminal = note.json ? stderr : stdout;
    rl_outstream = terminal;
    rl_callback_handler_install(kPrompt, OnReadlineLine);
    out.SetPromptActive(true);
#else
    std::string pending;
    FILE* terminal = note.json ? stderr : stdout;
    std::fputs(kPrompt, terminal);
    std::fflush(terminal);
#endif
    while (!g_interactive.quit && !g_terminate) {
        session.Pump(kLoopSliceMs);
        if (g_interrupt) {
            g_interrupt = 0;
#ifdef KZ_HAVE_READLINE
            // Ctrl-C clears a typed line; on an empty line it leaves.
            if (rl_end == 0) break;
            out.SetPromptActive(false);
            rl_replace_line("", 0);
            rl_crlf();
            rl_on_new_line();
            rl_redisplay();
            out.SetPromptActive(true);
            continue;
#else
            break;
#endif
        }
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        if (poll(&pfd, 1, 0) <= 0) continue;
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL) && !(pfd.revents & POLLIN)) break;
#ifdef KZ_HAVE_READLINE
        // Ctrl-D typed while a command ran (the terminal then in its normal
        // mode) is an end of file with no byte to read: leave as readline would.
        int available = 0;
        if (ioctl(STDIN_FILENO, FIONREAD, &available) == 0 && available == 0) break;
        rl_callback_read_char();
#else
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            HandleLine(pending.substr(0, nl));
            pending.erase(0, nl + 1);
            if (!g_interactive.quit) {
                std::fputs(kPrompt, terminal);
                std::fflush(terminal);
            }
        }
#endif
    }
#ifdef KZ_HAVE_READLINE
    out.SetPromptActive(false);
    rl_callback_handler_remove();
    write_history(historyFile.c_str());
    history_truncate_file(historyFile.c_str(), kHistoryLines);
    std::fputc('\n', terminal);
#endif
    return kExitOk;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
                  std::vector<std::pair<std::string, std::string>>& values, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const OptionDef* def = nullptr;
        for (const auto& s : defs)
            if (args[i] == s.name) def = &s;
        if (!def) {
            error = args[i].rfind("-", 0) == 0 ? "unknown option '" + args[i] + "'"
                                               : "unexpected argument '" + args[i] + "'";
            return false;
        }
        if (def->takesValue) {
            if (i + 1 >= args.size()) {
                error = "option '" + args[i] + "' needs a value";
                return false;
            }
            values.emplace_back(args[i], args[i + 1]);
            ++i;
        } else {
            values.emplace_back(args[i], "");
        }
    }
    return true;
}

bool HasOption(const std::vector<std::pair<std::string, std::string>>& values, const std::string& name,
               std::string* value) {
    for (const auto& [k, v] : values)
        if (k == name) {
            if (value) *value = v;
            return true;
        }
    return false;
}

std::optional<int> ReadCommandLine(const char* subcommand, const std::vector<std::string>& args,
                                   const std::vector<OptionDef>& defs, const char* usage,
                                   std::vector<std::pair<std::string, std::string>>& values) {
    std::string error;
    if (!ParseOptions(args, defs, values, error)) {
        std::fprintf(stderr, "kztarn %s: %s\n%s\n", subcommand, error.c_str(), usage);
        return kExitUsage;
    }
    if (HasOption(values, "--help")) {
        std::printf("%s\n", usage);
        return kExitOk;
    }
    return std::nullopt;
}

int RunConsole(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> opts;
    if (auto exit = ReadCommandLine("console", args, kOptions, kUsage, opts)) return *exit;
    std::string error;
    SessionOptions so;
    so.json = HasOption(opts, "--json");
    so.quiet = HasOption(opts, "--quiet");
    so.verbose = HasOption(opts, "--verbose");
    HasOption(opts, "--port", &so.port);
    HasOption(opts, "--root", &so.root);
    HasOption(opts, "--trace", &so.trace);
    HasOption(opts, "--scenario", &so.scenario);
    std::string scriptPath, timeoutText;
    HasOption(opts, "--script", &scriptPath);
    uint32_t totalMs = UINT32_MAX;
    if (HasOption(opts, "--timeout", &timeoutText)) {
        char* end = nullptr;
        const double seconds = std::strtod(timeoutText.c_str(), &end);
        if (*end != '\0' || seconds <= 0 || seconds > 86400) {
            std::fprintf(stderr, "kztarn console: --timeout takes a number of seconds, not '%s'\n%s\n",
                         timeoutText.c_str(), kUsage);
            return kExitUsage;
        }
        totalMs = static_cast<uint32_t>(seconds * 1000);
    }
    std::ifstream script;
    if (!scriptPath.empty()) {
        script.open(scriptPath);
        if (!script) {
            std::fprintf(stderr, "kztarn console: cannot read the script %s\n", scriptPath.c_str());
            return kExitFailure;
        }
        // A mistyped line fails the script before anything is sent.
        if (!CheckScript(script, scriptPath)) return kExitFailure;
        script.clear();
        script.seekg(0);
    }

    Output out;
    Session session(out);
    const Notes note{out, so.json};
    const bool interactive = scriptPath.empty() && isatty(STDIN_FILENO);
    // The banner comes before the start-up events it introduces.
    if (interactive)
        note("kztarn console: " + (so.port.empty() ? std::string("built-in module simulator") : "module on " + so.port) +
             ", files in " + (so.root.empty() ? DefaultRoot() : so.root) + "; type 'help' for the commands");
    std::signal(SIGTERM, OnTerminate);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGHUP, OnTerminate);
    if (!session.Open(so, error)) {
        std::fprintf(stderr, "kztarn console: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!session.ready())
        note("kztarn console: warning: the module has not reported ready yet");

    int rc = kExitOk;
    if (!scriptPath.empty()) rc = RunScript(session, script, note, totalMs);
    else if (!interactive) rc = RunScript(session, std::cin, note, totalMs);
    else rc = RunInteractive(session, note);
    session.Close();
    return rc;
}

}  // namespace kztool
