// PageFrame: the messages of the framed protocol between zelvorn.js and `zelvorn serve`, which a
// page asks for with the WebSocket subprotocol "zelvorn.1". Each WebSocket text message is one
// letter saying what it is, then its number or text:
//
//   serve -> page
//     h{"session":KEY,"resumed":BOOL,"acked":N}  first, on every connection: the session the page
//                     is attached to (a tab keeps KEY for its next connection), whether it
//                     existed before, and the last command of this page it has received
//     e<N> <text>     event number N of the session (numbered from 1), the control's text as is
//     a<N>            every command of this page up to number N has been received
//     p<N>            are you there? (answered by p<N>)
//     l               events were lost: the page should send its tasks again
//   page -> serve
//     c<N> <text>     command number N of this page (numbered from 1 per page load)
//     a<N>            every event up to number N has been handed to the page's script
//     p<N>            the answer to p<N>
//
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace PageFrame {

constexpr const char* kProtocol = "zelvorn.1";

enum class Kind : char { hello = 'h', event = 'e', command = 'c', acknowledged = 'a', ping = 'p', lost = 'l' };

std::string hello(const std::string& session, bool resumed, uint64_t acked);
std::string event(uint64_t number, const std::string& text);
// `kind` acknowledged or ping.
std::string numbered(Kind kind, uint64_t number);
std::string lost();

// A message from a page: false when it is none of the page's kinds.
bool parse(const std::string& message, Kind& kind, uint64_t& number, std::string& text);

}  // namespace PageFrame
