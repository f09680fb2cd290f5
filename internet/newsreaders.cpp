// The article files of news readers:
//   "Agent News", "Unix News"  articles after "========" or "From " separator lines
//   "IE News", "Outlook Express News"
//                              article index records and articles, each article
//                              as long as its "Lines:" header says
//   "Netscape News"            articles, as long as their "Lines:" header says
//   "Gravity"                  a stream of articles, each beginning with a header
//                              block of From, Date, Subject, Newsgroups and Message-ID
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "core/text.h"
#include "internet/news.h"
#include "internet/readerbase.h"

namespace qb {

namespace {

// ------------------------------------------------------- separator-line files

class SeparatorNewsReader : public InternetReader {
public:
    explicit SeparatorNewsReader(bool fromDefault) : fromSeparators_(fromDefault) {}

protected:
    void reset() override {
        q_.clear();
        haveMsg_ = false;
        decideSeparator();
    }

public:
    ParseStatus step(ImportContext& ctx, int batch) override {
        int done = 0;
        std::string line;
        while (done < batch && !ctx_->writeFailed) {
            if (!in_.next(line)) {
                if (haveMsg_) finish(ctx);
                progress();
                in_.close();
                return ParseStatus::Done;
            }
            if (isSeparator(line)) {
                if (haveMsg_) {
                    finish(ctx);
                    ++done;
                }
                haveMsg_ = true;
            } else if (fromSeparators_ && !line.empty() && line[0] == '>') {
                // The mailbox quoting of body lines that begin with "From ".
                size_t k = line.find_first_not_of('>');
                if (k != std::string::npos && line.compare(k, 5, "From ") == 0) line.erase(0, 1);
            }
            if (haveMsg_) takeLine(q_, std::move(line));
        }
        progress();
        return ParseStatus::More;
    }

private:
    // The first 300 characters of the file tell the separator kind.
    void decideSeparator() {
        std::FILE* f = std::fopen(path_.c_str(), "rb");
        if (!f) return;
        char buf[400];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        std::fclose(f);
        std::string_view s(buf, n);
        for (size_t p = 0; p < std::min<size_t>(300, n); ++p) {
            if (s.compare(p, 5, "=====") == 0) {
                if (s.compare(p, 8, "========") == 0) {
                    fromSeparators_ = false;
                    return;
                }
            } else if (s.compare(p, 5, "From ") == 0) {
                std::string_view rest = s.substr(p + 5, 100);
                size_t eol = rest.find('\n');
                if (rest.substr(0, eol).find('@') != std::string_view::npos) {
                    fromSeparators_ = true;
                    return;
                }
            }
        }
    }
    bool isSeparator(const std::string& line) const {
        if (!fromSeparators_) return line == "========";
        if (line.compare(0, 5, "From ") != 0) return false;
        return line.find('@') < 100;
    }
    void finish(ImportContext& ctx) {
        storeNewsArticle(q_, 1, ctx);
        q_.clear();
        progress();
    }
    LineQueue q_;
    bool haveMsg_ = false;
    bool fromSeparators_;
};

// -------------------------------------------------------------------- Gravity

class GravityReader : public InternetReader {
protected:
    void reset() override {
        q_.clear();
        haveMsg_ = false;
    }

public:
    ParseStatus step(ImportContext& ctx, int batch) override {
        int done = 0;
        std::string line;
        while (done < batch && !ctx_->writeFailed) {
            if (!in_.next(line)) {
                if (haveMsg_) finish(ctx);
                progress();
                in_.close();
                return ParseStatus::Done;
            }
            if (!beginsHeaderBlock(line)) {
                if (haveMsg_) takeLine(q_, std::move(line));
                continue;
            }
            std::vector<std::string> block;
            unsigned kinds = readHeaderBlock(std::move(line), block, kindBit);
            if (kinds == 0x1F) {
                if (haveMsg_) {
                    finish(ctx);
                    ++done;
                }
                haveMsg_ = true;
            }
            if (haveMsg_)
                for (auto& l : block) takeLine(q_, std::move(l));
        }
        progress();
        return ParseStatus::More;
    }

private:
    static unsigned kindBit(HeaderKind k) {
        switch (k) {
            case HdrFrom: return 1;
            case HdrDate: return 2;
            case HdrSubject: return 4;
            case HdrNewsgroups: return 8;
            case HdrMessageId: return 16;
            default: return 0;
        }
    }
    void finish(ImportContext& ctx) {
        storeNewsArticle(q_, 0, ctx);
        q_.clear();
        progress();
    }
    LineQueue q_;
    bool haveMsg_ = false;
};

// ------------------------------------------------ indexed and plain article files

class ArticleFileReader : public Parser {
public:
    explicit ArticleFileReader(bool indexed) : indexed_(indexed) {}

    ParseStatus begin(const std::string& path, ImportContext& ctx) override {
        ctx_ = &ctx;
        failText_.clear();
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            failText_ = path + " cannot be opened\r\n" + std::strerror(errno) + "\r\n" + "This file will be skipped!";
            return ParseStatus::Failed;
        }
        buf_.assign(std::istreambuf_iterator<char>(in), {});
        pos_ = 0;
        nulAt_ = 0;
        nulKnown_ = false;
        index_.clear();
        ctx.progress = 0;
        return ParseStatus::More;
    }

    ParseStatus step(ImportContext& ctx, int batch) override {
        int done = 0;
        while (done < batch && !ctx_->writeFailed) {
            if (!seekArticle()) {
                ctx.progress = buf_.size();
                buf_.clear();
                buf_.shrink_to_fit();
                return ParseStatus::Done;
            }
            readArticle(ctx);
            ++done;
            ctx.progress = pos_;
        }
        return ParseStatus::More;
    }

private:
    size_t lineEnd(size_t p) const {
        size_t e = buf_.find('\n', p);
        return e == std::string::npos ? buf_.size() : e;
    }
    std::string lineAt(size_t p, size_t e) const {
        size_t k = e;
        if (k > p && buf_[k - 1] == '\r') --k;
        return buf_.substr(p, k - p);
    }
    bool isIndexAt(size_t p) const {
        return indexed_ && p + 22 < buf_.size() && static_cast<unsigned char>(buf_[p]) == 0xBC && buf_[p + 22] == '<';
    }
    bool isHeaderLineAt(size_t p) const {
        if (p >= buf_.size() || buf_[p] < 'A' || buf_[p] > 'Z') return false;
        std::string_view s(buf_.data() + p, std::min<size_t>(50, buf_.size() - p));
        s = s.substr(0, s.find('\n'));
        if (s.compare(0, 5, "From:") == 0 || s.compare(0, 5, "Date:") == 0) return true;
        if (s.compare(0, 5, "Newsg") == 0 || s.compare(0, 5, "Subje") == 0 || s.compare(0, 5, "Messa") == 0)
            return s.find(':') != std::string_view::npos;
        return false;
    }
    bool beginsArticle(size_t p) const { return isIndexAt(p) || isHeaderLineAt(p); }
    // The first index record in [p, e), or npos.
    size_t indexWithin(size_t p, size_t e) const {
        while (p < e) {
            const void* hit = std::memchr(buf_.data() + p, '\xBC', e - p);
            if (!hit) break;
            p = static_cast<const char*>(hit) - buf_.data();
            if (isIndexAt(p)) return p;
            ++p;
        }
        return std::string::npos;
    }

    // A NUL-ended field of an index record from q (searched over at most 400
    // bytes); false when the next record begins first or no NUL is found.
    bool field(size_t& q, size_t maxLen, std::string& out, char stop = '\0') const {
        out.clear();
        size_t limit = std::min(buf_.size(), q + 400);
        size_t k = q;
        for (; k < limit && buf_[k] != '\0' && buf_[k] != stop; ++k) {
            if (k > q && isIndexAt(k)) return false;
            if (out.size() < maxLen) out += buf_[k];
        }
        if (k >= limit) return false;
        q = k + 1;
        return true;
    }

    // Reads the index record at p; returns the position after it.
    size_t readIndex(size_t p) {
        index_.clear();
        ArticleIndex r;
        size_t q = p + 22;
        std::string skip;
        bool ok = field(q, 60, r.messageId) && field(q, 50, r.subject) && field(q, 100, r.from);
        if (ok && q < buf_.size()) {
            if (buf_[q] != '\0') {
                ok = field(q, 400, r.references);
                size_t lt = r.references.rfind('<');
                if (lt != std::string::npos) r.references = r.references.substr(lt);
            } else {
                ++q;
            }
        }
        if (ok && q < buf_.size()) {
            if (buf_[q] != '\0') ok = field(q, 400, skip, ' ');
            else ++q;
        }
        if (ok && q < buf_.size() && buf_[q] != '\0') {
            ok = field(q, 100, r.newsgroups, ':');
            if (ok && q > 0 && buf_[q - 1] == ':') {
                while (q < buf_.size() && buf_[q] != '\0' && buf_[q] != '\n' && q < p + 2000) ++q;
                if (q < buf_.size() && buf_[q] == '\0') ++q;
            }
        }
        if (!ok) return p + 1;  // cut short: abandoned
        r.present = true;
        index_ = r;
        return q;
    }

    // Moves pos_ to the first header line of the next article (reading index
    // records on the way); false at the end of the file.
    bool seekArticle() {
        while (pos_ < buf_.size()) {
            if (isIndexAt(pos_)) {
                pos_ = readIndex(pos_);
                continue;
            }
            if (isHeaderLineAt(pos_)) return true;
            size_t e = lineEnd(pos_);
            if (indexed_) {
                // An index record may begin inside a line of binary data.
                size_t x = indexWithin(pos_ + 1, e);
                if (x != std::string::npos) {
                    pos_ = x;
                    continue;
                }
            }
            pos_ = e + 1;
        }
        return false;
    }

    void readArticle(ImportContext& ctx) {
        LineQueue q;
        long lines = NEWS_LINES_MISSING;
        static const std::string sixNul(6, '\0');
        // Headers up to the first empty line.
        bool cut = false;
        while (pos_ < buf_.size()) {
            size_t e = lineEnd(pos_);
            // An index record met among the headers begins the next article.
            size_t x = indexed_ ? indexWithin(pos_, e) : std::string::npos;
            if (x != std::string::npos) {
                if (x > pos_) pushLine(q, lineAt(pos_, x));
                pos_ = x;
                cut = true;
                break;
            }
            std::string l = lineAt(pos_, e);
            pos_ = e + 1;
            if (l.empty()) break;
            if (l.size() > 6 && upper(l.substr(0, 6)) == "LINES:") {
                std::string v = trimBlanks(l.substr(6));
                if (!v.empty() && v[0] >= '0' && v[0] <= '9') lines = std::strtol(v.c_str(), nullptr, 10);
            }
            pushLine(q, l);
        }
        pushLine(q, std::string());
        long count = 1;  // the empty line after the headers
        bool prevEmpty = true;
        while (!cut && pos_ < buf_.size()) {
            if (count == lines && beginsArticle(pos_)) break;
            // Without a "Lines:" header an article ends where the next one begins after an empty line.
            if (lines == NEWS_LINES_MISSING && prevEmpty && beginsArticle(pos_)) break;
            size_t e = lineEnd(pos_);
            if (!nulKnown_ || nulAt_ < pos_) {
                nulKnown_ = true;
                nulAt_ = buf_.find(sixNul, pos_);
                if (nulAt_ == std::string::npos) nulAt_ = buf_.size();
            }
            size_t nul = nulAt_;
            if (nul < e) {
                std::string part = lineAt(pos_, nul);
                if (!part.empty()) pushLine(q, part);
                pos_ = nul + 6;
                break;
            }
            std::string l = lineAt(pos_, e);
            pos_ = e + 1;
            pushLine(q, l);
            prevEmpty = l.empty();
            if (++count > lines) break;
        }
        // "Netscape News" writes the persons of its mail with CompuServe user IDs.
        storeNewsArticle(q, 0, ctx, index_.present ? &index_ : nullptr,
                         indexed_ ? NewsAddresses::Internet : NewsAddresses::CompuServe);
        index_.clear();
    }

    bool indexed_;
    ImportContext* ctx_ = nullptr;
    std::string buf_;
    size_t pos_ = 0;
    bool nulKnown_ = false;
    size_t nulAt_ = 0;  // the next run of six NUL bytes at or after the last search
    ArticleIndex index_;
};

template <class T, class... A>
ParserFactory factory(A... a) {
    return [=] { return std::unique_ptr<Parser>(new T(a...)); };
}

const bool registered = [] {
    registerParser("Agent News", factory<SeparatorNewsReader>(false));
    registerParser("Unix News", factory<SeparatorNewsReader>(true));
    registerParser("Gravity", factory<GravityReader>());
    registerParser("IE News", factory<ArticleFileReader>(true));
    registerParser("Outlook Express News", factory<ArticleFileReader>(true));
    registerParser("Netscape News", factory<ArticleFileReader>(false));
    return true;
}();

} // namespace

} // namespace qb
