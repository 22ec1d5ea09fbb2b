// RequestPolicy: who may use `zelvorn serve`. The server listens on 127.0.0.1 only, and beside
// that a request must name this server in its Host header (so that a page of another site whose
// name was made to point at 127.0.0.1 cannot reach it), and a page may open the control's
// WebSocket only when its origin is on the allow-list (by default the server's own origin).
//
// Made once by the server before it accepts anything; read-only afterwards, so any thread may
// ask it.
#pragma once

#include "hosting/Protocol.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class RequestPolicy {
public:
    // Limits of what a client may send.
    static constexpr size_t kMaxHeaderBytes = 8 * 1024;
    static constexpr size_t kMaxRequestBodyBytes = 0;
    // A page's command, as long as a command line of `zelvorn stdio` may be.
    static constexpr size_t kMaxMessageBytes = Protocol::kMaxCommandBytes;
    // Event text waiting for a page that does not read; past it the page is dropped.
    static constexpr size_t kMaxUnsentBytes = 32 * 1024 * 1024;

    // `extraOrigins` are allowed beside the server's own ("http://127.0.0.1:<port>" and
    // "http://localhost:<port>"); they are compared without regard to case.
    RequestPolicy(uint16_t port, const std::vector<std::string>& extraOrigins);

    // "" when `host` (the Host header) names this server, else why not.
    std::string checkHost(const std::string& host) const;
    // "" when a page of `origin` (the Origin header; "" when absent) may open the control.
    std::string checkOrigin(const std::string& origin) const;
    // True for an origin as browsers send it: scheme://host[:port], no path, no user.
    static bool wellFormedOrigin(const std::string& origin);

private:
    std::set<std::string> hosts;    // lower case
    std::set<std::string> origins;  // lower case
};
