#include "import/cis_window.h"

#include <cstring>

#include "import/cis_common.h"

namespace qb::cis {

bool WindowParser::preload(const std::string&, std::vector<std::string>&) { return false; }

ParseStatus WindowParser::begin(const std::string& path, ImportContext& ctx) {
    path_ = path;
    q_.clear();
    starts_.clear();
    back_.clear();
    cur_ = 0;
    eof_ = false;
    lines_.clear();
    lineAt_ = 0;
    memBytes_ = memTotal_ = 0;
    memory_ = preload(path, lines_);
    if (memory_) {
        for (const auto& l : lines_) memTotal_ += l.size() + 1;
    } else if (!reader_.open(path)) {
        failText_ = path + " cannot be opened\r\n" + std::strerror(errno) + "\r\nThis file will be skipped!";
        return ParseStatus::Failed;
    }
    return opened(ctx);
}

bool WindowParser::rewind() {
    back_.clear();
    if (memory_) {
        lineAt_ = 0;
        memBytes_ = 0;
        return true;
    }
    return reader_.open(path_);
}

uint64_t WindowParser::consumed() const { return memory_ ? memBytes_ : reader_.offset(); }

bool WindowParser::nextLine(std::string& line) {
    if (!back_.empty()) {
        line = std::move(back_.back());
        back_.pop_back();
        return true;
    }
    if (memory_) {
        if (lineAt_ >= lines_.size()) return false;
        line = lines_[lineAt_++];
        memBytes_ += line.size() + 1;
    } else if (!reader_.next(line)) {
        return false;
    }
    if (dos_) dosToWindows(line);
    return true;
}

void WindowParser::unreadLine(std::string line) { back_.push_back(std::move(line)); }

bool WindowParser::fillWindow() {
    q_.clear();
    starts_.clear();
    cur_ = 0;
    std::string line, next;
    while (!eof_) {
        if (!nextLine(line)) {
            eof_ = true;
            break;
        }
        bool haveNext = nextLine(next);
        bool start = isStart(line, haveNext ? next : std::string());
        if (haveNext) unreadLine(next);
        if (start && q_.size() >= WindowEntries) {
            unreadLine(line);
            break;
        }
        if (start) starts_.push_back(q_.size());
        pushLine(q_, line);
        if (q_.size() >= WindowHardLimit) break;
    }
    return !q_.empty();
}

ParseStatus WindowParser::step(ImportContext& ctx, int batch) {
    if (batch < 1) batch = 1;
    int done = 0;
    while (done < batch) {
        if (cur_ >= starts_.size()) {
            if (eof_) {
                ctx.progress = consumed();
                return ParseStatus::Done;
            }
            fillWindow();
            if (starts_.empty()) break;  // lines outside any message: go on next step
            continue;
        }
        size_t first = starts_[cur_];
        size_t last = cur_ + 1 < starts_.size() ? starts_[cur_ + 1] : q_.size();
        ++cur_;
        ctx.oneMessage([&] { parseMessage(ctx, first, last); });
        ++done;
    }
    ctx.progress = consumed();
    return cur_ >= starts_.size() && eof_ ? ParseStatus::Done : ParseStatus::More;
}

} // namespace qb::cis
