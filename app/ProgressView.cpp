#include "ProgressView.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

const std::chrono::milliseconds kRedrawInterval(100);

bool canRedraw(std::FILE* stream)
{
    const char* term = std::getenv("TERM");
    return isatty(fileno(stream)) && term && *term && std::strcmp(term, "dumb") != 0;
}

size_t columns(std::FILE* stream)
{
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// `line` cut to fit `width` columns (one per character; a wider one may still wrap), so that a
// live line never wraps onto a second row that the next redraw would not erase.
std::string fitted(const std::string& line, size_t width)
{
    size_t characters = 0;
    for (size_t at = 0; at < line.size(); ++at) {
        if ((static_cast<unsigned char>(line[at]) & 0xC0) == 0x80)
            continue;
        if (++characters == width)
            return line.substr(0, at);
    }
    return line;
}

}  // namespace

ProgressView::ProgressView(std::FILE* output, std::FILE* errors) : out(output), err(errors), live(canRedraw(output)) {}

void ProgressView::update(int id, const std::string& line)
{
    if (!live)
        return;
    const bool added = lines.find(id) == lines.end();
    lines[id] = line;
    if (added || std::chrono::steady_clock::now() - lastDraw >= kRedrawInterval) {
        clear();
        draw();
    }
}

void ProgressView::remove(int id)
{
    if (lines.erase(id) == 0)
        return;
    clear();
    draw();
}

void ProgressView::printTo(std::FILE* stream, const std::string& line)
{
    clear();
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
    draw();
}

void ProgressView::clear()
{
    if (drawn == 0)
        return;
    // Up to the first live line, then erase to the end of the screen.
    std::fprintf(out, "\033[%zuA\r\033[J", drawn);
    std::fflush(out);
    drawn = 0;
}

void ProgressView::draw()
{
    if (!live)
        return;
    const size_t width = columns(out);
    for (const auto& entry : lines)
        std::fprintf(out, "%s\n", fitted(entry.second, width).c_str());
    drawn = lines.size();
    std::fflush(out);
    lastDraw = std::chrono::steady_clock::now();
}
