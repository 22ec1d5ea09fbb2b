// EventText: one event's JSON object, written as text member by member. A job sends several
// events for every file and every block; building each as a Json::Value tree and streaming it
// out cost more than the rest of a small file's work. The text is the one writeCompactJson
// gives for the same members: names in byte order, no white space, strings as UTF-8 with the
// same escapes, one line feed at the end, so a page sees no difference.
//
// A value object, used by one thread at a time. Member names are the protocol's constants:
// only the pointer is kept, so a name must outlive the object. Setting a name again replaces
// its value, as with a Json::Value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class EventList;

class EventText {
public:
    EventText& string(const char* name, const std::string& value);
    EventText& number(const char* name, int64_t value);
    EventText& flag(const char* name, bool value);
    EventText& object(const char* name, const EventText& value);
    EventText& list(const char* name, EventList&& items);

    // The object on one line, ended by a line feed.
    std::string line() const;

private:
    friend class EventList;
    void put(const char* name, std::string written);
    void appendObject(std::string& out) const;

    std::vector<std::pair<const char*, std::string>> members;  // name, value as written; in name order
};

// The objects of a list member, written as they are added: a folder's thousands of files cost
// their text and nothing more.
class EventList {
public:
    void add(const EventText& item);

private:
    friend class EventText;
    std::string written = "[";  // closed by EventText::list
};
