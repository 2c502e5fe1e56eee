// `kztarn serve` as a web site in the same browser would meet it: requests
// with another Host or Origin, without the page's token, oversized, or with
// bad arguments are refused with a clear reason; event streams are capped.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "kztarn_process.h"
#include "serve_api.h"
#include "serve_guard.h"
#include "support/test_support.h"

namespace kztooltest {
namespace {

// One raw HTTP exchange, so that every header is the test's own.
class Connection {
public:
    Connection(int port, const std::string& request) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            open_ = false;
    }
    ~Connection() { close(fd_); }
    // What came until text arrived (or the peer closed, or ms passed).
    std::string ReadUntil(const std::string& text, unsigned ms = 8000) {
        kztest::PollUntil([&] { return received_.find(text) != std::string::npos || !open_; }, ms, [&] {
            pollfd p{fd_, POLLIN, 0};
            char buf[4096];
            const ssize_t n = poll(&p, 1, 20) > 0 ? read(fd_, buf, sizeof buf) : -2;
            if (n > 0) received_.append(buf, static_cast<size_t>(n));
            else if (n != -2) open_ = false;
        });
        return received_;
    }
    int Status() {
        const std::string head = ReadUntil("\r\n");
        return head.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(head.c_str() + 9) : -1;
    }

private:
    int fd_;
    bool open_ = true;
    std::string received_;
};

struct Server {
    TempDir dir;
    Kztarn process{{"serve", "--root", dir.path(), "--listen", "127.0.0.1:0"}};
    int port = 0;
    std::string token;

    Server() {
        std::smatch m;
        if (!process.WaitFor("/ against")) return;
        const std::string screen = process.Screen();
        if (std::regex_search(screen, m, std::regex("http://127\\.0\\.0\\.1:(\\d+)/"))) port = std::stoi(m[1]);
        const std::string page = Connection(port, Request("GET", "/", {})).ReadUntil("</html>");
        if (std::regex_search(page, m, std::regex("kz-token\" content=\"([0-9a-f]{32})\""))) token = m[1];
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
    // A request with this server's Host unless the headers name another.
    std::string Request(const std::string& method, const std::string& path, std::vector<std::string> headers,
                        const std::string& body = "") const {
        std::string r = method + " " + path + " HTTP/1.1\r\n";
        if (headers.empty() || headers[0].rfind("Host:", 0) != 0) headers.insert(headers.begin(), "Host: " + Host());
        for (const auto& h : headers) r += h + "\r\n";
        if (method == "POST") r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return r + "Connection: close\r\n\r\n" + body;
    }
    std::vector<std::string> Good() const {
        return {"X-KZ-Token: " + token, "Content-Type: application/json", "Origin: http://" + Host()};
    }
};

TEST(Serve_Safety, RefusesOtherSitesMissingTokensOversizedBodiesAndTooManyStreams) {
    Server s;
    ASSERT_GT(s.port, 0) << s.process.Screen();
    ASSERT_EQ(s.token.size(), 32u) << "the page carries no token";
    const std::string micgain = R"({"command":"micgain"})", json = "Content-Type: application/json";
    const std::string token = "X-KZ-Token: " + s.token, port = ":" + std::to_string(s.port);
    struct Case {
        const char* what;
        std::vector<std::string> headers;
        std::string body;
        int status;
        const char* reason;
    };
    const Case cases[] = {
        {"the page's own request", s.Good(), micgain, 200, "\"ok\":true"},
        {"localhost names this server too", {"Host: localhost" + port, token, json}, micgain, 200, "\"ok\":true"},
        {"another site's name for this address", {"Host: evil.example" + port, token, json}, micgain, 403, "Host"},
        {"another port", {"Host: 127.0.0.1:1", token, json}, micgain, 403, "Host"},
        {"another site's page", {token, json, "Origin: http://evil.example"}, micgain, 403, "Origin"},
        {"no token", {json, "Origin: http://" + s.Host()}, micgain, 403, "token"},
        {"a wrong token", {"X-KZ-Token: " + std::string(32, '0'), json}, micgain, 403, "token"},
        {"a form post", {token, "Content-Type: text/plain"}, micgain, 415, "application/json"},
        {"an oversized body", s.Good(), std::string(kztool::kMaxCommandBody + 1, ' '), 413, "larger than"},
        {"not JSON", s.Good(), "dial 123", 400, "not a JSON object"},
        {"a bad number", s.Good(), R"({"command":"dial","args":["0151-CALL-ME"]})", 400, "NUMBER is 1 to 30 digits"},
        {"a command the page may not run", s.Good(), R"({"command":"quit"})", 400, "unknown command"},
        {"a console-only command", s.Good(), R"({"command":"sleep","args":["100"]})", 400, "unknown command 'sleep'"},
        {"a bad PIN", s.Good(), R"({"command":"pair","args":["1","12a4"]})", 400, "PIN is four digits"},
        {"no such slot", s.Good(), R"({"command":"connect","args":["5"]})", 400, "SLOT is a slot from 0 to 4"},
        {"no such tone", s.Good(), R"({"command":"dtmf","args":["E"]})", 400, "CHAR is one of"},
        {"a choice in other letters", s.Good(), R"({"command":"audio","args":["Car"]})", 400, "one of car|phone"},
        {"a name too long", s.Good(), R"({"command":"phone contact","args":[")" + std::string(64, 'a') + R"(","1"]})",
         400, "NAME is text"},
        {"a level too high", s.Good(), R"({"command":"phone battery","args":["6"]})", 400, "LEVEL is a level from 0 to 5"},
        {"a name in any script", s.Good(), R"({"command":"phone contact","args":["Zoë Ålund","+46 8 123"]})", 200, "ok"},
        {"a command the module refuses", s.Good(), R"({"command":"dial","args":["123"]})", 409,
         "dial failed: no phone connected"},
    };
    for (const auto& c : cases) {
        Connection connection(s.port, s.Request("POST", "/api/command", c.headers, c.body));
        EXPECT_EQ(connection.Status(), c.status) << c.what;
        EXPECT_NE(connection.ReadUntil("}").find(c.reason), std::string::npos) << c.what;
    }
    for (const char* bad : {"[]", R"({"command":1})", R"({"command":"dial","args":"123"})", R"({"command":"dial","args":[1]})",
                            R"({"command":"dial","args":["1"],"x":0})", R"({"command":"dial","args":["1","2","3","4","5"]})"})
        EXPECT_EQ(Connection(s.port, s.Request("POST", "/api/command", s.Good(), bad)).Status(), 400) << bad;
    // A second server cannot share the port (and take half of the page's requests).
    const Ended second = RunKztarn({"serve", "--root", s.dir.File("other"), "--listen", s.Host()}, 15000);
    EXPECT_TRUE(second.exitCode == 1 && second.screen.find("cannot listen on " + s.Host()) != std::string::npos)
        << second.screen;
    // The page itself is refused under another name as well.
    EXPECT_EQ(Connection(s.port, s.Request("GET", "/", {"Host: evil.example" + port})).Status(), 403);
    // Event streams need the token and are capped; each replays the events so far.
    EXPECT_EQ(Connection(s.port, s.Request("GET", "/api/events", {})).Status(), 403);
    const std::string events = s.Request("GET", "/api/events?token=" + s.token, {});
    std::vector<std::unique_ptr<Connection>> streams;
    for (int i = 0; i < 4; ++i) {
        streams.push_back(std::make_unique<Connection>(s.port, events));
        // A page opened after the start still learns that the module is ready.
        EXPECT_NE(streams.back()->ReadUntil("\"event\":\"ready\"").find("text/event-stream"), std::string::npos);
    }
    Connection fifth(s.port, events);
    EXPECT_EQ(fifth.Status(), 503);
    EXPECT_NE(fifth.ReadUntil("}").find("too many event streams"), std::string::npos);
    // A stream that ends frees its place; commands go on meanwhile.
    streams.pop_back();
    Connection pin(s.port, s.Request("POST", "/api/command", s.Good(), R"({"command":"pin","args":["4321"]})"));
    EXPECT_EQ(pin.Status(), 200);
    EXPECT_NE(streams[0]->ReadUntil("\"pin\":\"4321\"", 3000).find("\"pin\":\"4321\""), std::string::npos);
    EXPECT_EQ(Connection(s.port, events).Status(), 200);
    s.process.Type("\x03");   // Ctrl-C ends it cleanly, streams open or not
    EXPECT_EQ(s.process.Wait(), 0) << s.process.Screen();
}

TEST(Serve_Guard, OnlyThisServersAddressesPassAsHost) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"127.0.0.1:8080", "127.0.0.1:8080", true},     {"127.0.0.1:8080", "localhost:8080", true},
        {"127.0.0.1:8080", "LOCALHOST.:8080", false},   {"127.0.0.1:8080", "127.0.0.2:8080", false},
        {"127.0.0.1:8080", "127.0.0.1", false},         {"127.0.0.1:80", "127.0.0.1", true},
        {"0.0.0.0:8080", "192.168.1.20:8080", true},    {"0.0.0.0:8080", "unit.example:8080", false},
        {"192.168.1.20:8080", "localhost:8080", false}, {"[::1]:8080", "[::1]:8080", true},
    };
    kztool::ListenAddress a;
    std::string error;
    for (const auto& [listen, host, passes] : cases) {
        ASSERT_TRUE(kztool::ListenAddress::Parse(listen, a, error)) << listen << ": " << error;
        EXPECT_EQ(kztool::RequestGuard(a, "t").CheckHost(host).empty(), passes) << listen << " / " << host;
    }
    for (const char* bad : {"localhost:8080", "127.0.0.1", "127.0.0.1:65536", "127.0.0.1:-1", ":8080", "[::1]8080"})
        EXPECT_FALSE(kztool::ListenAddress::Parse(bad, a, error)) << bad;
    // The page's arguments reach the console each as one word.
    EXPECT_EQ(kztool::ConsoleLine({"phone track", {"So What", "Miles Davis"}}), R"(phone track "So What" "Miles Davis")");
}

}  // namespace
}  // namespace kztooltest
