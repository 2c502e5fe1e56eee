#include "serve_http.h"

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "serve_assets.h"

namespace kztool {

namespace {

constexpr uint32_t kKeepAliveMs = 10000;   // a stream writes at least this often (a comment)
constexpr uint32_t kReplyWaitMs = CommandRunner::kConfirmMs + 3000;
constexpr size_t kThreads = 12;            // streams, commands and the page at once
constexpr time_t kSocketTimeoutS = 5;
constexpr char kTokenHeader[] = "X-KZ-Token";
constexpr char kJson[] = "application/json";

void Reply(httplib::Response& res, int status, bool ok, const std::string& command,
           const std::string& message) {
    res.status = status;
    res.set_content(OutcomeJson(ok, command, message), kJson);
}

std::string Replace(std::string text, const std::string& key, const std::string& value) {
    for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    return text;
}

// Any event after this one: from the reconnecting stream's Last-Event-ID.
uint64_t LastEventId(const httplib::Request& req) {
    const std::string text = req.get_header_value("Last-Event-ID");
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

WebServer::WebServer(WebServerConfig config, EventBroker& events, CommandRunner& runner)
    : config_(std::move(config)), events_(events), runner_(runner) {}

WebServer::~WebServer() { Stop(); }

bool WebServer::Start(std::string& error) {
    const std::string token = NewToken();
    if (token.empty()) {
        error = "cannot make the page's token: no random numbers";
        return false;
    }
    server_ = std::make_unique<httplib::Server>();
    server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    // Address reuse after a restart, but not the port shared with another
    // program (the library's default would let a second server, or another
    // program of this user, take half of the page's requests).
    server_->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_->set_payload_max_length(kMaxCommandBody);
    server_->set_keep_alive_timeout(kSocketTimeoutS);
    server_->set_read_timeout(kSocketTimeoutS);
    server_->set_write_timeout(kSocketTimeoutS);
    ListenAddress bound = config_.listen;
    if (bound.port == 0) {
        bound.port = server_->bind_to_any_port(bound.host);
        if (bound.port <= 0) {
            error = "cannot listen on " + bound.host + ": no free port";
            return false;
        }
    } else if (!server_->bind_to_port(bound.host, bound.port)) {
        error = "cannot listen on " + bound.host + ":" + std::to_string(bound.port) +
                " (in use, or not an address of this machine)";
        return false;
    }
    config_.listen = bound;
    guard_ = std::make_unique<RequestGuard>(bound, token);
    Route();
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void WebServer::Stop() {
    events_.Close();
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
}

std::string WebServer::Url() const {
    const ListenAddress& a = config_.listen;
    const std::string host = a.host.find(':') != std::string::npos ? "[" + a.host + "]" : a.host;
    return "http://" + host + ":" + std::to_string(a.port) + "/";
}

void WebServer::Route() {
    httplib::Server& s = *server_;
    s.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        // No other site may frame the page (it could trick clicks into it).
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });

    // Every request: this server's Host, and no other site's Origin.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        std::string refused = guard_->CheckHost(req.get_header_value("Host"));
        if (refused.empty()) refused = guard_->CheckOrigin(req.get_header_value("Origin"), req.get_header_value("Host"));
        if (refused.empty()) return httplib::Server::HandlerResponse::Unhandled;
        Reply(res, 403, false, "", refused);
        return httplib::Server::HandlerResponse::Handled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const std::string what = res.status == 413 ? "the request is larger than " +
                                                         std::to_string(kMaxCommandBody) + " bytes"
                                                   : "no such page or method";
        Reply(res, res.status, false, "", what);
    });

    auto asset = [this](const httplib::Request& req, httplib::Response& res) {
        const WebAsset* a = FindWebAsset(req.path);
        if (!a) {
            Reply(res, 404, false, "", "no such page");
            return;
        }
        std::string body(a->body);
        if (req.path == "/") {
            body = Replace(body, "{{TOKEN}}", guard_->token());
            body = Replace(body, "{{SIMULATOR}}", config_.simulator ? "1" : "0");
        }
        res.set_content(body, std::string(a->contentType));
    };
    s.Get("/", asset);
    s.Get("/app.js", asset);
    s.Get("/app.css", asset);

    s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
        if (!guard_->TokenMatches(req.get_param_value("token"))) {
            Reply(res, 403, false, "", "refused: missing or wrong token");
            return;
        }
        if (!events_.Enter(config_.maxStreams)) {
            Reply(res, 503, false, "",
                  "too many event streams (at most " + std::to_string(config_.maxStreams) + ")");
            return;
        }
        uint64_t last = LastEventId(req);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, last](size_t, httplib::DataSink& sink) mutable {
                const auto events = events_.After(last, kKeepAliveMs);
                if (events_.closed()) return false;
                std::string chunk = events.empty() ? ": keep-alive\n\n" : "";
                for (const auto& e : events) {
                    chunk += "id: " + std::to_string(e.id) + "\ndata: " + e.json + "\n\n";
                    last = e.id;
                }
                return sink.write(chunk.data(), chunk.size());
            },
            [this](bool) { events_.Leave(); });
    });

    s.Post("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
        if (!guard_->TokenMatches(req.get_header_value(kTokenHeader))) {
            Reply(res, 403, false, "", "refused: missing or wrong token");
            return;
        }
        if (req.get_header_value("Content-Type").rfind(kJson, 0) != 0) {
            Reply(res, 415, false, "", "the body must be application/json");
            return;
        }
        ApiCommand command;
        std::string error;
        if (!ParseCommandBody(req.body, command, error)) {
            Reply(res, 400, false, "", error);
            return;
        }
        error = CheckCommand(command, config_.simulator);
        if (!error.empty()) {
            Reply(res, 400, false, command.name, error);
            return;
        }
        auto outcome = runner_.Submit(command);
        if (outcome.wait_for(std::chrono::milliseconds(kReplyWaitMs)) != std::future_status::ready) {
            Reply(res, 504, false, command.name, "no outcome (the library's loop is busy)");
            return;
        }
        const ServeReply o = outcome.get();
        Reply(res, o.status, o.ok, command.name, o.message);
    });
}

}  // namespace kztool
