// `kztarn serve` as a web site in the same browser would meet it: requests
// with another Host or Origin, without the page's token, oversized, or with
// bad arguments are refused with a clear reason; event streams are capped.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "kztarn_process.h"
#include "serve_api.h"
#include "serve_guard.h"

namespace kztooltest {
namespace {

using kztool::ApiCommand;

// One raw HTTP exchange, so that every header is the test's own.
class Connection {
public:
    explicit Connection(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Connection() {
        if (fd_ >= 0) close(fd_);
    }
    void Send(const std::string& request) { ASSERT_EQ(write(fd_, request.data(), request.size()), ssize_t(request.size())); }
    // Reads until the text has arrived (or the peer closed, or ms passed).
    std::string ReadUntil(const std::string& text, int ms = 8000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (received_.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            received_.append(buf, static_cast<size_t>(n));
        }
        return received_;
    }
    int Status() {
        const std::string head = ReadUntil("\r\n");
        return head.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(head.c_str() + 9) : -1;
    }

private:
    int fd_ = -1;
    std::string received_;
};

struct Server {
    TempDir dir;
    PtyProcess process{KztarnPath(), {"serve", "--root", dir.path(), "--listen", "127.0.0.1:0"}};
    int port = 0;
    std::string token;

    Server() {
        if (!process.WaitFor("/ against")) return;
        std::smatch m;
        const std::string screen = process.Screen();
        if (std::regex_search(screen, m, std::regex("http://127\\.0\\.0\\.1:(\\d+)/"))) port = std::stoi(m[1]);
        Connection c(port);
        c.Send(Request("GET", "/", {}));
        const std::string page = c.ReadUntil("</html>");
        if (std::regex_search(page, m, std::regex("kz-token\" content=\"([0-9a-f]{32})\""))) token = m[1];
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
    std::string Request(const std::string& method, const std::string& path, std::vector<std::string> headers,
                        const std::string& body = "") const {
        std::string r = method + " " + path + " HTTP/1.1\r\n";
        bool host = false;
        for (const auto& h : headers) host |= h.rfind("Host:", 0) == 0;
        if (!host) headers.insert(headers.begin(), "Host: " + Host());
        for (const auto& h : headers) r += h + "\r\n";
        if (!body.empty() || method == "POST") r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return r + "Connection: close\r\n\r\n" + body;
    }
    // Status and body of one command.
    std::pair<int, std::string> Command(const std::string& body, std::vector<std::string> headers) const {
        Connection c(port);
        c.Send(Request("POST", "/api/command", std::move(headers), body));
        const int status = c.Status();
        return {status, c.ReadUntil("}")};
    }
    std::vector<std::string> Good() const {
        return {"X-KZ-Token: " + token, "Content-Type: application/json", "Origin: http://" + Host()};
    }
};

TEST(Serve_Safety, RefusesOtherSitesMissingTokensAndOversizedBodies) {
    Server s;
    ASSERT_GT(s.port, 0) << s.process.Screen();
    ASSERT_EQ(s.token.size(), 32u) << "the page carries no token";
    const std::string micgain = R"({"command":"micgain"})";
    const std::string wrongToken = "X-KZ-Token: " + std::string(32, '0');
    struct Case {
        const char* what;
        std::vector<std::string> headers;
        std::string body;
        int status;
        const char* reason;
    };
    const Case cases[] = {
        {"the page's own request", s.Good(), micgain, 200, "\"ok\":true"},
        {"localhost names this server too", {"Host: localhost:" + std::to_string(s.port), "X-KZ-Token: " + s.token,
         "Content-Type: application/json"}, micgain, 200, "\"ok\":true"},
        {"another site's name for this address", {"Host: evil.example:" + std::to_string(s.port),
         "X-KZ-Token: " + s.token, "Content-Type: application/json"}, micgain, 403, "Host"},
        {"another port", {"Host: 127.0.0.1:1", "X-KZ-Token: " + s.token, "Content-Type: application/json"}, micgain, 403, "Host"},
        {"another site's page", {"X-KZ-Token: " + s.token, "Content-Type: application/json", "Origin: http://evil.example"},
         micgain, 403, "Origin"},
        {"no token", {"Content-Type: application/json", "Origin: http://" + s.Host()}, micgain, 403, "token"},
        {"a wrong token", {wrongToken, "Content-Type: application/json"}, micgain, 403, "token"},
        {"a form post", {"X-KZ-Token: " + s.token, "Content-Type: text/plain"}, micgain, 415, "application/json"},
        {"an oversized body", s.Good(), std::string(kztool::kMaxCommandBody + 1, ' '), 413, "larger than"},
        {"not JSON", s.Good(), "dial 123", 400, "not a JSON object"},
        {"a bad number", s.Good(), R"({"command":"dial","args":["0151-CALL-ME"]})", 400, "NUMBER is 1 to 30 digits"},
        {"a command the page may not run", s.Good(), R"({"command":"quit"})", 400, "unknown command"},
        {"a command the module refuses", s.Good(), R"({"command":"dial","args":["123"]})", 409,
         "dial failed: no phone connected"},
    };
    for (const auto& c : cases) {
        const auto [status, body] = s.Command(c.body, c.headers);
        EXPECT_EQ(status, c.status) << c.what << "\n" << body;
        EXPECT_NE(body.find(c.reason), std::string::npos) << c.what << "\n" << body;
    }

    // A second server cannot share the port (and take half of the page's requests).
    TempDir other;
    const RunResult second = RunKztarn({"serve", "--root", other.path(), "--listen", s.Host()}, "", 15000);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("cannot listen on " + s.Host()), std::string::npos) << second.err;

    // The page itself is refused under another name as well.
    Connection page(s.port);
    page.Send(s.Request("GET", "/", {"Host: evil.example:" + std::to_string(s.port)}));
    EXPECT_EQ(page.Status(), 403);
}

TEST(Serve_Events, StreamReplaysTheEventsAndIsCappedAndTokenBound) {
    Server s;
    ASSERT_GT(s.port, 0) << s.process.Screen();
    Connection none(s.port);
    none.Send(s.Request("GET", "/api/events", {}));
    EXPECT_EQ(none.Status(), 403);

    const std::string path = "/api/events?token=" + s.token;
    std::vector<std::unique_ptr<Connection>> streams;
    for (int i = 0; i < 4; ++i) {
        streams.push_back(std::make_unique<Connection>(s.port));
        streams.back()->Send(s.Request("GET", path, {}));
        // A page opened after the start still learns that the module is ready.
        EXPECT_NE(streams.back()->ReadUntil("\"event\":\"ready\"").find("text/event-stream"), std::string::npos);
    }
    Connection fifth(s.port);
    fifth.Send(s.Request("GET", path, {}));
    EXPECT_EQ(fifth.Status(), 503);
    EXPECT_NE(fifth.ReadUntil("}").find("too many event streams"), std::string::npos);

    // A stream that ends frees its place; commands go on meanwhile.
    streams.pop_back();
    const auto [status, body] = s.Command(R"({"command":"pin","args":["4321"]})", s.Good());
    EXPECT_EQ(status, 200) << body;
    EXPECT_NE(streams[0]->ReadUntil("\"pin\":\"4321\"", 3000).find("\"pin\":\"4321\""), std::string::npos);
    Connection again(s.port);
    again.Send(s.Request("GET", path, {}));
    EXPECT_EQ(again.Status(), 200);

    s.process.Type("\x03");   // Ctrl-C ends it cleanly, streams open or not
    EXPECT_EQ(s.process.Wait(10000), 0) << s.process.Screen();
}

TEST(Serve_Guard, OnlyThisServersAddressesPassAsHost) {
    struct Case {
        const char* listen;
        const char* host;
        bool passes;
    };
    const Case cases[] = {
        {"127.0.0.1:8080", "127.0.0.1:8080", true},
        {"127.0.0.1:8080", "localhost:8080", true},
        {"127.0.0.1:8080", "LOCALHOST.:8080", false},
        {"127.0.0.1:8080", "127.0.0.2:8080", false},
        {"127.0.0.1:8080", "127.0.0.1", false},
        {"127.0.0.1:8080", "127.0.0.1:8080:1", false},
        {"127.0.0.1:8080", "", false},
        {"127.0.0.1:80", "127.0.0.1", true},
        {"0.0.0.0:8080", "192.168.1.20:8080", true},
        {"0.0.0.0:8080", "unit.example:8080", false},
        {"192.168.1.20:8080", "localhost:8080", false},
        {"[::1]:8080", "[::1]:8080", true},
        {"[::1]:8080", "[::1:8080", false},
    };
    for (const auto& c : cases) {
        kztool::ListenAddress a;
        std::string error;
        ASSERT_TRUE(kztool::ListenAddress::Parse(c.listen, a, error)) << c.listen << ": " << error;
        const kztool::RequestGuard guard(a, "t");
        EXPECT_EQ(guard.CheckHost(c.host).empty(), c.passes) << c.listen << " / " << c.host;
    }
    kztool::ListenAddress a;
    std::string error;
    for (const char* bad : {"localhost:8080", "127.0.0.1", "127.0.0.1:65536", "127.0.0.1:-1", ":8080", "[::1]8080"})
        EXPECT_FALSE(kztool::ListenAddress::Parse(bad, a, error)) << bad;
}

TEST(Serve_Commands, EveryArgumentIsChecked) {
    struct Case {
        ApiCommand command;
        bool simulator;
        const char* problem;   // "" = accepted
    };
    const Case cases[] = {
        {{"dial", {"+49 89 765430"}}, true, ""},
        {{"dial", {"*#06#"}}, true, ""},
        {{"dial", {"49+89"}}, true, "NUMBER is 1 to 30 digits"},
        {{"dial", {std::string(31, '1')}}, true, "NUMBER is 1 to 30 digits"},
        {{"dial", {"  "}}, true, "NUMBER is"},
        {{"dial", {}}, true, "usage: dial NUMBER"},
        {{"pair", {"1", "0000"}}, true, ""},
        {{"pair", {"1", "12a4"}}, true, "PIN is four digits"},
        {{"pair", {"100", "1234"}}, true, "INDEX is"},
        {{"pin", {"12345"}}, true, "PIN is four digits"},
        {{"connect", {"4"}}, true, ""},
        {{"connect", {"5"}}, true, "SLOT is a slot from 0 to 4"},
        {{"delete", {"-1"}}, true, "SLOT is"},
        {{"dtmf", {"#"}}, true, ""},
        {{"dtmf", {"E"}}, true, "CHAR is one of"},
        {{"micgain", {"256"}}, true, "GAIN is"},
        {{"micgain", {"0x10"}}, true, "GAIN is"},
        {{"audio", {"Car"}}, true, "one of car|phone"},
        {{"phonebook", {"download", "contacts", "0"}}, true, "COUNT is"},
        {{"phonebook", {"size", "contacts", "1", "2"}}, true, "usage: phonebook"},
        {{"phone ring", {"0151 98765432"}}, false, "needs the built-in simulator"},
        {{"phone contact", {"Zoë Ålund", "+46 8 123"}}, true, ""},
        {{"phone contact", {"Bobby \"Tables\"", "1"}}, true, "NAME is text"},
        {{"phone contact", {"line\nbreak", "1"}}, true, "NAME is text"},
        {{"phone contact", {"\xC3\x28", "1"}}, true, "NAME is text"},
        {{"phone contact", {std::string(64, 'a'), "1"}}, true, "NAME is text"},
        {{"phone battery", {"6"}}, true, "LEVEL is a level from 0 to 5"},
        {{"sleep", {"100"}}, true, "unknown command 'sleep'"},
    };
    for (const auto& c : cases) {
        const std::string problem = kztool::CheckCommand(c.command, c.simulator);
        if (*c.problem == '\0') EXPECT_EQ(problem, "") << c.command.name;
        else EXPECT_NE(problem.find(c.problem), std::string::npos) << c.command.name << ": " << problem;
    }
    // The console line quotes every argument as one word.
    EXPECT_EQ(kztool::ConsoleLine({"phone track", {"So What", "Miles Davis"}}), R"(phone track "So What" "Miles Davis")");

    ApiCommand parsed;
    std::string error;
    for (const char* bad : {"[]", R"({"command":1})", R"({"command":"dial","args":"123"})",
                            R"({"command":"dial","args":[1]})", R"({"command":"dial","args":["1"],"x":0})",
                            R"({"command":"dial","args":["1","2","3","4","5"]})", "{\"command\":\"di"})
        EXPECT_FALSE(kztool::ParseCommandBody(bad, parsed, error)) << bad;
    ASSERT_TRUE(kztool::ParseCommandBody(R"({"command":"dial","args":["0151 98765432"]})", parsed, error)) << error;
    EXPECT_EQ(parsed.args, std::vector<std::string>{"0151 98765432"});
}

}  // namespace
}  // namespace kztooltest
