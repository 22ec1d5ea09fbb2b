#include "Session.h"

#include "PageFrame.h"
#include "PageSession.h"
#include "RequestPolicy.h"
#include "StrandCheck.h"
#include "support/JsonText.h"

#include <boost/asio/post.hpp>

namespace {

int64_t ticks(std::chrono::steady_clock::time_point when)
{
    return when.time_since_epoch().count();
}

}  // namespace

Session::Session(Token, boost::asio::io_context& context, std::string key, std::string origin, Protocol kind,
                 Timing times, Hooks table)
    : sessionKey(std::move(key)), pageOrigin(std::move(origin)), protocol(kind), timing(times), hooks(std::move(table)),
      strand(boost::asio::make_strand(context)), idleSinceTicks(ticks(std::chrono::steady_clock::now())),
      outbox(RequestPolicy::kMaxUnsentBytes), pingTimer(strand), graceTimer(strand)
{
}

std::shared_ptr<Session> Session::start(boost::asio::io_context& context, std::string key, std::string origin,
                                        Protocol protocol, Timing timing, Hooks hooks, std::string& error)
{
    auto session = std::make_shared<Session>(Token{}, context, std::move(key), std::move(origin), protocol, timing,
                                             std::move(hooks));
    const std::weak_ptr<Session> weak = session;
    HostProcess::Listener listener;
    listener.frame = [weak](HostFrame::Kind kind, std::string text) {
        if (auto self = weak.lock())
            self->onHostFrame(kind, std::move(text));
    };
    listener.ended = [weak] {
        if (auto self = weak.lock())
            self->onHostEnded();
    };
    session->host = HostProcess::start(session->strand, session->pageOrigin, std::move(listener), error);
    if (!session->host)
        return nullptr;
    // A session nobody attaches to ends as an idle detached one does.
    boost::asio::post(session->strand, [session] { session->watchIdle(); });
    return session;
}

std::chrono::steady_clock::time_point Session::idleSince() const
{
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(idleSinceTicks.load()));
}

void Session::attach(std::shared_ptr<PageSession> newcomer, std::string id)
{
    ++attaching;
    boost::asio::post(strand, [self = shared_from_this(), newcomer = std::move(newcomer), id = std::move(id)] {
        --self->attaching;
        self->claim(newcomer, id);
        self->updateAttached();
    });
}

void Session::claim(std::shared_ptr<PageSession> newcomer, std::string id)
{
    checkStrand(strand, "Session::claim");
    if (hostEnded) {
        newcomer->close(PageSession::kSessionEnded, "the session has ended; connect again");
        return;
    }
    if (protocol == Protocol::plain) {
        page = newcomer;
        pageIdentity = newcomer.get();
        newcomer->bind(shared_from_this());
        return;
    }
    auto holder = page.lock();
    if (holder && holder != newcomer && id != pageId) {
        // A reload whose old page has not closed yet, or a copy of the tab: the page attached
        // decides by answering.
        claims.push_back({newcomer, std::move(id)});
        if (!pinging) {
            pinging = true;
            holder->send(PageFrame::numbered(PageFrame::Kind::ping, ++pingNumber));
            pingTimer.expires_after(timing.pingPatience);
            pingTimer.async_wait([self = shared_from_this(), number = pingNumber](boost::system::error_code error) {
                if (!error && self->pinging && self->pingNumber == number)
                    self->settleClaims(false);
            });
        }
        return;
    }
    takeOver(newcomer, id);
}

void Session::takeOver(const std::shared_ptr<PageSession>& newcomer, const std::string& id)
{
    checkStrand(strand, "Session::takeOver");
    auto old = page.lock();
    if (old && old != newcomer)
        old->close(PageSession::kTakenOver, "another page of this tab took the session over");
    page = newcomer;
    pageIdentity = newcomer.get();
    newcomer->bind(shared_from_this());
    const bool resumed = everAttached;
    everAttached = true;
    if (id != pageId) {
        pageId = id;
        lastCommand = 0;  // a new page numbers its commands from 1
    }
    graceTimer.cancel();
    newcomer->send(PageFrame::hello(sessionKey, resumed, lastCommand));
    if (outbox.takeLost())
        newcomer->send(PageFrame::lost());
    for (const auto& event : outbox.unacknowledged())
        newcomer->send(event.text);
}

void Session::settleClaims(bool holderAlive)
{
    checkStrand(strand, "Session::settleClaims");
    pinging = false;
    pingTimer.cancel();
    std::deque<Claim> waiting;
    waiting.swap(claims);
    bool first = true;
    for (auto& waiter : waiting) {
        auto newcomer = waiter.page.lock();
        if (!newcomer)
            continue;
        if (holderAlive)
            hooks.copied(newcomer, waiter.pageId);
        else if (first)
            takeOver(newcomer, waiter.pageId);
        else
            claim(newcomer, waiter.pageId);  // it asks the page that took over
        first = false;
    }
    updateAttached();
}

void Session::command(PageSession* from, uint64_t number, std::string text)
{
    boost::asio::post(strand, [self = shared_from_this(), from, number, text = std::move(text)] {
        if (from != self->pageIdentity)
            return;  // a page that no longer holds the session
        if (self->protocol == Protocol::framed) {
            auto sender = self->page.lock();
            const bool seen = number <= self->lastCommand;
            if (!seen)
                self->lastCommand = number;
            if (sender)
                sender->send(PageFrame::numbered(PageFrame::Kind::acknowledged, self->lastCommand));
            if (seen)
                return;  // sent again after a lost connection: it has run already
        }
        self->deliver(std::move(text));
    });
}

void Session::deliver(std::string command)
{
    checkStrand(strand, "Session::deliver");
    if (askedRunning) {
        heldCommands.push_back(std::move(command));
        return;
    }
    TaskLedger::Verdict verdict = ledger.command(command, outbox);
    if (verdict.forward)
        host->send(HostFrame::Kind::command, command);
    if (verdict.askRunning) {
        host->send(HostFrame::Kind::tasks);
        askedRunning = true;
    }
    for (auto& event : verdict.replay)
        receive(std::move(event));
}

void Session::acknowledge(PageSession* from, uint64_t number)
{
    boost::asio::post(strand, [self = shared_from_this(), from, number] {
        if (from == self->pageIdentity)
            self->outbox.acknowledge(number);
    });
}

void Session::pong(PageSession* from, uint64_t number)
{
    boost::asio::post(strand, [self = shared_from_this(), from, number] {
        if (from == self->pageIdentity && self->pinging && number == self->pingNumber)
            self->settleClaims(true);
    });
}

void Session::detach(PageSession* from)
{
    boost::asio::post(strand, [self = shared_from_this(), from] {
        if (from != self->pageIdentity) {
            return;
        }
        self->page.reset();
        self->pageIdentity = nullptr;
        if (self->pinging)
            self->settleClaims(false);
        self->updateAttached();
        self->watchIdle();
    });
}

bool Session::tryEnd()
{
    if (attached() || isBusy.load() || isEnding.exchange(true))
        return false;
    boost::asio::post(strand, [self = shared_from_this()] { self->host->send(HostFrame::Kind::quit); });
    return true;
}

void Session::end()
{
    isEnding.store(true);
    boost::asio::post(strand, [self = shared_from_this()] {
        self->stopping = true;
        self->host->closeInput();
    });
}

void Session::revoke(std::string reason)
{
    isEnding.store(true);
    boost::asio::post(strand, [self = shared_from_this(), reason = std::move(reason)] {
        self->stopping = true;
        self->revoked = reason;
        self->host->closeInput();
    });
}

void Session::onHostFrame(HostFrame::Kind kind, std::string text)
{
    checkStrand(strand, "Session::onHostFrame");
    switch (kind) {
    case HostFrame::Kind::event:
        receive(text + '\n');  // as the control hands it to a script
        break;
    case HostFrame::Kind::busy:
        isBusy.store(true);
        if (!stopping)
            isEnding.store(false);  // asked to end while a command was still starting work
        graceTimer.cancel();
        break;
    case HostFrame::Kind::idle:
        idleSinceTicks.store(ticks(std::chrono::steady_clock::now()));
        isBusy.store(false);
        watchIdle();
        break;
    case HostFrame::Kind::failed:
        failure = text;
        break;
    case HostFrame::Kind::running:
        settleInit(text);
        break;
    default:
        break;
    }
}

void Session::settleInit(const std::string& runningIds)
{
    checkStrand(strand, "Session::settleInit");
    Json::Value ids;
    std::vector<int64_t> running;
    if (parseJson(runningIds, ids) && ids.isArray())
        for (const auto& id : ids)
            if (id.isInt64())
                running.push_back(id.asInt64());
    ledger.settle(running);
    askedRunning = false;
    while (!askedRunning && !heldCommands.empty()) {
        std::string next = std::move(heldCommands.front());
        heldCommands.pop_front();
        deliver(std::move(next));
    }
}

void Session::receive(std::string event)
{
    checkStrand(strand, "Session::receive");
    const uint64_t number = outbox.nextNumber();
    const auto& kept = outbox.push(protocol == Protocol::framed ? PageFrame::event(number, event) : event);
    ledger.event(event, number);
    if (auto attachedPage = page.lock())
        attachedPage->send(kept.text);
    if (protocol == Protocol::plain)
        outbox.acknowledge(number);  // a page of the plain protocol cannot come back for it
}

void Session::onHostEnded()
{
    checkStrand(strand, "Session::onHostEnded");
    hostEnded = true;
    isEnding.store(true);
    graceTimer.cancel();
    pingTimer.cancel();
    if (auto attachedPage = page.lock()) {
        if (!revoked.empty())
            attachedPage->close(PageSession::kPolicy, revoked);
        else if (!failure.empty())
            attachedPage->close(PageSession::kInternalError, failure);
        else if (stopping)
            attachedPage->close(PageSession::kGoingAway, "the server is stopping");
        else
            attachedPage->close(PageSession::kInternalError, "the session's host ended");
    }
    for (auto& waiter : claims)
        if (auto newcomer = waiter.page.lock())
            newcomer->close(PageSession::kSessionEnded, "the session has ended; connect again");
    claims.clear();
    page.reset();
    pageIdentity = nullptr;
    updateAttached();
    hooks.ended(this);
}

void Session::updateAttached()
{
    isAttached.store(pageIdentity != nullptr || !claims.empty());
}

void Session::watchIdle()
{
    if (pageIdentity || !claims.empty() || isBusy.load() || hostEnded)
        return;
    graceTimer.expires_after(protocol == Protocol::plain ? std::chrono::milliseconds(0) : timing.grace);
    graceTimer.async_wait([weak = std::weak_ptr<Session>(shared_from_this())](boost::system::error_code error) {
        auto self = weak.lock();
        if (!error && self && !self->pageIdentity && !self->isBusy.load())
            self->hooks.idle(self.get());
    });
}
