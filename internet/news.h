// Newsgroup articles: the news header parse, with the Message-ID and the
// reference of each article written to the temporary ID table, and the storing
// of one article as a temporary import record of its newsgroup.
#pragma once
#include <cstdint>
#include <string>

#include "import/linequeue.h"
#include "import/parser.h"
#include "internet/mailheaders.h"

namespace qb {

// An article index record of an indexed article file (empty when there is none).
struct ArticleIndex {
    std::string messageId;   // 60
    std::string subject;     // 50
    std::string from;        // 100
    std::string references;  // 400, from the last "<" on
    std::string newsgroups;  // 100
    bool present = false;
    void clear() { *this = ArticleIndex{}; }
};

enum NewsKind : int { NewsArticle = 1, NewsMail = 2, NewsSubjectFirstMail = 3 };

constexpr long NEWS_LINES_MISSING = 1000000;

struct NewsHeaders {
    int kind = NewsMail;
    MailHeaders mime;          // content kind, boundary, transfer encoding, charset
    std::string from, date, subject, to, newsgroups;
    bool haveFrom = false, haveDate = false, haveSubject = false, haveTo = false;
    std::string messageId, reference;
    uint32_t msgNumber = 0;    // temporary number of the article's own Message-ID
    uint32_t refNumber = 0;    // temporary number of the article it answers
    long lines = NEWS_LINES_MISSING;
    size_t bodyStart = 0;      // the first body line
};

// The last Message-ID of a References or In-Reply-To value: the last "<...>"
// token, else the text after the last blank, else its first 60 characters.
std::string lastReference(std::string_view value);

// The group of a Newsgroups value: of a list, the first group already known to
// the import, else the first of the list.
std::string chooseNewsgroup(std::string_view value, const ImportContext& ctx);

// Reads the headers q[first..]; gives the Message-ID and the reference their
// temporary numbers and writes them to the temporary ID table. Values the
// headers lack are taken from `index` when the article is news.
void parseNewsHeaders(const LineQueue& q, size_t first, ImportContext& ctx, ArticleIndex* index, NewsHeaders& h);

// How a news reader's files write the persons of the mail among their
// articles: by the Internet address rule, or with CompuServe user IDs for
// senders without an "@" ("Netscape News").
enum class NewsAddresses { Internet, CompuServe };

// The persons of a mail in a news file written the CompuServe way: a value
// with an "@" gives the address in angle brackets or the word with the "@"
// (without a leading "INTERNET:"), the name the text before it; a value
// without one is a name and a CompuServe user ID ("[76543.210]" becomes
// "76543,210"). Address at most 60, name at most 40 characters.
void parseCompuServePerson(std::string_view value, std::string& address, std::string& name);

// Parses the article q[first..] and writes its temporary import record: a
// news article for its newsgroup, a mail (a message without a Newsgroups
// line) for the run's mail database when the run takes mail. A message that
// has no place or is refused by the routing is counted as skipped. True when
// a record was written.
bool storeNewsArticle(LineQueue& q, size_t first, ImportContext& ctx, ArticleIndex* index = nullptr,
                      NewsAddresses addresses = NewsAddresses::Internet);

} // namespace qb
