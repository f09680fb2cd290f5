// Body conversion of Internet messages: keeps one text part of a MIME
// multipart body, decodes quoted-printable, joins the body lines of the line
// queue into the message text and turns HTML and enriched text into plain text.
//
// Positions and line indexes are 0-based. Texts are single-byte Windows-1252.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "import/linequeue.h"

namespace qb {

enum ContentKind : int { ContentPlain = 0, ContentHtml = 1, ContentEnriched = 2 };

constexpr size_t MIME_BOUNDARY_MAX = 100;
constexpr size_t MSGTEXT_MAX = 64000;

// Looks for "BOUNDARY=" in `upper` (the upper-case copy of `line`) from the
// 0-based position `start` (0, or 23 for a line that begins with
// "CONTENT-TYPE: MULTIPART"). Returns the boundary as written in `line`,
// without enclosing quotes and a trailing ";", at most 100 characters;
// nullopt when the line is shorter than 10 characters or has no boundary.
std::optional<std::string> findBoundary(std::string_view line, std::string_view upper,
                                        size_t start);
// The same with the upper-case copy made here.
std::optional<std::string> findBoundary(std::string_view line, size_t start);

// Marks with the removal marker every body line from `first` on that does not
// belong to the first text/plain or text/html part, the part headers and the
// boundary lines. The preamble before the first boundary stays.
// Returns true when the kept part is HTML.
bool selectPart(LineQueue& q, size_t first, const std::string& boundary);

// What the part headers of the kept part declare (all empty when none).
struct PartInfo {
    bool html = false;
    std::string transferEncoding;  // "BASE64", "QUOTED-PRINTABLE", ... (upper case)
    std::string charset;           // as declared, upper case
    // The lines that the encoding and charset apply to: [partFirst, partEnd).
    // Lines outside (a preamble, header lines kept in the text) stay as they
    // are and are never decoded together with the part.
    size_t partFirst = 0;
    size_t partEnd = static_cast<size_t>(-1);
};
bool selectPart(LineQueue& q, size_t first, const std::string& boundary, PartInfo* info);

// Joins the lines first..last (inclusive; last is clamped to the queue) into
// the message text with CR LF line ends, skipping leading empty lines and
// removed lines, cut to 64000 characters, and converts HTML or enriched text.
std::string buildBody(const LineQueue& q, size_t first, size_t last, int contentKind);
// The same over all lines from `first` to the end of the queue.
std::string buildBody(const LineQueue& q, size_t first, int contentKind);

// The message text of a body whose kept part (or whole body) declares a
// transfer encoding or a charset: the kept lines of the part (enc.partFirst to
// enc.partEnd) are decoded (base64 or quoted-printable) on their own, converted
// to Windows-1252, and built as buildBody together with the kept lines before
// and after the part, which are taken as they are.
// Text said to be Latin-1 (or said nothing of) that is well-formed UTF-8 is
// converted as UTF-8.
std::string buildMessageText(const LineQueue& q, size_t first, int contentKind, const PartInfo& enc);

// Appends a text to the queue line by line (LF or CR LF ends a line).
void pushText(LineQueue& lines, std::string_view text);

// HTML to plain text, in place (at most 64000 characters).
void htmlToText(std::string& text);

// Enriched text to plain text, in place.
void enrichedToText(std::string& text);

// The character of a quoted-printable "=" pair ("3D", "20", "09", or an
// upper-case pair 80..FF); nullopt when the pair is not decoded.
std::optional<char> decodeQpPair(char a, char b);

// Decodes RFC 2045 quoted-printable text, with soft line breaks ("=" at a
// line end) removed: for a body part declared quoted-printable.
std::string decodeQuotedPrintable(std::string_view text);

// Decodes base64 text (whitespace and line ends ignored, bad characters skipped).
std::string decodeBase64(std::string_view text);

// True when the line begins, in any case, with "SENDER:", "RECEIVED:",
// "MESSAGE-ID:", "FROM:", "DATE:", "SUBJECT:" or "TO:".
bool isInternetHeaderLine(std::string_view line);

// A body that begins with header lines (an Internet mail filed by another
// reader): reads its header lines from `first` up to the first empty line,
// passes over the empty lines after them and, for a multipart body, runs the
// part selection from there. `bodyStart` receives the index of the first line
// after the headers and empty lines. Returns the content kind of the text.
// `info` (when given) receives the transfer encoding and charset of the kept
// text, for buildMessageText.
int mimeBodyTest(LineQueue& q, size_t first, size_t* bodyStart = nullptr, PartInfo* info = nullptr);

// Decodes RFC 2047 encoded words ("=?charset?B|Q?...?=") in a header value,
// converting their text to Windows-1252.
std::string decodeEncodedWords(std::string_view value);

// True when the text holds at least one multi-byte UTF-8 sequence and is
// well-formed UTF-8 throughout: 8-bit text labelled Latin-1 (or not labelled)
// that is in fact UTF-8.
bool isUtf8Text(std::string_view s);

// Converts text in the named charset to Windows-1252 (characters without
// an equivalent are transliterated or become "?"). Text in Windows-1252,
// Latin-1, US-ASCII or an unknown charset is returned unchanged.
std::string charsetToCp1252(std::string_view text, std::string_view charset);
// How many charset converters charsetToCp1252 keeps open at most.
inline constexpr size_t kConverterCacheSize = 32;

} // namespace qb
