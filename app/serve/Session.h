// Session: one session of `zelvorn serve`: the control of one browser tab (or of one page of the
// plain protocol), kept in a host process of its own (HostProcess), and the page attached to it
// now, if any. It numbers the control's events and keeps those the page has not acknowledged
// (EventOutbox), so that a page that comes back first receives every event it missed, then new
// ones; it drops a command whose number it has already received, and answers a task sent again
// from what it knows of it (TaskLedger).
//
// A page takes a session over when the page attached to it has gone, or does not answer a ping
// (a reload whose old page has not closed its socket yet); a page whose predecessor answers is a
// copy of that tab and gets a session of its own. A detached session lives on while its queue is
// busy and for a grace period after (none for the plain protocol: its page cannot come back);
// then the table ends it, as a page unload ends a control.
//
// Shared by the session table, its pages and its pending operations. Every member runs on the
// session's strand (the public ones post there), except the status, which any thread may read,
// and tryEnd(), which the table calls under its lock.
#pragma once

#include "EventOutbox.h"
#include "HostProcess.h"
#include "TaskLedger.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class PageSession;

class Session : public std::enable_shared_from_this<Session> {
    struct Token {};

public:
    enum class Protocol { framed, plain };
    struct Timing {
        std::chrono::milliseconds grace{60000};
        std::chrono::milliseconds pingPatience{1500};  // how long a page attached may take to answer
    };
    struct Hooks {
        std::function<void(Session*)> idle;   // detached and idle for the grace period
        std::function<void(Session*)> ended;  // its host has exited
        // A page that copied the key of a tab whose page is alive: it needs a session of its own.
        std::function<void(std::shared_ptr<PageSession> page, std::string pageId)> copied;
    };

    // A session with its host started; null, with the reason in `error`, when it cannot start.
    static std::shared_ptr<Session> start(boost::asio::io_context& context, std::string key, std::string origin,
                                          Protocol protocol, Timing timing, Hooks hooks, std::string& error);
    Session(Token, boost::asio::io_context& context, std::string key, std::string origin, Protocol protocol,
            Timing timing, Hooks hooks);

    const std::string& key() const { return sessionKey; }
    const std::string& origin() const { return pageOrigin; }

    // The page side; any thread.
    void attach(std::shared_ptr<PageSession> page, std::string pageId);
    void command(PageSession* from, uint64_t number, std::string text);
    void acknowledge(PageSession* from, uint64_t number);
    void pong(PageSession* from, uint64_t number);
    void detach(PageSession* from);

    // Ends the session if it is detached and idle: true, and the host is asked to end. Called by
    // the table under its lock.
    bool tryEnd();
    // Stops the session's downloads and ends it; its page hears how its tasks ended. Any thread.
    void end();
    // As end(), for an origin no longer allowed: the page is then closed with 1008 and `reason`.
    void revoke(std::string reason);

    // Status; any thread.
    bool attached() const { return isAttached.load() || attaching.load() > 0; }
    bool busy() const { return isBusy.load(); }
    bool ending() const { return isEnding.load(); }
    std::chrono::steady_clock::time_point idleSince() const;

private:
    struct Claim {
        std::weak_ptr<PageSession> page;
        std::string pageId;
    };

    void onHostFrame(HostFrame::Kind kind, std::string text);
    // Passes a page's command on, through the ledger; held while the host has not yet said
    // which tasks survived an "init", so that they reach the ledger after its answer.
    void deliver(std::string command);
    // The host said which tasks run after an "init": the ledger settles, and the commands held
    // meanwhile go on in the order the page sent them.
    void settleInit(const std::string& runningIds);
    void onHostEnded();
    void claim(std::shared_ptr<PageSession> page, std::string pageId);
    void takeOver(const std::shared_ptr<PageSession>& page, const std::string& pageId);
    void settleClaims(bool holderAlive);
    void receive(std::string event);
    void updateAttached();
    void watchIdle();

    const std::string sessionKey;
    const std::string pageOrigin;
    const Protocol protocol;
    const Timing timing;
    const Hooks hooks;
    const boost::asio::strand<boost::asio::io_context::executor_type> strand;
    std::shared_ptr<HostProcess> host;  // set by start()

    std::atomic<bool> isAttached{false};
    std::atomic<int> attaching{0};  // attach() calls not yet run on the strand
    std::atomic<bool> isBusy{false};
    std::atomic<bool> isEnding{false};
    std::atomic<int64_t> idleSinceTicks;  // steady clock

    // The strand's own.
    EventOutbox outbox;
    TaskLedger ledger;
    bool askedRunning = false;             // the host has not yet answered which tasks run
    std::deque<std::string> heldCommands;  // commands that came meanwhile
    std::weak_ptr<PageSession> page;       // the page attached
    PageSession* pageIdentity = nullptr;
    std::string pageId;
    uint64_t lastCommand = 0;  // of pageId
    bool everAttached = false;
    std::deque<Claim> claims;  // pages waiting to take over from `page`
    bool pinging = false;
    uint64_t pingNumber = 0;
    boost::asio::steady_timer pingTimer;
    boost::asio::steady_timer graceTimer;
    bool stopping = false;
    std::string revoked;  // why the origin lost its access, once it has
    bool hostEnded = false;
    std::string failure;  // why the host has no control
};
