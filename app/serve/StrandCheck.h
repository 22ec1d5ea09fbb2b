// checkStrand: the strand counterpart of ThreadChecker. State that belongs to a strand may be
// touched from whichever thread runs the strand's handlers, never from another handler at the
// same time; a call off the strand ends the process with a message naming the operation, so a
// test that makes one fails where it makes it. A check costs one thread-local lookup.
//
// Stateless; any thread.
#pragma once

#include <cstdio>
#include <cstdlib>

template <class Strand>
void checkStrand(const Strand& strand, const char* operation)
{
    if (strand.running_in_this_thread())
        return;
    std::fprintf(stderr, "%s: called off its strand\n", operation);
    std::abort();
}
