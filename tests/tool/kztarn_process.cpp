#include "kztarn_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kztooltest {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

void ApplyEnv(const std::vector<std::string>& env) {
    for (const auto& e : env) putenv(strdup(e.c_str()));
}

int Reap(int pid, unsigned timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(5000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string KztarnPath() { return KZTARN_EXE; }

RunResult RunKztarn(const std::vector<std::string>& args, const std::string& input, unsigned timeoutMs,
                    const std::vector<std::string>& env) {
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) return {};
    const std::string program = KztarnPath();
    auto argv = Argv(program, args);
    const int pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        ApplyEnv(env);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    RunResult r;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && Clock::now() < deadline) {
        if (poll(fds, 2, 50) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    const auto left = deadline - Clock::now();
    r.exitCode = Reap(pid, static_cast<unsigned>(std::max<long>(
                               0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count())));
    return r;
}

PtyProcess::PtyProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& env) {
    auto argv = Argv(program, args);
    winsize size{};
    size.ws_row = 50;
    size.ws_col = 200;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
        ApplyEnv(env);
        setenv("TERM", "dumb", 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

PtyProcess::~PtyProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
}

void PtyProcess::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

void PtyProcess::Type(const std::string& keys) {
    if (write(master_, keys.data(), keys.size()) < 0) {
    }
}

void PtyProcess::ReadAvailable(int waitMs) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return;
    char buf[4096];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) screen_.append(buf, static_cast<size_t>(n));
}

bool PtyProcess::WaitFor(const std::string& text, unsigned timeoutMs, const std::string& after) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto seen = [&] {
        const size_t from = after.empty() ? 0 : screen_.find(after);
        return from != std::string::npos && screen_.find(text, from + after.size()) != std::string::npos;
    };
    while (!seen()) {
        if (Clock::now() > deadline) return false;
        ReadAvailable(20);
    }
    return true;
}

int PtyProcess::Wait(unsigned timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) return -1;
        ReadAvailable(20);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/kztarn_test_XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
    std::ofstream(File(name)) << content;
}

}  // namespace kztooltest
