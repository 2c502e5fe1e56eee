// kztarn as a user meets it: on a pseudo-terminal that is its standard input,
// output and error, or with standard output to a pipe while the terminal
// stays (a user piping --json to another program).
#pragma once
#include <string>
#include <vector>

namespace kztooltest {

std::string KztarnPath();

class Kztarn {
public:
    enum class Stdout { kTerminal, kPipe };
    explicit Kztarn(const std::vector<std::string>& args, Stdout out = Stdout::kTerminal,
                    const std::string& program = KztarnPath());
    ~Kztarn();
    void Type(const std::string& keys);
    void Signal(int signal);
    // Reads until the terminal shows text since the last Mark() (after the
    // first `after` there, when given).
    bool WaitFor(const std::string& text, unsigned timeoutMs = 10000, const std::string& after = "");
    // Types a line at the prompt and waits for the next prompt.
    bool Command(const std::string& line, unsigned timeoutMs = 10000);
    void Mark() { from_ = screen_.size(); }
    const std::string& Screen() const { return screen_; }
    const std::string& Out() const { return out_; }   // standard output, when piped
    // Waits for the exit and the last output; -1 when it had to be killed.
    int Wait(unsigned timeoutMs = 10000);

private:
    void Read(int waitMs);
    int pid_ = -1, terminal_ = -1, pipe_ = -1;
    std::string screen_, out_;
    size_t from_ = 0;
};

// Runs kztarn to its end on a terminal with nothing typed.
struct Ended { int exitCode; std::string screen; };
Ended RunKztarn(const std::vector<std::string>& args, unsigned timeoutMs = 30000);

// Runs a shell command: its exit code (-1: killed), its standard output in *out.
int Shell(const std::string& command, std::string* out = nullptr);

// A fresh temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& content) const;   // with its folders

private:
    std::string path_;
};

}  // namespace kztooltest
