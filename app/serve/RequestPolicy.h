// RequestPolicy: who may use `zelvorn serve`. The server listens on 127.0.0.1 only, and beside
// that a request must name this server in its Host header (so that a page of another site whose
// name was made to point at 127.0.0.1 cannot reach it), and a page may open the control's
// WebSocket only when its origin is allowed: the server's own always, an origin named with
// --allow-origin or allowed in the settings files (OriginChoices) unless a file denies it. The
// files are read at every check, so a change counts at once.
//
// Made once by the server before it accepts anything. Any thread may ask it; the only state that
// changes is which damaged files it has reported, under its lock.
#pragma once

#include "OriginChoices.h"
#include "hosting/Protocol.h"

#include <cstdint>
#include <mutex>
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

    enum class Access { allowed, denied, unknown };

    // `extraOrigins` are allowed beside the server's own ("http://127.0.0.1:<port>" and
    // "http://localhost:<port>"); they are compared without regard to case.
    RequestPolicy(uint16_t port, const std::vector<std::string>& extraOrigins);

    // "" when `host` (the Host header) names this server, else why not.
    std::string checkHost(const std::string& host) const;
    // Whether a page of `origin` (the Origin header; "" when absent) may open the control, with
    // why not in `why`; reads the settings files.
    Access checkOrigin(const std::string& origin, std::string& why) const;
    // The same for an origin of a session, against files read once for many.
    Access access(const OriginChoices::Reading& choices, const std::string& origin) const;
    // The settings files now; a file newly found damaged is reported once on standard error.
    OriginChoices::Reading readChoices() const;
    // True for an origin as browsers send it: scheme://host[:port], no path, no user.
    static bool wellFormedOrigin(const std::string& origin);
    // "" when the user may be asked about `origin`: https, or http of this machine; else why not
    // (an opaque origin, "null", or plain http of another machine, which anyone on the way can
    // pose as).
    static std::string whyNotAskable(const std::string& origin);

private:
    std::set<std::string> hosts;    // lower case
    std::set<std::string> own;      // lower case: always allowed
    std::set<std::string> origins;  // lower case: --allow-origin
    mutable std::mutex lock;
    mutable std::vector<std::string> reported;  // guarded by lock: the problems of the last reading
};
