// Sidecar: the small file beside a download in which `zelvorn get` keeps what a page saves of an
// unfinished task: the task object it sends back to resume. The file also carries a format number
// and a checksum of that object, so that a damaged file is told apart from an intact one and is
// never taken for the state of the download.
//
// Owned by the task it belongs to, for the command's run; used on one thread at a time. The file is
// replaced atomically on every save, so a run that ends at any moment leaves the last state whole.
#pragma once

#include <json/value.h>

#include <string>

class Sidecar {
public:
    enum class State {
        missing,  // no sidecar: nothing was saved
        loaded,   // the saved task object, intact
        damaged,  // a file is there, but not one this program wrote whole; `why` says how
    };

    // The sidecar of a download named `name` in `folder`, for the task known by `key` (what names
    // it on the command line): "<name>.<8 hex digits of key>.zelvorn", so that two downloads of
    // one name never share a sidecar.
    Sidecar(const std::string& folder, const std::string& name, const std::string& key);

    const std::string& path() const { return file; }

    State load(Json::Value& task, std::string& why) const;
    // False, with `error`, when the file could not be written; the previous one is then intact.
    bool save(const Json::Value& task, std::string& error) const;
    // True when no sidecar is left.
    bool remove(std::string& error) const;

private:
    std::string file;
};
