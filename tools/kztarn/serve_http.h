// The HTTP side of `kztarn serve`: the page, its event stream (Server-Sent
// Events) and its command API, behind the RequestGuard's checks.
#pragma once
#include <memory>
#include <string>
#include <thread>

#include "serve_events.h"
#include "serve_guard.h"
#include "serve_runner.h"

namespace httplib {
class Server;
}

namespace kztool {

struct WebServerConfig {
    ListenAddress listen;
    bool simulator = true;    // the page shows the phone's panel
    size_t maxStreams = 4;    // event streams at once
};

class WebServer {
public:
    WebServer(WebServerConfig config, EventBroker& events, CommandRunner& runner);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and starts serving on a thread of its own. False with the reason.
    bool Start(std::string& error);
    void Stop();
    // The page's address, with the port actually bound.
    std::string Url() const;

private:
    void Route();

    WebServerConfig config_;
    EventBroker& events_;
    CommandRunner& runner_;
    std::unique_ptr<httplib::Server> server_;
    std::unique_ptr<RequestGuard> guard_;
    std::thread thread_;
};

}  // namespace kztool
