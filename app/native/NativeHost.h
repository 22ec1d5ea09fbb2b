// The native-messaging host: one control driven by a browser extension through the browsers'
// framing on standard input and output (a 32-bit length in the machine's byte order, then UTF-8
// JSON). Each frame from the extension must hold one JSON object, the text of one command; each
// event goes back as one frame holding its JSON object.
//
// Frames are checked before they reach the control: one that is not a UTF-8 JSON object, or is
// longer than a command may be (16 MiB), is refused with a message on standard error and the host
// reads on. An event longer than the 1 MiB a browser accepts from a host is not sent (the browser
// would close the connection), with a message on standard error. Events wait in a backlog for the
// browser to read them (EventBacklog), written by a thread of their own: a browser that reads
// slowly never holds up a transfer, and when it falls far behind it gets the latest progress of
// each task instead of all of it.
//
// Its commands come from an extension, so the rules of pages apply (HostSite): downloads only
// below the folders the user allows, the log only in the user's log folder. `caller` names the
// extension (the origin Chrome passes, or the id Firefox passes) for the folders the user picks
// for it.
//
// Returns at the end of input once the queue has ended and its events are written (or the browser
// has gone): 0, or 1 when the input ended inside a frame or the control cannot be created.
#pragma once

#include <cstdint>
#include <string>

// The largest message a browser takes from a host, in bytes.
constexpr uint32_t kMaxEventFrameBytes = 1024 * 1024;

int runNativeHost(int in, int out, const std::string& caller);
