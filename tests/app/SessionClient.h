// SessionClient: a page of `zelvorn serve`'s framed protocol for tests, as zelvorn.js speaks it:
// it asks for "zelvorn.1" with its tab's session key and its page id, reads the session's hello,
// numbers its commands, reads numbered events and acknowledges them when told to, and answers
// the session's pings while it reads. Blocking (PageClient); every read gives up after 30 s.
//
// Owned by one test, used on one thread.
#pragma once

#include "PageClient.h"

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>

class SessionClient {
public:
    struct Event {
        uint64_t number = 0;
        std::string text;
        Json::Value json;  // the text, parsed
        bool is(const std::string& name, int id = -1) const;
    };

    // Connects with key `session` and page id `page`; the hello is read by the first call that
    // needs it (so that a test may first let another page answer a ping).
    SessionClient(uint16_t port, const std::string& origin, const std::string& session, const std::string& page);

    bool open() const { return socket.open(); }
    // From the hello; false and empty when the socket closed before it came.
    bool hello();
    std::string session();
    bool resumed();
    uint64_t acked();

    // Sends `text` as the next command of this page, or as command `number`.
    void command(const std::string& text);
    void command(uint64_t number, const std::string& text);
    void acknowledge(uint64_t number);
    // The next event (answering pings); nothing once the socket has closed, or when no event
    // came for 30 s (timedOut()), pings or not. `lost` tells whether the
    // session said that events were lost before it.
    std::optional<Event> next();
    // Reads until event `name` (of task `id` when not -1) comes; nothing when the socket closes first.
    std::optional<Event> until(const std::string& name, int id = -1);
    // Reads one message of any kind without answering it: "" once closed.
    std::string raw();
    // Reads until the session pings this page, and answers; false when the socket closes first.
    bool answerPing();
    bool lost() const { return wasLost; }
    bool timedOut() const { return gaveUp || socket.timedOut(); }
    uint64_t lastEvent() const { return last; }

    int closeCode() const { return socket.closeCode(); }
    std::string closeReason() const { return socket.closeReason(); }
    void close() { socket.close(); }
    void drop() { socket.drop(); }

private:
    PageClient socket;
    bool greeted = false;
    std::string key;
    bool wasResumed = false;
    uint64_t commandsAcked = 0;
    uint64_t sent = 0;
    uint64_t last = 0;
    bool wasLost = false;
    bool gaveUp = false;
};
