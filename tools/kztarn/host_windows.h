// The three windows a head unit's user interface owns ("Bluetooth",
// "NavigRecive", "KZ_INFORBAR"), created on the calling thread. What arrives
// is decoded, queued for printing and kept in a log that commands wait on.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download_watch.h"
#include "event_printer.h"
#include "event_view.h"
#include "kz_platform.h"
#include "output.h"

namespace kztool {

class HostWindows {
public:
    // json: events as JSON lines; verbose: every channel's record on its own
    // line (else one line per event: the notification, with status posts and
    // status-bar records that repeat it left out).
    HostWindows(EventPrinter& printer, Output& output, bool json, bool verbose = false);
    ~HostWindows();
    HostWindows(const HostWindows&) = delete;
    HostWindows& operator=(const HostWindows&) = delete;

    // False (with the reason in error) when a window cannot be created.
    bool Create(std::string& error);

    // Events received so far, in order. Mark() is the current count.
    size_t Mark() const;
    std::vector<Event> Since(size_t mark) const;
    // An event of the console's own (the line's state, a command's outcome):
    // logged and shown like the library's.
    void Add(Event event) { Deliver(event); }
    // Logs it; prints it only when show is set.
    void Log(Event event, bool show);
    // Main thread: shows a contact held for its numbers and a ring held for
    // its caller's number once they waited (all: at once, at the end).
    void FlushHeld(bool all = false);
    // A download of this list the user asked for (KZ_PB_*).
    void DownloadRequested(int type);
    // Where the phonebook download stands (see DownloadWatch), or "".
    std::string DownloadWords();
    // Stops printing events (the log still records them).
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // Called with each event as it arrives, on the library's thread that
    // sends it, before the library goes on. Empty: none. Returns once a
    // running call has ended.
    using Hook = std::function<void(const Event&)>;
    void SetHook(Hook hook);

private:
    static KzLResult NotifyProc(KzHwnd, uint32_t, KzWParam, KzLParam);
    static KzLResult NavigProc(KzHwnd, uint32_t, KzWParam, KzLParam);
    static KzLResult InforbarProc(KzHwnd, uint32_t, KzWParam, KzLParam);
    void Deliver(const Event& event, bool show = true);
    void Show(const std::vector<Event>& events);

    EventPrinter& printer_;
    Output& output_;
    bool json_;
    bool verbose_;
    std::mutex viewMutex_;   // guards view_ and download_
    EventView view_;
    DownloadWatch download_;
    bool quiet_ = false;
    std::vector<KzHwnd> windows_;
    mutable std::mutex mutex_;
    std::vector<Event> log_;
    std::mutex hookMutex_;   // held while the hook runs
    Hook hook_;
};

}  // namespace kztool
