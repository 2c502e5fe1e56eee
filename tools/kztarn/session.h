// One running library with its host windows, against the built-in module
// simulator or a real module on a serial device. Used by `console` and `demo`.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "contacts.h"
#include "event_printer.h"
#include "host_windows.h"
#include "module_simulator.h"
#include "output.h"
#include "wire_tap.h"

namespace kztool {

struct SessionOptions {
    std::string port;       // serial device of a real module; empty = built-in simulator
    std::string root;       // folder of the head-unit files; empty = the default
    std::string trace;      // wire trace file; empty = $KZ_TARN_WIRE_TRACE, else one of its own
    std::string scenario;   // built-in simulator: a scenario file for its phone (see scenario.h)
    bool json = false;      // events as JSON lines
    bool quiet = false;     // do not print events (the log still records them)
    bool verbose = false;   // each channel's record on its own line
    bool initialise = true; // KZ_BT_SetInitialValue once the device is ready
    HostWindows::Hook onEvent;   // sees every event as it arrives (HostWindows::SetHook)
    uint32_t readyTimeoutMs = 5000;
};

// $XDG_DATA_HOME/kztarn, else ~/.local/share/kztarn.
std::string DefaultRoot();
// Creates the folder (and its parents) and checks that a file can be written
// in it. False with a message naming the folder and the reason.
bool PrepareRoot(const std::string& dir, std::string& error);
// Checks that the device opens for reading and writing and is a terminal.
bool CheckSerialDevice(const std::string& path, std::string& error);

class Session {
public:
    explicit Session(Output& output);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts the simulator (unless a port is given), the windows and the
    // library, and waits for the device-ready notification. False with a
    // message when something cannot be started; a module that does not
    // answer is only reported as a warning.
    bool Open(const SessionOptions& options, std::string& error);
    void Close();

    // Runs the main thread's message loop for about ms, printing events.
    void Pump(uint32_t ms);
    // Pumps until pred() holds or ms passed; returns pred().
    bool WaitFor(const std::function<bool()>& pred, uint32_t ms);
    // Waits for a notification with this code after the log mark.
    bool WaitForNotify(uint32_t code, size_t mark, uint32_t ms);

    kzsim::ModuleSimulator* simulator() { return sim_.get(); }
    HostWindows& host() { return *host_; }
    // What crossed the line, from the wire trace (always on in a session).
    WireTap& wire() { return wire_; }
    const std::string& root() const { return root_; }
    bool json() const { return json_; }
    // Whether `source a2dp` ran (the library keeps that flag to itself).
    bool sourceChosen() const { return sourceChosen_; }
    void SetSourceChosen() { sourceChosen_ = true; }
    // A note for the user: standard error when standard output carries JSON.
    void Note(const std::string& text);
    // A view of the state: a JSON line with --json, else its lines under a title.
    void ShowState(const Event& event, const std::string& title);
    ContactBook& contacts() { return contacts_; }
    Output& output() { return output_; }
    bool ready() const { return ready_; }
    bool running() const { return running_; }
    // Library start and stop by hand (console commands). A start after a
    // stop restarts the built-in simulator's link, as a module reboot does.
    void StartLibrary();
    // KZ_BT_CloseDevice's result (-1 when it was not running).
    int StopLibrary();

private:
    bool SetUpTrace(const SessionOptions& options, std::string& error);
    void ShowLineChanges();
    void WatchLine(const std::string& port);
    bool LineHungUp();
    void ShowWaitingCalls();

    Output& output_;
    ContactBook contacts_;
    EventPrinter printer_{contacts_};
    std::unique_ptr<HostWindows> host_;
    std::unique_ptr<kzsim::ModuleSimulator> sim_;
    WireTap wire_;
    std::string root_;
    bool json_ = false;
    bool sourceChosen_ = false;
    std::string ownTrace_;   // a trace the session made for itself, removed at the end
    size_t wireSeen_ = 0;    // tapped messages looked at for waiting calls
    bool callUp_ = false;    // the phone's call indicator
    int lineWatch_ = -1;     // the module's serial device, watched for a hang-up
    bool running_ = false;
    bool ready_ = false;
    bool startedBefore_ = false;
};

// A simulated phone with a name, contacts, call lists, nearby phones and a
// track, so that every command has something to work on.
void SetUpDemoPhone(kzsim::Phone& phone);

}  // namespace kztool
