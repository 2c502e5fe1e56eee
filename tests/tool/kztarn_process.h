// Runs the kztarn program for the tool's tests: with pipes (standard input
// given, output captured, exit code) or on a pseudo-terminal (typed keys,
// screen text read as it comes).
#pragma once
#include <string>
#include <vector>

namespace kztooltest {

std::string KztarnPath();

struct RunResult {
    int exitCode = -1;      // -1: killed after the timeout
    std::string out, err;
};

// Runs `kztarn args...` with the given standard input; kills it after
// timeoutMs. Extra environment entries are "NAME=value".
RunResult RunKztarn(const std::vector<std::string>& args, const std::string& input = "",
                    unsigned timeoutMs = 30000, const std::vector<std::string>& env = {});

// A program on a pseudo-terminal.
class PtyProcess {
public:
    PtyProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {});
    ~PtyProcess();
    bool Started() const { return pid_ > 0; }
    void Type(const std::string& keys);
    void Signal(int signal);
    // Reads until the screen text since the last Clear() contains text (after
    // the first occurrence of after, when given).
    bool WaitFor(const std::string& text, unsigned timeoutMs = 10000, const std::string& after = "");
    const std::string& Screen() const { return screen_; }
    void Clear() { screen_.clear(); }
    // Waits for the exit; -1 when it had to be killed.
    int Wait(unsigned timeoutMs = 10000);

private:
    void ReadAvailable(int waitMs);
    int pid_ = -1;
    int master_ = -1;
    std::string screen_;
};

// A fresh temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

}  // namespace kztooltest
