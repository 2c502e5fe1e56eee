#include "serve_guard.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <cstdio>
#include <cstdlib>

namespace kztool {

namespace {

constexpr size_t kTokenBytes = 16;
constexpr int kDefaultHttpPort = 80;

bool IsIpv4(const std::string& s) {
    in_addr a{};
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}
bool IsIpv6(const std::string& s) {
    in6_addr a{};
    return inet_pton(AF_INET6, s.c_str(), &a) == 1;
}

// "name:port" or "[v6]:port" into its parts; port -1 when absent.
bool SplitHostPort(const std::string& text, std::string& name, int& port) {
    std::string rest;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return false;
        name = text.substr(1, close - 1);
        rest = text.substr(close + 1);
    } else {
        const size_t colon = text.rfind(':');
        name = text.substr(0, colon);
        rest = colon == std::string::npos ? "" : text.substr(colon);
    }
    port = -1;
    if (rest.empty()) return !name.empty();
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
    if (rest.find_first_not_of("0123456789", 1) != std::string::npos) return false;
    port = std::atoi(rest.c_str() + 1);
    return !name.empty() && port <= 65535;
}

}  // namespace

bool ListenAddress::Parse(const std::string& text, ListenAddress& out, std::string& error) {
    std::string name;
    int port = -1;
    if (!SplitHostPort(text, name, port) || port < 0) {
        error = "--listen takes ADDR:PORT (for example 127.0.0.1:8080), not '" + text + "'";
        return false;
    }
    if (!IsIpv4(name) && !IsIpv6(name)) {
        error = "--listen takes a numeric address, not '" + name + "'";
        return false;
    }
    out.host = name;
    out.port = port;
    return true;
}

bool ListenAddress::Loopback() const { return host.rfind("127.", 0) == 0 || host == "::1"; }

std::string NewToken() {
    unsigned char bytes[kTokenBytes];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0) return "";
        got += static_cast<size_t>(n);
    }
    std::string hex;
    for (unsigned char b : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

std::string RequestGuard::CheckHost(const std::string& host) const {
    std::string name;
    int port = -1;
    const std::string refused = "refused: Host '" + host.substr(0, 80) + "' is not this server";
    if (!SplitHostPort(host, name, port)) return refused;
    if (port == -1) port = kDefaultHttpPort;
    if (port != bound_.port) return refused;
    // Names are refused: only the address itself, or localhost for a loopback one.
    const bool literal = IsIpv4(name) || IsIpv6(name);
    if (name == "localhost") return bound_.Loopback() || bound_.Wildcard() ? "" : refused;
    if (!literal) return refused;
    if (bound_.Wildcard() || name == bound_.host) return "";
    return refused;
}

std::string RequestGuard::CheckOrigin(const std::string& origin, const std::string& host) const {
    if (origin.empty() || origin == "http://" + host) return "";
    return "refused: Origin '" + origin.substr(0, 80) + "' is not this page's";
}

bool RequestGuard::TokenMatches(const std::string& given) const {
    if (token_.empty() || given.size() != token_.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < token_.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ token_[i]);
    return diff == 0;
}

}  // namespace kztool
