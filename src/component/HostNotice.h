// hostNotice: one line for the person who runs the host, on its standard error, about what the
// control refused a page (the page itself learns it from its events). Any thread; each line is
// written whole.
#pragma once

#include <string>

void hostNotice(const std::string& text);
