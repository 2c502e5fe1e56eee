// Who may talk to `kztarn serve`. The page can dial and pair, so a request is
// refused unless its Host names this server (no other name, so a web site
// whose name is made to point here cannot reach it), any Origin is the page's
// own, and API requests carry the token that the page got when it was served.
#pragma once
#include <string>

namespace kztool {

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 8080;
    // "ADDR:PORT" ("[v6]:PORT" for IPv6), PORT 0 to 65535 (0: any free one).
    static bool Parse(const std::string& text, ListenAddress& out, std::string& error);
    bool Wildcard() const { return host == "0.0.0.0" || host == "::"; }
    bool Loopback() const;
};

// 32 hexadecimal digits from the system's random source; "" when it fails.
std::string NewToken();

class RequestGuard {
public:
    // bound: the address with the port actually bound.
    RequestGuard(ListenAddress bound, std::string token)
        : bound_(std::move(bound)), token_(std::move(token)) {}

    // "" when the Host header names this server, else why not.
    std::string CheckHost(const std::string& host) const;
    // "" when there is no Origin or it is the page's own (http:// and the Host).
    std::string CheckOrigin(const std::string& origin, const std::string& host) const;
    // Compared in constant time.
    bool TokenMatches(const std::string& given) const;
    const std::string& token() const { return token_; }

private:
    ListenAddress bound_;
    std::string token_;
};

}  // namespace kztool
