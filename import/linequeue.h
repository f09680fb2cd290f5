// The line queue of the importers and a buffered line reader over a file.
//
// A reader cuts its file into lines (LF or CR LF ends; a lone CR inside a line
// is kept as it is), keeps the lines of the current message in a LineQueue and
// hands the body lines to the body builder.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qb {

constexpr size_t TQ_LINE_MAX = 400;
extern const char* const RemoveMarker;  // "!!!Remove this!!!"
constexpr size_t RemoveMarkerLen = 17;

struct TQEntry {
    std::string LINE;      // TQ:LINE, without the line end, at most 400 characters
    uint32_t LEN = 0;      // TQ:LEN, characters used (0 for an empty line)
    uint8_t SPLITLINE = 0; // TQ:SPLITLINE, 1: the file line goes on in the next entry
};

using LineQueue = std::vector<TQEntry>;

// Appends one file line to the queue, cut into entries of 400 characters
// (all but the last with SPLITLINE 1).
void pushLine(LineQueue& q, const std::string& line);

// Reads a file line by line in large blocks. Lines end at LF; a CR right
// before the LF is dropped. The last line need not end with LF.
class LineReader {
public:
    LineReader() = default;
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool open(const std::string& path);  // false when it cannot be opened (errno kept)
    void close();
    bool isOpen() const { return f_ != nullptr; }
    // The next line without its end; false at the end of the file.
    bool next(std::string& line);
    // Puts one line back; the next call of next() returns it again.
    void unread(const std::string& line);
    uint64_t offset() const { return consumed_; }  // bytes consumed so far
    uint64_t size() const { return size_; }        // file size at opening

private:
    bool fill();
    std::FILE* f_ = nullptr;
    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    uint64_t consumed_ = 0, size_ = 0;
    bool haveBack_ = false;
    std::string back_;
};

} // namespace qb
