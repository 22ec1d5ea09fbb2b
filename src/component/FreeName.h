// FreeName: the name a new file or folder takes beside what is already there, numbered the way
// browsers number copies: "name.ext", then "name (1).ext", "name (2).ext", ... without a cap.
// Whether a name is free is decided by the caller's attempt to create it exclusively (O_EXCL, or
// mkdir), so two claims never end on one name, in this process or across processes.
//
// Finding a name costs a constant number of attempts however many copies exist: the process
// remembers, per folder and name, the number to try next. Any thread; the memory of numbers is
// guarded by a lock of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace FreeName {

// What an attempt to create a candidate name says.
enum class Attempt {
    made,   // created: the name is the caller's
    taken,  // something is there (EEXIST): try the next name
    failed  // another failure: stop
};

// Tries `name` itself, then numbered names from the one remembered for `folder` (any text that
// identifies the directory) and `name`. Returns the name that was made, "" when an attempt
// failed.
std::wstring claim(const std::wstring& folder, const std::wstring& name,
                   const std::function<Attempt(const std::wstring& candidate)>& attempt);

}  // namespace FreeName
