#include "import/linequeue.h"

#include <cstring>
#include <sys/stat.h>

namespace qb {

const char* const RemoveMarker = "!!!Remove this!!!";

void pushLine(LineQueue& q, const std::string& line) {
    if (line.empty()) {
        q.push_back(TQEntry{});
        return;
    }
    for (size_t at = 0; at < line.size(); at += TQ_LINE_MAX) {
        TQEntry e;
        e.LINE = line.substr(at, TQ_LINE_MAX);
        e.LEN = static_cast<uint32_t>(e.LINE.size());
        e.SPLITLINE = at + TQ_LINE_MAX < line.size() ? 1 : 0;
        q.push_back(std::move(e));
    }
}

LineReader::~LineReader() { close(); }

bool LineReader::open(const std::string& path) {
    close();
    f_ = std::fopen(path.c_str(), "rb");
    if (!f_) return false;
    struct stat st{};
    size_ = ::fstat(fileno(f_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    buf_.resize(1 << 20);
    pos_ = end_ = 0;
    eof_ = false;
    consumed_ = 0;
    haveBack_ = false;
    return true;
}

void LineReader::close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
}

bool LineReader::fill() {
    if (eof_ || !f_) return false;
    if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
    size_t n = std::fread(buf_.data() + end_, 1, buf_.size() - end_, f_);
    if (n == 0) {
        eof_ = true;
        return false;
    }
    end_ += n;
    return true;
}

bool LineReader::next(std::string& line) {
    if (haveBack_) {
        haveBack_ = false;
        line = std::move(back_);
        return true;
    }
    if (!f_) return false;
    for (;;) {
        const char* start = buf_.data() + pos_;
        const void* nl = std::memchr(start, '\n', end_ - pos_);
        if (nl) {
            size_t len = static_cast<const char*>(nl) - start;
            consumed_ += len + 1;
            size_t keep = len;
            if (keep > 0 && start[keep - 1] == '\r') --keep;
            line.assign(start, keep);
            pos_ += len + 1;
            return true;
        }
        if (!fill()) {
            if (pos_ < end_) {
                size_t len = end_ - pos_;
                const char* s = buf_.data() + pos_;
                consumed_ += len;
                size_t keep = len;
                if (keep > 0 && s[keep - 1] == '\r') --keep;
                line.assign(s, keep);
                pos_ = end_;
                return true;
            }
            return false;
        }
    }
}

void LineReader::unread(const std::string& line) {
    back_ = line;
    haveBack_ = true;
}

} // namespace qb
