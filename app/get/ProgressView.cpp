#include "ProgressView.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const std::chrono::milliseconds kRedrawInterval(100);

bool canRedraw(std::FILE* stream)
{
    const char* term = std::getenv("TERM");
    return isatty(fileno(stream)) && term && *term && std::strcmp(term, "dumb") != 0;
}

size_t terminalColumns(std::FILE* stream)
{
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// The columns a character takes on a terminal: wcwidth's answer where the locale knows it.
size_t columnsOf(char32_t c)
{
    const int width = ::wcwidth(static_cast<wchar_t>(c));
    if (width >= 0)
        return static_cast<size_t>(width);
    if (c < 0x20 || (c >= 0x7f && c < 0xa0))
        return 0;
    // A locale that knows no such character (C, POSIX): the East Asian wide ones take two.
    const bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf) || (c >= 0xac00 && c <= 0xd7a3) ||
                      (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
                      (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1f64f) ||
                      (c >= 0x1f900 && c <= 0x1f9ff) || (c >= 0x20000 && c <= 0x3fffd);
    return wide ? 2 : 1;
}

// The first whole characters of UTF-8 `line` that fill at most `width` columns.
std::string fitted(const std::string& line, size_t width)
{
    size_t used = 0;
    for (size_t at = 0; at < line.size();) {
        const auto lead = static_cast<unsigned char>(line[at]);
        size_t length = lead < 0xc0 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        if (at + length > line.size())
            length = line.size() - at;
        char32_t c = length == 1 ? lead : lead & (0x3fu >> (length - 1));
        for (size_t i = 1; i < length; ++i)
            c = (c << 6) | (static_cast<unsigned char>(line[at + i]) & 0x3fu);
        used += columnsOf(c);
        if (used > width)
            return line.substr(0, at);
        at += length;
    }
    return line;
}

// `bytes` in one write (or as few as the stream takes), after what the stream has buffered.
void emit(std::FILE* stream, const std::string& bytes)
{
    std::fflush(stream);
    const int fd = fileno(stream);
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

ProgressView::ProgressView(std::FILE* output, std::FILE* errors)
    : out(output), err(errors), live(canRedraw(output)                              ? output
                                     : !isatty(fileno(output)) && canRedraw(errors) ? errors
                                                                                    : nullptr)
{
}

void ProgressView::update(int id, const std::string& line)
{
    if (!live)
        return;
    const bool added = lines.find(id) == lines.end();
    lines[id] = line;
    if (added || std::chrono::steady_clock::now() - lastDraw >= kRedrawInterval)
        redraw("");
}

void ProgressView::remove(int id)
{
    if (lines.erase(id) == 0)
        return;
    redraw("");
}

void ProgressView::printTo(std::FILE* stream, const std::string& line)
{
    const std::string text = line + "\n";
    if (stream == live) {
        redraw(text);
    } else if (live && drawn > 0 && isatty(fileno(stream))) {
        // Another stream on the same screen: the live lines make way, then come back below.
        emit(live, erase());
        emit(stream, text);
        redraw("");
    } else {
        emit(stream, text);
    }
}

void ProgressView::redraw(const std::string& above)
{
    std::string bytes = erase();
    bytes += above;
    bytes += drawing();
    emit(live, bytes);
}

std::string ProgressView::erase()
{
    if (drawn == 0)
        return "";
    // Up to the first live line, then erase to the end of the screen.
    const std::string bytes = "\033[" + std::to_string(drawn) + "A\r\033[J";
    drawn = 0;
    return bytes;
}

std::string ProgressView::drawing()
{
    std::string bytes;
    // The last column stays free: a line that fills it would wrap on some terminals.
    const size_t width = terminalColumns(live) - 1;
    for (const auto& entry : lines)
        bytes += fitted(entry.second, width) + "\n";
    drawn = lines.size();
    lastDraw = std::chrono::steady_clock::now();
    return bytes;
}
