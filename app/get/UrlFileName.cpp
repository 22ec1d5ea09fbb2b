#include "UrlFileName.h"

#include "support/Path.h"
#include "support/Text.h"

std::string urlFileName(const std::string& url)
{
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "" : path.substr(slash);
    }
    std::string component = path.substr(path.rfind('/') + 1);
    // A "+" in a path is itself, not the space it stands for in a query.
    std::string literal;
    for (char c : component)
        literal += c == '+' ? std::string("%2B") : std::string(1, c);
    const std::string name = toUtf8(plainFileName(fromUtf8(urlDecode(literal))));
    return name.empty() ? "download" : name;
}
