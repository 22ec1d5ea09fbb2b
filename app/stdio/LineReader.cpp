#include "LineReader.h"

namespace {

constexpr size_t kPieceBytes = 64 * 1024;

}  // namespace

LineReader::LineReader(std::istream& input, size_t maxLine) : in(input), limit(maxLine), piece(kPieceBytes) {}

LineReader::Outcome LineReader::next(std::string& line)
{
    // The room a long line took goes back before the next is read, rather than staying
    // resident for the rest of the run.
    if (line.capacity() > kPieceBytes)
        std::string().swap(line);
    line.clear();
    bool started = false;
    bool tooLong = false;
    for (;;) {
        // Stops after a line feed (taken, counted, not stored), at the end of input, or with
        // the piece full (failbit without eofbit: the line goes on).
        in.getline(piece.data(), static_cast<std::streamsize>(piece.size()));
        const size_t got = static_cast<size_t>(in.gcount());
        const bool lineFeed = !in.fail() && !in.eof();
        const bool full = in.fail() && !in.eof() && got > 0;
        if (got == 0 && !started)
            return Outcome::end;  // also after a read error: the stream is not retried
        started = true;
        const size_t stored = lineFeed ? got - 1 : got;
        if (!tooLong && line.size() + stored > limit) {
            tooLong = true;
            std::string().swap(line);  // give the memory back while the rest is skipped
        }
        if (!tooLong) {
            // A line that outgrows one piece gets room for the longest allowed at once: its
            // pages are committed only as they are written, whereas growing by doubling leaves
            // freed copies behind that the allocator keeps resident.
            if (line.size() + stored > line.capacity())
                line.reserve(line.empty() ? stored : limit);
            line.append(piece.data(), stored);
        }
        if (!full)
            return tooLong ? Outcome::tooLong : Outcome::line;
        in.clear();
    }
}
