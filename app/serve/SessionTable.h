// SessionTable: the sessions of `zelvorn serve`, by the key a tab keeps for them. A page of the
// framed protocol names its tab's key and is attached to that tab's session while it lives, to a
// new session under that key otherwise; a page of the plain protocol gets a session of its own.
// At most `limit` sessions live at once (attached ones, and detached ones still running tasks or
// in their grace period): when the table is full the detached session idle the longest ends to
// make room, and with none the page is refused with a reason it can show.
//
// Shared by the server and, weakly, by its sessions' hooks; any thread. Its lock is never held
// while a session's strand runs.
#pragma once

#include "Session.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class PageSession;

class SessionTable : public std::enable_shared_from_this<SessionTable> {
    struct Token {};

public:
    static constexpr size_t kDefaultLimit = 32;

    static std::shared_ptr<SessionTable> create(boost::asio::io_context& context, size_t limit, Session::Timing timing);
    SessionTable(Token, boost::asio::io_context& context, size_t limit, Session::Timing timing);

    // Attaches `page` (of `origin`, loaded as `pageId`) to its session and returns it: the live
    // one `key` names, else a new one, under `key` when it is well formed and free. With `framed`
    // false, a new session of the plain protocol. Null, with the reason in `refusal`, when no
    // session can be had (`full` says whether the table was).
    std::shared_ptr<Session> attach(const std::shared_ptr<PageSession>& page, bool framed, const std::string& key,
                                    const std::string& origin, const std::string& pageId, std::string& refusal,
                                    bool& full);
    // Stops every session's downloads and ends them; waits up to `patience` until their hosts
    // have exited. False when some still run then.
    bool endAll(std::chrono::milliseconds patience);
    // Ends, as Session::revoke() does, every session for whose origin `refusal` gives a reason.
    void revoke(const std::function<std::string(const std::string& origin)>& refusal);
    // Sessions whose host has not exited yet.
    size_t size() const;

private:
    // Under `lock`: a started session, or null with `refusal`.
    std::shared_ptr<Session> open(std::string key, const std::string& origin, Session::Protocol protocol,
                                  std::string& refusal, bool& full);
    // Under `lock`: ends the detached session idle the longest; false when there is none.
    bool makeRoom();
    Session::Hooks hooks();
    void onIdle(Session* session);
    void onEnded(Session* session);
    void onCopied(const std::shared_ptr<PageSession>& page, const std::string& pageId);

    boost::asio::io_context& context;
    const size_t limit;
    const Session::Timing timing;
    mutable std::mutex lock;
    std::condition_variable changed;
    std::map<Session*, std::shared_ptr<Session>> live;  // guarded by lock: until the host exits
    std::map<std::string, Session*> byKey;              // guarded by lock: sessions a page may come back to
};
