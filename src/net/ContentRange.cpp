#include "net/ContentRange.h"

#include "support/Text.h"

#include <boost/algorithm/string/erase.hpp>
#include <boost/xpressive/xpressive.hpp>

ContentRange ContentRange::parse(const std::string& value)
{
    using namespace boost::xpressive;
    // Compiled once and never destroyed: detached workers may read an answer while the process
    // exits.
    static const sregex* const part = new sregex(sregex::compile("(\\d+)-(\\d+)\\/(\\d+)"));
    static const sregex* const unsatisfied = new sregex(sregex::compile("bytes\\s+\\*/(\\d+)"));
    ContentRange range;
    smatch whole;
    if (regex_match(value, whole, *unsatisfied)) {
        range.present = range.unsatisfied = true;
        range.total = parseInt64(whole[1].str());
        return range;
    }
    // "bytes " goes wherever it stands; of several ranges the last is taken.
    std::string text = value;
    boost::erase_all(text, "bytes ");
    for (sregex_iterator match(text.begin(), text.end(), *part), end; match != end; ++match) {
        range.present = true;
        range.first = parseInt64((*match)[1].str());
        range.last = parseInt64((*match)[2].str());
        range.total = parseInt64((*match)[3].str());
    }
    return range;
}
