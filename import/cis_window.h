// The line window of the text readers: a file is read in windows of about
// 2500 line-queue entries that always end at a message boundary (except at
// the end of the file); the messages of a window are parsed, the window is
// emptied and the next one is read on a later step.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "import/linequeue.h"
#include "import/parser.h"

namespace qb::cis {

constexpr size_t WindowEntries = 2500;
// A message longer than this many entries past a full window is cut there.
constexpr size_t WindowHardLimit = 10000;

class WindowParser : public Parser {
public:
    ParseStatus begin(const std::string& path, ImportContext& ctx) override;
    ParseStatus step(ImportContext& ctx, int batch) override;

protected:
    // True when the line (followed by `next`, "" at the end) starts a message.
    virtual bool isStart(const std::string& line, const std::string& next) const = 0;
    // Parses the message of the entries [first, last) of q_.
    virtual void parseMessage(ImportContext& ctx, size_t first, size_t last) = 0;
    // Called by begin() once the file is open; may refuse the file.
    virtual ParseStatus opened(ImportContext&) { return ParseStatus::More; }
    // Lines of the whole file, when a reader reads it at opening (first pass);
    // an empty optional means "read the file line by line".
    virtual bool preload(const std::string& path, std::vector<std::string>& lines);

    bool nextLine(std::string& line);
    void unreadLine(std::string line);
    // Reopens the file from its start (after a look at its first lines).
    bool rewind();

    bool dos_ = false;   // DOS character set: convert every line on entry
    LineQueue q_;
    uint64_t consumed() const;

private:
    bool fillWindow();

    std::string path_;
    LineReader reader_;
    bool memory_ = false;
    std::vector<std::string> lines_;
    size_t lineAt_ = 0;
    uint64_t memBytes_ = 0, memTotal_ = 0;
    std::vector<std::string> back_;
    std::vector<size_t> starts_;
    size_t cur_ = 0;
    bool eof_ = false;
};

} // namespace qb::cis
