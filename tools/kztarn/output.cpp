#include "output.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "event.h"

#ifdef KZ_HAVE_READLINE
#include <readline/readline.h>
#endif

namespace kztool {

void Output::Post(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(line));
}

void Output::Flush() {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines.swap(pending_);
    }
    if (!lines.empty()) WriteLines(lines);
}

void Output::Print(const std::string& line) {
    Flush();
    WriteLines({line});
}

void Output::WriteLines(const std::vector<std::string>& lines) {
#ifdef KZ_HAVE_READLINE
    // Moves the prompt and the typed text below the printed lines.
    char* saved = nullptr;
    int point = 0;
    if (promptActive_) {
        point = rl_point;
        saved = rl_copy_text(0, rl_end);
        rl_save_prompt();
        rl_replace_line("", 0);
        rl_redisplay();
        std::fputs("\r\033[K", rl_outstream ? rl_outstream : stdout);
        if (rl_outstream) std::fflush(rl_outstream);
    }
#endif
    for (const auto& l : lines) {
        std::fputs(l.c_str(), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
#ifdef KZ_HAVE_READLINE
    if (promptActive_) {
        rl_restore_prompt();
        rl_replace_line(saved ? saved : "", 0);
        rl_point = point;
        rl_forced_update_display();
        std::free(saved);
    }
#endif
}

std::string TimeStamp() { return Event::ClockTime(Event::NowMs()); }

}  // namespace kztool
