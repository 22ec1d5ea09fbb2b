#include "support/JsonText.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

bool parseJson(const std::string& text, Json::Value& value)
{
    // Json::Reader is deprecated in favour of the builders, but its default mode is exactly
    // what pages rely on (comments accepted, any value at the root).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader;
#pragma GCC diagnostic pop
    try {
        return reader.parse(text, value);
    } catch (const Json::Exception&) {
        // The reader throws, instead of failing, when nesting exceeds its depth limit.
        return false;
    }
}

std::string writeCompactJson(const Json::Value& value)
{
    // Read-only once made, so every thread may make its writers from it. Never destroyed: a
    // detached queue thread may still send an event while the process exits.
    static const Json::StreamWriterBuilder* const builder = [] {
        auto* settings = new Json::StreamWriterBuilder;
        (*settings)["indentation"] = "";       // one line, no white space
        (*settings)["commentStyle"] = "None";  // comments a parsed command carried stay out
        (*settings)["emitUTF8"] = true;        // non-ASCII text as its characters, not \u escapes
        return settings;
    }();
    // Writers are kept for reuse: making one reads the settings, which costs more than writing
    // a small event. Kept in a shared pool rather than per thread, so that no thread leaves
    // one behind in its thread-local storage when it ends.
    static std::mutex poolLock;
    static auto* const pool = new std::vector<std::unique_ptr<Json::StreamWriter>>();  // guarded by poolLock
    std::unique_ptr<Json::StreamWriter> writer;
    {
        std::lock_guard<std::mutex> lock(poolLock);
        if (!pool->empty()) {
            writer = std::move(pool->back());
            pool->pop_back();
        }
    }
    if (!writer)
        writer.reset(builder->newStreamWriter());
    std::ostringstream text;
    writer->write(value, &text);
    text << '\n';
    std::lock_guard<std::mutex> lock(poolLock);
    pool->push_back(std::move(writer));
    return text.str();
}
