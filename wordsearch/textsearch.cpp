#include "wordsearch/textsearch.h"

#include "core/fixedstr.h"
#include "core/text.h"

namespace qb {

WordChars wordCharsFor(std::string_view pattern) {
    WordChars t{};
    pattern = rtrim(pattern);
    bool numeric = !pattern.empty();
    for (char c : pattern)
        if (c < '0' || c > '9') numeric = false;
    if (numeric) {
        for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = true;
        return t;
    }
    for (int c = 'A'; c <= 'Z'; ++c) t[static_cast<size_t>(c)] = true;
    for (int c = 'a'; c <= 'z'; ++c) t[static_cast<size_t>(c)] = true;
    for (int c = 128; c <= 133; ++c) t[static_cast<size_t>(c)] = true;
    t['1'] = true;
    return t;
}

Horspool::Horspool(std::string_view pattern) : pattern_(pattern) {
    const size_t m = pattern_.size();
    shift_.fill(m ? m : 1);
    for (size_t i = 0; i + 1 < m; ++i) shift_[static_cast<unsigned char>(pattern_[i])] = m - 1 - i;
}

size_t Horspool::find(std::string_view text, size_t from) const {
    const size_t m = pattern_.size();
    if (m == 0 || text.size() < m || from > text.size() - m) return std::string_view::npos;
    const char last = pattern_[m - 1];
    size_t i = from;
    while (i + m <= text.size()) {
        const char c = text[i + m - 1];
        if (c == last && text.compare(i, m - 1, pattern_, 0, m - 1) == 0) return i;
        i += shift_[static_cast<unsigned char>(c)];
    }
    return std::string_view::npos;
}

namespace {
bool wholeWord(std::string_view text, size_t start, size_t len, const WordChars& wc) {
    if (start > 0 && wc[static_cast<unsigned char>(text[start - 1])]) return false;
    if (start + len < text.size() && wc[static_cast<unsigned char>(text[start + len])]) return false;
    return true;
}

bool occurs(std::string_view text, const Horspool& h, bool words, const WordChars& wc) {
    size_t p = 0;
    while ((p = h.find(text, p)) != std::string_view::npos) {
        if (!words || wholeWord(text, p, h.size(), wc)) return true;
        ++p;
    }
    return false;
}
} // namespace

int AISINB(bool words, std::string_view text, std::string_view pattern) {
    text = rtrim(text);
    pattern = rtrim(pattern);
    if (pattern.empty()) return 0;
    Horspool h(pattern);
    return occurs(text, h, words, wordCharsFor(pattern)) ? 1 : 0;
}

std::vector<std::pair<size_t, size_t>> hitPositions(std::string_view text, std::string_view pattern, bool words,
                                                    bool matchCase) {
    std::vector<std::pair<size_t, size_t>> out;
    pattern = rtrim(pattern);
    if (pattern.empty()) return out;
    std::string t, p;
    if (!matchCase) {
        t = upper(text);
        p = upper(pattern);
        text = t;
        pattern = p;
    }
    Horspool h(pattern);
    const WordChars wc = wordCharsFor(pattern);
    size_t pos = 0;
    while ((pos = h.find(text, pos)) != std::string_view::npos) {
        if (!words || wholeWord(text, pos, h.size(), wc)) {
            out.emplace_back(pos, pos + h.size());
            pos += h.size();
        } else {
            ++pos;
        }
    }
    return out;
}

TextSearch::TextSearch(SearchOptions options) : opt_(std::move(options)) {
    if (opt_.text.size() > kSearchTextMax) opt_.text.resize(kSearchTextMax);
    pattern_ = std::string(rtrim(opt_.text));
    if (!opt_.matchCase) pattern_ = upper(pattern_);
}

bool TextSearch::matches(const SearchItem& item, SearchSource& source, bool& inSubject) const {
    if (pattern_.empty()) return false;
    std::string subject = item.subject.substr(0, 50);
    if (!opt_.matchCase) subject = upper(subject);
    if (AISINB(opt_.wordsOnly, subject, pattern_)) {
        inSubject = true;
        return true;
    }
    if (opt_.subjectOnly) return false;
    std::string body = source.body(item.id);
    if (body.size() > 64000) body.resize(64000);
    if (!opt_.matchCase) body = upper(body);
    if (AISINB(opt_.wordsOnly, body, pattern_)) {
        inSubject = false;
        return true;
    }
    return false;
}

SearchState TextSearch::run(SearchSource& source, int batch) {
    if (ended_) return SearchState::End;
    if (batch < 1) batch = 1;
    SearchItem item;
    for (int i = 0; i < batch; ++i) {
        if (!source.step(!opt_.backward, item)) {
            ended_ = true;
            return SearchState::End;
        }
        ++examined_;
        if (opt_.fromDate && item.date < opt_.fromDate) continue;
        if (opt_.toDate && item.date > opt_.toDate) continue;
        bool inSubject = false;
        if (matches(item, source, inSubject)) {
            hit_ = item;
            inSubject_ = inSubject;
            return SearchState::Hit;
        }
    }
    return SearchState::Running;
}

} // namespace qb
