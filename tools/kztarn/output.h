// Line output shared by the subcommands. Library threads deliver
// notifications while the main thread may be inside readline: lines are
// queued from any thread and written by the main thread (Flush), which keeps
// the prompt and the half-typed line intact around them.
#pragma once
#include <mutex>
#include <string>
#include <vector>

namespace kztool {

class Output {
public:
    // Any thread: queue one line (without its line end).
    void Post(std::string line);
    // Main thread: write the queued lines to standard output.
    void Flush();
    // Main thread: write a line at once (after anything queued).
    void Print(const std::string& line);
    // Readline owns the terminal line while this is set.
    void SetPromptActive(bool on) { promptActive_ = on; }

private:
    void WriteLines(const std::vector<std::string>& lines);
    std::mutex mutex_;
    std::vector<std::string> pending_;
    bool promptActive_ = false;
};

// Local time of day "hh:mm:ss.mmm" for event lines.
std::string TimeStamp();

}  // namespace kztool
