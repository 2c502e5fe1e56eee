#include "kztarn_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/test_support.h"

namespace kztooltest {

std::string KztarnPath() { return KZTARN_EXE; }

Kztarn::Kztarn(const std::vector<std::string>& args, Stdout out, const std::string& program) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int piped[2] = {-1, -1};
    if (out == Stdout::kPipe && pipe2(piped, O_CLOEXEC) != 0) return;
    winsize size{50, 200, 0, 0};
    pid_ = forkpty(&terminal_, nullptr, nullptr, &size);
    if (pid_ == 0) {
        if (piped[1] >= 0) dup2(piped[1], STDOUT_FILENO);
        setenv("TERM", "dumb", 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    // Later children must not hold this terminal open: its hang-up is news.
    fcntl(terminal_, F_SETFD, FD_CLOEXEC);
    if (piped[1] >= 0) close(piped[1]);
    pipe_ = piped[0];
}

Kztarn::~Kztarn() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(terminal_), close(pipe_);   // -1 when closed already: nothing to do
}

void Kztarn::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);   // never -1: that is every process
}

void Kztarn::Type(const std::string& keys) { [[maybe_unused]] auto n = write(terminal_, keys.data(), keys.size()); }

// Reads what the terminal and the pipe hold; a closed end is closed here.
void Kztarn::Read(int waitMs) {
    pollfd fds[2] = {{terminal_, POLLIN, 0}, {pipe_, POLLIN, 0}};
    if (poll(fds, 2, waitMs) <= 0) return;
    for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        int& fd = i == 0 ? terminal_ : pipe_;
        if (n > 0) (i == 0 ? screen_ : out_).append(buf, static_cast<size_t>(n));
        else close(fd), fd = -1;
    }
}

bool Kztarn::WaitFor(const std::string& text, unsigned timeoutMs, const std::string& after) {
    const auto seen = [&] {
        const size_t from = after.empty() ? from_ : screen_.find(after, from_);
        return from != std::string::npos && screen_.find(text, from + after.size()) != std::string::npos;
    };
    return kztest::PollUntil(seen, timeoutMs, [&] { Read(20); });
}

bool Kztarn::Command(const std::string& line, unsigned timeoutMs) {
    Mark();
    Type(line + "\r");
    return WaitFor("kztarn> ", timeoutMs, line);
}

int Kztarn::Wait(unsigned timeoutMs) {
    int status = 0;
    if (!kztest::PollUntil([&] { return waitpid(pid_, &status, WNOHANG) != 0; }, timeoutMs, [&] { Read(20); }))
        return -1;
    pid_ = -1;
    kztest::PollUntil([&] { return terminal_ < 0 && pipe_ < 0; }, 2000, [&] { Read(20); });
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Ended RunKztarn(const std::vector<std::string>& args, unsigned timeoutMs) {
    Kztarn k(args);
    return {k.Wait(timeoutMs), k.Screen()};
}

int Shell(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    for (char buf[4096]; p && std::fgets(buf, sizeof buf, p);)
        if (out) *out += buf;
    const int status = p ? pclose(p) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/kztarn_test_XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "/nonexistent";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(File(name)).parent_path());
    std::ofstream(File(name)) << content;
}

}  // namespace kztooltest
