// urlFileName: the name a download of `url` gets on disk when the command line names none: the last
// component of the URL's path (query and fragment left out), percent-decoded and reduced to one
// plain file name; "download" when nothing usable remains. Reentrant.
#pragma once

#include <string>

std::string urlFileName(const std::string& url);
