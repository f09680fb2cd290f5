// Internet message headers shared by the mail and news readers: header-line
// classification, the header parse of a message in the line queue, the
// address, subject and date rules and the owner side of a mail database.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/linequeue.h"
#include "internet/mime.h"

namespace qb {

enum HeaderKind : int {
    HdrNone = 0,     // not a header line
    HdrFrom,
    HdrDate,
    HdrTo,
    HdrSubject,
    HdrNewsgroups,
    HdrMessageId,
    HdrOther,        // another header of the known list (and the "From " separator)
};

// Classifies a line by its start, letter case ignored.
HeaderKind classifyHeader(std::string_view line);

// "Name: value" with a name of printable characters without blanks or colon
// (at most 76 of them): any header, listed or not.
bool isHeaderLike(std::string_view line);

// A continuation line of a folded header: begins with a blank or a tab and
// holds something else.
bool isContinuation(std::string_view line);

// A line "From " (or "from "), blanks after the word only: a separator cut
// short. Inside a header block it belongs to the block and splits nothing.
bool isBareFromLine(std::string_view line);

// True when the line could begin a header block of a message stream: its first
// character is a letter and it is a header line (listed or header-like) or an
// mbox "From " separator.
bool beginsHeaderBlock(std::string_view line);

// The values that the header parse takes from a message.
struct MailHeaders {
    std::string from, date, to, subject;   // as read, encoded words decoded
    bool haveFrom = false, haveDate = false, haveTo = false, haveSubject = false;
    int contentKind = ContentPlain;
    bool multipart = false;                 // a multipart body with its boundary
    std::string boundary;
    bool newsgroups = false;                // a "Newsgroups:" line was met
    PartInfo enc;                           // transfer encoding and charset of a single-part body
    size_t bodyStart = 0;                   // index of the first body line
};

enum class HeaderStyle { Common, Eudora };

// Reads the header lines q[first..] up to the first empty line. Folded From,
// To and Subject values are joined; of a list of addresses the first is kept;
// encoded words are decoded.
void parseMailHeaders(const LineQueue& q, size_t first, HeaderStyle style, MailHeaders& h);

// The message text of the body from h.bodyStart: the kept part of a
// multipart body (the others marked for removal in q), decoded and converted
// unless `decode` is false (text filed decoded already).
std::string messageText(LineQueue& q, const MailHeaders& h, bool decode = true);

// Handles a Content-Type or Content-Transfer-Encoding line q[i] (`up` its
// upper-case copy): content kind, boundary, charset, transfer encoding.
// `notText` is set for a single-part body that is not text. False for other lines.
bool mimeHeaderLine(const LineQueue& q, size_t i, std::string_view up, HeaderStyle style, MailHeaders& h,
                    bool& notText);

// The Windows-1252 upper-case table.
const unsigned char* upperTable();

// The upper-case copy of the start of a header line, enough for every keyword.
struct HeaderStart {
    char buf[40];
    size_t n = 0;
    std::string_view set(std::string_view line);
    std::string_view view() const { return std::string_view(buf, n); }
};

// The value of a header line after its name and colon, leading blanks removed,
// with its continuation lines joined (at most `maxLen` characters).
std::string headerValue(const LineQueue& q, size_t i, size_t nameLen, size_t maxLen = 400);

// A From, To or Subject value as text: encoded words decoded, raw UTF-8
// converted, in Windows-1252.
std::string headerText(std::string_view raw);

// The first recipient of an address list (commas outside quotes, angle
// brackets and parentheses separate recipients).
std::string firstRecipient(std::string_view value);

// The address rule: splits a From or To value into address (lower case, at
// most 60) and name (at most 40).
void parseAddress(std::string_view value, std::string& address, std::string& name);

// The subject rule: leading blanks and one "RE:" removed, cut to 50.
std::string subjectHeading(std::string_view value);

// Date values. Each sets date (day number) and time (hundredths + 1), both 0
// when the value is not usable.
void parseDateCommon(std::string_view value, int32_t& date, int32_t& time);
void parseDateEudora(std::string_view value, int32_t& date, int32_t& time);
// The date of an Eudora "From ???@??? Mon Dec 06 12:30:00 1999" separator.
void parseEudoraSeparatorDate(std::string_view line, int32_t& date, int32_t& time);

std::string trimBlanks(std::string_view s);

} // namespace qb
