#include "support/JsonText.h"

#include <json/reader.h>
#include <json/writer.h>

// Json::Reader and Json::FastWriter are deprecated in favour of the builders, but they are the
// exact reading mode and compact form pages rely on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

bool parseJson(const std::string& text, Json::Value& value)
{
    Json::Reader reader;
    try {
        return reader.parse(text, value);
    } catch (const Json::Exception&) {
        // The reader throws, instead of failing, when nesting exceeds its depth limit.
        return false;
    }
}

std::string writeCompactJson(const Json::Value& value)
{
    Json::FastWriter writer;
    return writer.write(value);
}

#pragma GCC diagnostic pop
