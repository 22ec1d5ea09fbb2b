#include "SessionTable.h"

#include "PageSession.h"

#include <random>

namespace {

// Keys are made by zelvorn.js (or here) from random bits; anything else is not taken as one.
bool wellFormedKey(const std::string& key)
{
    if (key.size() < 16 || key.size() > 64)
        return false;
    for (const unsigned char c : key)
        if (!std::isalnum(c) && c != '-' && c != '_')
            return false;
    return true;
}

std::string newKey()
{
    static std::mutex lock;
    static std::random_device random;
    std::lock_guard<std::mutex> guard(lock);
    static const char digits[] = "0123456789abcdef";
    std::string key;
    for (int i = 0; i < 32; ++i)
        key += digits[random() % 16];
    return key;
}

}  // namespace

std::shared_ptr<SessionTable> SessionTable::create(boost::asio::io_context& context, size_t limit,
                                                   Session::Timing timing)
{
    return std::make_shared<SessionTable>(Token{}, context, limit, timing);
}

SessionTable::SessionTable(Token, boost::asio::io_context& io, size_t most, Session::Timing times)
    : context(io), limit(most), timing(times)
{
}

std::shared_ptr<Session> SessionTable::attach(const std::shared_ptr<PageSession>& page, bool framed,
                                              const std::string& key, const std::string& origin,
                                              const std::string& pageId, std::string& refusal, bool& full)
{
    std::lock_guard<std::mutex> guard(lock);
    std::shared_ptr<Session> session;
    auto known = framed ? byKey.find(key) : byKey.end();
    if (known != byKey.end() && known->second->origin() == origin && !known->second->ending())
        session = live[known->second];
    else
        session = open(framed && wellFormedKey(key) && known == byKey.end() ? key : newKey(), origin,
                       framed ? Session::Protocol::framed : Session::Protocol::plain, refusal, full);
    // Under the lock, so that no page is attached to a session the table is ending.
    if (session)
        session->attach(page, pageId);
    return session;
}

std::shared_ptr<Session> SessionTable::open(std::string key, const std::string& origin, Session::Protocol protocol,
                                            std::string& refusal, bool& full)
{
    size_t counted = 0;
    for (const auto& entry : live)
        if (!entry.first->ending())
            ++counted;
    full = counted >= limit && !makeRoom();
    if (full) {
        refusal = "zelvorn serve has " + std::to_string(limit) + " sessions open, all in use; try again later";
        return nullptr;
    }
    auto session = Session::start(context, key, origin, protocol, timing, hooks(), refusal);
    if (!session)
        return nullptr;
    live[session.get()] = session;
    if (protocol == Session::Protocol::framed)
        byKey[key] = session.get();
    return session;
}

bool SessionTable::makeRoom()
{
    Session* oldest = nullptr;
    for (const auto& entry : live) {
        Session* session = entry.first;
        if (!session->ending() && !session->attached() && !session->busy() &&
            (!oldest || session->idleSince() < oldest->idleSince()))
            oldest = session;
    }
    if (!oldest || !oldest->tryEnd())
        return false;
    byKey.erase(oldest->key());
    return true;
}

Session::Hooks SessionTable::hooks()
{
    const std::weak_ptr<SessionTable> weak = shared_from_this();
    Session::Hooks hooks;
    hooks.idle = [weak](Session* session) {
        if (auto table = weak.lock())
            table->onIdle(session);
    };
    hooks.ended = [weak](Session* session) {
        if (auto table = weak.lock())
            table->onEnded(session);
    };
    hooks.copied = [weak](std::shared_ptr<PageSession> page, std::string pageId) {
        if (auto table = weak.lock())
            table->onCopied(page, pageId);
    };
    return hooks;
}

void SessionTable::onIdle(Session* session)
{
    std::lock_guard<std::mutex> guard(lock);
    auto known = byKey.find(session->key());
    if (session->tryEnd() && known != byKey.end() && known->second == session)
        byKey.erase(known);
}

void SessionTable::onEnded(Session* session)
{
    std::shared_ptr<Session> last;  // released after the lock
    std::lock_guard<std::mutex> guard(lock);
    auto known = byKey.find(session->key());
    if (known != byKey.end() && known->second == session)
        byKey.erase(known);
    auto entry = live.find(session);
    if (entry != live.end()) {
        last = std::move(entry->second);
        live.erase(entry);
    }
    changed.notify_all();
}

void SessionTable::onCopied(const std::shared_ptr<PageSession>& page, const std::string& pageId)
{
    std::string refusal;
    bool full = false;
    if (!attach(page, true, "", page->origin(), pageId, refusal, full))
        page->close(full ? PageSession::kFull : PageSession::kInternalError, refusal);
}

bool SessionTable::endAll(std::chrono::milliseconds patience)
{
    std::unique_lock<std::mutex> guard(lock);
    for (const auto& entry : live)
        entry.second->end();
    byKey.clear();
    return changed.wait_for(guard, patience, [&] { return live.empty(); });
}

void SessionTable::revoke(const std::function<std::string(const std::string& origin)>& refusal)
{
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& entry : live) {
        Session* session = entry.first;
        if (session->ending())
            continue;
        std::string reason = refusal(session->origin());
        if (reason.empty())
            continue;
        session->revoke(std::move(reason));
        auto known = byKey.find(session->key());
        if (known != byKey.end() && known->second == session)
            byKey.erase(known);
    }
}

size_t SessionTable::size() const
{
    std::lock_guard<std::mutex> guard(lock);
    return live.size();
}
