// The standard text search: a scan over the messages of a browse view for a
// text of up to 20 characters in the subject (or thread heading) and the body,
// without any index.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

constexpr size_t kSearchTextMax = 20;

// Characters that continue a word around a hit, chosen by the pattern: digits
// for a numeric pattern, else the letters, the codes 128-133 and the digit 1.
using WordChars = std::array<bool, 256>;
WordChars wordCharsFor(std::string_view pattern);

// Boyer-Moore-Horspool matcher of one pattern.
class Horspool {
public:
    explicit Horspool(std::string_view pattern);
    // First occurrence at or after from, or npos.
    size_t find(std::string_view text, size_t from = 0) const;
    size_t size() const { return pattern_.size(); }

private:
    std::string pattern_;
    std::array<size_t, 256> shift_{};
};

// Non-zero when pattern occurs in text (as a whole word when words is set).
// Both are clipped of trailing blanks first; an empty pattern never occurs.
// The comparison is exact: upper-case both for a search that ignores case.
int AISINB(bool words, std::string_view text, std::string_view pattern);

// Every occurrence of pattern in text as (start, end) pairs, end exclusive,
// honouring the whole-word option; matchCase off compares upper-cased.
std::vector<std::pair<size_t, size_t>> hitPositions(std::string_view text, std::string_view pattern, bool words,
                                                    bool matchCase);

struct SearchOptions {
    std::string text;          // cut to 20 characters
    bool backward = false;     // start with the newest message and go backward
    bool matchCase = false;
    bool wordsOnly = false;
    bool subjectOnly = false;  // only the subject or heading
    int32_t fromDate = 0;      // 0: no lower limit
    int32_t toDate = 0;        // 0: no upper limit
};

// One message of the view as the search sees it.
struct SearchItem {
    uint32_t id = 0;
    int32_t date = 0;
    std::string subject;       // the subject or thread heading, 50 characters
};

// The view a search runs over. step() moves one message from the last one
// returned (the first call starts next to the starting message, or at the
// oldest or newest message without one): toward newer messages when newer is
// set, toward older ones otherwise; false at the end of the view.
class SearchSource {
public:
    virtual ~SearchSource() = default;
    virtual bool step(bool newer, SearchItem& item) = 0;
    // The body of a message; an unreadable body is empty.
    virtual std::string body(uint32_t id) = 0;
};

enum class SearchState { Running, Hit, End };

// "Find next": a scan that the caller drives batch by batch (one timer tick
// each) and that can be resumed after a hit.
class TextSearch {
public:
    explicit TextSearch(SearchOptions options);
    const SearchOptions& options() const { return opt_; }
    // Reads up to batch messages. On Hit, hit() tells which and where.
    SearchState run(SearchSource& source, int batch);
    const SearchItem& hit() const { return hit_; }
    bool hitInSubject() const { return inSubject_; }
    uint64_t examined() const { return examined_; }
    // Does this message match? (subject first, then the body unless subjectOnly)
    bool matches(const SearchItem& item, SearchSource& source, bool& inSubject) const;

private:
    SearchOptions opt_;
    std::string pattern_;  // upper-cased unless match case
    SearchItem hit_;
    bool inSubject_ = false;
    bool ended_ = false;
    uint64_t examined_ = 0;
};

} // namespace qb
