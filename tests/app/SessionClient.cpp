#include "SessionClient.h"

#include "support/JsonText.h"

#include <chrono>
#include <regex>

namespace {

std::string target(const std::string& session, const std::string& page)
{
    return "/control?session=" + session + "&page=" + page;
}

}  // namespace

bool SessionClient::Event::is(const std::string& name, int id) const
{
    return json["name"] == name && (id < 0 || json["id"] == id);
}

SessionClient::SessionClient(uint16_t port, const std::string& origin, const std::string& session,
                             const std::string& page)
    : socket(port, origin, "", target(session, page), "zelvorn.1")
{
}

bool SessionClient::hello()
{
    if (greeted)
        return true;
    const std::string message = raw();
    if (message.empty() || message[0] != 'h')
        return false;
    std::smatch found;
    if (std::regex_search(message, found,
                          std::regex(R"re("session":"([^"]*)","resumed":(true|false),"acked":(\d+))re"))) {
        key = found[1];
        wasResumed = found[2] == "true";
        commandsAcked = std::stoull(found[3]);
        greeted = true;
    }
    return greeted;
}

std::string SessionClient::session()
{
    hello();
    return key;
}

bool SessionClient::resumed()
{
    hello();
    return wasResumed;
}

uint64_t SessionClient::acked()
{
    hello();
    return commandsAcked;
}

void SessionClient::command(const std::string& text)
{
    command(++sent, text);
}

void SessionClient::command(uint64_t number, const std::string& text)
{
    hello();
    socket.send("c" + std::to_string(number) + " " + text);
}

void SessionClient::acknowledge(uint64_t number)
{
    socket.send("a" + std::to_string(number));
}

std::string SessionClient::raw()
{
    auto message = socket.read();
    return message ? *message : "";
}

bool SessionClient::answerPing()
{
    for (std::string message; !(message = raw()).empty();) {
        if (message[0] == 'p') {
            socket.send(message);
            return true;
        }
    }
    return false;
}

std::optional<SessionClient::Event> SessionClient::next()
{
    if (!hello())
        return std::nullopt;
    // Pings keep the socket's own read limit from ever running out: the wait has one of its own.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const std::string message = raw();
        if (message.empty())
            return std::nullopt;
        if (message[0] == 'p') {
            socket.send(message);
            if (std::chrono::steady_clock::now() > giveUp) {
                gaveUp = true;
                return std::nullopt;
            }
        } else if (message[0] == 'l') {
            wasLost = true;
        } else if (message[0] == 'e') {
            const size_t space = message.find(' ');
            Event event;
            event.number = std::stoull(message.substr(1, space - 1));
            event.text = message.substr(space + 1);
            parseJson(event.text, event.json);
            last = event.number;
            return event;
        }
    }
}

std::optional<SessionClient::Event> SessionClient::until(const std::string& name, int id)
{
    for (;;) {
        auto event = next();
        if (!event || event->is(name, id))
            return event;
    }
}
