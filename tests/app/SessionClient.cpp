#include "SessionClient.h"

#include <regex>

namespace {

std::string target(const std::string& session, const std::string& page)
{
    return "/control?session=" + session + "&page=" + page;
}

}  // namespace

std::string SessionClient::Event::member(const std::string& name) const
{
    // Events are compact JSON with plain members: a value runs to the next top-level ',' or '}'.
    const std::string key = "\"" + name + "\":";
    const size_t at = text.find(key);
    if (at == std::string::npos)
        return "";
    size_t end = at + key.size();
    int depth = 0;
    bool quoted = false;
    for (; end < text.size(); ++end) {
        const char c = text[end];
        if (quoted) {
            if (c == '\\')
                ++end;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && depth-- == 0) {
            break;
        } else if (c == ',' && depth == 0) {
            break;
        }
    }
    return text.substr(at + key.size(), end - at - key.size());
}

bool SessionClient::Event::is(const std::string& name, int id) const
{
    return member("name") == "\"" + name + "\"" && (id < 0 || member("id") == std::to_string(id));
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

std::optional<SessionClient::Event> SessionClient::next()
{
    if (!hello())
        return std::nullopt;
    for (;;) {
        const std::string message = raw();
        if (message.empty())
            return std::nullopt;
        if (message[0] == 'p') {
            socket.send(message);
        } else if (message[0] == 'l') {
            wasLost = true;
        } else if (message[0] == 'e') {
            const size_t space = message.find(' ');
            Event event;
            event.number = std::stoull(message.substr(1, space - 1));
            event.text = message.substr(space + 1);
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
