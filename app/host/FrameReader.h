// FrameReader: reads the browsers' native-messaging frames from a file descriptor: a 32-bit length
// in the machine's byte order, then that many bytes. A frame longer than the limit is read past in
// bounded pieces, never held, so memory stays within the limit whatever the input.
//
// Used by one thread at a time; it owns no descriptor, only reads the one it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FrameReader {
public:
    enum class Outcome {
        frame,      // `body` holds the next frame's bytes
        tooLong,    // the next frame was longer than the limit; it is consumed, `length` says how long
        truncated,  // the input ended inside a frame (its length or its body)
        end,        // the input ended between frames
    };

    FrameReader(int input, size_t maxBody) : fd(input), limit(maxBody) {}

    // Blocks until a whole frame (or the end of input) has arrived.
    Outcome next(std::string& body, uint32_t& length);

private:
    // Reads up to `size` bytes into `into`, fewer only at the end of input (or a read error).
    size_t readFully(char* into, size_t size);

    const int fd;
    const size_t limit;
};
